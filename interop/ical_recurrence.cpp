// A store recurrence pattern and the iCalendar RRULE that names the same days.
#include "interop/ical_recurrence.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "handheld/civil.h"
#include "handheld/pimstore.h"
#include "interop/ical_time.h"

namespace interop {
namespace {

constexpr short kEnd = ICAL_RECURRENCE_ARRAY_MAX;

// ---- Civil dates ----------------------------------------------------------------------

struct Civil {
  int year;
  int month;  // 1-12
  int day;
};

long DaysFromCivil(Civil date) {
  return handheld::DaysFromCivil(date.year, static_cast<unsigned>(date.month),
                                 static_cast<unsigned>(date.day));
}

Civil CivilFromDays(long days) {
  const handheld::CivilDate date = handheld::CivilFromDays(days);
  return Civil{date.year, static_cast<int>(date.month), static_cast<int>(date.day)};
}

int DaysInMonth(int year, int month) {
  return static_cast<int>(handheld::DaysInMonth(year, static_cast<unsigned>(month)));
}

// The fewest days month `month` has in any year.
int ShortestMonth(int month) {
  return month == 2 ? 28 : DaysInMonth(2001, month);
}

int Weekday(long days) {  // 0 Sunday
  return handheld::Weekday(days);
}

Civil CivilOf(const icaltimetype& time) {
  return Civil{time.year, time.month, time.day};
}

// A month counted from year 0 (month index = year * 12 + month - 1), and back.
long MonthIndex(Civil date) {
  return long{date.year} * 12 + date.month - 1;
}

// ---- What a store pattern means -------------------------------------------------------

// A pattern with its defaults filled in from the series' start.
struct Shape {
  LONG type;
  long interval;
  int mask;      // bit 0 Sunday
  int day;       // 1-31
  int instance;  // 1-4, 5 the last
  int month;     // 1-12
};

Shape ShapeOf(const Recurrence& recurrence, Civil start) {
  Shape shape;
  shape.type = recurrence.type;
  shape.interval = recurrence.interval >= 1 ? recurrence.interval : 1;
  if (shape.type == olRecursYearly || shape.type == olRecursYearNth) shape.interval = 1;
  shape.mask = recurrence.dayOfWeekMask & 127;
  if (shape.mask == 0) shape.mask = 1 << Weekday(DaysFromCivil(start));
  shape.day =
      recurrence.dayOfMonth >= 1 && recurrence.dayOfMonth <= 31 ? recurrence.dayOfMonth : start.day;
  shape.instance = recurrence.instance >= 1 && recurrence.instance <= 5 ? recurrence.instance : 1;
  shape.month = recurrence.monthOfYear >= 1 && recurrence.monthOfYear <= 12 ? recurrence.monthOfYear
                                                                            : start.month;
  return shape;
}

bool MonthBased(LONG type) {
  return type == olRecursMonthly || type == olRecursMonthNth;
}

// The pattern's day in the month of `index` (month-based and yearly types).
Civil DayInMonth(const Shape& shape, long index) {
  // A month past the calendar's last year stands for that year's December: any such day
  // lies beyond every date the store can hold.
  index = std::min(index, 32767L * 12 + 11);
  const int year = static_cast<int>(index / 12);
  const int month = static_cast<int>(index % 12) + 1;
  const int length = DaysInMonth(year, month);
  if (shape.type == olRecursMonthly || shape.type == olRecursYearly) {
    return Civil{year, month, std::min(shape.day, length)};
  }
  // The Instance-th (or last) of the days in the mask.
  const long first = DaysFromCivil(Civil{year, month, 1});
  int found = 0;
  int last = 1;
  for (int day = 1; day <= length; ++day) {
    if ((shape.mask >> Weekday(first + day - 1) & 1) == 0) continue;
    last = day;
    if (++found == shape.instance && shape.instance != 5) return Civil{year, month, day};
  }
  return Civil{year, month, last};
}

// The first occurrence on or after `from`; `from` is the series' start.
long FirstOccurrence(const Shape& shape, Civil from) {
  const long start = DaysFromCivil(from);
  switch (shape.type) {
    case olRecursDaily:
      return start;
    case olRecursWeekly: {
      const long week = start - Weekday(start);
      for (long offset = 0;; offset += 7 * shape.interval) {
        for (int day = 0; day < 7; ++day) {
          if ((shape.mask >> day & 1) != 0 && week + offset + day >= start) {
            return week + offset + day;
          }
        }
      }
    }
    case olRecursYearly:
    case olRecursYearNth: {
      long index = long{from.year} * 12 + shape.month - 1;
      long date = DaysFromCivil(DayInMonth(shape, index));
      return date >= start ? date : DaysFromCivil(DayInMonth(shape, index + 12));
    }
    default: {
      long index = MonthIndex(from);
      long date = DaysFromCivil(DayInMonth(shape, index));
      return date >= start ? date : DaysFromCivil(DayInMonth(shape, index + shape.interval));
    }
  }
}

// How many occurrences fall from `first` (itself one) to `last`, both included.
long CountThrough(const Shape& shape, long first, long last) {
  if (last < first) return 0;
  switch (shape.type) {
    case olRecursDaily:
      return (last - first) / shape.interval + 1;
    case olRecursWeekly: {
      const long week = first - Weekday(first);
      const long period = 7 * shape.interval;
      long count = 0;
      for (int day = 0; day < 7; ++day) {
        if ((shape.mask >> day & 1) == 0) continue;
        const long from = week + day < first ? 1 : 0;
        if (last - week - day < 0) continue;
        const long to = (last - week - day) / period;
        if (to >= from) count += to - from + 1;
      }
      return count;
    }
    default: {
      const long step = MonthBased(shape.type) ? shape.interval : 12;
      const long firstMonth = MonthIndex(CivilFromDays(first));
      const long periods = (MonthIndex(CivilFromDays(last)) - firstMonth) / step;
      const long lastDate = DaysFromCivil(DayInMonth(shape, firstMonth + periods * step));
      return periods + 1 - (lastDate > last ? 1 : 0);
    }
  }
}

// The last occurrence from `first` to `last` (`first` itself when no other).
long LastThrough(const Shape& shape, long first, long last) {
  switch (shape.type) {
    case olRecursDaily:
      return first + (last - first) / shape.interval * shape.interval;
    case olRecursWeekly: {
      const long week = first - Weekday(first);
      const long period = 7 * shape.interval;
      long latest = first;
      for (int day = 0; day < 7; ++day) {
        if ((shape.mask >> day & 1) == 0 || last - week - day < 0) continue;
        latest = std::max(latest, week + day + (last - week - day) / period * period);
      }
      return latest;
    }
    default: {
      const long step = MonthBased(shape.type) ? shape.interval : 12;
      const long firstMonth = MonthIndex(CivilFromDays(first));
      long month = firstMonth + (MonthIndex(CivilFromDays(last)) - firstMonth) / step * step;
      long date = DaysFromCivil(DayInMonth(shape, month));
      return date <= last || month == firstMonth ? date
                                                 : DaysFromCivil(DayInMonth(shape, month - step));
    }
  }
}

// ---- Writing a rule -------------------------------------------------------------------

short EncodeDay(int weekday, int position) {  // weekday 0 Sunday
  const int value = weekday + 1 + 8 * std::abs(position);
  return static_cast<short>(position < 0 ? -value : value);
}

void SetMonthDay(icalrecurrencetype* rule, int day, int shortest) {
  if (day <= shortest) {
    rule->by_month_day[0] = static_cast<short>(day);
    rule->by_month_day[1] = kEnd;
    return;
  }
  // Days 28 up to `day`, the last that the month has: shorter months are not skipped.
  int count = 0;
  for (int value = 28; value <= day; ++value)
    rule->by_month_day[count++] = static_cast<short>(value);
  rule->by_month_day[count] = kEnd;
  rule->by_set_pos[0] = -1;
  rule->by_set_pos[1] = kEnd;
}

void SetNthDays(icalrecurrencetype* rule, int mask, int instance) {
  const int position = instance == 5 ? -1 : instance;
  int count = 0;
  for (int day = 0; day < 7; ++day) {
    if ((mask >> day & 1) != 0) rule->by_day[count++] = EncodeDay(day, 0);
  }
  rule->by_day[count] = kEnd;
  if (count == 1) {
    rule->by_day[0] = EncodeDay(__builtin_ctz(static_cast<unsigned>(mask)), position);
  } else {
    rule->by_set_pos[0] = static_cast<short>(position);
    rule->by_set_pos[1] = kEnd;
  }
}

// ---- Reading a rule -------------------------------------------------------------------

std::vector<short> Values(const short* array, int size) {
  std::vector<short> values;
  for (int i = 0; i < size && array[i] != kEnd; ++i) values.push_back(array[i]);
  return values;
}

struct Day {
  int weekday;  // 0 Sunday
  int position;
};

const char* kFrequencyNames[] = {"SECONDLY", "MINUTELY", "HOURLY", "DAILY",
                                 "WEEKLY",   "MONTHLY",  "YEARLY"};
const char* kWeekdayNames[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// The mask and instance of a BYDAY (and BYSETPOS) that picks one day a month.
bool NthFromDays(const std::vector<Day>& days, const std::vector<short>& positions, int* mask,
                 int* instance, std::string* why) {
  auto instanceOf = [](int position) { return position == -1 ? 5 : position; };
  auto fits = [](int position) { return position == -1 || (position >= 1 && position <= 4); };
  bool positioned = std::any_of(days.begin(), days.end(), [](Day d) { return d.position != 0; });
  *mask = 0;
  for (Day day : days) *mask |= 1 << day.weekday;
  if (positioned) {
    if (days.size() != 1 || !positions.empty()) {
      *why = "RRULE on several numbered weekdays";
      return false;
    }
    if (!fits(days[0].position)) {
      *why = "RRULE with a weekday numbered 5th or from the month's end";
      return false;
    }
    *instance = instanceOf(days[0].position);
    return true;
  }
  if (positions.size() != 1) {
    *why = positions.empty() ? "RRULE on weekdays without a position"
                             : "RRULE with several BYSETPOS values";
    return false;
  }
  if (!fits(positions[0])) {
    *why = "RRULE with BYSETPOS beyond the 4th or from the month's end";
    return false;
  }
  *instance = instanceOf(positions[0]);
  return true;
}

// The day of month of BYMONTHDAY (and BYSETPOS) when it names the store's "day d, or the
// last day of a shorter month"; 0 with the reason when it does not. *bare tells that it
// is a bare day, which months shorter than it skip.
int ClampedDay(const std::vector<short>& days, const std::vector<short>& positions, bool* bare,
               std::string* why) {
  *bare = false;
  if (positions.empty()) {
    if (days.size() != 1) {
      *why = "RRULE with several BYMONTHDAY values";
      return 0;
    }
    if (days[0] == -1) return 31;
    if (days[0] < 1) {
      *why = "RRULE with BYMONTHDAY counted from the month's end";
      return 0;
    }
    *bare = true;
    return days[0];
  }
  // BYMONTHDAY=28,29,30;BYSETPOS=-1: the last of the listed days that the month has.
  *why = "RRULE with BYSETPOS";
  if (positions.size() != 1 || positions[0] != -1 || days.empty()) return 0;
  if (!std::all_of(days.begin(), days.end(), [](short d) { return d >= 1; })) return 0;
  const int largest = *std::max_element(days.begin(), days.end());
  for (int day = std::min(28, largest); day <= largest; ++day) {
    if (std::find(days.begin(), days.end(), day) == days.end()) return 0;
  }
  return largest;
}

// Whether every Interval-th month from `startMonth` has at least `day` days.
bool MonthsHaveDay(int day, long startMonth, long interval) {
  for (long k = 0; k < 12 * 400; k += interval) {  // every month kind, leap years included
    const long index = startMonth + k;
    if (DaysInMonth(static_cast<int>(index / 12), static_cast<int>(index % 12) + 1) < day) {
      return false;
    }
  }
  return true;
}

// Whether weeks from `weekStart` group the mask's days as weeks from Sunday do.
bool SameWeeks(int mask, int weekStart) {
  const int before = mask & ((1 << weekStart) - 1);
  return before == 0 || before == mask;
}

}  // namespace

bool RuleFromRecurrence(const Recurrence& recurrence, const icaltimetype& itemStart, bool utcUntil,
                        SeriesRule* out, std::string* why) {
  icaltimetype start = itemStart;
  icaltimetype patternStart;
  if (IcalFromStoreDate(recurrence.patternStart, true, &patternStart)) {
    start.year = patternStart.year;
    start.month = patternStart.month;
    start.day = patternStart.day;
  }
  const Shape shape = ShapeOf(recurrence, CivilOf(start));
  icalrecurrencetype rule;
  icalrecurrencetype_clear(&rule);
  rule.interval = static_cast<short>(shape.interval);
  switch (shape.type) {
    case olRecursDaily:
      rule.freq = ICAL_DAILY_RECURRENCE;
      break;
    case olRecursWeekly: {
      rule.freq = ICAL_WEEKLY_RECURRENCE;
      int count = 0;
      for (int day = 0; day < 7; ++day) {
        if ((shape.mask >> day & 1) != 0) rule.by_day[count++] = EncodeDay(day, 0);
      }
      rule.by_day[count] = kEnd;
      // Weeks begin on Sunday; this also keeps libical's days of a week in order.
      rule.week_start = ICAL_SUNDAY_WEEKDAY;
      break;
    }
    case olRecursMonthly:
      rule.freq = ICAL_MONTHLY_RECURRENCE;
      SetMonthDay(&rule, shape.day, 28);
      break;
    case olRecursMonthNth:
      rule.freq = ICAL_MONTHLY_RECURRENCE;
      SetNthDays(&rule, shape.mask, shape.instance);
      break;
    case olRecursYearly:
    case olRecursYearNth:
      rule.freq = ICAL_YEARLY_RECURRENCE;
      rule.by_month[0] = static_cast<short>(shape.month);
      rule.by_month[1] = kEnd;
      if (shape.type == olRecursYearly) {
        SetMonthDay(&rule, shape.day, ShortestMonth(shape.month));
      } else {
        SetNthDays(&rule, shape.mask, shape.instance);
      }
      break;
    default:
      *why = "a recurrence type the store does not define";
      return false;
  }
  const long first = FirstOccurrence(shape, CivilOf(start));
  const Civil firstDay = CivilFromDays(first);
  icaltimetype firstTime = start;
  firstTime.year = firstDay.year;
  firstTime.month = firstDay.month;
  firstTime.day = firstDay.day;
  if (firstTime.year > 9999) {
    *why = "a recurrence pattern without occurrences";
    return false;
  }
  if (!recurrence.noEnd) {
    icaltimetype end;
    if (IcalFromStoreDate(recurrence.patternEnd, true, &end)) {
      if (DaysFromCivil(CivilOf(end)) < first) {
        *why = "a recurrence pattern without occurrences";
        return false;
      }
      if (!start.is_date) {
        end.is_date = 0;
        end.hour = 23;
        end.minute = 59;
        end.second = 59;
        if (utcUntil) end = UtcFromLocal(end);
      }
      rule.until = end;
      const long through = CountThrough(shape, first, DaysFromCivil(CivilOf(end)));
      if (recurrence.occurrences >= 1 && through != recurrence.occurrences) {
        out->ownCount = recurrence.occurrences;
      }
    } else {
      rule.count = recurrence.occurrences >= 1 ? recurrence.occurrences : 1;
    }
  }
  out->rule = rule;
  out->first = firstTime;
  return true;
}

namespace {
constexpr const char* kOwnCount = "X-QUILLMOTE-OCCURRENCES";
}  // namespace

icalproperty* NewRuleProperty(const SeriesRule& series) {
  icalproperty* property = icalproperty_new_rrule(series.rule);
  if (series.ownCount > 0) {
    icalparameter* own = icalparameter_new_x(std::to_string(series.ownCount).c_str());
    icalparameter_set_xname(own, kOwnCount);
    icalproperty_add_parameter(property, own);
  }
  return property;
}

LONG OwnCountOf(icalproperty* rrule) {
  if (rrule == nullptr) return 0;
  for (icalparameter* p = icalproperty_get_first_parameter(rrule, ICAL_X_PARAMETER); p != nullptr;
       p = icalproperty_get_next_parameter(rrule, ICAL_X_PARAMETER)) {
    const char* name = icalparameter_get_xname(p);
    const char* value = icalparameter_get_xvalue(p);
    if (name == nullptr || value == nullptr || strcasecmp(name, kOwnCount) != 0) continue;
    char* end = nullptr;
    const long count = std::strtol(value, &end, 10);
    return end != value && *end == '\0' && count >= 1 && count <= 0x7fffffff
               ? static_cast<LONG>(count)
               : 0;
  }
  return 0;
}

bool RecurrenceFromRule(const icalrecurrencetype& rule, const icaltimetype& start, Recurrence* out,
                        std::string* why) {
  auto refuse = [why](std::string reason) {
    *why = std::move(reason);
    return false;
  };
  if (rule.freq == ICAL_NO_RECURRENCE) return refuse("RRULE that could not be read");
  if (rule.freq < ICAL_DAILY_RECURRENCE) {
    return refuse(std::string("RRULE FREQ=") + kFrequencyNames[rule.freq]);
  }
  if (rule.rscale != nullptr) return refuse("RRULE with RSCALE");
  struct Part {
    const short* values;
    const char* name;
  };
  for (Part part : {Part{rule.by_second, "BYSECOND"}, Part{rule.by_minute, "BYMINUTE"},
                    Part{rule.by_hour, "BYHOUR"}, Part{rule.by_year_day, "BYYEARDAY"},
                    Part{rule.by_week_no, "BYWEEKNO"}}) {
    if (part.values[0] != kEnd) return refuse(std::string("RRULE with ") + part.name);
  }
  if (rule.interval > 999) return refuse("RRULE with INTERVAL above 999");
  std::vector<Day> days;
  for (short value : Values(rule.by_day, ICAL_BY_DAY_SIZE)) {
    days.push_back(
        Day{icalrecurrencetype_day_day_of_week(value) - 1, icalrecurrencetype_day_position(value)});
  }
  const std::vector<short> monthDays = Values(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
  const std::vector<short> months = Values(rule.by_month, ICAL_BY_MONTH_SIZE);
  const std::vector<short> positions = Values(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
  const Civil from = CivilOf(start);
  const long interval = rule.interval >= 1 ? rule.interval : 1;
  const std::string frequency = kFrequencyNames[rule.freq];

  Recurrence r;
  r.interval = static_cast<LONG>(interval);
  bool positioned = std::any_of(days.begin(), days.end(), [](Day d) { return d.position != 0; });
  switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
    case ICAL_WEEKLY_RECURRENCE: {
      if (!months.empty()) return refuse("RRULE FREQ=" + frequency + " with BYMONTH");
      if (!monthDays.empty()) return refuse("RRULE FREQ=" + frequency + " with BYMONTHDAY");
      if (!positions.empty()) return refuse("RRULE FREQ=" + frequency + " with BYSETPOS");
      if (positioned) return refuse("RRULE FREQ=" + frequency + " with numbered weekdays");
      if (rule.freq == ICAL_DAILY_RECURRENCE && days.empty()) {
        r.type = olRecursDaily;
        break;
      }
      // Every weekday is a weekly pattern, as calendars keep it.
      if (rule.freq == ICAL_DAILY_RECURRENCE && interval != 1) {
        return refuse("RRULE FREQ=DAILY with BYDAY and INTERVAL");
      }
      r.type = olRecursWeekly;
      for (Day day : days) r.dayOfWeekMask |= 1 << day.weekday;
      if (days.empty()) r.dayOfWeekMask = 1 << Weekday(DaysFromCivil(from));
      if (interval > 1 && rule.week_start != ICAL_NO_WEEKDAY &&
          !SameWeeks(r.dayOfWeekMask, rule.week_start - 1)) {
        return refuse(std::string("RRULE with WKST=") + kWeekdayNames[rule.week_start - 1]);
      }
      break;
    }
    case ICAL_MONTHLY_RECURRENCE:
    case ICAL_YEARLY_RECURRENCE: {
      const bool yearly = rule.freq == ICAL_YEARLY_RECURRENCE;
      if (!yearly && !months.empty()) return refuse("RRULE FREQ=MONTHLY with BYMONTH");
      if (months.size() > 1) return refuse("RRULE with several BYMONTH values");
      const int month = months.empty() ? from.month : months[0];
      if (month < 1 || month > 12) return refuse("RRULE with a leap month");
      if (!days.empty() && !monthDays.empty()) return refuse("RRULE with BYDAY and BYMONTHDAY");
      if (days.empty()) {
        std::vector<short> listed = monthDays;
        if (listed.empty()) listed.push_back(static_cast<short>(from.day));
        bool bare = false;
        const int day = ClampedDay(listed, positions, &bare, why);
        if (day == 0) return false;
        if (bare && day > (yearly ? ShortestMonth(month) : 28)) {
          const long step = yearly ? 12 * interval : interval;
          const long firstMonth = long{from.year} * 12 + month - 1;
          if (!MonthsHaveDay(day, firstMonth, step)) {
            return refuse("RRULE on day " + std::to_string(day) + " that skips shorter months");
          }
        }
        r.type = yearly ? olRecursYearly : olRecursMonthly;
        r.dayOfMonth = day;
      } else {
        int mask = 0;
        int instance = 0;
        if (!NthFromDays(days, positions, &mask, &instance, why)) return false;
        r.type = yearly ? olRecursYearNth : olRecursMonthNth;
        r.dayOfWeekMask = mask;
        r.instance = instance;
      }
      if (yearly) {
        r.monthOfYear = month;
        if (interval > 1) {
          // Every n years is every 12n months, from the series' start in that month.
          if (interval * 12 > 999 || month != from.month) {
            return refuse("RRULE FREQ=YEARLY with INTERVAL");
          }
          r.type = r.type == olRecursYearly ? olRecursMonthly : olRecursMonthNth;
          r.interval = static_cast<LONG>(interval * 12);
          r.monthOfYear = 0;
        } else {
          r.interval = 1;
        }
      }
      break;
    }
    default:
      return refuse("RRULE FREQ=" + frequency);
  }

  icaltimetype startDay = start;
  startDay.is_date = 1;
  if (!StoreDateFromIcal(startDay, &r.patternStart)) return refuse("DTSTART out of range");
  const Shape shape = ShapeOf(r, from);
  const long first = DaysFromCivil(from);
  if (FirstOccurrence(shape, from) != first) return refuse("DTSTART that its RRULE does not name");

  if (rule.count > 0) {
    r.noEnd = false;
    r.occurrences = rule.count;
  } else if (!icaltime_is_null_time(rule.until)) {
    icaltimetype until = rule.until;
    if (!until.is_date && icaltime_is_utc(until)) until = LocalFromUtc(until);
    long last = DaysFromCivil(CivilOf(until));
    if (!until.is_date && !start.is_date &&
        until.hour * 3600 + until.minute * 60 + until.second <
            start.hour * 3600 + start.minute * 60 + start.second) {
      --last;  // the last day's occurrence would come after UNTIL
    }
    const long count = CountThrough(shape, first, last);
    if (count < 1) return refuse("RRULE whose UNTIL comes before DTSTART");
    // The end date is that of the last occurrence, as the store keeps it.
    icaltimetype end = icaltime_null_date();
    const Civil endDay = CivilFromDays(LastThrough(shape, first, last));
    end.year = endDay.year;
    end.month = endDay.month;
    end.day = endDay.day;
    if (!StoreDateFromIcal(end, &r.patternEnd)) return refuse("RRULE with an UNTIL out of range");
    r.noEnd = false;
    r.occurrences = count > 0x7fffffff ? 0x7fffffff : static_cast<LONG>(count);
  }
  *out = r;
  return true;
}

}  // namespace interop
