// What every fuzz target sets up before its first input: a scratch folder for the input
// file (in memory, /dev/shm, unless TMPDIR names another place), the store in memory
// (HANDHELD_STORE=:memory:), the store's state folder — where a purge keeps what it
// removes — in a memory folder of the target's own, never the user's (a synced file per
// purge on a disk would halve the rate), and no armed faults. Both folders go at exit.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
// (Written straight, without a stream's buffer: under AddressSanitizer a new 8 KB buffer per
// input took fresh pages from the system.)
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t written = write(fd, data, size);
    ok = written > 0;
    if (ok) {
      data += written;
      size -= static_cast<size_t>(written);
    }
  }
  return close(fd) == 0 && ok;
}

}  // namespace fuzz_scratch
