// What every fuzz target sets up before its first input: a scratch folder for the input
// file (in memory, /dev/shm, unless TMPDIR names another place), the store in memory
// (HANDHELD_STORE=:memory:), the store's state folder — where a purge keeps what it
// removes — in a memory folder of the target's own, never the user's (a synced file per
// purge on a disk would halve the rate), and no armed faults. Both folders go at exit.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz_scratch {

inline std::string& ScratchFolder() {
  static std::string folder;
  return folder;
}

inline std::string& StateFolder() {
  static std::string folder;
  return folder;
}

// A new folder NAME-XXXXXX in /dev/shm (when `memory`) or else the temporary folder.
inline std::string NewFolder(const std::string& name, bool memory) {
  std::string folder = "/dev/shm/" + name + "-XXXXXX";
  if (memory && mkdtemp(folder.data()) != nullptr) return folder;
  std::error_code ignored;
  folder = std::filesystem::temp_directory_path(ignored).string() + "/" + name + "-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror((name + ": mkdtemp").c_str());
    std::exit(1);
  }
  return folder;
}

inline void RemoveFolders() {
  std::error_code ignored;
  for (const std::string* folder : {&ScratchFolder(), &StateFolder()}) {
    if (!folder->empty()) std::filesystem::remove_all(*folder, ignored);
  }
}

// Sets everything up (once, from LLVMFuzzerInitialize); gives the scratch folder.
inline const std::string& Prepare(const std::string& name) {
  ScratchFolder() = NewFolder(name, std::getenv("TMPDIR") == nullptr);
  StateFolder() = NewFolder(name + "-state", true);
  setenv("HANDHELD_STORE", ":memory:", 1);
  setenv("XDG_STATE_HOME", StateFolder().c_str(), 1);
  unsetenv("HANDHELD_FAULTS");
  std::atexit(RemoveFolders);
  return ScratchFolder();
}

// The input as the file at `path`; false when it cannot be written.
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return out.good();
}

}  // namespace fuzz_scratch
