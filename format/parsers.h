// Field parsers and date building (import). Each works on one field's zero-terminated
// text, as the reader leaves it in LineBuffer.
#pragma once

#include <cstdint>

// Decodes LineBuffer in place ("\n" becomes CR LF) and returns it.
char16_t* UnescapeText();
// Unsigned decimal; -1 for anything but the digits 0-9 and for a value above
// 2147483647; 0 for an empty text.
int32_t ParseNumber(const char16_t* text);
// 1 true ("T", "t", "Y", "y", "1", "-1"...), 0 false ("F", "f", "N", "n", "0"...), -1 else.
int32_t ParseBoolToken(const char16_t* text);

// Date building into DateParts / BuiltDate. DateDay starts a date (clears all parts).
void DateDay(const char16_t* text);
void DateMonth(const char16_t* text);
// With complete, tries to form BuiltDate from day, month, year; returns whether it did.
bool DateYear(const char16_t* text, bool complete);
void DateHour(const char16_t* text);
// Tries to form BuiltDate from all five parts; returns whether it did.
bool DateMinute(const char16_t* text);
