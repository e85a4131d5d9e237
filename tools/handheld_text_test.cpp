// The handheld tool's date and call-time forms. (Its text conversion is libhandheld's,
// tested there.)
#include "tools/handheld_text.h"

#include <gtest/gtest.h>

namespace handheld::tool {
namespace {

TEST(HandheldTextTest, DatesInBothDirections) {
  EXPECT_TRUE(DateToJson(handheld::kNoDate).is_null());
  EXPECT_EQ(DateToJson(39217.5), "2007-05-15T12:00:00");
  EXPECT_EQ(DateToJson(2.32875), "1900-01-01T07:53:24");
  EXPECT_EQ(DateToJson(0.0), "1899-12-30T00:00:00");
  EXPECT_EQ(DateToJson(-1.25), "1899-12-29T06:00:00");

  const std::pair<Json, DATE> good[] = {{"2007-05-15T12:00:00", 39217.5},
                                        {nullptr, handheld::kNoDate},
                                        {401768.25, 401768.25},
                                        {12, 12.0}};
  for (const auto& [given, expected] : good) {
    DATE date = 0;
    std::string why;
    ASSERT_TRUE(DateFromJson(given, &date, &why)) << why;
    EXPECT_EQ(date, expected) << given.dump();
  }
  DATE leap = 0;
  std::string why;
  ASSERT_TRUE(DateFromJson("2000-02-29T23:59:59", &leap, &why)) << why;
  EXPECT_EQ(DateToJson(leap), "2000-02-29T23:59:59");

  for (const Json& bad :
       {Json("2007-02-30T00:00:00"), Json("1900-02-29T00:00:00"), Json("2007-13-01T00:00:00"),
        Json("2007-05-15T24:00:00"), Json("2007-05-15T12:60:00"), Json("2007-05-15 12:00:00"),
        Json("2007-05-15T12:00:00Z"), Json("2007-05-15"), Json("0099-01-01T00:00:00"), Json(true),
        Json::array()}) {
    DATE date = 7;
    why.clear();
    EXPECT_FALSE(DateFromJson(bad, &date, &why)) << bad.dump();
    EXPECT_EQ(date, 7) << "a refused value leaves the target alone";
    EXPECT_NE(why.find("YYYY-MM-DDTHH:MM:SS"), std::string::npos) << why;
  }
}

TEST(HandheldTextTest, CallTimesInBothDirections) {
  const std::pair<uint64_t, std::string> forms[] = {
      {0, "1601-01-01T00:00:00.0000000Z"},
      {128237040000000000ull + 1234567, "2007-05-15T12:00:00.1234567Z"},
      {2650467743999999999ull, "9999-12-31T23:59:59.9999999Z"},
      {133536421230000004ull, "2024-02-29T01:02:03.0000004Z"}};
  for (const auto& [ticks, text] : forms) {
    EXPECT_EQ(FileTimeToJson(ticks), text);
    uint64_t read = 1;
    std::string why;
    ASSERT_TRUE(FileTimeFromJson(text, &read, &why)) << why;
    EXPECT_EQ(read, ticks) << text;
  }
  EXPECT_EQ(FileTimeToJson(2650467744000000000ull), 2650467744000000000ull)
      << "past year 9999 the raw ticks are kept";
  uint64_t ticks = 0;
  std::string why;
  ASSERT_TRUE(FileTimeFromJson(18446744073709551615ull, &ticks, &why));
  EXPECT_EQ(ticks, 18446744073709551615ull);

  for (const Json& bad :
       {Json(-1), Json(1.5), Json("2007-05-15T12:00:00Z"), Json("2007-05-15T12:00:00.123456Z"),
        Json("2007-05-15T12:00:00.1234567"), Json("1600-12-31T23:59:59.9999999Z"),
        Json("2023-02-29T00:00:00.0000000Z"), Json(nullptr)}) {
    ticks = 9;
    EXPECT_FALSE(FileTimeFromJson(bad, &ticks, &why)) << bad.dump();
    EXPECT_EQ(ticks, 9u);
  }
}

}  // namespace
}  // namespace handheld::tool
