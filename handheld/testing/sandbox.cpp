// Test support: a private folder and environment per test, text conversions, files.
#include "handheld/testing/sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iterator>
#include <utility>
#include <vector>

#include "handheld/faults.h"
#include "handheld/utf16.h"

namespace handheld::testing {

struct Sandbox::Saved {
  std::vector<std::pair<const char*, std::optional<std::string>>> values;
};

Sandbox::Sandbox() : saved_(new Saved) {
  // Set by the sandbox, or changed by tests; all put back afterwards.
  for (const char* name :
       {"HANDHELD_STORE", "HANDHELD_MODULE_DIR", "XDG_RUNTIME_DIR", "HANDHELD_FAULTS", "HOME",
        "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "TZ"}) {
    const char* value = std::getenv(name);
    saved_->values.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  const char* tmp = std::getenv("TMPDIR");
  dir_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmote-test-XXXXXX";
  if (mkdtemp(dir_.data()) == nullptr) ADD_FAILURE() << "cannot create " << dir_;
  setenv("HANDHELD_STORE", storePath().c_str(), 1);
  setenv("HANDHELD_MODULE_DIR", BinDir().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  setenv("XDG_STATE_HOME", path("state").c_str(), 1);
  unsetenv("HANDHELD_FAULTS");
  ClearFaults();
}

Sandbox::~Sandbox() {
  for (const auto& [name, value] : saved_->values) {
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
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
  return HANDHELD_TEST_BIN_DIR;  // set where the library is built
}

std::u16string U16(std::string_view utf8) {
  return Utf16FromUtf8(utf8);
}

std::string U8(std::u16string_view utf16) {
  return Utf8FromUtf16(utf16);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  if (!(std::ofstream(path, std::ios::binary) << bytes)) ADD_FAILURE() << "cannot write " << path;
}

std::string Utf16LeBytes(std::u16string_view text, bool withMark) {
  std::string bytes = withMark ? "\xFF\xFE" : "";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace handheld::testing
