#include "handheld/oledate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "handheld/testing/sandbox.h"

namespace {

SYSTEMTIME Fields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return SYSTEMTIME{WORD(y), WORD(mo), 0, WORD(d), WORD(h), WORD(mi), WORD(s), 0};
}

std::string Text(const SYSTEMTIME& st) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d w%d", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
  return text;
}

std::string FromDate(DATE value) {
  SYSTEMTIME st = Fields(1, 1, 1);
  return VariantTimeToSystemTime(value, &st) ? Text(st) : "refused " + Text(st);
}

TEST(VariantTime, DatesTimesAndLimits) {
  const double second = 1.0 / 86400;
  const std::pair<DATE, const char*> cases[] = {
      {39217.5, "2007-05-15 12:00:00.000 w2"},
      {2.32875, "1900-01-01 07:53:24.000 w1"},
      {401768.31869213, "2999-12-31 07:38:55.000 w2"},
      {0.0, "1899-12-30 00:00:00.000 w6"},
      {60.0, "1900-02-28 00:00:00.000 w3"},  // no 29 February 1900
      {handheld::kNoDate, "4501-01-01 00:00:00.000 w6"},
      // Before the epoch the fraction still counts forward from midnight.
      {-1.25, "1899-12-29 06:00:00.000 w5"},
      {-0.5, "1899-12-30 12:00:00.000 w6"},
      // Rounded to the nearest second; 24:00:00 is midnight of the next day.
      {0.5 + 0.4 * second, "1899-12-30 12:00:00.000 w6"},
      {0.5 + 0.6 * second, "1899-12-30 12:00:01.000 w6"},
      {39217.0 + 86399.6 * second, "2007-05-16 00:00:00.000 w3"},
      {-1.0 - 86399.6 * second, "1899-12-30 00:00:00.000 w6"},
      // Years 100 to 9999 only; *out stays untouched otherwise.
      {-657434.99, "0100-01-01 23:45:36.000 w5"},
      {-657435.0, "refused 0001-01-01 00:00:00.000 w0"},
      {2958465.5, "9999-12-31 12:00:00.000 w5"},
      {2958465.0 + 86399.6 * second, "refused 0001-01-01 00:00:00.000 w0"},
      {1e300, "refused 0001-01-01 00:00:00.000 w0"},
      {std::nan(""), "refused 0001-01-01 00:00:00.000 w0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FromDate(value), text) << value;
}

// Only valid fields form a date (the value stays untouched otherwise), and every valid
// second of years 100 to 9999 comes back as it went in.
TEST(VariantTime, ValidFieldsRoundTripAndOnlyThose) {
  for (const SYSTEMTIME& st :
       {Fields(2007, 2, 29), Fields(1900, 2, 29), Fields(2007, 13, 1), Fields(2007, 0, 1),
        Fields(2007, 4, 31), Fields(2007, 5, 0), Fields(2007, 5, 15, 24),
        Fields(2007, 5, 15, 12, 60), Fields(99, 12, 31), Fields(2007, 5, 15, 0, 0, 60),
        Fields(10000, 1, 1)}) {
    DATE value = 123.25;
    EXPECT_FALSE(SystemTimeToVariantTime(&st, &value)) << Text(st);
    EXPECT_EQ(value, 123.25) << Text(st);
  }
  SYSTEMTIME withMilliseconds = Fields(2007, 5, 15, 12);
  withMilliseconds.wMilliseconds = 999;  // ignored
  DATE value = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&withMilliseconds, &value));
  EXPECT_EQ(value, 39217.5);

  std::mt19937 random(20070515);
  std::uniform_int_distribution<int> year(100, 9999), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59);
  for (int i = 0; i < 20000; ++i) {
    SYSTEMTIME in = Fields(year(random), month(random), day(random), hour(random), minute(random),
                           minute(random));
    SYSTEMTIME out{};
    if (!SystemTimeToVariantTime(&in, &value)) continue;
    ASSERT_TRUE(VariantTimeToSystemTime(value, &out)) << Text(in);
    in.wDayOfWeek = out.wDayOfWeek;
    EXPECT_EQ(Text(out), Text(in)) << value;
  }
}

constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970 in 100 ns units since 1601
constexpr uint64_t kSecond = 10000000ull;

FILETIME FileTime(uint64_t ticks) {
  return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

TEST(FileTime, CalendarFieldsAndLocalZone) {
  auto fields = [](uint64_t ticks) {
    SYSTEMTIME st{};
    FILETIME time = FileTime(ticks);
    return FileTimeToSystemTime(&time, &st) ? Text(st) : "refused";
  };
  EXPECT_EQ(fields(kUnixEpoch + 1179230400ull * kSecond + 9999999), "2007-05-15 12:00:00.999 w2");
  EXPECT_EQ(fields(0), "1601-01-01 00:00:00.000 w1");
  EXPECT_EQ(fields(~0ull), "refused");

  handheld::testing::Sandbox sandbox;  // puts TZ back
  auto offsetHours = [](const char* zone, int64_t unixSeconds) {
    setenv("TZ", zone, 1);
    FILETIME utc = FileTime(kUnixEpoch + unixSeconds * kSecond), local{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    int64_t shifted = int64_t((uint64_t{local.dwHighDateTime} << 32) | local.dwLowDateTime);
    return (shifted - int64_t(kUnixEpoch)) / int64_t(kSecond) / 3600 - unixSeconds / 3600;
  };
  const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
  EXPECT_EQ(offsetHours(cet, 1174784400 - 3600), 1);  // summer time begins at 01:00 UTC
  EXPECT_EQ(offsetHours(cet, 1174784400), 2);
  EXPECT_EQ(offsetHours("EST5EDT,M3.2.0,M11.1.0", 1168862400), -5);
  // Shifts past either end of the tick range fail instead of wrapping.
  FILETIME last = FileTime(INT64_MAX), first = FileTime(0), local{};
  setenv("TZ", "UTC-14", 1);
  EXPECT_FALSE(FileTimeToLocalFileTime(&last, &local));
  setenv("TZ", "UTC+12", 1);
  EXPECT_FALSE(FileTimeToLocalFileTime(&first, &local));
}

}  // namespace
