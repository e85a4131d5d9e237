#include "format/parsers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

struct Case {
  const char16_t* text;
  int32_t value;
};

TEST(ParsersTest, NumbersAndBooleanTokens) {
  const Case numbers[] = {{u"", 0},
                          {u"007", 7},
                          {u"12a", -1},
                          {u"+1", -1},
                          {u"-5", -1},
                          {u" 5", -1},
                          {u"5 ", -1},
                          {u"2147483647", 2147483647},
                          {u"2147483648", -1},
                          {u"4294967297", -1},
                          {u"99999999999999999999", -1}};
  for (Case c : numbers) EXPECT_EQ(ParseNumber(c.text), c.value) << std::u16string(c.text).size();
  const Case tokens[] = {{u"True", 1},     {u"yes", 1}, {u"1", 1},     {u"-1", 1}, {u"10", 1},
                         {u"Y", 1},        {u"No", 0},  {u"false", 0}, {u"0", 0},  {u"n", 0},
                         {u"Nonsense", 0}, {u"-0", -1}, {u"-", -1},    {u"", -1},  {u"2", -1}};
  for (Case c : tokens) EXPECT_EQ(ParseBoolToken(c.text), c.value) << std::u16string(c.text).size();
}

TEST(ParsersTest, UnescapeTurnsBackslashNIntoLineBreaks) {
  const char16_t* cases[][2] = {
      {u"C:\\new", u"C:\r\new"}, {u"\\\\n", u"\\\r\n"}, {u"a,b\\", u"a,b\\"}, {u"\\t", u"\\t"}};
  for (auto& c : cases) {
    std::u16string field(c[0]);
    EXPECT_EQ(std::u16string(UnescapeText(field.data())), std::u16string(c[1]));
  }
}

std::optional<DATE> BuildDate(DateParts& parts, const char16_t* day, const char16_t* month,
                              const char16_t* year) {
  DateDay(parts, day);
  DateMonth(parts, month);
  return DateYear(parts, year, true);
}

TEST(ParsersTest, DateBuilding) {
  DateParts parts;
  EXPECT_EQ(BuildDate(parts, u"5", u"5", u"2007"), 39207.0);
  DateDay(parts, u"15");
  DateMonth(parts, u"5");
  EXPECT_FALSE(DateYear(parts, u"2007", false));
  DateHour(parts, u"12");
  EXPECT_EQ(DateMinute(parts, u"0"), 39217.5);

  // Refused, missing or oversized parts form no date.
  const char16_t* refused[][3] = {{u"31", u"2", u"2007"},     {u"15", u"0", u"1980"},
                                  {u"x", u"5", u"2007"},      {u"5", u"5", u"65535"},
                                  {u"5", u"5", u"67553"},     {u"65541", u"5", u"2007"},
                                  {u"5", u"5", u"4294969303"}};
  for (auto& refusal : refused) {
    EXPECT_FALSE(BuildDate(parts, refusal[0], refusal[1], refusal[2]))
        << std::u16string(refusal[2]).size();
  }
  DateDay(parts, u"5");
  DateMonth(parts, u"5");
  DateYear(parts, u"2007", false);
  DateHour(parts, u"24");
  EXPECT_FALSE(DateMinute(parts, u"0"));

  // A date without its day never borrows the day of the date before it.
  ASSERT_TRUE(BuildDate(parts, u"15", u"5", u"1980"));
  DateMonth(parts, u"6");
  EXPECT_FALSE(DateYear(parts, u"1990", true));
}

}  // namespace
