#include "tools/handheld_text.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <vector>

#include "handheld/civil.h"
#include "handheld/utf16.h"

namespace handheld::tool {
namespace {

bool IsDigits(std::string_view text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

long Number(std::string_view text, size_t from, size_t count) {
  long n = 0;
  for (size_t i = from; i < from + count; ++i) n = n * 10 + (text[i] - '0');
  return n;
}

using handheld::DaysFromCivil;
using handheld::DaysInMonth;

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86'400;
const int64_t kDaysFrom1601To1970 = -DaysFromCivil(1601, 1, 1);

// "YYYY-MM-DDTHH:MM:SS" at the start of text, checked field by field.
bool ParseDateTime(std::string_view text, SYSTEMTIME* out) {
  if (text.size() < 19 || !IsDigits(text, 0, 4) || text[4] != '-' || !IsDigits(text, 5, 2) ||
      text[7] != '-' || !IsDigits(text, 8, 2) || text[10] != 'T' || !IsDigits(text, 11, 2) ||
      text[13] != ':' || !IsDigits(text, 14, 2) || text[16] != ':' || !IsDigits(text, 17, 2)) {
    return false;
  }
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(Number(text, 0, 4));
  st.wMonth = static_cast<WORD>(Number(text, 5, 2));
  st.wDay = static_cast<WORD>(Number(text, 8, 2));
  st.wHour = static_cast<WORD>(Number(text, 11, 2));
  st.wMinute = static_cast<WORD>(Number(text, 14, 2));
  st.wSecond = static_cast<WORD>(Number(text, 17, 2));
  if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59) {
    return false;
  }
  *out = st;
  return true;
}

}  // namespace

std::string Utf8FromUtf16(std::u16string_view text) {
  return handheld::Utf8FromUtf16(text);
}

std::u16string Utf16FromUtf8(std::string_view text) {
  return handheld::Utf16FromUtf8(text);
}

Json DateToJson(DATE value) {
  if (value == handheld::kNoDate) return nullptr;
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(value, &st)) return value;
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond);
  return text;
}

bool DateFromJson(const Json& value, DATE* out, std::string* why) {
  if (value.is_null()) {
    *out = handheld::kNoDate;
    return true;
  }
  if (value.is_number()) {
    *out = value.get<double>();
    return true;
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    SYSTEMTIME st{};
    DATE date = 0;
    if (text.size() == 19 && ParseDateTime(text, &st) && SystemTimeToVariantTime(&st, &date)) {
      *out = date;
      return true;
    }
  }
  *why = "expected a date \"YYYY-MM-DDTHH:MM:SS\" (years 100 to 9999), a number or null, not " +
         Describe(value);
  return false;
}

Json FileTimeToJson(uint64_t ticks) {
  const int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
  const handheld::CivilDate date = handheld::CivilFromDays(days - kDaysFrom1601To1970);
  if (date.year > 9999) return ticks;
  const uint64_t inDay = ticks % kTicksPerDay;
  const uint64_t seconds = inDay / kTicksPerSecond;
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02llu:%02llu:%02llu.%07lluZ",
                static_cast<long long>(date.year), static_cast<long long>(date.month),
                static_cast<long long>(date.day),
                static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60),
                static_cast<unsigned long long>(seconds % 60),
                static_cast<unsigned long long>(inDay % kTicksPerSecond));
  return text;
}

bool FileTimeFromJson(const Json& value, uint64_t* out, std::string* why) {
  if (value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0)) {
    *out = value.get<uint64_t>();
    return true;
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    SYSTEMTIME st{};
    if (text.size() == 28 && ParseDateTime(text, &st) && text[19] == '.' && IsDigits(text, 20, 7) &&
        text[27] == 'Z' && st.wYear >= 1601) {
      const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
      const int64_t seconds = st.wHour * 3600 + st.wMinute * 60 + st.wSecond;
      *out = static_cast<uint64_t>(days * kTicksPerDay + seconds * kTicksPerSecond +
                                   Number(text, 20, 7));
      return true;
    }
  }
  *why =
      "expected a UTC time \"YYYY-MM-DDTHH:MM:SS.fffffffZ\" (years 1601 to 9999) or a "
      "non-negative FILETIME integer, not " +
      Describe(value);
  return false;
}

bool ParseJsonLine(const std::string& line, Json* out, std::string* why) {
  std::vector<std::set<std::string>> open;  // the keys seen in each object being read
  std::string duplicate;
  auto check = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) {
      open.emplace_back();
    } else if (event == Json::parse_event_t::object_end && !open.empty()) {
      open.pop_back();
    } else if (event == Json::parse_event_t::key && !open.empty() &&
               !open.back().insert(parsed.get<std::string>()).second && duplicate.empty()) {
      duplicate = parsed.get<std::string>();
    }
    return true;
  };
  Json object;
  try {
    object = Json::parse(line, check);
  } catch (const Json::parse_error& e) {
    const std::string what = e.what();
    const size_t cut = what.find("] ");
    *why = "not valid JSON: " + (cut == std::string::npos ? what : what.substr(cut + 2));
    return false;
  }
  if (!duplicate.empty()) {
    *why = "key \"" + duplicate + "\" is given twice";
    return false;
  }
  if (!object.is_object()) {
    *why = "expected a JSON object, not " + Describe(object);
    return false;
  }
  *out = std::move(object);
  return true;
}

std::string Describe(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > 60) text = text.substr(0, 57) + "...";
  return text;
}

}  // namespace handheld::tool
