// Test support: a private folder and environment per test, text conversions, files.
#include "handheld/testing/sandbox.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "handheld/faults.h"

namespace handheld::testing {
namespace {

const char* const kVariables[] = {"HANDHELD_STORE", "HANDHELD_MODULE_DIR", "XDG_RUNTIME_DIR",
                                  "HANDHELD_FAULTS"};
constexpr size_t kVariableCount = std::size(kVariables);

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void Restore(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

struct Sandbox::Saved {
  std::optional<std::string> values[kVariableCount];
};

Sandbox::Sandbox() : saved_(new Saved) {
  for (size_t i = 0; i < kVariableCount; ++i) saved_->values[i] = GetEnv(kVariables[i]);
  std::string base = GetEnv("TMPDIR").value_or("");
  if (base.empty()) base = "/tmp";
  std::string pattern = base + "/quillmote-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a test folder under " << base;
  }
  dir_ = pattern;
  setenv("HANDHELD_STORE", storePath().c_str(), 1);
  setenv("HANDHELD_MODULE_DIR", BinDir().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  unsetenv("HANDHELD_FAULTS");
  ClearFaults();
}

Sandbox::~Sandbox() {
  for (size_t i = 0; i < kVariableCount; ++i) Restore(kVariables[i], saved_->values[i]);
  delete saved_;
  ClearFaults();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string Sandbox::path(std::string_view name) const {
  return dir_ + "/" + std::string(name);
}

void SandboxTest::SetUp() {
  sandbox_ = new Sandbox;
}

void SandboxTest::TearDown() {
  EXPECT_EQ(handheld::CensusReport(), "") << "something obtained was not released";
  delete sandbox_;
  sandbox_ = nullptr;
}

std::string BinDir() {
#ifdef HANDHELD_TEST_BIN_DIR
  return HANDHELD_TEST_BIN_DIR;
#else
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  return std::filesystem::path(std::string(exe, static_cast<size_t>(n))).parent_path();
#endif
}

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
    unsigned char lead = byte(i);
    uint32_t c;
    size_t length;
    if (lead < 0x80) {
      c = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      c = lead & 0x1F;
      length = 2;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      c = lead & 0x0F;
      length = 3;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      c = lead & 0x07;
      length = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool valid = i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      if (valid) c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (valid && ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                  (length == 4 && (c < 0x10000 || c > 0x10FFFF)))) {
      valid = false;
    }
    if (!valid) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

std::string U8(std::u16string_view utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // an unpaired surrogate
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string Utf16LeBytes(std::u16string_view text, bool withMark) {
  std::string bytes;
  bytes.reserve(text.size() * 2 + 2);
  if (withMark) bytes += "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace handheld::testing
