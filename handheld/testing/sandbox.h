// Test support: a private store and folder per test, and the census check.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "handheld/census.h"

namespace handheld::testing {

// A private folder for one test. While it lives, HANDHELD_STORE names a fresh store
// file inside it, HANDHELD_MODULE_DIR the build's bin folder (where phone.so lies),
// XDG_RUNTIME_DIR the folder itself, XDG_STATE_HOME its "state" folder (where the
// store keeps the items a purge removes: removedPath()), and no fault is armed. The
// destructor restores the environment (HOME, the XDG_ folders and TZ too, which tests may
// change), clears the faults and removes the folder.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(std::string_view name) const;  // a file inside the folder
  std::string storePath() const { return path("handheld.db"); }
  std::string removedPath() const { return path("state/quillmote/removed"); }

 private:
  std::string dir_;
  struct Saved;
  Saved* saved_;
};

// A fixture with a Sandbox; each test must end with the census at zero
// (everything obtained released, every file, thread and module closed).
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Sandbox& sandbox() { return *sandbox_; }

 private:
  Sandbox* sandbox_ = nullptr;
};

// The folder of the test executables and of phone.so.
std::string BinDir();

std::u16string U16(std::string_view utf8);
std::string U8(std::u16string_view utf16);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);
// UTF-16LE bytes of a text, optionally behind the byte-order mark FF FE.
std::string Utf16LeBytes(std::u16string_view text, bool withMark);

}  // namespace handheld::testing
