// The `handheld` tool run as a program, as people and scripts run it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "handheld/pimstore.h"
#include "tools/handheld_text.h"
#include "tools/tool_test_support.h"

namespace handheld::tool {
namespace {

using tool_testing::Result;

std::vector<Json> Lines(const std::string& text) {
  std::vector<Json> lines;
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    lines.push_back(Json::parse(text.substr(start, end - start)));
    if (end == std::string::npos) break;
  }
  return lines;
}

std::string JsonLines(const std::vector<Json>& items) {
  std::string text;
  for (const Json& item : items) text += item.dump() + "\n";
  return text;
}

std::vector<std::string> Keys(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

const std::string kAwkward = std::string("Ёлка 😀 tab\there\r\nline two \0 zero", 40);

const std::vector<std::string> kContactKeys = {
#define TOOL_TEST_KEY(Name) #Name,
    HANDHELD_CONTACT_STRINGS(TOOL_TEST_KEY) HANDHELD_CONTACT_DATES(TOOL_TEST_KEY)
#undef TOOL_TEST_KEY
};

class HandheldToolTest : public tool_testing::ToolTest {
 protected:
  std::vector<Json> Items(const std::string& kind) { return Lines(Dump(kind)); }
  // Adds `given`, dumps the kind, and checks that what dump wrote, add takes back
  // unchanged (the store then holds every item twice).
  std::vector<Json> AddAndDump(const std::string& kind, const std::vector<Json>& given) {
    Result add = Tool({"add", kind}, JsonLines(given));
    EXPECT_EQ(add.status, 0) << add.err;
    const std::string dumped = Tool({"dump", kind}).out;
    EXPECT_EQ(Tool({"add", kind}, dumped).status, 0);
    EXPECT_EQ(Tool({"dump", kind}).out, dumped + dumped) << kind;
    return Lines(dumped);
  }
};

TEST_F(HandheldToolTest, ContactsGiveBackEveryProperty) {
  ASSERT_EQ(kContactKeys.size(), 46u);
  Json full = Json::object();
  for (size_t i = 0; i < 44; ++i) full[kContactKeys[i]] = kContactKeys[i] + ": " + kAwkward;
  full["Birthday"] = "1975-02-28T00:00:00";
  full["Anniversary"] = "2001-09-09T13:45:10";
  const Json partial = {{"LastName", "Петрова"}, {"Birthday", 39217.5}};

  const std::vector<Json> items = AddAndDump("contacts", {full, partial});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(Keys(items[0]), kContactKeys);
  EXPECT_EQ(items[0], full);
  EXPECT_EQ(items[1]["Birthday"], "2007-05-15T12:00:00") << "a raw DATE is taken as given";
  EXPECT_EQ(items[1]["FirstName"], "");
  EXPECT_TRUE(items[1]["Anniversary"].is_null()) << "a date never set is \"no date\"";
}

TEST_F(HandheldToolTest, CalendarGivesBackEveryPropertyRecipientsAndRecurrence) {
  Json full = Json::parse(R"({"Subject": "", "Location": "Room\t7",
      "Start": "2024-03-01T09:30:00", "End": "2024-03-01T10:15:45", "AllDayEvent": true,
      "ReminderSet": false, "ReminderMinutesBeforeStart": 45, "Categories": "Work",
      "BusyStatus": 3, "Sensitivity": 2, "Body": "Agenda\r\n1. 😀",
      "Recipients": [{"Name": "Анна", "Address": "anna@example.org"},
                     {"Name": "Boris", "Address": ""}],
      "IsRecurring": true,
      "Recurrence": {"RecurrenceType": 3, "Interval": 2, "DayOfWeekMask": 42, "DayOfMonth": 0,
          "Instance": 5, "MonthOfYear": 0, "PatternStartDate": "2024-03-01T00:00:00",
          "NoEndDate": false, "Occurrences": 10, "PatternEndDate": "2025-03-01T00:00:00"}})");
  full["Subject"] = "Планёрка " + kAwkward;
  const Json plain = Json::parse(R"({"Subject": "once", "Recipients": [{"Name": "Vera"}]})");
  const Json repeating = Json::parse(R"({"Subject": "daily", "Recurrence": {}})");

  const std::vector<Json> items = AddAndDump("calendar", {full, plain, repeating});
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], full);
  // Left-out keys keep the new appointment's defaults.
  EXPECT_EQ(Keys(items[1]), Keys(full));
  const Json defaults = Json::parse(R"({"Recipients": [{"Name": "Vera", "Address": ""}],
      "IsRecurring": false, "Recurrence": null, "ReminderSet": true,
      "ReminderMinutesBeforeStart": 15, "BusyStatus": 2, "AllDayEvent": false})");
  for (const auto& [key, value] : defaults.items()) EXPECT_EQ(items[1][key], value) << key;
  EXPECT_EQ(items[2]["IsRecurring"], true) << "an empty Recurrence object still repeats";
  EXPECT_EQ(items[2]["Recurrence"]["RecurrenceType"], olRecursDaily);
  EXPECT_EQ(items[2]["Recurrence"]["Interval"], 1);
}

TEST_F(HandheldToolTest, TasksGiveBackEveryPropertyAndRecurrence) {
  Json full = Json::parse(R"({"Subject": "Купить 😀\r\nмолоко\t2 л", "Importance": 2,
      "Complete": true, "StartDate": "2024-01-31T00:00:00", "DueDate": "2024-02-29T00:00:00",
      "ReminderSet": true, "ReminderTime": "2024-02-28T18:00:00", "Categories": "a\u0000b",
      "Sensitivity": 3, "Body": "", "IsRecurring": true,
      "Recurrence": {"RecurrenceType": 6, "Interval": 1, "DayOfWeekMask": 127, "DayOfMonth": 31,
          "Instance": 1, "MonthOfYear": 12, "PatternStartDate": "2024-01-31T00:00:00",
          "NoEndDate": true, "Occurrences": 1, "PatternEndDate": null}})");
  full["Body"] = kAwkward;
  const std::vector<Json> items = AddAndDump("tasks", {full, {{"Subject", "bare"}}});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], full);
  EXPECT_EQ(items[1], Json::parse(R"({"Subject": "bare", "Importance": 1, "Complete": false,
      "StartDate": null, "DueDate": null, "ReminderSet": true, "ReminderTime": null,
      "Categories": "", "Sensitivity": 0, "Body": "", "IsRecurring": false, "Recurrence": null})"));
}

TEST_F(HandheldToolTest, CallsGiveBackEveryFieldNewestFirst) {
  const Json older = Json::parse(R"({"Number": "+7 (495) 123-45-67",
      "Name": "Мама 😀\tдом\r\n", "NameType": "h", "Note": "n\u0000te",
      "StartTime": "2024-03-01T09:30:00.1234567Z", "EndTime": "2024-03-01T09:31:15.0000000Z",
      "Type": 2, "Outgoing": true, "Connected": true, "Ended": true, "Roam": false,
      "CallerIdType": 2})");
  const Json newer = Json::parse(R"({"Number": null, "StartTime": 133540000000000000,
      "EndTime": 133540000000000000, "Roam": true})");

  ASSERT_EQ(Tool({"add", "calls"}, JsonLines({older, newer})).status, 0);
  const std::vector<Json> items = Items("calls");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1], older);
  EXPECT_EQ(items[0], Json::parse(R"({"Number": null, "Name": null, "NameType": null,
      "Note": null, "StartTime": "2024-03-04T04:26:40.0000000Z",
      "EndTime": "2024-03-04T04:26:40.0000000Z", "Type": 0, "Outgoing": false,
      "Connected": false, "Ended": false, "Roam": true, "CallerIdType": 0})"))
      << "not set stays null, not \"\"";
}

TEST_F(HandheldToolTest, AddRefusesBadLinesByNumberAndStoresNothingOfThem) {
  const std::string input =
      "{\"Subject\": \"kept one\"}\n"                                       // 1
      "{\"Subject\": \"broken\"\n"                                          // 2 malformed
      "{\"Subject\": \"colour\", \"Colour\": \"red\"}\n"                    // 3 unknown key
      "\n"                                                                  // 4 blank
      "{\"Subject\": \"typed\", \"AllDayEvent\": 1}\n"                      // 5 wrong type
      "{\"Subject\": \"refused\", \"BusyStatus\": 7}\n"                     // 6 store refuses
      "{\"Subject\": \"kept two\", \"Start\": \"2024-01-01T10:00:00\"}\n"   // 7
      "{\"Subject\": \"rec\", \"Recurrence\": {\"Interval\": 0}}\n"         // 8 store refuses
      "{\"Subject\": \"bad date\", \"End\": \"2024-02-30T00:00:00\"}\n"     // 9
      "[1, 2]\n"                                                            // 10 not an object
      "{\"Subject\": \"who\", \"Recipients\": [{\"Address\": \"x@y\"}]}\n"  // 11
      "{\"Subject\": \"inconsistent\", \"IsRecurring\": true}\n"            // 12
      "{\"Subject\": \"twice\", \"Subject\": \"again\"}\n";                 // 13
  Result add = Tool({"add", "calendar"}, input);
  EXPECT_EQ(add.status, 1);
  for (const char* expected :
       {"line 2: not valid JSON", "line 3: unknown key \"Colour\"",
        "line 5: AllDayEvent:", "line 6: BusyStatus: the store refuses the value 7",
        "line 8: Recurrence.Interval: the store refuses the value 0",
        "line 9: End:", "line 10: expected a JSON object",
        "line 11: Recipients[0]: \"Name\" is missing", "line 12: IsRecurring is true",
        "line 13: key \"Subject\" is given twice", "2 item(s) added, 10 line(s) refused"}) {
    EXPECT_NE(add.err.find(expected), std::string::npos) << expected << "\n" << add.err;
  }
  for (const char* kept : {"line 1:", "line 4:", "line 7:"}) {
    EXPECT_EQ(add.err.find(kept), std::string::npos) << kept;
  }
  const std::vector<Json> items = Items("calendar");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["Subject"], "kept one");
  EXPECT_EQ(items[1]["Subject"], "kept two");

  Result calls =
      Tool({"add", "calls"}, "{\"Number\": \"1\"}\n{\"Numbr\": \"2\"}\n{\"Type\": 2.5}\n");
  EXPECT_EQ(calls.status, 1);
  EXPECT_NE(calls.err.find("line 2: unknown key \"Numbr\""), std::string::npos) << calls.err;
  EXPECT_NE(calls.err.find("line 3: Type:"), std::string::npos) << calls.err;
  EXPECT_EQ(Tool({"count", "calls"}).out, "1\n");
}

TEST_F(HandheldToolTest, CountAndClearTouchOnlyTheirKind) {
  ASSERT_EQ(Tool({"add", "contacts"}, "{}\n{}\n{\"FirstName\":\"x\"}\n").status, 0);
  ASSERT_EQ(Tool({"add", "tasks"}, "{}\n").status, 0);
  ASSERT_EQ(Tool({"add", "calls"}, "{}\n{}\n").status, 0);
  const std::vector<std::pair<std::string, std::string>> before = {
      {"contacts", "3\n"}, {"calendar", "0\n"}, {"tasks", "1\n"}, {"calls", "2\n"}};
  for (const auto& [kind, count] : before) EXPECT_EQ(Tool({"count", kind}).out, count) << kind;
  EXPECT_EQ(Tool({"clear", "contacts"}).status, 0);
  EXPECT_EQ(Tool({"clear", "calls"}).status, 0);
  EXPECT_EQ(Tool({"count", "contacts"}).out, "0\n");
  EXPECT_EQ(Tool({"count", "calls"}).out, "0\n");
  EXPECT_EQ(Tool({"count", "tasks"}).out, "1\n");
}

TEST_F(HandheldToolTest, UsageFaultsAndUnusableStores) {
  EXPECT_EQ(Tool({"--help"}).status, 0);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"dump"}, {"dump", "notes"}, {"erase", "contacts"}, {"count", "tasks", "x"}}) {
    EXPECT_EQ(Tool(args).status, 2) << args.size();
  }
  Result unknown = Tool({"count", "contacts"}, "", {"HANDHELD_FAULTS=nosuchpoint"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("HANDHELD_FAULTS"), std::string::npos) << unknown.err;

  Result create =
      Tool({"add", "tasks"}, "{\"Subject\":\"a\"}\n{\"Subject\":\"b\"}\n{\"Subject\":\"c\"}\n",
           {"HANDHELD_FAULTS=create:2"});
  EXPECT_EQ(create.status, 1);
  EXPECT_NE(create.err.find("line 2: the store could not create an item"), std::string::npos)
      << create.err;
  ASSERT_EQ(Items("tasks").size(), 2u);

  Result read = Tool({"dump", "tasks"}, "", {"HANDHELD_FAULTS=read:Body:2"});
  EXPECT_EQ(read.status, 1);
  EXPECT_NE(read.err.find("item 2: reading Body failed"), std::string::npos) << read.err;
  EXPECT_EQ(Lines(read.out).size(), 1u) << "items before the failure are written";

  // Output that cannot be written is a failure, not a success.
  tool_testing::Launch full;
  full.argv = {"dump", "tasks"};
  full.out = "/dev/full";
  EXPECT_EQ(tool_testing::Wait(tool_testing::Start("handheld", full)), 1);
  // A store that cannot be opened: NothingLostTest.AStoreThatCannotBeUsedIsExplained.
}

}  // namespace
}  // namespace handheld::tool
