// Field parsers and date building (import). Each works on one field's zero-terminated
// text; none reports an error: an invalid value gives -1 or no date, and the column
// handler leaves its property unset.
#pragma once

#include <cstdint>
#include <optional>

#include "handheld/oledate.h"

// Decodes the field in place ("\n" becomes CR LF) and returns it.
char16_t* UnescapeText(char16_t* field);
// Unsigned decimal; -1 for anything but the digits 0-9 and for a value above
// 2147483647; 0 for an empty text.
int32_t ParseNumber(const char16_t* text);
// 1 true ("T", "t", "Y", "y", "1", "-1"...), 0 false ("F", "f", "N", "n", "0"...), -1 else.
int32_t ParseBoolToken(const char16_t* text);

// The date being built from the fields of one record; seconds are always 0. A part is
// the field's number when it fits in 16 bits (65535 and anything that is not a number
// give 0).
struct DateParts {
  uint16_t day = 0;
  uint16_t month = 0;
  uint16_t year = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
};
// DateDay starts a date (clears all parts). DateYear with `complete`, and DateMinute,
// give the date when day, month and year are set and the platform accepts the parts;
// either way the parts are used up, so that the next date starts from nothing.
void DateDay(DateParts& parts, const char16_t* text);
void DateMonth(DateParts& parts, const char16_t* text);
std::optional<DATE> DateYear(DateParts& parts, const char16_t* text, bool complete);
void DateHour(DateParts& parts, const char16_t* text);
std::optional<DATE> DateMinute(DateParts& parts, const char16_t* text);
