// The meaning of exported rules, checked day by day against an expansion written here
// from what a store pattern means, over three years, under three zones; and the rules
// that an import keeps or refuses.
#include "interop/ical_recurrence.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"
#include "interop/ical_time.h"
#include "interop/interop_test_support.h"

namespace interop {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

using testing::Day;
using testing::DayOf;
using testing::StoreMeaning;

// The series is expanded in wall-clock time, as a reader in the local zone does; libical
// 3.0 keeps a time moved on by a spring change for every later occurrence when it
// expands in a zone. A UTC UNTIL is read in the local zone here.
std::vector<sys_days> IcalMeaning(const SeriesRule& series, sys_days until) {
  const icaltimetype start = series.first;
  icalrecurrencetype rule = series.rule;
  if (!icaltime_is_null_time(rule.until) && icaltime_is_utc(rule.until)) {
    rule.until = icaltime_convert_to_zone(
        rule.until, icaltimezone_get_builtin_timezone(LocalZone::Current().name().c_str()));
    rule.until.zone = nullptr;
  }
  icalrecur_iterator* it = icalrecur_iterator_new(rule, start);
  std::vector<sys_days> out;
  for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t);
       t = icalrecur_iterator_next(it)) {
    if (DayOf(t) > until) break;
    EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second,
              start.hour * 3600 + start.minute * 60 + start.second);
    out.push_back(DayOf(t));
  }
  icalrecur_iterator_free(it);
  return out;
}

std::string Describe(const Recurrence& r, const icaltimetype& time, const SeriesRule& series) {
  icalrecurrencetype rule = series.rule;
  char* text = icalrecurrencetype_as_string_r(&rule);
  std::string out = "type " + std::to_string(r.type) + " interval " + std::to_string(r.interval) +
                    " mask " + std::to_string(r.dayOfWeekMask) + " day " +
                    std::to_string(r.dayOfMonth) + " instance " + std::to_string(r.instance) +
                    " month " + std::to_string(r.monthOfYear) + " start " +
                    icaltime_as_ical_string(time) + " -> " + text;
  free(text);
  return out;
}

// Patterns of every type and end kind, with days 29 to 31, 29 February, last weekdays
// and multi-day masks well represented.
std::vector<Recurrence> Patterns(std::mt19937* random) {
  auto pick = [random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(*random);
  };
  std::vector<Recurrence> out;
  const LONG types[] = {olRecursDaily,    olRecursWeekly, olRecursMonthly,
                        olRecursMonthNth, olRecursYearly, olRecursYearNth};
  const int masks[] = {1, 2, 64, 62, 65, 127, 42, 20};
  for (int n = 0; n < 1500; ++n) {
    Recurrence r;
    r.type = types[n % 6];
    r.interval = pick(0, 3) == 0 ? pick(2, 5) : 1;
    if (r.type == olRecursDaily && pick(0, 3) == 0) r.interval = pick(6, 40);
    r.dayOfWeekMask = pick(0, 1) ? masks[pick(0, 7)] : pick(1, 127);
    if (r.type == olRecursWeekly && pick(0, 4) == 0) r.dayOfWeekMask = 0;
    r.dayOfMonth = pick(0, 1) ? pick(28, 31) : pick(1, 31);
    r.instance = pick(1, 5);
    r.monthOfYear = pick(0, 2) == 0 ? 2 : pick(1, 12);
    sys_days start = Day(2023, 1, 1) + days{pick(0, 3 * 365)};
    if (n % 50 == 7) start = Day(2024, 2, 29);
    if (n % 50 == 8) start = Day(2024, 1, 31);
    r.patternStart = testing::StoreTime(start);
    switch (pick(0, 2)) {
      case 0:
        r.noEnd = true;
        break;
      case 1:
        r.noEnd = false;
        r.occurrences = pick(1, 40);
        break;
      default:
        r.noEnd = false;
        r.patternEnd = testing::StoreTime(start + days{pick(0, 700)});
    }
    out.push_back(r);
  }
  return out;
}

// The zones of the round trips: two with daylight saving and one without.
const char* const kZones[] = {"Europe/Berlin", "America/New_York", "Asia/Kolkata"};

class RecurrenceMeaning : public ::testing::TestWithParam<const char*> {
 protected:
  handheld::testing::Sandbox sandbox_;
};

TEST_P(RecurrenceMeaning, ExportedRulesNameTheStoreDaysAndReadBackToTheSamePatterns) {
  setenv("TZ", GetParam(), 1);
  LocalZone local = LocalZone::Current();
  ASSERT_EQ(local.name(), GetParam());
  std::mt19937 random(20240229);
  const int times[][2] = {{-1, 0}, {9, 30}, {23, 30}, {0, 15}, {2, 30}};
  int n = 0;
  for (const Recurrence& r : Patterns(&random)) {
    const int* time = times[n++ % 5];
    const sys_days start = DayOf(r.patternStart);
    const sys_days until = start + days{3 * 365};
    icaltimetype itemStart;
    ASSERT_TRUE(IcalFromStoreDate(r.patternStart, time[0] < 0, &itemStart));
    if (time[0] >= 0) {
      itemStart.hour = time[0];
      itemStart.minute = time[1];
    }
    SeriesRule series;
    std::string why;
    const std::vector<sys_days> expected = StoreMeaning(r, until);
    if (!RuleFromRecurrence(r, itemStart, true, &series, &why)) {
      EXPECT_TRUE(expected.empty()) << why;
      continue;
    }
    const std::string what = Describe(r, itemStart, series);
    ASSERT_FALSE(expected.empty()) << what;
    EXPECT_EQ(DayOf(series.first), expected.front()) << what;
    EXPECT_EQ(IcalMeaning(series, until), expected) << what;

    // Read back, the rule gives a pattern that means the same, starting at DTSTART.
    Recurrence back;
    ASSERT_TRUE(RecurrenceFromRule(series.rule, series.first, &back, &why)) << what << ": " << why;
    EXPECT_EQ(DayOf(back.patternStart), expected.front()) << what;
    EXPECT_EQ(StoreMeaning(back, until), expected) << what;
    if (!r.noEnd && r.patternEnd != handheld::kNoDate) {
      EXPECT_EQ(DayOf(back.patternEnd), expected.back()) << what;
      EXPECT_EQ(back.occurrences, static_cast<LONG>(expected.size())) << what;
      // The store's own count, where the end date says otherwise, rides on the RRULE.
      icalproperty* rrule = NewRuleProperty(series);
      EXPECT_EQ(OwnCountOf(rrule) > 0 ? OwnCountOf(rrule) : back.occurrences, r.occurrences)
          << what;
      icalproperty_free(rrule);
    } else if (!r.noEnd) {
      EXPECT_EQ(back.occurrences, r.occurrences) << what;
      EXPECT_EQ(back.patternEnd, handheld::kNoDate) << what;
    } else {
      EXPECT_TRUE(back.noEnd) << what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, RecurrenceMeaning, ::testing::ValuesIn(kZones));

struct RuleCase {
  const char* rule;
  const char* start;    // DTSTART, local
  const char* refused;  // the reason, or null when the store keeps the rule
  Recurrence kept;      // then what it keeps (type, interval, mask, day, instance, month)
  const char* last = nullptr;  // and the day of its last occurrence (none: no end)
  LONG occurrences = 0;
};

TEST(RecurrenceImport, KeepsWhatTheStoreCanHoldAndNamesWhatItCannot) {
  handheld::testing::Sandbox sandbox;
  setenv("TZ", "Europe/Berlin", 1);
  LocalZone::Current();
  const RuleCase cases[] = {
      // Every weekday, as Thunderbird writes it, is a weekly pattern.
      {"FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", "20240102T090000", nullptr, {olRecursWeekly, 1, 62}},
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,MO;WKST=SU",
       "20240107T090000",
       nullptr,
       {olRecursWeekly, 2, 3}},
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH", "20240102T090000", nullptr, {olRecursWeekly, 2, 20}},
      {"FREQ=MONTHLY;BYMONTHDAY=-1", "20240131", nullptr, {olRecursMonthly, 1, 0, 31}},
      {"FREQ=MONTHLY;BYMONTHDAY=28,29,30;BYSETPOS=-1",
       "20240130",
       nullptr,
       {olRecursMonthly, 1, 0, 30}},
      {"FREQ=MONTHLY;BYDAY=-1FR", "20240126", nullptr, {olRecursMonthNth, 1, 32, 0, 5}},
      {"FREQ=MONTHLY;INTERVAL=3;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=1",
       "20240101",
       nullptr,
       {olRecursMonthNth, 3, 62, 0, 1}},
      {"FREQ=YEARLY", "20240315", nullptr, {olRecursYearly, 1, 0, 15, 0, 3}},
      {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=28,29;BYSETPOS=-1",
       "20240229",
       nullptr,
       {olRecursYearly, 1, 0, 29, 0, 2}},
      {"FREQ=YEARLY;BYMONTH=11;BYDAY=4TH", "20241128", nullptr, {olRecursYearNth, 1, 16, 0, 4, 11}},
      // Every other year is every 24 months.
      {"FREQ=YEARLY;INTERVAL=2;BYMONTH=3;BYMONTHDAY=15",
       "20240315",
       nullptr,
       {olRecursMonthly, 24, 0, 15}},
      {"FREQ=MONTHLY;INTERVAL=12;BYMONTHDAY=31", "20240131", nullptr, {olRecursMonthly, 12, 0, 31}},
      // 00:30 in Berlin is 22:30Z the day before once the clocks have gone forward (on
      // 31 March): an UNTIL of 22:30Z still takes 1 April, one second earlier it does not.
      {"FREQ=DAILY;UNTIL=20240331T223000Z", "20240322T003000", nullptr, {olRecursDaily, 1},
       "2024-04-01", 11},
      {"FREQ=DAILY;UNTIL=20240331T222959Z", "20240322T003000", nullptr, {olRecursDaily, 1},
       "2024-03-31", 10},

      {"FREQ=HOURLY;INTERVAL=4", "20240102T090000", "RRULE FREQ=HOURLY", {}},
      {"FREQ=DAILY;BYHOUR=9,17", "20240102T090000", "RRULE with BYHOUR", {}},
      {"FREQ=MONTHLY;BYDAY=MO,WE", "20240101", "RRULE on weekdays without a position", {}},
      {"FREQ=MONTHLY;BYDAY=1MO,3MO", "20240101", "RRULE on several numbered weekdays", {}},
      {"FREQ=MONTHLY;BYDAY=5FR",
       "20240329",
       "RRULE with a weekday numbered 5th or from the month's end",
       {}},
      // A bare day 31 skips shorter months, which the store does not do.
      {"FREQ=MONTHLY;BYMONTHDAY=31", "20240131", "RRULE on day 31 that skips shorter months", {}},
      {"FREQ=YEARLY", "20240229", "RRULE on day 29 that skips shorter months", {}},
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=SU,MO", "20240107T090000", "RRULE with WKST=MO", {}},
      {"FREQ=WEEKLY;BYDAY=MO,WE", "20240102T090000", "DTSTART that its RRULE does not name", {}},
      {"FREQ=YEARLY;BYWEEKNO=20", "20240513", "RRULE with BYWEEKNO", {}},
  };
  for (const RuleCase& c : cases) {
    icalrecurrencetype rule = icalrecurrencetype_from_string(c.rule);
    icaltimetype start = icaltime_from_string(c.start);
    Recurrence r;
    std::string why;
    const bool kept = RecurrenceFromRule(rule, start, &r, &why);
    if (c.refused != nullptr) {
      EXPECT_FALSE(kept) << c.rule;
      EXPECT_EQ(why, c.refused) << c.rule;
      continue;
    }
    ASSERT_TRUE(kept) << c.rule << ": " << why;
    // Values the case leaves at 0 are not compared.
    const LONG got[] = {r.type,       r.interval, r.dayOfWeekMask,
                        r.dayOfMonth, r.instance, r.monthOfYear};
    const LONG want[] = {c.kept.type,       c.kept.interval, c.kept.dayOfWeekMask,
                         c.kept.dayOfMonth, c.kept.instance, c.kept.monthOfYear};
    for (int i = 0; i < 6; ++i) {
      if (i < 2 || want[i] != 0) {
        EXPECT_EQ(got[i], want[i]) << c.rule << ", value " << i;
      }
    }
    EXPECT_EQ(r.noEnd, c.last == nullptr) << c.rule;
    if (c.last != nullptr) {
      EXPECT_EQ(testing::Iso(DayOf(r.patternEnd)), c.last) << c.rule;
      EXPECT_EQ(r.occurrences, c.occurrences) << c.rule;
    }
  }
}

}  // namespace
}  // namespace interop
