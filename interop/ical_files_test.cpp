// A peer's calendar files: what an export into them changes, blank files, files that are
// not iCalendar, and a line of 20 MiB. Read under Europe/Berlin.
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
  std::unique_ptr<Session> session_;
};

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

// A file of blank lines holds no items; one that is not iCalendar at all is refused whole;
// a line of 20 MiB is read whole.
TEST_F(HandWrittenFiles, BlankFilesOthersAndLongLines) {
  const std::string blank = sandbox().path("blank.ics"), vcf = sandbox().path("contacts.vcf");
  handheld::testing::WriteFileBytes(blank, "\r\n  \r\n");
  const Moved moved = Import(Kind::kEvents, blank);
  EXPECT_EQ(moved.result.ExitStatus(), 0);
  EXPECT_EQ(moved.Said(), blank + ": no items\n");
  handheld::testing::WriteFileBytes(vcf, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEND:VCARD\r\n");
  const Moved refused = Import(Kind::kEvents, vcf);
  EXPECT_EQ(refused.result.ExitStatus(), 1);
  EXPECT_EQ(refused.result.items, 0);
  EXPECT_NE(refused.Said().find(vcf + " holds no VCALENDAR"), std::string::npos) << refused.Said();
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
