// Generated stores through one .ics file and through a folder of files and back,
// property by property: every recurrence type and end kind, all-day and timed items,
// reminders, attendees and texts, under two zones with daylight saving, one without, and
// one without a name (floating times).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "interop/ical_test_support.h"

namespace interop::testing {
namespace {

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  template <class T, size_t N>
  const T& OneOf(const T (&values)[N]) {
    return values[static_cast<size_t>(Pick(0, static_cast<int>(N) - 1))];
  }

  std::u16string Subject() {
    static const char16_t* const kTexts[] = {
        u"Планёрка",  u"Lunch with Ada Example",   u"",     u"Review; plan, and\\ more",
        u"Day off 🎉", u"Quote \"this\" and: that", u"Long "};
    std::u16string text = OneOf(kTexts);
    if (text == u"Long ") text += std::u16string(300, u'x');
    return text;
  }
  std::u16string Body() {
    static const char16_t* const kTexts[] = {u"", u"Еженедельная встреча.\r\nA made-up note.",
                                             u"One line", u"Tabs\tand\r\n\r\nblank lines\r\n"};
    return OneOf(kTexts);
  }
  std::u16string Categories() {
    static const char16_t* const kTexts[] = {u"", u"Работа", u"Work, Personal", u"Home"};
    return OneOf(kTexts);
  }

  // A pattern starting on its first occurrence, its end consistent as a device keeps it.
  Recurrence Pattern(sys_days from) {
    static const LONG kTypes[] = {olRecursDaily,    olRecursWeekly, olRecursMonthly,
                                  olRecursMonthNth, olRecursYearly, olRecursYearNth};
    static const int kMasks[] = {2, 62, 65, 127, 20, 1, 64};
    Recurrence r;
    r.type = OneOf(kTypes);
    r.interval = 1;
    r.dayOfWeekMask = r.dayOfMonth = r.instance = r.monthOfYear = 0;
    if (r.type == olRecursDaily || r.type == olRecursWeekly || r.type == olRecursMonthly ||
        r.type == olRecursMonthNth) {
      r.interval = Pick(0, 2) == 0 ? Pick(2, 4) : 1;
    }
    if (r.type == olRecursWeekly || r.type == olRecursMonthNth || r.type == olRecursYearNth) {
      r.dayOfWeekMask = OneOf(kMasks);
    }
    if (r.type == olRecursMonthly || r.type == olRecursYearly) {
      r.dayOfMonth = Pick(0, 1) ? Pick(29, 31) : Pick(1, 28);
    }
    if (r.type == olRecursMonthNth || r.type == olRecursYearNth) r.instance = Pick(1, 5);
    if (r.type == olRecursYearly || r.type == olRecursYearNth) {
      r.monthOfYear = Pick(0, 2) == 0 ? 2 : Pick(1, 12);
    }
    r.patternStart = StoreTime(from);
    r.noEnd = true;
    const std::vector<sys_days> days = StoreMeaning(r, from + std::chrono::days{800});
    r.patternStart = StoreTime(days.front());
    switch (Pick(0, 2)) {
      case 0:
        break;
      case 1:
        r.noEnd = false;
        r.occurrences = Pick(1, 30);
        break;
      default: {
        const size_t last = static_cast<size_t>(Pick(0, static_cast<int>(days.size()) - 1));
        r.noEnd = false;
        r.occurrences = static_cast<LONG>(last + 1);
        r.patternEnd = StoreTime(days[last]);
      }
    }
    return r;
  }

  AppointmentValues Appointment(const std::vector<sys_days>& changeDays) {
    AppointmentValues v;
    v.subject = Subject();
    v.location = Pick(0, 1) ? u"Room 1, 1 Sample Street" : u"";
    v.body = Body();
    v.categories = Categories();
    sys_days day = Day(2023, 1, 1) + std::chrono::days{Pick(0, 1200)};
    int hour = Pick(0, 23), minute = 15 * Pick(0, 3);
    // Times in a daylight-saving change: one that the spring change skips, one the autumn
    // change repeats.
    if (Pick(0, 9) == 0) {
      day = changeDays[static_cast<size_t>(Pick(0, static_cast<int>(changeDays.size()) - 1))];
      hour = Pick(1, 2);
      minute = 30;
    }
    v.allDay = Pick(0, 3) == 0;
    v.recurring = Pick(0, 1) == 1;
    if (v.recurring) {
      v.pattern = Pattern(day);
      day = DayOf(v.pattern.patternStart);
    }
    if (v.allDay) {
      v.start = StoreTime(day);
      v.end = StoreTime(day + std::chrono::days{Pick(1, 4)});
    } else {
      v.start = StoreTime(day, hour, minute);
      v.end = v.start + Pick(0, 3 * 24 * 4) / 96.0;
      SYSTEMTIME f;
      VariantTimeToSystemTime(v.end, &f);
      SystemTimeToVariantTime(&f, &v.end);
    }
    v.reminderSet = Pick(0, 2) != 0;
    static const LONG kMinutes[] = {0, 5, 15, 60, 1440, 10080, 43200};
    v.reminderMinutes = OneOf(kMinutes);
    v.busy = Pick(0, 3);
    v.sensitivity = Pick(0, 3);
    static const RecipientValues kPeople[] = {{u"Ada Example", u"ada@example.org"},
                                              {u"Вера Образцова", u"vera@example.org"},
                                              {u"Example, Boris \"Bob\"", u"boris@example.com"},
                                              {u"carol@example.net", u"carol@example.net"}};
    for (int n = Pick(0, 3); n > 0; --n) v.recipients.push_back(OneOf(kPeople));
    return v;
  }

  TaskValues Task() {
    TaskValues v;
    v.subject = Subject();
    v.body = Body();
    v.categories = Categories();
    v.importance = Pick(0, 2);
    v.complete = Pick(0, 1) == 1;
    v.sensitivity = Pick(0, 3);
    const sys_days day = Day(2023, 1, 1) + std::chrono::days{Pick(0, 1200)};
    if (Pick(0, 2) != 0) v.startDate = StoreTime(day);
    if (Pick(0, 2) != 0) v.dueDate = StoreTime(day + std::chrono::days{Pick(0, 30)});
    v.recurring = Pick(0, 2) == 0;
    if (v.recurring) {
      v.pattern = Pattern(day);
      // A repeating task starts on its pattern's first occurrence.
      v.startDate = v.pattern.patternStart;
      if (v.dueDate != handheld::kNoDate && v.dueDate < v.startDate) v.dueDate = v.startDate;
    }
    v.reminderSet = Pick(0, 1) == 1;
    v.reminderTime = StoreTime(day - std::chrono::days{Pick(0, 3)}, Pick(6, 22), 15 * Pick(0, 3));
    return v;
  }

 private:
  std::mt19937 random_;
};

struct Zone {
  const char* tz;
  std::vector<sys_days> changes;  // days of daylight-saving changes in the generated years
};

class RoundTrip : public ::testing::TestWithParam<Zone> {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<handheld::testing::Sandbox>();
    setenv("TZ", GetParam().tz, 1);
  }
  void TearDown() override { sandbox_.reset(); }
  std::string Path(const std::string& name) { return sandbox_->path(name); }
  void UseStore(const std::string& name) { setenv("HANDHELD_STORE", Path(name).c_str(), 1); }

  std::unique_ptr<handheld::testing::Sandbox> sandbox_;
};

TEST_P(RoundTrip, AppointmentsComeBackPropertyByProperty) {
  Generator generate(1234);
  std::vector<AppointmentValues> made;
  UseStore("made.db");
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    const std::vector<sys_days> changes =
        GetParam().changes.empty() ? std::vector<sys_days>{Day(2024, 6, 1)} : GetParam().changes;
    for (int i = 0; i < 240; ++i) {
      made.push_back(generate.Appointment(changes));
      AddAppointment(session, made.back());
    }
    RecordedLosses losses;
    ExportFile(session, IcalKind::kEvents, Path("calendar.ics"), &losses);
    ExportFolder(session, IcalKind::kEvents, Path("calendar"), &losses);
    EXPECT_TRUE(losses.counts.empty()) << losses.counts.begin()->first;
  }
  for (const char* source : {"calendar.ics", "calendar"}) {
    UseStore(std::string(source) + ".db");
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    RecordedLosses losses;
    ImportResult result = Import(session, IcalKind::kEvents, Path(source), &losses);
    EXPECT_EQ(result.imported, static_cast<long>(made.size())) << source;
    EXPECT_TRUE(result.problems.empty()) << source << ": " << result.problems.front().why;
    EXPECT_TRUE(losses.counts.empty()) << source << ": " << losses.counts.begin()->first;
    const std::vector<AppointmentValues> back = Appointments(session);
    ASSERT_EQ(back.size(), made.size()) << source;
    for (size_t i = 0; i < made.size(); ++i) {
      EXPECT_EQ(Differences(made[i], back[i]), "") << source << ", appointment " << i + 1;
    }
  }
}

TEST_P(RoundTrip, TasksComeBackPropertyByProperty) {
  Generator generate(5678);
  std::vector<TaskValues> made;
  UseStore("made.db");
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int i = 0; i < 150; ++i) {
      made.push_back(generate.Task());
      AddTask(session, made.back());
    }
    RecordedLosses losses;
    ExportFile(session, IcalKind::kTodos, Path("tasks.ics"), &losses);
    ExportFolder(session, IcalKind::kTodos, Path("tasks"), &losses);
    EXPECT_TRUE(losses.counts.empty()) << losses.counts.begin()->first;
  }
  for (const char* source : {"tasks.ics", "tasks"}) {
    UseStore(std::string(source) + ".db");
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    RecordedLosses losses;
    ImportResult result = Import(session, IcalKind::kTodos, Path(source), &losses);
    EXPECT_EQ(result.imported, static_cast<long>(made.size())) << source;
    EXPECT_TRUE(result.problems.empty()) << source << ": " << result.problems.front().why;
    EXPECT_TRUE(losses.counts.empty()) << source << ": " << losses.counts.begin()->first;
    const std::vector<TaskValues> back = Tasks(session);
    ASSERT_EQ(back.size(), made.size()) << source;
    for (size_t i = 0; i < made.size(); ++i) {
      EXPECT_EQ(Differences(made[i], back[i]), "") << source << ", task " << i + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, RoundTrip,
                         ::testing::Values(Zone{"Europe/Berlin",
                                                {Day(2023, 3, 26), Day(2023, 10, 29),
                                                 Day(2024, 3, 31), Day(2024, 10, 27),
                                                 Day(2025, 3, 30)}},
                                           Zone{"America/New_York",
                                                {Day(2023, 3, 12), Day(2023, 11, 5),
                                                 Day(2024, 3, 10), Day(2024, 11, 3)}},
                                           Zone{"Asia/Kolkata", {}}, Zone{"XYZ-3", {}}),
                         [](const ::testing::TestParamInfo<Zone>& info) {
                           std::string name = info.param.tz;
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace interop::testing
