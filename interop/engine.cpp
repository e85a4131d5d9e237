#include "interop/engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace interop {

bool ReadExistingFile(const std::string& path, std::string* text, std::string* error) {
  // Only a regular file is read: a FIFO would hang, a device would never end.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  text->clear();
  text->reserve(static_cast<size_t>(info.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text->append(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      *error = "cannot read \"" + path + "\" to its end: " + std::strerror(errno);
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

bool AllOpen(const std::vector<std::string>& files, std::string* error) {
  for (const std::string& name : files) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      *error = "cannot read \"" + name + "\": " + std::strerror(errno);
      return false;
    }
    close(fd);
  }
  return true;
}

bool WriteItemFile(const std::string& target, const std::string& text, const std::string* before,
                   std::string* error) {
  if (before != nullptr && *before == text) return true;
  AtomicFile file;
  if (!file.Open(target, error)) return false;
  file.Write(text);
  return file.Commit(error);
}

std::string SaveFailure(const std::string& where, const char* noun, std::string_view uid,
                        HRESULT hr) {
  if (hr == handheld::kNotKept) {
    return where + "the " + noun + " with UID " + std::string(uid) +
           " was left as it was: its saved version could not be kept first (the store said " +
           "why above)";
  }
  return where + "the store could not save the " + noun + " (" + Hex(hr) + ")";
}

}  // namespace interop
