// Real peers read what the export writes: python3-icalendar parses every file (and
// dateutil expands its rules), khal lists each appointment on the days of its
// occurrences, todoman lists the tasks, and a Radicale server started here on 127.0.0.1
// takes every item through vdirsyncer and gives back what imports to the same store.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/dav_test_support.h"
#include "interop/ical_test_support.h"
#include "interop/interop_test_support.h"

namespace interop::testing {
namespace {

using testing_support::DavKind;
using testing_support::RadicaleServer;
using testing_support::Ran;
using testing_support::RunProgram;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Iso(sys_days d) {
  std::ostringstream out;
  PrintTo(d, &out);
  const std::string text = out.str();
  int y = 0, m = 0, day = 0;
  std::sscanf(text.c_str(), "%d-%d-%d", &y, &m, &day);
  char iso[16];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, day);
  return iso;
}

// The UTC instant of a local store time, as the C library sees it.
std::string UtcText(DATE local) {
  SYSTEMTIME f{};
  VariantTimeToSystemTime(local, &f);
  struct tm fields {};
  fields.tm_year = f.wYear - 1900;
  fields.tm_mon = f.wMonth - 1;
  fields.tm_mday = f.wDay;
  fields.tm_hour = f.wHour;
  fields.tm_min = f.wMinute;
  fields.tm_isdst = -1;
  time_t instant = mktime(&fields);
  struct tm utc;
  gmtime_r(&instant, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// A JSON string field of a line printed by peers.py (its values hold no escapes here).
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  size_t at = line.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (line.compare(at, 4, "null") == 0) return "null";
  size_t end = line.find('"', at + 1);
  return line.substr(at + 1, end - at - 1);
}

std::vector<std::string> Dates(const std::string& line) {
  std::vector<std::string> dates;
  size_t at = line.find("\"dates\": [");
  for (at = line.find('"', at + 10); at != std::string::npos && line[at - 1] != ']';
       at = line.find('"', at + 12)) {
    if (line.compare(at + 1, 1, "2") != 0 && line.compare(at + 1, 1, "1") != 0) break;
    dates.push_back(line.substr(at + 1, 10));
  }
  return dates;
}

class Peers : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    setenv("TZ", "Europe/Berlin", 1);
    setenv("HOME", sandbox().dir().c_str(), 1);
    setenv("XDG_DATA_HOME", sandbox().path("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", sandbox().path("config").c_str(), 1);
    setenv("XDG_CACHE_HOME", sandbox().path("cache").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CACHE_HOME");
    SandboxTest::TearDown();
  }

  // Appointments named "Event N" of every recurrence type, all-day and timed.
  std::vector<AppointmentValues> MakeAppointments(Session& session) {
    static const Recurrence kNone;
    std::vector<AppointmentValues> made;
    const LONG types[] = {-1,
                          olRecursDaily,
                          olRecursWeekly,
                          olRecursMonthly,
                          olRecursMonthNth,
                          olRecursYearly,
                          olRecursYearNth};
    for (int i = 0; i < 42; ++i) {
      AppointmentValues v;
      v.subject = handheld::Utf16FromUtf8("Event " + std::to_string(i + 1));
      const sys_days day = Day(2024, 1, 1) + days{(i * 37) % 500};
      v.allDay = i % 5 == 0;
      v.start = v.allDay ? StoreTime(day) : StoreTime(day, (i * 5) % 24, 30);
      v.end = v.allDay ? StoreTime(day + days{1 + i % 3}) : v.start + 1 / 24.0;
      v.reminderSet = i % 2 == 0;
      v.reminderMinutes = 15;
      v.busy = i % 4;
      v.sensitivity = i % 4;
      v.recipients = {{u"Ada Example", u"ada@example.org"}};
      const LONG type = types[i % 7];
      if (type >= 0) {
        Recurrence r;
        r.type = type;
        r.interval = i % 3 == 0 ? 2 : 1;
        r.dayOfWeekMask = i % 2 ? 62 : 32;
        r.dayOfMonth = 29 + i % 3;
        r.instance = 1 + i % 5;
        r.monthOfYear = 1 + i % 12;
        if (type == olRecursYearly || type == olRecursYearNth) r.interval = 1;
        r.patternStart = StoreTime(day);
        r.noEnd = i % 3 == 0;
        r.occurrences = 12;
        if (i % 3 == 2) {
          r.patternEnd = StoreTime(day + days{400});
          r.occurrences = static_cast<LONG>(StoreMeaning(r, day + days{400}).size());
        }
        // Start on the first occurrence, as the store keeps a series.
        const sys_days first = StoreMeaning(r, day + days{800}).front();
        r.patternStart = StoreTime(first);
        const double length = v.end - v.start;
        v.start = StoreTime(first) + (v.start - StoreTime(day));
        v.end = v.start + length;
        v.recurring = true;
        v.pattern = r;
      }
      made.push_back(v);
      AddAppointment(session, v);
    }
    return made;
  }
};

TEST_F(Peers, PythonIcalendarKhalAndTodomanReadTheExport) {
  const sys_days first = Day(2024, 1, 1), last = Day(2026, 12, 31);
  std::vector<AppointmentValues> events;
  std::vector<TaskValues> tasks;
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    events = MakeAppointments(session);
    for (int i = 0; i < 12; ++i) {
      TaskValues t;
      t.subject = handheld::Utf16FromUtf8("Task " + std::to_string(i + 1));
      t.dueDate = StoreTime(Day(2024, 3, 1) + days{i});
      t.complete = i % 4 == 0;
      t.importance = i % 3;
      AddTask(session, t);
      tasks.push_back(t);
    }
    EXPECT_EQ(Export(IcalKind::kEvents, sandbox().path("calendar.ics")),
              std::vector<std::string>{});
    EXPECT_EQ(Export(IcalKind::kEvents, sandbox().path("vdir/calendar/")),
              std::vector<std::string>{});
    EXPECT_EQ(Export(IcalKind::kTodos, sandbox().path("vdir/tasks/")), std::vector<std::string>{});
  }

  // What each appointment's occurrences are, by its title.
  std::map<std::string, std::vector<std::string>> expected;
  for (const AppointmentValues& v : events) {
    std::vector<std::string>& dates = expected[handheld::Utf8FromUtf16(v.subject)];
    const std::vector<sys_days> days =
        v.recurring ? StoreMeaning(v.pattern, last) : std::vector<sys_days>{DayOf(v.start)};
    for (sys_days d : days) {
      if (d >= first && d <= last) dates.push_back(Iso(d));
    }
  }

  // python3-icalendar parses the file and every file of the folder; dateutil expands.
  const std::string peers = std::string(INTEROP_TEST_DATA) + "/peers.py";
  std::vector<std::string> command = {"/usr/bin/python3", peers, Iso(first), Iso(last),
                                      sandbox().path("calendar.ics")};
  for (const auto& entry : std::filesystem::directory_iterator(sandbox().path("vdir/calendar"))) {
    command.push_back(entry.path().string());
  }
  Ran ran = RunProgram(sandbox().dir(), command);
  ASSERT_EQ(ran.status, 0) << ran.err;
  const std::vector<std::string> parsed = Lines(ran.out);
  ASSERT_EQ(parsed.size(), 2 * events.size());
  for (const std::string& line : parsed) {
    const std::string title = Field(line, "summary");
    ASSERT_EQ(expected.count(title), 1u) << line;
    const AppointmentValues& v = events[std::stoul(title.substr(6)) - 1];
    EXPECT_EQ(Field(line, "start"), v.allDay ? Iso(DayOf(v.start)) : UtcText(v.start)) << line;
    EXPECT_EQ(Dates(line), expected[title]) << line;
  }
  // And every file of the task folder, each a to-do due on its day.
  command = {"/usr/bin/python3", peers, Iso(first), Iso(last)};
  for (const auto& entry : std::filesystem::directory_iterator(sandbox().path("vdir/tasks"))) {
    command.push_back(entry.path().string());
  }
  ran = RunProgram(sandbox().dir(), command);
  ASSERT_EQ(ran.status, 0) << ran.err;
  const std::vector<std::string> todos = Lines(ran.out);
  EXPECT_EQ(todos.size(), tasks.size());
  for (const std::string& line : todos) {
    EXPECT_EQ(Field(line, "start"), "null") << line;
    EXPECT_EQ(Field(line, "summary").substr(0, 5), "Task ") << line;
  }

  // khal lists each appointment on the days of its occurrences (days an event spans
  // show it again under its start date), over the first year: khal expands every series
  // into its own cache, which takes its time.
  const std::string khalLast = "2024-12-31";
  const std::string dir = sandbox().dir();
  std::ofstream(dir + "/khal.conf")
      << "[calendars]\n[[home]]\npath = " << dir << "/vdir/calendar\ntype = calendar\n"
      << "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
      << "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\n"
      << "local_timezone = Europe/Berlin\ndefault_timezone = Europe/Berlin\n"
      << "[sqlite]\npath = " << dir << "/khal.db\n";
  ran = RunProgram(dir,
                   {"/usr/bin/khal", "-c", dir + "/khal.conf", "list", "--format",
                    "{start-date}|{title}", "--day-format", "", Iso(first), khalLast},
                   {}, 600);
  ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
  std::map<std::string, std::set<std::string>> shown;
  for (const std::string& line : Lines(ran.out)) {
    const size_t bar = line.find('|');
    if (bar != std::string::npos) shown[line.substr(bar + 1)].insert(line.substr(0, bar));
  }
  for (const auto& [title, dates] : expected) {
    std::set<std::string> want;
    for (const std::string& d : dates) {
      if (d <= khalLast) want.insert(d);
    }
    std::string extra, missing;
    for (const std::string& d : shown[title]) {
      if (want.count(d) == 0) extra += " " + d;
    }
    for (const std::string& d : want) {
      if (shown[title].count(d) == 0) missing += " " + d;
    }
    EXPECT_EQ(extra + missing, "")
        << title << ": shown but not expected:" << extra << "; expected but not shown:" << missing;
  }

  // todoman lists every task with its due date (local midnight) and completion.
  std::ofstream(dir + "/todoman.py") << "path = \"" << dir << "/vdir/*\"\n"
                                     << "date_format = \"%Y-%m-%d\"\n"
                                     << "cache_path = \"" << dir << "/todoman.db\"\n";
  ran = RunProgram(dir, {"/usr/bin/todoman", "--config", dir + "/todoman.py", "--porcelain", "list",
                         "--status", "ANY"});
  ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
  const std::string& listing = ran.out;
  std::map<std::string, std::string> seen;  // title -> "due completed"
  std::istringstream objects(listing);
  std::string object;
  while (std::getline(objects, object, '}')) {
    auto value = [&object](const std::string& key) {
      size_t at = object.find("\"" + key + "\": ");
      if (at == std::string::npos) return std::string();
      at += key.size() + 4;
      return object.substr(at, object.find_first_of(",\n", at) - at);
    };
    if (!value("summary").empty()) seen[value("summary")] = value("due") + " " + value("completed");
  }
  ASSERT_EQ(seen.size(), tasks.size()) << listing;
  for (const TaskValues& t : tasks) {
    SYSTEMTIME f{};
    VariantTimeToSystemTime(t.dueDate, &f);
    struct tm midnight {};
    midnight.tm_year = f.wYear - 1900;
    midnight.tm_mon = f.wMonth - 1;
    midnight.tm_mday = f.wDay;
    midnight.tm_isdst = -1;
    const std::string want = std::to_string(static_cast<long long>(mktime(&midnight))) + " " +
                             (t.complete ? "true" : "false");
    const std::string title = "\"" + handheld::Utf8FromUtf16(t.subject) + "\"";
    EXPECT_EQ(seen[title], want) << title;
  }
}

TEST_F(Peers, RadicaleTakesEveryItemAndWhatSyncsBackImportsToTheSameStore) {
  const std::string dir = sandbox().dir();
  Generator generate(97);
  std::vector<AppointmentValues> events;
  std::vector<TaskValues> tasks;
  setenv("HANDHELD_STORE", (dir + "/made.db").c_str(), 1);
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int i = 0; i < 40; ++i) {
      events.push_back(generate.Appointment({Day(2024, 3, 31), Day(2024, 10, 27)}));
      AddAppointment(session, events.back());
    }
    for (int i = 0; i < 20; ++i) {
      tasks.push_back(generate.Task());
      AddTask(session, tasks.back());
    }
    events = ByUid(Appointments(session));
    tasks = ByUid(Tasks(session));
    EXPECT_EQ(Export(IcalKind::kEvents, dir + "/vdir/calendar/"), std::vector<std::string>{});
    EXPECT_EQ(Export(IcalKind::kTodos, dir + "/vdir/tasks/"), std::vector<std::string>{});
  }

  RadicaleServer server(dir);
  ASSERT_TRUE(server.running()) << server.log();
  ASSERT_EQ(server.SyncUpAndBack(DavKind::kCalendars, {"calendar", "tasks"}, dir + "/vdir",
                                 dir + "/back", dir),
            "");

  setenv("HANDHELD_STORE", (dir + "/back.db").c_str(), 1);
  EXPECT_EQ(ImportInto(IcalKind::kEvents, dir + "/back/calendar"), std::vector<std::string>{});
  EXPECT_EQ(ImportInto(IcalKind::kTodos, dir + "/back/tasks"), std::vector<std::string>{});
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  const std::vector<AppointmentValues> eventsBack = ByUid(Appointments(session));
  ASSERT_EQ(eventsBack.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(Differences(events[i], eventsBack[i]), "") << "appointment " << i + 1;
  }
  const std::vector<TaskValues> tasksBack = ByUid(Tasks(session));
  ASSERT_EQ(tasksBack.size(), tasks.size());
  for (size_t i = 0; i < tasks.size(); ++i) {
    EXPECT_EQ(Differences(tasks[i], tasksBack[i]), "") << "task " << i + 1;
  }
}

}  // namespace
}  // namespace interop::testing
