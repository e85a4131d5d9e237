// Hand-written files of the kinds people have: a Google Calendar export (UTC and TZID
// times), a Thunderbird export, an Outlook export with its busy status, all-day
// multi-day events, series with EXDATE, a changed occurrence and a rule the store
// cannot hold, and a damaged file. Read under Europe/Berlin.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"

namespace interop::testing {
namespace {

class HandWrittenFiles : public handheld::testing::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    setenv("TZ", "Europe/Berlin", 1);
    session_ = std::make_unique<Session>();
    ASSERT_EQ(session_->logon(), S_OK);
  }
  void TearDown() override {
    session_.reset();
    SandboxTest::TearDown();
  }
  // The file imported as `handheld import` does, into the session's store.
  TransferResult Read(Kind kind, const char* file) {
    path_ = std::string(INTEROP_TEST_DATA) + "/" + file;
    const Moved moved = Import(kind, path_);
    for (const std::string& line : moved.lost) {  // "not kept: WHAT on N item(s)"
      const size_t on = line.rfind(" on "), from = line.rfind("not kept: ", 0) == 0 ? 10 : 0;
      losses_[line.substr(from, on - from)] = std::stoi(line.substr(on + 4));
    }
    return moved.result;
  }
  std::map<std::string, int> Losses() const { return losses_; }
  // The store that the last file was read into, exported into a copy of that file, leaves
  // the copy as it is.
  void ExportIntoItsFileKeepsIt(Kind kind) {
    const std::string original = handheld::testing::ReadFileBytes(path_);
    const std::string copy = sandbox().path("copy.ics");
    handheld::testing::WriteFileBytes(copy, original);
    EXPECT_EQ(Export(kind, copy).Said(), "");
    EXPECT_EQ(handheld::testing::ReadFileBytes(copy), original);
  }

  std::unique_ptr<Session> session_;
  std::string path_;
  std::map<std::string, int> losses_;
};

TEST_F(HandWrittenFiles, GoogleCalendar) {
  TransferResult result = Read(Kind::kEvents, "google.ics");
  EXPECT_EQ(result.items, 4);
  EXPECT_TRUE(result.problems.empty());
  const std::vector<AppointmentValues> items = Appointments(*session_);
  ASSERT_EQ(items.size(), 4u);

  // 14:00 UTC is 15:00 in Berlin in March.
  const AppointmentValues& review = items[0];
  EXPECT_EQ(Text(review.start), Text(At(2024, 3, 15, 15)));
  EXPECT_EQ(Text(review.end), Text(At(2024, 3, 15, 16)));
  EXPECT_EQ(review.location, u"1 Sample Street, Room 4");
  EXPECT_EQ(review.body, u"Quarterly numbers.\r\nBring the laptop.");
  EXPECT_TRUE(review.reminderSet);
  EXPECT_EQ(review.reminderMinutes, 10);
  EXPECT_EQ(review.busy, 2);
  EXPECT_EQ(review.recipients,
            (std::vector<RecipientValues>{{u"Vera Obrazcova", u"vera@example.org"},
                                          {u"boris@example.com", u"boris@example.com"}}));

  // 09:00 in New York is 15:00 here before either changes its clock.
  const AppointmentValues& standup = items[1];
  EXPECT_EQ(Text(standup.start), Text(At(2024, 3, 4, 15)));
  ASSERT_TRUE(standup.recurring);
  EXPECT_EQ(standup.pattern.type, olRecursWeekly);
  EXPECT_EQ(standup.pattern.dayOfWeekMask, 2 | 8);
  // UNTIL 1 May 03:59:59 UTC is still 30 April in New York: the last is Monday 29 April.
  EXPECT_EQ(Text(standup.pattern.patternEnd), Text(At(2024, 4, 29)));
  EXPECT_EQ(standup.pattern.occurrences, 17);
  EXPECT_FALSE(standup.reminderSet);

  const AppointmentValues& holiday = items[2];
  EXPECT_TRUE(holiday.allDay);
  EXPECT_EQ(Text(holiday.start), Text(At(2024, 7, 22)));
  EXPECT_EQ(Text(holiday.end), Text(At(2024, 7, 27)));
  EXPECT_EQ(holiday.busy, 0);

  const AppointmentValues& drinks = items[3];
  EXPECT_EQ(Text(drinks.start), Text(At(2024, 1, 26, 22)));
  ASSERT_TRUE(drinks.recurring);
  EXPECT_EQ(drinks.pattern.type, olRecursMonthNth);
  EXPECT_EQ(drinks.pattern.dayOfWeekMask, 32);
  EXPECT_EQ(drinks.pattern.instance, 5);
  EXPECT_TRUE(drinks.pattern.noEnd);

  EXPECT_EQ(Losses(), (std::map<std::string, int>{
                          {"ORGANIZER", 1},
                          {"PARTSTAT of ATTENDEE", 1},
                          {"X-NUM-GUESTS of ATTENDEE", 1},
                          {"series times in America/New_York (its clock changes differ from "
                           "local ones)",
                           2}}));
  // Its series are compared as the store holds them, and stay as Google wrote them.
  ExportIntoItsFileKeepsIt(Kind::kEvents);
}

TEST_F(HandWrittenFiles, ThunderbirdEventsAndTasks) {
  TransferResult result = Read(Kind::kEvents, "thunderbird.ics");
  EXPECT_EQ(result.items, 2);
  EXPECT_EQ(result.notes,
            std::vector<std::string>{"left out 2 VTODO (tasks: import them as tasks)"});
  std::vector<AppointmentValues> items = Appointments(*session_);
  ASSERT_EQ(items.size(), 2u);
  // Every weekday, as Thunderbird writes it.
  EXPECT_EQ(items[0].subject, u"Планёрка");
  EXPECT_EQ(items[0].categories, u"Работа, Meetings");
  EXPECT_EQ(items[0].sensitivity, 2);
  EXPECT_EQ(Text(items[0].start), Text(At(2024, 3, 11, 9, 30)));
  ASSERT_TRUE(items[0].recurring);
  EXPECT_EQ(items[0].pattern.type, olRecursWeekly);
  EXPECT_EQ(items[0].pattern.dayOfWeekMask, 62);
  EXPECT_EQ(items[0].pattern.occurrences, 20);
  EXPECT_EQ(items[0].reminderMinutes, 15);
  // 02:30 on the morning the clocks go forward stays as written; an alarm two hours
  // before the end is one hour before the start.
  EXPECT_EQ(Text(items[1].start), Text(At(2024, 3, 31, 2, 30)));
  EXPECT_EQ(Text(items[1].end), Text(At(2024, 3, 31, 3, 30)));
  EXPECT_TRUE(items[1].reminderSet);
  EXPECT_EQ(items[1].reminderMinutes, 60);
  EXPECT_TRUE(Losses().empty()) << Losses().begin()->first;

  losses_.clear();
  result = Read(Kind::kTasks, "thunderbird.ics");
  EXPECT_EQ(result.items, 2);
  EXPECT_EQ(result.notes,
            std::vector<std::string>{"left out 2 VEVENT (appointments: import them as calendar)"});
  const std::vector<TaskValues> tasks = Tasks(*session_);
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0].importance, 2);
  EXPECT_FALSE(tasks[0].complete);
  EXPECT_EQ(Text(tasks[0].startDate), Text(At(2024, 3, 1)));
  EXPECT_EQ(Text(tasks[0].dueDate), Text(At(2024, 3, 20)));
  ASSERT_TRUE(tasks[0].recurring);
  EXPECT_EQ(tasks[0].pattern.type, olRecursMonthly);
  EXPECT_EQ(tasks[0].pattern.dayOfMonth, 1);
  EXPECT_TRUE(tasks[0].reminderSet);
  EXPECT_EQ(Text(tasks[0].reminderTime), Text(At(2024, 3, 20, 16, 30)));
  EXPECT_EQ(tasks[1].importance, 0);
  EXPECT_TRUE(tasks[1].complete);
  EXPECT_EQ(tasks[1].sensitivity, 3);
  EXPECT_EQ(Text(tasks[1].dueDate), Text(At(2024, 3, 5)));
  EXPECT_EQ(Text(tasks[1].startDate), "none");
  EXPECT_EQ(Losses(), (std::map<std::string, int>{{"COMPLETED", 1},
                                                  {"PERCENT-COMPLETE", 1},
                                                  {"STATUS:IN-PROCESS", 1},
                                                  {"time of day of DUE", 1}}));
}

TEST_F(HandWrittenFiles, OutlookBusyStatusAndAttendeesResolvedAsALoadDoes) {
  // An attendee without an address resolves by a contact's name, as in a load.
  Ref<IContact> contact = session_->Create<IContact>(olContactItem);
  contact->put_FirstName(Bstr(u"NoMail"));
  contact->put_LastName(Bstr(u"Person"));
  contact->put_Email1Address(Bstr(u"nomail@example.org"));
  ASSERT_EQ(contact->Save(), S_OK);

  TransferResult result = Read(Kind::kEvents, "outlook.ics");
  EXPECT_EQ(result.items, 3);
  const std::vector<AppointmentValues> items = Appointments(*session_);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].subject, u"Away at the conference");
  EXPECT_EQ(items[0].busy, 3);
  EXPECT_EQ(Text(items[0].start), Text(At(2024, 4, 3, 9)));
  EXPECT_EQ(Text(items[0].end), Text(At(2024, 4, 5, 18)));
  EXPECT_EQ(items[0].reminderMinutes, 1080);
  EXPECT_EQ(items[0].body, u"Conference in Lisbon\r\n");
  EXPECT_EQ(items[0].recipients,
            (std::vector<RecipientValues>{{u"Vera Obrazcova", u"vera@example.org"},
                                          {u"NoMail Person", u"nomail@example.org"}}));
  EXPECT_EQ(items[1].busy, 1);
  EXPECT_EQ(items[1].sensitivity, 2);
  ASSERT_TRUE(items[1].recurring);
  EXPECT_EQ(items[1].pattern.type, olRecursMonthNth);
  EXPECT_EQ(items[1].pattern.dayOfWeekMask, 4);
  EXPECT_EQ(items[1].pattern.instance, 2);
  EXPECT_EQ(items[1].pattern.occurrences, 6);
  EXPECT_FALSE(items[1].reminderSet);
  EXPECT_TRUE(items[2].allDay);
  EXPECT_EQ(items[2].busy, 0);
  EXPECT_EQ(Text(items[2].end), Text(At(2024, 5, 13)));
  EXPECT_EQ(items[2].reminderMinutes, 1080);
  EXPECT_EQ(Losses(),
            (std::map<std::string, int>{{"ATTENDEE without a mail address that no contact has", 1},
                                        {"LANGUAGE of SUMMARY", 3},
                                        {"RSVP of ATTENDEE", 1},
                                        {"X-ALT-DESC", 1}}));
  // Its attendees without an address resolve in the merge as they did in the load.
  ExportIntoItsFileKeepsIt(Kind::kEvents);
}

TEST_F(HandWrittenFiles, AllDayEventsOverSeveralDays) {
  TransferResult result = Read(Kind::kEvents, "allday.ics");
  EXPECT_EQ(result.items, 2);
  const std::vector<AppointmentValues> items = Appointments(*session_);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[0].allDay);
  EXPECT_EQ(Text(items[0].start), Text(At(2024, 12, 30)));
  EXPECT_EQ(Text(items[0].end), Text(At(2025, 1, 3)));
  // Three days from 28 February of a leap year end on 2 March.
  EXPECT_TRUE(items[1].allDay);
  EXPECT_EQ(Text(items[1].end), Text(At(2024, 3, 2)));
  EXPECT_EQ(items[1].reminderMinutes, 900);
  EXPECT_EQ(Losses(), (std::map<std::string, int>{{"X-APPLE-TRAVEL-ADVISORY-BEHAVIOR", 1}}));
}

TEST_F(HandWrittenFiles, SeriesTheStoreCannotHoldComeAsTheirFirstOccurrence) {
  TransferResult result = Read(Kind::kEvents, "exdate.ics");
  EXPECT_EQ(result.items, 4);
  const std::vector<AppointmentValues> items = Appointments(*session_);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].subject, u"Yoga");
  EXPECT_EQ(Text(items[0].start), Text(At(2024, 3, 4, 10)));
  EXPECT_FALSE(items[0].recurring);
  EXPECT_EQ(items[1].subject, u"Choir");
  EXPECT_FALSE(items[1].recurring);
  // An occurrence without its series in the file is an appointment of its own.
  EXPECT_EQ(items[2].subject, u"Guest talk");
  EXPECT_EQ(Text(items[2].start), Text(At(2024, 3, 20, 14)));
  EXPECT_EQ(items[3].subject, u"Take the pills");
  EXPECT_FALSE(items[3].recurring);
  EXPECT_EQ(Losses(),
            (std::map<std::string, int>{
                {"EXDATE (only the first occurrence imported)", 1},
                {"changed occurrences (RECURRENCE-ID) (only the first occurrence imported)", 1},
                {"RRULE FREQ=HOURLY (only the first occurrence imported)", 1}}));
}

TEST_F(HandWrittenFiles, DamagedComponentsAreNamedByLineAndTheRestIsImported) {
  TransferResult result = Read(Kind::kEvents, "broken.ics");
  EXPECT_EQ(result.items, 2);
  EXPECT_EQ(result.problems,
            (std::vector<std::string>{path_ + ": line 10: a VEVENT without DTSTART",
                                      path_ + ": line 15: a VEVENT without DTSTART",
                                      path_ + ": line 34: BEGIN:VEVENT without its END"}));
  EXPECT_EQ(result.notes, std::vector<std::string>{"left out 1 VJOURNAL"});
  EXPECT_EQ(Losses(), (std::map<std::string, int>{{"RRULE that could not be read", 1},
                                                  {"a component without a name", 1}}));

  // A file that is not iCalendar at all is refused whole.
  const std::string path = sandbox().path("contacts.vcf");
  handheld::testing::WriteFileBytes(path, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n");
  const Moved refused = Import(Kind::kEvents, path);
  EXPECT_EQ(refused.result.ExitStatus(), 1);
  EXPECT_EQ(refused.result.items, 0);
  EXPECT_NE(refused.Said().find(path + " holds no VCALENDAR"), std::string::npos) << refused.Said();
}

// The lines of `a` that `b` lacks, each as often as it lacks it.
std::multiset<std::string> LinesLacking(const std::string& a, const std::string& b) {
  auto lines = [](const std::string& text) {
    std::multiset<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.insert(line.substr(0, line.find('\r')));
    return out;
  };
  std::multiset<std::string> lacking = lines(a);
  for (const std::string& line : lines(b)) {
    if (auto found = lacking.find(line); found != lacking.end()) lacking.erase(found);
  }
  return lacking;
}

ino_t Inode(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_ino;
}

// A peer's weekly series (two EXDATEs, a changed occurrence, X- properties, two VALARMs,
// a room as attendee, blanks around its summary) imported from its folder, changed in the
// store, and exported back into the folder: only what changed changes in the file.
TEST_F(HandWrittenFiles, ExportIntoAFolderChangesOnlyWhatTheStoreChanged) {
  const std::string original = handheld::testing::ReadFileBytes(INTEROP_TEST_DATA "/series.ics");
  const std::vector<std::string> occurrence = {"BEGIN:VEVENT",
                                               "UID:weekly-1",
                                               "DTSTAMP:20240101T000000Z",
                                               "RECURRENCE-ID;TZID=Europe/Berlin:20240129T100000",
                                               "DTSTART;TZID=Europe/Berlin:20240129T120000",
                                               "DTEND;TZID=Europe/Berlin:20240129T130000",
                                               "SUMMARY:Moved meeting",
                                               "END:VEVENT"};
  using Change = void (*)(IAppointment*);
  struct Case {
    const char* what;
    Change change;
    std::vector<std::string> gone, come;
    std::string said;  // by the export
  };
  const Case cases[] = {
      {"nothing", nullptr, {}, {}, ""},
      {"the subject",
       [](IAppointment* a) { a->put_Subject(Bstr(u"Team sync")); },
       {"SUMMARY: Team meeting "},
       {"SUMMARY:Team sync"},
       ""},
      {"the reminder",
       [](IAppointment* a) { a->put_ReminderMinutesBeforeStart(30); },
       {"TRIGGER:-PT15M", "DESCRIPTION:first"},
       {"TRIGGER:-PT30M", "DESCRIPTION: Team meeting "},
       ""},
      {"the repetition",
       [](IAppointment* a) {
         Ref<IRecurrencePattern> pattern;
         a->GetRecurrencePattern(pattern.Out());
         pattern->put_RecurrenceType(olRecursDaily);
         pattern->put_Interval(2);
         pattern->put_PatternStartDate(At(2024, 1, 8));
       },
       {"RRULE:FREQ=WEEKLY;BYDAY=MO", "EXDATE;TZID=Europe/Berlin:20240115T100000",
        "EXDATE;TZID=Europe/Berlin:20240122T100000"},
       {"RRULE:FREQ=DAILY;INTERVAL=2"},
       "not kept: changed occurrences (RECURRENCE-ID) of a series changed here on 1 item\n"
       "not kept: EXDATE of a series changed here on 1 item\n"},
  };
  const std::string folder = sandbox().path("calendar") + "/", file = folder + "weekly.ics";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::create_directories(folder);
    handheld::testing::WriteFileBytes(file, original);
    const ino_t before = Inode(file);
    EXPECT_EQ(Import(Kind::kEvents, folder, true).Said(),
              "not kept: EXDATE (only the first occurrence imported) on 1 item\n"
              "not kept: more than one VALARM on 1 item\n"
              "not kept: X-PEER-COLOR on 1 item\n"
              "changed: ATTENDEE;CUTYPE=ROOM as a person on 1 item\n");
    if (c.change != nullptr) {
      Ref<IPOutlookItemCollection> items = session_->Items(olFolderCalendar);
      Ref<IAppointment> item = Session::Fetch<IAppointment>(items.get(), 1);
      c.change(item.get());
      ASSERT_EQ(item->Save(), S_OK);
    }
    EXPECT_EQ(Export(Kind::kEvents, folder).Said(), c.said);
    const std::string after = handheld::testing::ReadFileBytes(file);
    std::vector<std::string> gone = c.gone;
    if (c.change == cases[3].change) gone.insert(gone.end(), occurrence.begin(), occurrence.end());
    EXPECT_EQ(LinesLacking(original, after), std::multiset<std::string>(gone.begin(), gone.end()));
    EXPECT_EQ(LinesLacking(after, original),
              std::multiset<std::string>(c.come.begin(), c.come.end()));
    if (c.change == nullptr) {
      EXPECT_EQ(Inode(file), before) << "an unchanged file was written";
    }
    // What the store reads back from the merged file is what it holds.
    const std::vector<AppointmentValues> held = Appointments(*session_);
    Import(Kind::kEvents, folder, true);
    EXPECT_EQ(Differences(held.at(0), Appointments(*session_).at(0)), "");
  }

  // Into one .ics file: the component with the item's UID is merged, others stay.
  handheld::testing::WriteFileBytes(file, original);
  Import(Kind::kEvents, folder, true);
  const std::string single = sandbox().path("calendar.ics");
  const std::string other =
      "BEGIN:VEVENT\r\nUID:someone-else\r\nDTSTART:20240301T100000Z\r\n"
      "SUMMARY:Not ours\r\nEND:VEVENT\r\n";
  std::string both = original;
  both.insert(both.rfind("END:VCALENDAR"), other);
  handheld::testing::WriteFileBytes(single, both);
  const Moved moved = Export(Kind::kEvents, single);
  EXPECT_EQ(moved.result.notes,
            std::vector<std::string>{single + ": kept 1 components the store does not hold"});
  EXPECT_EQ(handheld::testing::ReadFileBytes(single), both);

  // The file an earlier export wrote: an item changed since changes only its own lines.
  const std::string own = sandbox().path("own.ics");
  ASSERT_EQ(Export(Kind::kEvents, own).Said(), "");
  const std::string first = handheld::testing::ReadFileBytes(own);
  Ref<IAppointment> item = Session::Fetch<IAppointment>(session_->Items(olFolderCalendar).get(), 1);
  item->put_Subject(Bstr(u"Team sync"));
  ASSERT_EQ(item->Save(), S_OK);
  ASSERT_EQ(Export(Kind::kEvents, own).Said(), "");
  const std::string second = handheld::testing::ReadFileBytes(own);
  EXPECT_EQ(LinesLacking(first, second), std::multiset<std::string>{"SUMMARY: Team meeting "});
  EXPECT_EQ(LinesLacking(second, first), std::multiset<std::string>{"SUMMARY:Team sync"});
}

// An empty file holds no items; a file cut off is read up to the cut, and a line of 20
// MiB takes no longer than its reading.
TEST_F(HandWrittenFiles, EmptyFilesAndLongLines) {
  const std::string empty = sandbox().path("empty.ics");
  for (const char* bytes : {"", "\r\n  \r\n"}) {
    handheld::testing::WriteFileBytes(empty, bytes);
    const Moved moved = Import(Kind::kEvents, empty);
    EXPECT_EQ(moved.result.ExitStatus(), 0);
    EXPECT_EQ(moved.Said(), empty + ": no items\n");
  }
  const std::string big = sandbox().path("big.ics");
  handheld::testing::WriteFileBytes(
      big,
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:big\r\nDTSTART:20240101T100000Z\r\n"
      "DESCRIPTION:" +
          std::string(20 << 20, 'x') + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  EXPECT_EQ(Import(Kind::kEvents, big).result.items, 1);
  EXPECT_EQ(Appointments(*session_).at(0).body.size(), size_t{20} << 20);
}

}  // namespace
}  // namespace interop::testing
