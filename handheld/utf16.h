// Text conversions between UTF-16 (the handheld's strings) and UTF-8 (files, paths,
// terminals).
//
// Contract:
// - Utf8FromUtf16 converts valid text exactly, zero characters included. A surrogate
//   without its partner (which no valid text holds) becomes U+FFFD, so that printing
//   never fails; when wellFormed is given, it tells whether none was replaced, for
//   callers such as file names that must refuse such text.
// - Utf16FromUtf8 converts well-formed UTF-8 exactly. Each byte that does not start a
//   well-formed sequence (a stray continuation byte, a cut-off sequence, an overlong
//   form, an encoded surrogate, a value above U+10FFFF) becomes one U+FFFD and decoding
//   goes on at the next byte. When wellFormed is given, it tells whether nothing was
//   replaced, for callers that refuse malformed input instead.
#pragma once

#include <string>
#include <string_view>

namespace handheld {

std::string Utf8FromUtf16(std::u16string_view text, bool* wellFormed = nullptr);
std::u16string Utf16FromUtf8(std::string_view text, bool* wellFormed = nullptr);

}  // namespace handheld
