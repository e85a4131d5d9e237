#include "handheld/oledate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>

#include "handheld/census.h"
#include "handheld/testing/sandbox.h"

namespace {

SYSTEMTIME Fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  return st;
}

std::string Text(const SYSTEMTIME& st) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d w%d", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
  return text;
}

std::string FromDate(DATE value) {
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(value, &st)) return "refused";
  return Text(st);
}

FILETIME FileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME& time) {
  return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;

TEST(VariantTime, KnownDates) {
  EXPECT_EQ(FromDate(39217.5), "2007-05-15 12:00:00.000 w2");
  EXPECT_EQ(FromDate(2.32875), "1900-01-01 07:53:24.000 w1");
  EXPECT_EQ(FromDate(401768.31869213), "2999-12-31 07:38:55.000 w2");
  EXPECT_EQ(FromDate(0.0), "1899-12-30 00:00:00.000 w6");
  EXPECT_EQ(FromDate(handheld::kNoDate), "4501-01-01 00:00:00.000 w6");
  EXPECT_EQ(FromDate(60.0), "1900-02-28 00:00:00.000 w3");  // no 29 February 1900
  EXPECT_EQ(FromDate(61.0), "1900-03-01 00:00:00.000 w4");
}

TEST(VariantTime, NegativeDatesCountTheTimeForward) {
  EXPECT_EQ(FromDate(-1.25), "1899-12-29 06:00:00.000 w5");
  EXPECT_EQ(FromDate(-1.0), "1899-12-29 00:00:00.000 w5");
  EXPECT_EQ(FromDate(-0.5), "1899-12-30 12:00:00.000 w6");
  EXPECT_EQ(FromDate(-2.75), "1899-12-28 18:00:00.000 w4");
  DATE value = 0;
  SYSTEMTIME st = Fields(1899, 12, 29, 6);
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &value));
  EXPECT_DOUBLE_EQ(value, -1.25);
}

TEST(VariantTime, RoundsToTheNearestSecond) {
  const double second = 1.0 / 86400;
  EXPECT_EQ(FromDate(0.5 + 0.4 * second), "1899-12-30 12:00:00.000 w6");
  EXPECT_EQ(FromDate(0.5 + 0.6 * second), "1899-12-30 12:00:01.000 w6");
  // 23:59:59.6 becomes midnight of the next day.
  EXPECT_EQ(FromDate(39217.0 + 86399.6 * second), "2007-05-16 00:00:00.000 w3");
  EXPECT_EQ(FromDate(-1.0 - 86399.6 * second), "1899-12-30 00:00:00.000 w6");
  EXPECT_EQ(FromDate(2958465.0 + 86399.6 * second), "refused");  // rolls into year 10000
}

TEST(VariantTime, YearsOutsideTheRangeAreRefused) {
  EXPECT_EQ(FromDate(-657434.0), "0100-01-01 00:00:00.000 w5");
  EXPECT_EQ(FromDate(-657434.99), "0100-01-01 23:45:36.000 w5");
  EXPECT_EQ(FromDate(-657435.0), "refused");
  EXPECT_EQ(FromDate(2958465.5), "9999-12-31 12:00:00.000 w5");
  EXPECT_EQ(FromDate(2958466.0), "refused");
  EXPECT_EQ(FromDate(1e300), "refused");
  EXPECT_EQ(FromDate(std::nan("")), "refused");
  SYSTEMTIME untouched = Fields(1234, 5, 6, 7, 8, 9);
  EXPECT_FALSE(VariantTimeToSystemTime(-1e9, &untouched));
  EXPECT_EQ(Text(untouched), Text(Fields(1234, 5, 6, 7, 8, 9)));
}

TEST(VariantTime, InvalidFieldsAreRefusedAndNothingIsFormed) {
  const SYSTEMTIME refused[] = {
      Fields(2007, 2, 30),         Fields(2007, 2, 29),
      Fields(1900, 2, 29),         Fields(2007, 13, 1),
      Fields(2007, 0, 1),          Fields(2007, 4, 31),
      Fields(2007, 5, 0),          Fields(2007, 5, 15, 24),
      Fields(2007, 5, 15, 12, 60), Fields(2007, 5, 15, 12, 0, 60),
      Fields(99, 12, 31),          Fields(10000, 1, 1),
  };
  for (const SYSTEMTIME& st : refused) {
    DATE value = 123.25;
    EXPECT_FALSE(SystemTimeToVariantTime(&st, &value)) << Text(st);
    EXPECT_EQ(value, 123.25) << Text(st);
  }
  DATE value = 0;
  SYSTEMTIME leap = Fields(2000, 2, 29, 23, 59, 59);
  leap.wMilliseconds = 999;  // ignored
  leap.wDayOfWeek = 6;       // ignored
  EXPECT_TRUE(SystemTimeToVariantTime(&leap, &value));
  EXPECT_EQ(FromDate(value), "2000-02-29 23:59:59.000 w2");
  SYSTEMTIME known = Fields(2007, 5, 15, 12);
  EXPECT_TRUE(SystemTimeToVariantTime(&known, &value));
  EXPECT_DOUBLE_EQ(value, 39217.5);
  SYSTEMTIME first = Fields(100, 1, 1);
  SYSTEMTIME last = Fields(9999, 12, 31, 23, 59, 59);
  EXPECT_TRUE(SystemTimeToVariantTime(&first, &value));
  EXPECT_DOUBLE_EQ(value, -657434.0);
  EXPECT_TRUE(SystemTimeToVariantTime(&last, &value));
  EXPECT_EQ(FromDate(value), "9999-12-31 23:59:59.000 w5");
}

TEST(VariantTime, EverySecondRoundTripsAcrossTheRange) {
  std::mt19937 random(20070515);
  std::uniform_int_distribution<int> year(100, 9999), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59);
  for (int i = 0; i < 20000; ++i) {
    SYSTEMTIME in = Fields(year(random), month(random), day(random), hour(random), minute(random),
                           minute(random));
    DATE value;
    if (!SystemTimeToVariantTime(&in, &value)) {
      EXPECT_GT(in.wDay, 28) << Text(in);
      continue;
    }
    SYSTEMTIME out{};
    ASSERT_TRUE(VariantTimeToSystemTime(value, &out)) << Text(in);
    in.wDayOfWeek = out.wDayOfWeek;
    EXPECT_EQ(Text(out), Text(in)) << value;
  }
}

TEST(FileTime, CalendarFields) {
  SYSTEMTIME st{};
  FILETIME start = FileTime(0);
  ASSERT_TRUE(FileTimeToSystemTime(&start, &st));
  EXPECT_EQ(Text(st), "1601-01-01 00:00:00.000 w1");
  FILETIME epoch = FileTime(kUnixEpochTicks + 1234567);
  ASSERT_TRUE(FileTimeToSystemTime(&epoch, &st));
  EXPECT_EQ(Text(st), "1970-01-01 00:00:00.123 w4");
  // 15 May 2007 12:00:00 UTC is 1179230400 seconds after 1970.
  FILETIME may = FileTime(kUnixEpochTicks + 1179230400ull * kTicksPerSecond + 9999999);
  ASSERT_TRUE(FileTimeToSystemTime(&may, &st));
  EXPECT_EQ(Text(st), "2007-05-15 12:00:00.999 w2");
  SYSTEMTIME untouched = Fields(1, 2, 3);
  FILETIME far = FileTime(0x7FFFFFFFFFFFFFFFull);
  EXPECT_FALSE(FileTimeToSystemTime(&far, &untouched));
  FILETIME huge = FileTime(~0ull);
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &untouched));
  EXPECT_EQ(Text(untouched), Text(Fields(1, 2, 3)));
}

// Sets TZ for one test and puts the previous zone back.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~LocalZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(FileTime, LocalTimeFollowsTheZoneAndItsDaylightRule) {
  LocalZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const int64_t hour = 3600 * int64_t{kTicksPerSecond};
  auto shift = [](uint64_t unixSeconds) {
    FILETIME utc = FileTime(kUnixEpochTicks + unixSeconds * kTicksPerSecond);
    FILETIME local{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    return static_cast<int64_t>(Ticks(local) - Ticks(utc));
  };
  EXPECT_EQ(shift(1168862400), 1 * hour);  // 15 January 2007 12:00 UTC: winter
  EXPECT_EQ(shift(1184500800), 2 * hour);  // 15 July 2007 12:00 UTC: summer
  // Summer time starts at 01:00 UTC on 25 March 2007.
  EXPECT_EQ(shift(1174784399), 1 * hour);
  EXPECT_EQ(shift(1174784400), 2 * hour);
  {
    LocalZone utc("UTC0");
    EXPECT_EQ(shift(1184500800), 0);
  }
  LocalZone west("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(shift(1168862400), -5 * hour);
  EXPECT_EQ(shift(1184500800), -4 * hour);
}

TEST(FileTime, LocalClockReadsNow) {
  LocalZone zone("UTC0");
  time_t before = std::time(nullptr);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  time_t after = std::time(nullptr);
  now.wMilliseconds = 0;
  DATE value;
  ASSERT_TRUE(SystemTimeToVariantTime(&now, &value)) << Text(now);
  double seconds = (value - 25569.0) * 86400.0;
  EXPECT_GE(seconds, static_cast<double>(before) - 1);
  EXPECT_LE(seconds, static_cast<double>(after) + 1);
}

TEST(LocalHeap, BlocksAreCountedAndZeroFilled) {
  handheld::Census before = handheld::TakeCensus();
  auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, 64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(handheld::CensusChange(before), "local=2");
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  EXPECT_EQ(handheld::CensusChange(before), "");
}

}  // namespace
