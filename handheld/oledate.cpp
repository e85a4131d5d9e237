// OLE dates, calendar fields, file times, the local clock and the local heap.
#include "handheld/oledate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "handheld/census.h"
#include "handheld/civil.h"

namespace {

using handheld::DaysFromCivil;
using handheld::DaysInMonth;

void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  const handheld::CivilDate date = handheld::CivilFromDays(days);
  *year = date.year;
  *month = date.month;
  *day = date.day;
}

constexpr int64_t kOleEpochDays = -25569;        // 30 December 1899, counted from 1970
constexpr int64_t kFileTimeEpochDays = -134774;  // 1 January 1601, counted from 1970
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;

// Fills the calendar fields of day `days` (from 1970) at `seconds` past midnight.
void FillSystemTime(int64_t days, int64_t year, unsigned month, unsigned day, int64_t seconds,
                    WORD milliseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  out->wDayOfWeek = static_cast<WORD>(handheld::Weekday(days));
  out->wHour = static_cast<WORD>(seconds / 3600);
  out->wMinute = static_cast<WORD>(seconds / 60 % 60);
  out->wSecond = static_cast<WORD>(seconds % 60);
  out->wMilliseconds = milliseconds;
}

uint64_t Ticks(const FILETIME* time) {
  return (uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime;
}

void SetTicks(uint64_t ticks, FILETIME* time) {
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

INT VariantTimeToSystemTime(DATE value, SYSTEMTIME* out) {
  if (out == nullptr || !std::isfinite(value)) return FALSE;
  // Years 100 to 9999 lie well inside this; the check keeps the conversions defined.
  if (value < -700000.0 || value > 3000000.0) return FALSE;
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  int64_t dayNumber = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++dayNumber;
  }
  int64_t days = dayNumber + kOleEpochDays;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  if (year < 100 || year > 9999) return FALSE;
  FillSystemTime(days, year, month, day, seconds, 0, out);
  return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out) {
  if (in == nullptr || out == nullptr) return FALSE;
  if (in->wYear < 100 || in->wYear > 9999) return FALSE;
  if (in->wMonth < 1 || in->wMonth > 12) return FALSE;
  if (in->wDay < 1 || in->wDay > DaysInMonth(in->wYear, in->wMonth)) return FALSE;
  if (in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59) return FALSE;
  int64_t dayNumber = DaysFromCivil(in->wYear, in->wMonth, in->wDay) - kOleEpochDays;
  double time = (in->wHour * 3600.0 + in->wMinute * 60.0 + in->wSecond) / 86400.0;
  // Before the epoch the time of day still counts forward from midnight of that day,
  // which moves the value away from zero.
  *out = dayNumber >= 0 ? static_cast<double>(dayNumber) + time
                        : static_cast<double>(dayNumber) - time;
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (utc == nullptr || local == nullptr) return FALSE;
  uint64_t ticks = Ticks(utc);
  if (ticks > static_cast<uint64_t>(INT64_MAX)) return FALSE;
  int64_t unixSeconds = static_cast<int64_t>(ticks / kTicksPerSecond) + kFileTimeEpochDays * 86400;
  time_t instant = static_cast<time_t>(unixSeconds);
  tzset();
  struct tm fields;
  if (localtime_r(&instant, &fields) == nullptr) return FALSE;
  const int64_t offset = int64_t{fields.tm_gmtoff} * 10'000'000;
  if (offset > 0 && static_cast<int64_t>(ticks) > INT64_MAX - offset) return FALSE;
  int64_t shifted = static_cast<int64_t>(ticks) + offset;
  if (shifted < 0) return FALSE;
  SetTicks(static_cast<uint64_t>(shifted), local);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out) {
  if (time == nullptr || out == nullptr) return FALSE;
  uint64_t ticks = Ticks(time);
  if (ticks > static_cast<uint64_t>(INT64_MAX)) return FALSE;
  int64_t days = static_cast<int64_t>(ticks / kTicksPerDay) + kFileTimeEpochDays;
  uint64_t inDay = ticks % kTicksPerDay;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  if (year > 30827) return FALSE;
  FillSystemTime(days, year, month, day, static_cast<int64_t>(inDay / kTicksPerSecond),
                 static_cast<WORD>(inDay % kTicksPerSecond / 10'000), out);
  return TRUE;
}

void GetLocalTime(SYSTEMTIME* out) {
  if (out == nullptr) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tzset();
  struct tm fields;
  localtime_r(&now.tv_sec, &fields);
  int64_t days = DaysFromCivil(fields.tm_year + 1900, static_cast<unsigned>(fields.tm_mon + 1),
                               static_cast<unsigned>(fields.tm_mday));
  int64_t seconds = fields.tm_hour * 3600 + fields.tm_min * 60 + std::min(fields.tm_sec, 59);
  FillSystemTime(days, fields.tm_year + 1900, static_cast<unsigned>(fields.tm_mon + 1),
                 static_cast<unsigned>(fields.tm_mday), seconds,
                 static_cast<WORD>(now.tv_nsec / 1'000'000), out);
}

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  size_t size = bytes == 0 ? 1 : bytes;
  void* block = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
  if (block != nullptr) handheld::CensusAdd("local", 1);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  handheld::CensusAdd("local", -1);
  std::free(block);
  return nullptr;
}
