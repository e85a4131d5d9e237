// Proleptic Gregorian dates and days counted from 1 January 1970, through std::chrono's
// calendar (its years run from -32767 to 32767).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace handheld {

struct CivilDate {
  int year;
  unsigned month;  // 1-12
  unsigned day;    // 1-31
};

// The day of a date; a day past the end of its month counts on into the next.
inline int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
  namespace c = std::chrono;
  return c::sys_days{c::year{year} / c::month{month} / c::day{day}}.time_since_epoch().count();
}

// The date of a day; a day beyond the calendar's years gives its first or last day.
inline CivilDate CivilFromDays(int64_t days) {
  namespace c = std::chrono;
  static const int64_t first = DaysFromCivil(-32767, 1, 1);
  static const int64_t last = DaysFromCivil(32767, 12, 31);
  const c::year_month_day date{c::sys_days{c::days{std::clamp(days, first, last)}}};
  return CivilDate{int{date.year()}, unsigned{date.month()}, unsigned{date.day()}};
}

inline unsigned DaysInMonth(int year, unsigned month) {
  namespace c = std::chrono;
  return unsigned{(c::year{year} / c::month{month} / c::last).day()};
}

// 0 Sunday to 6 Saturday.
inline int Weekday(int64_t days) {
  namespace c = std::chrono;
  return static_cast<int>(c::weekday{c::sys_days{c::days{days}}}.c_encoding());
}

}  // namespace handheld
