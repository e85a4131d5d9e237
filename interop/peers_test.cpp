// The files against the programs that people use them with, installed from Debian:
// python3-vobject (which khard and Radicale parse with) reads every card to the expected
// values, khard lists every contact of an exported folder, python3-icalendar parses every
// calendar file (and dateutil expands its rules), khal lists each appointment on the days
// of its occurrences, todoman lists the tasks, and a Radicale server started here on 127.0.0.1,
// synced with vdirsyncer as the README says, keeps its own items as they were and gives
// back what imports to the same store.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "handheld/testing/sandbox.h"
#include "handheld/utf16.h"
#include "interop/interop_test_support.h"

namespace interop::testing {
namespace {

using handheld::testing::WriteFileBytes;
using Json = nlohmann::json;

constexpr const char* kPython = "/usr/bin/python3";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Utf8(std::u16string_view text) {
  std::string out = handheld::Utf8FromUtf16(text);
  for (size_t at; (at = out.find("\r\n")) != std::string::npos;) out.replace(at, 2, "\n");
  return out;
}

std::string DateText(DATE value) {
  std::string text = Text(value);  // "YYYY-MM-DD HH:MM:SS"
  return text.ends_with(" 00:00:00") ? text.substr(0, 10) : text.replace(10, 1, "T");
}

// A store date (its day's midnight when `midnight`) as an instant, as the C library sees
// the local time.
time_t Instant(DATE value, bool midnight) {
  SYSTEMTIME f{};
  VariantTimeToSystemTime(value, &f);
  struct tm fields {};
  fields.tm_year = f.wYear - 1900;
  fields.tm_mon = f.wMonth - 1;
  fields.tm_mday = f.wDay;
  fields.tm_hour = midnight ? 0 : f.wHour;
  fields.tm_min = midnight ? 0 : f.wMinute;
  fields.tm_isdst = -1;
  return mktime(&fields);
}

// What vobject must read from the card of a contact.
Json Expected(const ContactValues& c) {
  const auto& t = c.texts;
  Json card = Json::object();
  auto add = [&card](const char* name, Json value, std::vector<std::string> types = {}) {
    std::sort(types.begin(), types.end());
    card[name].push_back(Json::array({std::move(value), types}));
  };
  auto parts = [&t](const std::vector<int>& places) {
    Json list = Json::array();
    for (int place : places) list.push_back(Utf8(t[place]));
    return list;
  };
  add("UID", c.uid);
  add("N", parts({kLastName, kFirstName, kMiddleName, kTitle, kSuffix}));
  std::string full;
  for (int part : {kTitle, kFirstName, kMiddleName, kLastName, kSuffix}) {
    if (!t[part].empty()) full += (full.empty() ? "" : " ") + Utf8(t[part]);
  }
  add("FN",
      full.empty() ? Utf8(t[kCompanyName].empty() ? t[kEmail1Address] : t[kCompanyName]) : full);
  std::vector<int> org = {kCompanyName, kDepartment, kOfficeLocation};  // up to the last one
  while (!org.empty() && t[org.back()].empty()) org.pop_back();
  if (!org.empty()) add("ORG", parts(org));
  const struct {
    const char* name;
    int place;
    std::vector<std::string> types;
  } kTyped[] = {{"TITLE", kJobTitle, {}},
                {"URL", kWebPage, {}},
                {"EMAIL", kEmail1Address, {"INTERNET"}},
                {"EMAIL", kEmail2Address, {"INTERNET"}},
                {"EMAIL", kEmail3Address, {"INTERNET"}},
                {"TEL", kMobileTelephoneNumber, {"CELL"}},
                {"TEL", kHomeTelephoneNumber, {"HOME", "VOICE"}},
                {"TEL", kHome2TelephoneNumber, {"HOME", "VOICE"}},
                {"TEL", kBusinessTelephoneNumber, {"WORK", "VOICE"}},
                {"TEL", kBusiness2TelephoneNumber, {"WORK", "VOICE"}},
                {"TEL", kBusinessFaxNumber, {"WORK", "FAX"}},
                {"TEL", kHomeFaxNumber, {"HOME", "FAX"}},
                {"TEL", kPagerNumber, {"PAGER"}},
                {"TEL", kCarTelephoneNumber, {"CAR"}},
                {"TEL", kRadioTelephoneNumber, {"X-EVOLUTION-RADIO"}},
                {"TEL", kAssistantTelephoneNumber, {"X-EVOLUTION-ASSISTANT"}},
                {"X-EVOLUTION-SPOUSE", kSpouse, {}},
                {"X-CHILDREN", kChildren, {}},
                {"X-EVOLUTION-ASSISTANT", kAssistantName, {}}};
  for (const auto& typed : kTyped) {
    if (!t[typed.place].empty()) add(typed.name, Utf8(t[typed.place]), typed.types);
  }
  for (auto [type, street] : {std::pair<const char*, int>{"HOME", kHomeAddressStreet},
                              {"WORK", kBusinessAddressStreet},
                              {"OTHER", kOtherAddressStreet}}) {
    Json address = parts({street, street + 1, street + 2, street + 3, street + 4});
    if (address != Json::array({"", "", "", "", ""})) {
      address.insert(address.begin(), {"", ""});
      add("ADR", address, {type});
    }
  }
  if (!t[kCategories].empty()) {
    Json list = Json::array();
    std::istringstream all(Utf8(t[kCategories]));
    for (std::string one; std::getline(all, one, ',');) list.push_back(one);
    if (Utf8(t[kCategories]).ends_with(",")) list.push_back("");
    add("CATEGORIES", list);
  }
  if (!t[kBody].empty()) add("NOTE", Utf8(t[kBody]));
  if (c.birthday != handheld::kNoDate) add("BDAY", DateText(c.birthday));
  if (c.anniversary != handheld::kNoDate) {
    add("X-EVOLUTION-ANNIVERSARY", DateText(c.anniversary));
    add("X-ANNIVERSARY", DateText(c.anniversary));
  }
  return card;
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
};

TEST_F(Peers, VobjectReadsEveryCardToItsValues) {
  if (!Installed(kPython)) GTEST_SKIP() << "python3-vobject is not installed";
  const std::string file = sandbox().path("all.vcf");
  {
    Session session;
    for (int n = 0; n < 12; ++n) Add(session, Generator::Contact(n));
  }
  EXPECT_EQ(Export(Kind::kContacts, file).Said(), "");
  Session session;
  const std::vector<ContactValues> stored = Contacts(session);
  Ran read = RunProgram(sandbox().dir(),
                        {kPython, std::string(INTEROP_TEST_DATA) + "/vobject_cards.py", file});
  ASSERT_EQ(read.status, 0) << read.err;
  Json cards = Json::parse(read.out);
  ASSERT_EQ(cards.size(), stored.size());
  for (size_t n = 0; n < stored.size(); ++n) {
    Json expected = Expected(stored[n]);
    EXPECT_EQ(cards[n], expected) << "card " << n << "\nvobject: " << cards[n].dump(1)
                                  << "\nexpected: " << expected.dump(1);
  }
}

TEST_F(Peers, KhardListsEveryContactOfAFolder) {
  if (!Installed("/usr/bin/khard")) GTEST_SKIP() << "khard is not installed";
  const std::string book = sandbox().path("book") + "/";
  {
    Session session;
    for (int n = 0; n < 12; ++n) Add(session, Generator::Contact(n));
  }
  EXPECT_EQ(Export(Kind::kContacts, book).Said(), "");
  Session session;
  const std::vector<ContactValues> stored = Contacts(session);
  std::filesystem::create_directories(sandbox().path("config/khard"));
  WriteFileBytes(
      sandbox().path("config/khard/khard.conf"),
      "[addressbooks]\n[[book]]\npath = " + book + "\n[general]\ndefault_action = list\n");
  Ran list = RunProgram(sandbox().dir(), {"/usr/bin/khard", "list", "--parsable"});
  ASSERT_EQ(list.status, 0) << list.err;
  // One record per contact: UID, name, address book, by tabs (names may hold line breaks).
  size_t records = 0;
  for (size_t at = 0; (at = list.out.find("\tbook\n", at)) != std::string::npos; ++at) ++records;
  EXPECT_EQ(records, stored.size()) << list.out;
  for (const ContactValues& c : stored) {
    EXPECT_TRUE(list.out.starts_with(c.uid + "\t") ||
                list.out.find("\n" + c.uid + "\t") != std::string::npos)
        << c.uid << " is not listed:\n"
        << list.out;
  }
}

TEST_F(Peers, PythonIcalendarKhalAndTodomanReadTheExport) {
  const sys_days first = Day(2024, 1, 1), last = Day(2026, 12, 31);
  const std::string dir = sandbox().dir();
  // Appointments named "Event N" of every recurrence type, all-day and timed.
  Generator generate(42);
  std::vector<AppointmentValues> events;
  std::vector<TaskValues> tasks;
  {
    Session session;
    for (int i = 0; i < 42; ++i) {
      events.push_back(generate.Appointment({Day(2024, 6, 1)}));
      events.back().subject = handheld::Utf16FromUtf8("Event " + std::to_string(i + 1));
      Add(session, events.back());
    }
    for (int i = 0; i < 12; ++i) {
      TaskValues t;
      t.subject = handheld::Utf16FromUtf8("Task " + std::to_string(i + 1));
      t.dueDate = StoreTime(Day(2024, 3, 1) + days{i});
      t.complete = i % 4 == 0;
      t.importance = i % 3;
      Add(session, t);
      tasks.push_back(t);
    }
  }
  EXPECT_EQ(Export(Kind::kEvents, dir + "/calendar.ics").Said(), "");
  EXPECT_EQ(Export(Kind::kEvents, dir + "/vdir/calendar/").Said(), "");
  EXPECT_EQ(Export(Kind::kTasks, dir + "/vdir/tasks/").Said(), "");

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

  // python3-icalendar parses the file and every .ics file of the folders (as khal takes
  // them); dateutil expands.
  auto parsed = [&](std::vector<std::string> files, const std::string& folder) {
    std::vector<std::string> command = {kPython, std::string(INTEROP_TEST_DATA) + "/peers.py",
                                        Iso(first), Iso(last)};
    command.insert(command.end(), files.begin(), files.end());
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == ".ics") command.push_back(entry.path().string());
    }
    Ran ran = RunProgram(dir, command);
    EXPECT_EQ(ran.status, 0) << ran.err;
    std::vector<Json> lines;
    for (const std::string& line : Lines(ran.out)) lines.push_back(Json::parse(line));
    return lines;
  };
  const std::vector<Json> read = parsed({dir + "/calendar.ics"}, dir + "/vdir/calendar");
  ASSERT_EQ(read.size(), 2 * events.size());
  for (const Json& line : read) {
    const std::string title = line["summary"];
    ASSERT_EQ(expected.count(title), 1u) << line;
    const AppointmentValues& v = events[std::stoul(title.substr(6)) - 1];
    std::string start = Iso(DayOf(v.start));
    if (!v.allDay) {
      const time_t instant = Instant(v.start, false);
      struct tm fields {};
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&instant, &fields));
      start = text;
    }
    EXPECT_EQ(line["start"], start) << line;
    EXPECT_EQ(line["dates"], expected[title]) << line;
  }
  const std::vector<Json> todos = parsed({}, dir + "/vdir/tasks");
  EXPECT_EQ(todos.size(), tasks.size());
  for (const Json& line : todos) {
    EXPECT_TRUE(line["start"].is_null()) << line;
    EXPECT_TRUE(line["summary"].get<std::string>().starts_with("Task ")) << line;
  }

  // khal lists each appointment on the days of its occurrences (days an event spans
  // show it again under its start date), over the first year: khal expands every series
  // into its own cache, which takes its time.
  const std::string khalLast = "2024-12-31";
  WriteFileBytes(dir + "/khal.conf",
                 "[calendars]\n[[home]]\npath = " + dir + "/vdir/calendar\ntype = calendar\n" +
                     "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n" +
                     "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n" +
                     "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = Europe/Berlin\n" +
                     "default_timezone = Europe/Berlin\n[sqlite]\npath = " + dir + "/khal.db\n");
  Ran ran = RunProgram(dir,
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
    EXPECT_EQ(shown[title], want) << title;
  }

  // todoman lists every task with its due date (local midnight) and completion.
  WriteFileBytes(dir + "/todoman.py", "path = \"" + dir +
                                          "/vdir/*\"\ndate_format = \"%Y-%m-%d\"\n" +
                                          "cache_path = \"" + dir + "/todoman.db\"\n");
  ran = RunProgram(dir, {"/usr/bin/todoman", "--config", dir + "/todoman.py", "--porcelain", "list",
                         "--status", "ANY"});
  ASSERT_EQ(ran.status, 0) << ran.out << ran.err;
  std::map<std::string, Json> seen;  // title -> [due, completed]
  for (const Json& todo : Json::parse(ran.out)) {
    seen[todo["summary"]] = Json::array({todo["due"], todo["completed"]});
  }
  ASSERT_EQ(seen.size(), tasks.size()) << ran.out;
  for (const TaskValues& t : tasks) {
    const std::string title = handheld::Utf8FromUtf16(t.subject);
    EXPECT_EQ(seen[title], Json::array({static_cast<long long>(Instant(t.dueDate, true)),
                                        t.complete}))
        << title;
  }
}

// Blanks around texts cross both ways: python3-icalendar and vobject read them from an
// export, and an import reads them from python3-icalendar's file (libical trims them).
TEST_F(Peers, BlanksAroundTextsCrossToPythonPeersAndBack) {
  const std::string dir = sandbox().dir(), ours = dir + "/ours.ics", theirs = dir + "/theirs.ics";
  setenv("HANDHELD_STORE", (dir + "/store.db").c_str(), 1);
  const std::u16string texts[] = {u" lead and trail ", u"x\t", u"\t tabs and spaces \t"};
  {
    Session session;
    for (const std::u16string& text : texts) {
      AppointmentValues a;
      a.subject = a.location = a.body = text;
      a.start = At(2024, 5, 6, 10);
      a.end = At(2024, 5, 6, 11);
      Add(session, a);
    }
  }
  ASSERT_EQ(Export(Kind::kEvents, ours).Said(), "");
  const Ran ran = RunProgram(
      dir,
      {kPython, "-c",
       "import icalendar, json, sys, vobject\n"
       "for e in icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read()).walk('VEVENT'):\n"
       "  print(json.dumps([str(e[k]) for k in ('SUMMARY', 'LOCATION', 'DESCRIPTION')], "
       "separators=(',', ':')))\n"
       "for e in vobject.readOne(open(sys.argv[1]).read()).vevent_list:\n"
       "  print(json.dumps([e.summary.value, e.location.value, e.description.value], "
       "separators=(',', ':')))\n"
       "c = icalendar.Calendar()\n"
       "c.add('version', '2.0'); c.add('prodid', '-//Peer//EN')\n"
       "for e in icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read()).walk('VEVENT'):\n"
       "  c.add_component(e)\n"
       "open(sys.argv[2], 'wb').write(c.to_ical())\n",
       ours, theirs});
  ASSERT_EQ(ran.status, 0) << ran.err;
  std::string expected;
  for (int reader = 0; reader < 2; ++reader) {
    for (const std::u16string& text : texts) {
      const Json t = handheld::Utf8FromUtf16(text);
      expected += Json::array({t, t, t}).dump() + "\n";
    }
  }
  EXPECT_EQ(ran.out, expected);
  for (const std::string& file : {ours, theirs}) {
    SCOPED_TRACE(file);
    ASSERT_EQ(Import(Kind::kEvents, file, true).Said(), "");
    Session session;
    const std::vector<AppointmentValues> back = Appointments(session);
    ASSERT_EQ(back.size(), std::size(texts));
    for (size_t i = 0; i < back.size(); ++i) {
      EXPECT_EQ(back[i].subject, texts[i]);
      EXPECT_EQ(back[i].location, texts[i]);
      EXPECT_EQ(back[i].body, texts[i]);
    }
  }
}

// Every item file the server keeps (its caches left out), by path.
std::map<std::string, std::string> ServerFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string path = entry.path().string();
    if (entry.is_regular_file() && path.find(".Radicale") == std::string::npos) {
      files[path] = handheld::testing::ReadFileBytes(path);
    }
  }
  return files;
}

// The README's recipes for a server's address book, calendar or task list, run as
// written with its vdirsyncer configuration: a backup (vdirsyncer sync, then an import
// --replace of the folder), then the handheld's items put on the server (an export into
// the folder, then vdirsyncer sync). The server holds `seeds` as another client put them
// there, with what the store cannot hold: its files must come through unchanged. The
// store's made-up items go up too, and what the server gives back of everything imports
// to the same store.
void RunServerRecipes(const std::string& dir, Kind kind,
                      const std::map<std::string, std::string>& seeds) {
  if (!Installed("/usr/bin/radicale") || !Installed("/usr/bin/vdirsyncer")) {
    GTEST_SKIP() << "radicale or vdirsyncer is not installed";
  }
  const bool cards = kind == Kind::kContacts;
  const std::string pair = cards ? "contacts" : kind == Kind::kEvents ? "calendar" : "tasks";
  setenv("HANDHELD_STORE", (dir + "/store.db").c_str(), 1);
  RadicaleServer server(dir);
  ASSERT_TRUE(server.running()) << server.log();
  const Ran made = RunProgram(dir, {kPython, std::string(INTEROP_TEST_DATA) + "/make_collection.py",
                                    std::to_string(server.port()),
                                    cards ? "addressbook" : "calendar", pair});
  ASSERT_EQ(made.out, "201\n") << made.err;

  const std::string folder = dir + "/.local/share/" + pair + "/server/";
  std::filesystem::create_directories(dir + "/.config/vdirsyncer");
  WriteFileBytes(dir + "/.config/vdirsyncer/password", "user\n");
  WriteFileBytes(dir + "/.config/vdirsyncer/config",
                 "[general]\nstatus_path = \"~/.local/share/vdirsyncer/status/\"\n\n[pair " +
                     pair + "]\na = \"folder\"\nb = \"server\"\ncollections = null\n\n" +
                     "[storage folder]\ntype = \"filesystem\"\npath = \"~/.local/share/" + pair +
                     "/server/\"\nfileext = \"" + (cards ? ".vcf" : ".ics") +
                     "\"\n\n[storage server]\ntype = \"" + (cards ? "carddav" : "caldav") +
                     "\"\nurl = \"" + server.Url(pair) +
                     "\"\nusername = \"user\"\npassword.fetch = [\"command\", \"cat\", " +
                     "\"~/.config/vdirsyncer/password\"]\n");
  auto vdirsyncer = [&](const char* step) {
    const Ran ran = RunProgram(dir, {"/usr/bin/vdirsyncer", step, pair},
                               {"XDG_CONFIG_HOME=" + dir + "/.config"});
    EXPECT_EQ(ran.status, 0) << step << ": " << ran.out << ran.err;
  };
  // The folder made anew from what the server holds.
  auto download = [&] {
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(dir + "/.local/share/vdirsyncer");
    std::filesystem::create_directories(folder);
    vdirsyncer("discover");
    vdirsyncer("sync");
  };
  download();
  for (const auto& [name, text] : seeds) WriteFileBytes(folder + name, text);
  vdirsyncer("sync");  // another client puts them there
  const std::map<std::string, std::string> before = ServerFiles(dir + "/collections");
  ASSERT_EQ(before.size(), seeds.size());

  download();
  const Moved backup = Import(kind, folder, true);
  EXPECT_EQ(backup.result.items, static_cast<long>(seeds.size())) << backup.Said();
  {
    Session session;
    for (int n = 0; n < 20; ++n) {
      Generator generate(static_cast<unsigned>(n));
      if (kind == Kind::kContacts) Add(session, Generator::Contact(n));
      if (kind == Kind::kEvents) Add(session, generate.Appointment({Day(2024, 3, 31), Day(2024, 10, 27)}));
      if (kind == Kind::kTasks) Add(session, generate.Task());
    }
  }
  const Moved put = Export(kind, folder);
  EXPECT_EQ(put.result.ExitStatus(), 0) << put.Said();
  const std::vector<std::vector<std::string>> held = HeldFields(kind, true);
  vdirsyncer("sync");
  std::map<std::string, std::string> after = ServerFiles(dir + "/collections");
  EXPECT_EQ(after.size(), seeds.size() + 20);
  for (const auto& [path, text] : before) EXPECT_EQ(after[path], text) << path;

  download();
  Import(kind, folder, true);
  EXPECT_EQ(Differences(held, HeldFields(kind, true)), "");
}

TEST_F(Peers, TheServerRecipesLeaveTheServersEventsAsTheyWere) {
  RunServerRecipes(sandbox().dir(), Kind::kEvents,
                   {{"weekly.ics", handheld::testing::ReadFileBytes(
                                       std::string(INTEROP_TEST_DATA) + "/series.ics")}});
}

TEST_F(Peers, TheServerRecipesTakeTasksUpAndBack) {
  RunServerRecipes(sandbox().dir(), Kind::kTasks, {});
}

TEST_F(Peers, TheServerRecipesLeaveTheServersCardsAsTheyWere) {
  std::map<std::string, std::string> cards;
  for (const std::string i : {"1", "2", "3"}) {
    cards["card" + i + ".vcf"] =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:0e0c0a0b-0000-4000-8000-00000000000" + i +
        "\r\nN:Person" + i + ";Pat;;;\r\nFN:Pat P.\r\nNICKNAME:P" + i + "\r\nEMAIL;TYPE=WORK:pat" +
        i + "@example.org\r\nTEL;TYPE=ISDN:+1 555 010" + i + "\r\nIMPP:xmpp:pat" + i +
        "@example.org\r\nX-JABBER:pat" + i +
        "@example.org\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAA\r\nEND:VCARD\r\n";
  }
  RunServerRecipes(sandbox().dir(), Kind::kContacts, cards);
}

}  // namespace
}  // namespace interop::testing
