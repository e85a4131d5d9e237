// Field parsers and date building of the import.
#include "format/parsers.h"

namespace {

// One date part: the parsed value when it fits in 16 bits, else 0. 65535 is also 0,
// and so is anything that is not a number; a value above 65535 is not cut down to its
// low bits (a year "67553" must not become 2017).
uint16_t DatePart(const char16_t* text) {
  const int32_t value = ParseNumber(text);
  if (value < 0 || value >= 0xFFFF) return 0;
  return static_cast<uint16_t>(value);
}

// The date of the parts when day, month and year are all set and the platform accepts
// them. The parts are used up either way, so that the next date of the record starts
// from nothing even if its day column is missing.
std::optional<DATE> CompleteDate(DateParts& parts, uint16_t hour, uint16_t minute) {
  std::optional<DATE> formed;
  if (parts.day != 0 && parts.month != 0 && parts.year != 0) {
    SYSTEMTIME fields = {};
    fields.wYear = parts.year;
    fields.wMonth = parts.month;
    fields.wDay = parts.day;
    fields.wHour = hour;
    fields.wMinute = minute;
    DATE value = 0;
    if (SystemTimeToVariantTime(&fields, &value) != 0) formed = value;
  }
  parts = {};
  return formed;
}

}  // namespace

char16_t* UnescapeText(char16_t* field) {
  for (char16_t* at = field; *at != 0;) {
    if (at[0] == u'\\' && at[1] == u'n') {
      at[0] = u'\r';
      at[1] = u'\n';
      at += 2;
    } else {
      ++at;
    }
  }
  return field;
}

int32_t ParseNumber(const char16_t* text) {
  constexpr int64_t kLargest = 2147483647;
  int64_t value = 0;
  for (const char16_t* at = text; *at != 0; ++at) {
    if (*at < u'0' || *at > u'9') return -1;
    value = value * 10 + (*at - u'0');
    if (value > kLargest) return -1;  // never wraps round to a small number
  }
  return static_cast<int32_t>(value);
}

int32_t ParseBoolToken(const char16_t* text) {
  switch (text[0]) {
    case u'T':
    case u't':
    case u'Y':
    case u'y':
    case u'1':
      return 1;
    case u'F':
    case u'f':
    case u'N':
    case u'n':
    case u'0':
      return 0;
    case u'-':
      return text[1] == u'1' ? 1 : -1;
    default:
      return -1;
  }
}

void DateDay(DateParts& parts, const char16_t* text) {
  parts = {};
  parts.day = DatePart(text);
}

void DateMonth(DateParts& parts, const char16_t* text) {
  parts.month = DatePart(text);
}

std::optional<DATE> DateYear(DateParts& parts, const char16_t* text, bool complete) {
  parts.year = DatePart(text);
  if (!complete) return std::nullopt;
  return CompleteDate(parts, 0, 0);
}

void DateHour(DateParts& parts, const char16_t* text) {
  parts.hour = DatePart(text);
}

std::optional<DATE> DateMinute(DateParts& parts, const char16_t* text) {
  parts.minute = DatePart(text);
  return CompleteDate(parts, parts.hour, parts.minute);
}
