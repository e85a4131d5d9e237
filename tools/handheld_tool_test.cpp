// The `handheld` tool run as a program, as people and scripts run it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "handheld/pimstore.h"
#include "handheld/testing/sandbox.h"
#include "tools/handheld_text.h"

extern char** environ;

namespace handheld::tool {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ToolPath() {
  return handheld::testing::BinDir() + "/handheld";
}

// The current environment with `extra` ("NAME=value") added or replacing.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& e : extra) {
      replaced = replaced || text.compare(0, e.find('=') + 1, e, 0, e.find('=') + 1) == 0;
    }
    if (!replaced) env.push_back(text);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the tool with its standard streams on the given descriptors (-1: /dev/null).
pid_t Spawn(std::vector<std::string> args, int in, int out, int err,
            const std::vector<std::string>& extraEnv) {
  args.insert(args.begin(), ToolPath());
  std::vector<std::string> env = Environment(extraEnv);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int fds[] = {in, out, err};
  for (int target = 0; target < 3; ++target) {
    if (fds[target] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, fds[target], target);
    } else {
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", target ? O_WRONLY : O_RDONLY,
                                       0);
    }
  }
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

Result RunTool(const std::vector<std::string>& args, const std::string& input = "",
               const std::vector<std::string>& extraEnv = {}) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
  const pid_t pid = Spawn(args, in[0], out[1], err[1], extraEnv);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  Result result;
  size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
    poll(fds, inFd >= 0 ? 3 : 2, -1);
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n <= 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::vector<Json> Lines(const std::string& text) {
  std::vector<Json> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(Json::parse(text.substr(start, end - start)));
    if (end == std::string::npos) break;
    start = end + 1;
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

// Every key given in `given` comes back with the same value.
void ExpectGivenBack(const Json& given, const Json& dumped) {
  for (const auto& [key, value] : given.items()) {
    ASSERT_TRUE(dumped.contains(key)) << key;
    EXPECT_EQ(dumped[key], value) << key;
  }
}

const std::string kAwkward = std::string("Ёлка 😀 tab\there\r\nline two \0 zero", 40);

const std::vector<std::string> kContactKeys = {
#define TOOL_TEST_KEY(Name) #Name,
    HANDHELD_CONTACT_STRINGS(TOOL_TEST_KEY) HANDHELD_CONTACT_DATES(TOOL_TEST_KEY)
#undef TOOL_TEST_KEY
};

class HandheldToolTest : public handheld::testing::SandboxTest {};

TEST_F(HandheldToolTest, ContactsGiveBackEveryProperty) {
  ASSERT_EQ(kContactKeys.size(), 46u);
  Json full = Json::object();
  for (size_t i = 0; i < 44; ++i) full[kContactKeys[i]] = kContactKeys[i] + ": " + kAwkward;
  full["Birthday"] = "1975-02-28T00:00:00";
  full["Anniversary"] = "2001-09-09T13:45:10";
  const Json partial = {{"LastName", "Петрова"}, {"Birthday", 39217.5}};

  Result add = RunTool({"add", "contacts"}, JsonLines({full, partial}));
  ASSERT_EQ(add.status, 0) << add.err;
  Result dump = RunTool({"dump", "contacts"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<Json> items = Lines(dump.out);
  ASSERT_EQ(items.size(), 2u) << dump.out;
  EXPECT_EQ(Keys(items[0]), kContactKeys);
  EXPECT_EQ(items[0], full);
  EXPECT_EQ(items[1]["LastName"], "Петрова");
  EXPECT_EQ(items[1]["Birthday"], "2007-05-15T12:00:00") << "a raw DATE is taken as given";
  EXPECT_EQ(items[1]["FirstName"], "");
  EXPECT_TRUE(items[1]["Anniversary"].is_null()) << "a date never set is \"no date\"";

  // What dump writes, add takes back unchanged.
  ASSERT_EQ(RunTool({"add", "contacts"}, dump.out).status, 0);
  Result again = RunTool({"dump", "contacts"});
  EXPECT_EQ(again.out, dump.out + dump.out);
}

TEST_F(HandheldToolTest, CalendarGivesBackEveryPropertyRecipientsAndRecurrence) {
  const Json full = {
      {"Subject", "Планёрка " + kAwkward},
      {"Location", "Room\t7"},
      {"Start", "2024-03-01T09:30:00"},
      {"End", "2024-03-01T10:15:45"},
      {"AllDayEvent", true},
      {"ReminderSet", false},
      {"ReminderMinutesBeforeStart", 45},
      {"Categories", "Work"},
      {"BusyStatus", 3},
      {"Sensitivity", 2},
      {"Body", "Agenda\r\n1. 😀"},
      {"Recipients", Json::array({{{"Name", "Анна"}, {"Address", "anna@example.org"}},
                                  {{"Name", "Boris"}, {"Address", ""}}})},
      {"IsRecurring", true},
      {"Recurrence",
       {{"RecurrenceType", 3},
        {"Interval", 2},
        {"DayOfWeekMask", 42},
        {"DayOfMonth", 0},
        {"Instance", 5},
        {"MonthOfYear", 0},
        {"PatternStartDate", "2024-03-01T00:00:00"},
        {"NoEndDate", false},
        {"Occurrences", 10},
        {"PatternEndDate", "2025-03-01T00:00:00"}}},
  };
  const Json plain = {{"Subject", "once"},
                      {"Start", "2024-05-05T08:00:00"},
                      {"End", "2024-05-05T08:30:00"},
                      {"Recipients", Json::array({{{"Name", "Vera"}}})}};
  const Json repeating = {{"Subject", "daily"}, {"Recurrence", Json::object()}};

  Result add = RunTool({"add", "calendar"}, JsonLines({full, plain, repeating}));
  ASSERT_EQ(add.status, 0) << add.err;
  Result dump = RunTool({"dump", "calendar"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<Json> items = Lines(dump.out);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], full);
  EXPECT_EQ(Keys(items[1]), Keys(full));

  ExpectGivenBack({{"Subject", "once"}}, items[1]);
  EXPECT_EQ(items[1]["Recipients"], Json::array({{{"Name", "Vera"}, {"Address", ""}}}));
  EXPECT_EQ(items[1]["IsRecurring"], false);
  EXPECT_TRUE(items[1]["Recurrence"].is_null());
  // Left-out keys keep the new appointment's defaults.
  EXPECT_EQ(items[1]["ReminderSet"], true);
  EXPECT_EQ(items[1]["ReminderMinutesBeforeStart"], 15);
  EXPECT_EQ(items[1]["BusyStatus"], 2);
  EXPECT_EQ(items[1]["AllDayEvent"], false);

  EXPECT_EQ(items[2]["IsRecurring"], true) << "an empty Recurrence object still repeats";
  ASSERT_TRUE(items[2]["Recurrence"].is_object());
  EXPECT_EQ(items[2]["Recurrence"]["RecurrenceType"], olRecursDaily);
  EXPECT_EQ(items[2]["Recurrence"]["Interval"], 1);

  ASSERT_EQ(RunTool({"add", "calendar"}, dump.out).status, 0);
  EXPECT_EQ(RunTool({"dump", "calendar"}).out, dump.out + dump.out);
}

TEST_F(HandheldToolTest, TasksGiveBackEveryPropertyAndRecurrence) {
  const Json full = {
      {"Subject", "Купить 😀\r\nмолоко\t2 л"},
      {"Importance", 2},
      {"Complete", true},
      {"StartDate", "2024-01-31T00:00:00"},
      {"DueDate", "2024-02-29T00:00:00"},
      {"ReminderSet", true},
      {"ReminderTime", "2024-02-28T18:00:00"},
      {"Categories", std::string("a\0b", 3)},
      {"Sensitivity", 3},
      {"Body", kAwkward},
      {"IsRecurring", true},
      {"Recurrence",
       {{"RecurrenceType", 6},
        {"Interval", 1},
        {"DayOfWeekMask", 127},
        {"DayOfMonth", 31},
        {"Instance", 1},
        {"MonthOfYear", 12},
        {"PatternStartDate", "2024-01-31T00:00:00"},
        {"NoEndDate", true},
        {"Occurrences", 1},
        {"PatternEndDate", nullptr}}},
  };
  const Json bare = {{"Subject", "bare"}};

  Result add = RunTool({"add", "tasks"}, JsonLines({full, bare}));
  ASSERT_EQ(add.status, 0) << add.err;
  Result dump = RunTool({"dump", "tasks"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<Json> items = Lines(dump.out);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], full);
  EXPECT_EQ(items[1]["Importance"], 1);
  EXPECT_EQ(items[1]["Complete"], false);
  EXPECT_EQ(items[1]["ReminderSet"], true);
  EXPECT_TRUE(items[1]["ReminderTime"].is_null());
  EXPECT_TRUE(items[1]["DueDate"].is_null());
  EXPECT_EQ(items[1]["IsRecurring"], false);
  EXPECT_TRUE(items[1]["Recurrence"].is_null());
}

TEST_F(HandheldToolTest, CallsGiveBackEveryFieldNewestFirst) {
  const Json older = {
      {"Number", "+7 (495) 123-45-67"},
      {"Name", "Мама 😀\tдом\r\n"},
      {"NameType", "h"},
      {"Note", std::string("n\0te", 4)},
      {"StartTime", "2024-03-01T09:30:00.1234567Z"},
      {"EndTime", "2024-03-01T09:31:15.0000000Z"},
      {"Type", 2},
      {"Outgoing", true},
      {"Connected", true},
      {"Ended", true},
      {"Roam", false},
      {"CallerIdType", 2},
  };
  const Json newer = {{"Number", nullptr},
                      {"StartTime", 133540000000000000ull},
                      {"EndTime", 133540000000000000ull},
                      {"Roam", true}};

  Result add = RunTool({"add", "calls"}, JsonLines({older, newer}));
  ASSERT_EQ(add.status, 0) << add.err;
  Result dump = RunTool({"dump", "calls"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<Json> items = Lines(dump.out);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(Keys(items[1]), Keys(older));
  EXPECT_EQ(items[1], older);
  EXPECT_EQ(items[0]["StartTime"], FileTimeToJson(133540000000000000ull));
  for (const char* text : {"Number", "Name", "NameType", "Note"}) {
    EXPECT_TRUE(items[0][text].is_null()) << text << ": not set stays null, not \"\"";
  }
  EXPECT_EQ(items[0]["Roam"], true);
  EXPECT_EQ(items[0]["Connected"], false);
  EXPECT_EQ(RunTool({"count", "calls"}).out, "2\n");
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
  Result add = RunTool({"add", "calendar"}, input);
  EXPECT_EQ(add.status, 1);
  for (const char* expected :
       {"line 2: not valid JSON", "line 3: unknown key \"Colour\"",
        "line 5: AllDayEvent:", "line 6: BusyStatus: the store refuses the value 7",
        "line 8: Recurrence.Interval: the store refuses the value 0", "line 9: End:",
        "line 10: expected a JSON object", "line 11: Recipients[0]: \"Name\" is missing",
        "line 12: IsRecurring is true", "line 13: key \"Subject\" is given twice"}) {
    EXPECT_NE(add.err.find(expected), std::string::npos) << expected << "\n" << add.err;
  }
  EXPECT_EQ(add.err.find("line 1:"), std::string::npos);
  EXPECT_EQ(add.err.find("line 4:"), std::string::npos);
  EXPECT_EQ(add.err.find("line 7:"), std::string::npos);

  const std::vector<Json> items = Lines(RunTool({"dump", "calendar"}).out);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["Subject"], "kept one");
  EXPECT_EQ(items[1]["Subject"], "kept two");

  Result calls =
      RunTool({"add", "calls"}, "{\"Number\": \"1\"}\n{\"Numbr\": \"2\"}\n{\"Type\": 2.5}\n");
  EXPECT_EQ(calls.status, 1);
  EXPECT_NE(calls.err.find("line 2: unknown key \"Numbr\""), std::string::npos) << calls.err;
  EXPECT_NE(calls.err.find("line 3: Type:"), std::string::npos) << calls.err;
  EXPECT_EQ(RunTool({"count", "calls"}).out, "1\n");
}

TEST_F(HandheldToolTest, CountAndClearEveryKind) {
  ASSERT_EQ(RunTool({"add", "contacts"}, "{}\n{}\n{\"FirstName\":\"x\"}\n").status, 0);
  ASSERT_EQ(RunTool({"add", "tasks"}, "{}\n").status, 0);
  ASSERT_EQ(RunTool({"add", "calls"}, "{}\n{}\n").status, 0);
  EXPECT_EQ(RunTool({"count", "contacts"}).out, "3\n");
  EXPECT_EQ(RunTool({"count", "calendar"}).out, "0\n");
  EXPECT_EQ(RunTool({"count", "tasks"}).out, "1\n");
  EXPECT_EQ(RunTool({"count", "calls"}).out, "2\n");

  EXPECT_EQ(RunTool({"clear", "contacts"}).status, 0);
  EXPECT_EQ(RunTool({"clear", "calls"}).status, 0);
  EXPECT_EQ(RunTool({"count", "contacts"}).out, "0\n");
  EXPECT_EQ(RunTool({"count", "calls"}).out, "0\n");
  EXPECT_EQ(RunTool({"count", "tasks"}).out, "1\n") << "clear touches only its kind";
  EXPECT_EQ(RunTool({"dump", "contacts"}).out, "");
}

TEST_F(HandheldToolTest, UsageFaultsAndUnusableStores) {
  Result help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("handheld dump|add|clear|count KIND"), std::string::npos);
  EXPECT_EQ(RunTool({}).status, 2);
  EXPECT_EQ(RunTool({"dump"}).status, 2);
  Result kind = RunTool({"dump", "notes"});
  EXPECT_EQ(kind.status, 2);
  EXPECT_NE(kind.err.find("unknown kind \"notes\""), std::string::npos);
  EXPECT_EQ(RunTool({"erase", "contacts"}).status, 2);

  Result unknown = RunTool({"count", "contacts"}, "", {"HANDHELD_FAULTS=nosuchpoint"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("HANDHELD_FAULTS"), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("nosuchpoint"), std::string::npos) << unknown.err;

  Result logon = RunTool({"count", "contacts"}, "", {"HANDHELD_FAULTS=logon"});
  EXPECT_EQ(logon.status, 1);
  EXPECT_NE(logon.err.find("cannot open the store"), std::string::npos) << logon.err;

  Result create = RunTool({"add", "tasks"},
                          "{\"Subject\":\"a\"}\n{\"Subject\":\"b\"}\n"
                          "{\"Subject\":\"c\"}\n",
                          {"HANDHELD_FAULTS=create:2"});
  EXPECT_EQ(create.status, 1);
  EXPECT_NE(create.err.find("line 2: the store could not create an item"), std::string::npos)
      << create.err;
  const std::vector<Json> tasks = Lines(RunTool({"dump", "tasks"}).out);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[1]["Subject"], "c");

  Result read = RunTool({"dump", "tasks"}, "", {"HANDHELD_FAULTS=read:Body:2"});
  EXPECT_EQ(read.status, 1);
  EXPECT_NE(read.err.find("item 2: reading Body failed"), std::string::npos) << read.err;
  EXPECT_EQ(Lines(read.out).size(), 1u) << "items before the failure are written";

  // Output that cannot be written is a failure, not a success.
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  const pid_t pid = Spawn({"dump", "tasks"}, -1, full, -1, {});
  close(full);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;

  // A store file that is not a database is reported and left as it was.
  const std::string junk = "this is not a database, and it must survive\n";
  handheld::testing::WriteFileBytes(sandbox().path("junk.db"), junk);
  Result notDb =
      RunTool({"count", "contacts"}, "", {"HANDHELD_STORE=" + sandbox().path("junk.db")});
  EXPECT_EQ(notDb.status, 1);
  EXPECT_NE(notDb.err.find("junk.db"), std::string::npos) << notDb.err;
  Result notDbCalls =
      RunTool({"add", "calls"}, "{}\n", {"HANDHELD_STORE=" + sandbox().path("junk.db")});
  EXPECT_EQ(notDbCalls.status, 1);
  EXPECT_EQ(handheld::testing::ReadFileBytes(sandbox().path("junk.db")), junk);
}

// ---- kill -9 in the middle of a long add ----

constexpr long kKillLines = 200'000;

Json GeneratedContact(long i) {
  Json contact = Json::object();
  const std::string n = std::to_string(i);
  for (size_t k = 0; k < 44; ++k) contact[kContactKeys[k]] = kContactKeys[k].substr(0, 6) + n;
  contact["Title"] = "T" + n;
  contact["Body"] = "Заметка " + n + "\r\n\t😀";
  contact["Birthday"] = 20000.0 + static_cast<double>(i % 20000);
  contact["Anniversary"] = 30000.5 + static_cast<double>(i % 1000);
  return contact;
}

Json DumpedForm(Json contact) {
  contact["Birthday"] = DateToJson(contact["Birthday"].get<double>());
  contact["Anniversary"] = DateToJson(contact["Anniversary"].get<double>());
  return contact;
}

long CountContacts() {
  Result count = RunTool({"count", "contacts"});
  return count.status == 0 ? std::stol(count.out) : -1;
}

TEST_F(HandheldToolTest, KilledAddLeavesASoundStoreOfWholeContacts) {
  signal(SIGPIPE, SIG_IGN);
  // Create the store first, so that the running add and the polling count never race
  // to create it.
  ASSERT_EQ(RunTool({"count", "contacts"}).out, "0\n");

  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  const pid_t pid = Spawn({"add", "contacts"}, in[0], -1, -1, {});
  ASSERT_GT(pid, 0);
  close(in[0]);
  std::atomic<long> sent{0};
  std::thread writer([fd = in[1], &sent] {
    for (long i = 0; i < kKillLines; ++i) {
      const std::string line = GeneratedContact(i).dump() + "\n";
      size_t done = 0;
      while (done < line.size()) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0) {
          close(fd);
          return;
        }
        done += static_cast<size_t>(n);
      }
      sent = i + 1;
    }
    close(fd);
  });

  long seen = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen < 2000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    seen = CountContacts();
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  writer.join();
  ASSERT_TRUE(WIFSIGNALED(status)) << "the add ended by itself before it could be killed";
  ASSERT_GE(seen, 2000) << "the add saved too little within the time allowed";
  ASSERT_LT(sent.load(), kKillLines) << "the add was not killed mid-way";

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(sandbox().storePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
            SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  Result dump = RunTool({"dump", "contacts"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<Json> items = Lines(dump.out);
  ASSERT_GE(static_cast<long>(items.size()), seen);
  for (size_t i = 0; i < items.size(); ++i) {
    // Saved in input order, each with every property it was given.
    ASSERT_EQ(items[i], DumpedForm(GeneratedContact(static_cast<long>(i)))) << "contact " << i;
  }
}

}  // namespace
}  // namespace handheld::tool
