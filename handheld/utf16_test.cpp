#include "handheld/utf16.h"

#include <gtest/gtest.h>

namespace {

using handheld::Utf16FromUtf8;
using handheld::Utf8FromUtf16;

// Valid text round-trips exactly; a lone surrogate prints as a replacement.
TEST(Utf16, ValidTextRoundTripsAndLoneSurrogatesAreReplaced) {
  const std::u16string text(u"a\0\tЯ\r\n€😀", 9);
  const std::string utf8("a\0\t\xD0\xAF\r\n\xE2\x82\xAC\xF0\x9F\x98\x80", 14);
  bool wellFormed = false;
  EXPECT_EQ(Utf8FromUtf16(text, &wellFormed), utf8);
  EXPECT_TRUE(wellFormed);
  EXPECT_EQ(Utf16FromUtf8(utf8, &wellFormed), text);
  EXPECT_TRUE(wellFormed);
  EXPECT_EQ(Utf8FromUtf16(u"x\xD800", &wellFormed), "x\xEF\xBF\xBD");
  EXPECT_FALSE(wellFormed);
  EXPECT_EQ(Utf8FromUtf16(std::u16string{0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf16, EachMalformedByteBecomesOneReplacement) {
  const struct {
    const char* utf8;
    std::u16string expected;
  } cases[] = {
      {"\x80z", u"\uFFFDz"},                              // stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong, three bytes
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2\x82", u"\uFFFD\uFFFD"},                      // cut off at the end
      {"\xE2(", u"\uFFFD("},                              // cut off by an ASCII byte
      {"\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    bool wellFormed = true;
    EXPECT_EQ(Utf16FromUtf8(c.utf8, &wellFormed), c.expected) << c.utf8;
    EXPECT_FALSE(wellFormed) << c.utf8;
  }
}

}  // namespace
