// OLE dates, calendar fields, file times, the local clock and the local heap.
//
// DATE counts days since 30 December 1899 00:00; the fraction is the time of day.
// For negative dates the fraction still counts forward from midnight of the day named
// by the integer part (-1.25 is 29 December 1899 06:00). FILETIME counts 100 ns units
// since 1 January 1601 UTC.
#pragma once

#include "handheld/types.h"

using DATE = double;
using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Rounds the time to the nearest second (24:00:00 rolls into the next day). Fails
// (returns FALSE, leaves *out untouched) for dates outside years 100 to 9999.
INT VariantTimeToSystemTime(DATE value, SYSTEMTIME* out);

// Valid only for years 100-9999, months 1-12, days 1 to the month's length, hours
// 0-23, minutes and seconds 0-59; otherwise returns FALSE and leaves *out untouched.
// Milliseconds and the day of the week are ignored.
INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out);

// UTC to the process's local zone (TZ honoured, with the daylight-saving rule in
// force at that instant).
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// Calendar fields of a file time; fails for times past year 30827.
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out);
void GetLocalTime(SYSTEMTIME* out);

// The local heap: blocks handed across module boundaries (call-log strings).
// Each live block is counted by the census ("local"). LocalFree returns null on
// success, and accepts null.
constexpr UINT LMEM_FIXED = 0;
constexpr UINT LMEM_ZEROINIT = 0x40;
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL block);

namespace handheld {
constexpr DATE kNoDate = 949998.0;  // 1 January 4501 00:00, the store's "no date"
}  // namespace handheld
