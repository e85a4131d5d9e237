#include "handheld/utf16.h"

namespace handheld {
namespace {

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
  for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

// The length of the well-formed sequence at text[i] (its value in *code), or 0.
size_t DecodeAt(std::string_view text, size_t i, char32_t* code) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  const size_t length = lead >= 0xC2 && lead < 0xE0   ? 2
                        : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF5 ? 4
                                                      : 0;
  if (length == 0 || i + length > text.size()) return 0;
  char32_t c = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  *code = c;
  return length;
}

}  // namespace

std::string Utf8FromUtf16(std::u16string_view text, bool* wellFormed) {
  std::string out;
  out.reserve(text.size());
  bool clean = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      c = 0xFFFD;
      clean = false;
    }
    AppendUtf8(out, c);
  }
  if (wellFormed) *wellFormed = clean;
  return out;
}

std::u16string Utf16FromUtf8(std::string_view text, bool* wellFormed) {
  std::u16string out;
  out.reserve(text.size());
  bool clean = true;
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0xFFFD;
    const size_t length = DecodeAt(text, i, &c);
    clean = clean && length > 0;
    i += length > 0 ? length : 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  if (wellFormed) *wellFormed = clean;
  return out;
}

}  // namespace handheld
