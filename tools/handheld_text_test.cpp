#include "tools/handheld_text.h"

#include <gtest/gtest.h>

namespace handheld::tool {
namespace {

TEST(HandheldTextTest, ValidTextRoundTripsExactly) {
  const std::u16string texts[] = {
      u"",
      u"plain",
      u"Иван Петров",
      u"emoji 😀 and 𝄞",
      std::u16string(u"a\0b", 3),
      u"tab\there\r\nnext line",
      u"\u00e9\u4e2d\uffff",
  };
  for (const std::u16string& text : texts) {
    EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text);
  }
  EXPECT_EQ(Utf8FromUtf16(u"Я😀"), "\xD0\xAF\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16FromUtf8("\xD0\xAF\xF0\x9F\x98\x80"), u"Я😀");
}

TEST(HandheldTextTest, LoneSurrogatesBecomeReplacementCharacters) {
  const std::u16string lowFirst = {u'a', char16_t{0xDC00}, u'b'};
  const std::u16string highAtEnd = {u'x', char16_t{0xD83D}};
  const std::u16string highThenText = {char16_t{0xD83D}, u'y'};
  EXPECT_EQ(Utf8FromUtf16(lowFirst),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8FromUtf16(highAtEnd), "x\xEF\xBF\xBD");
  EXPECT_EQ(Utf8FromUtf16(highThenText), "\xEF\xBF\xBDy");
  // The result is valid UTF-8 for the JSON writer.
  EXPECT_NO_THROW(Json(Utf8FromUtf16(highAtEnd)).dump());
}

TEST(HandheldTextTest, DatesInBothDirections) {
  EXPECT_TRUE(DateToJson(handheld::kNoDate).is_null());
  EXPECT_EQ(DateToJson(39217.5), "2007-05-15T12:00:00");
  EXPECT_EQ(DateToJson(2.32875), "1900-01-01T07:53:24");
  EXPECT_EQ(DateToJson(0.0), "1899-12-30T00:00:00");
  EXPECT_EQ(DateToJson(-1.25), "1899-12-29T06:00:00");

  DATE date = 0;
  std::string why;
  ASSERT_TRUE(DateFromJson("2007-05-15T12:00:00", &date, &why)) << why;
  EXPECT_EQ(date, 39217.5);
  ASSERT_TRUE(DateFromJson(nullptr, &date, &why));
  EXPECT_EQ(date, handheld::kNoDate);
  ASSERT_TRUE(DateFromJson(401768.25, &date, &why));
  EXPECT_EQ(date, 401768.25);
  ASSERT_TRUE(DateFromJson(12, &date, &why));
  EXPECT_EQ(date, 12.0);
  ASSERT_TRUE(DateFromJson("2000-02-29T23:59:59", &date, &why)) << why;
  EXPECT_EQ(DateToJson(date), "2000-02-29T23:59:59");

  for (const Json& bad :
       {Json("2007-02-30T00:00:00"), Json("1900-02-29T00:00:00"), Json("2007-13-01T00:00:00"),
        Json("2007-05-15T24:00:00"), Json("2007-05-15T12:60:00"), Json("2007-05-15 12:00:00"),
        Json("2007-05-15T12:00:00Z"), Json("2007-05-15"), Json("0099-01-01T00:00:00"), Json(true),
        Json::array()}) {
    date = 7;
    why.clear();
    EXPECT_FALSE(DateFromJson(bad, &date, &why)) << bad.dump();
    EXPECT_EQ(date, 7) << "a refused value leaves the target alone";
    EXPECT_NE(why.find("YYYY-MM-DDTHH:MM:SS"), std::string::npos) << why;
  }
}

TEST(HandheldTextTest, CallTimesInBothDirections) {
  EXPECT_EQ(FileTimeToJson(0), "1601-01-01T00:00:00.0000000Z");
  EXPECT_EQ(FileTimeToJson(128237040000000000ull + 1234567), "2007-05-15T12:00:00.1234567Z");
  EXPECT_EQ(FileTimeToJson(2650467743999999999ull), "9999-12-31T23:59:59.9999999Z");
  EXPECT_EQ(FileTimeToJson(2650467744000000000ull), 2650467744000000000ull)
      << "past year 9999 the raw ticks are kept";

  uint64_t ticks = 0;
  std::string why;
  ASSERT_TRUE(FileTimeFromJson("2007-05-15T12:00:00.1234567Z", &ticks, &why)) << why;
  EXPECT_EQ(ticks, 128237040000000000ull + 1234567);
  ASSERT_TRUE(FileTimeFromJson("1601-01-01T00:00:00.0000000Z", &ticks, &why)) << why;
  EXPECT_EQ(ticks, 0u);
  ASSERT_TRUE(FileTimeFromJson(18446744073709551615ull, &ticks, &why));
  EXPECT_EQ(ticks, 18446744073709551615ull);
  ASSERT_TRUE(FileTimeFromJson("2024-02-29T01:02:03.0000004Z", &ticks, &why)) << why;
  EXPECT_EQ(FileTimeToJson(ticks), "2024-02-29T01:02:03.0000004Z");

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
