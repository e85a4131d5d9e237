#include "handheld/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "handheld/faults.h"

namespace handheld {
namespace {

constexpr size_t kBufferBytes = 64 * 1024;

std::string Reason(const char* what, const std::string& path, int number) {
  return std::string(what) + " \"" + path + "\": " + std::strerror(number);
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FinalTarget(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 2);
    ssize_t n = readlink(path.c_str(), link.data(), link.size() - 1);
    if (n <= 0) return path;
    std::string next(link.data(), static_cast<size_t>(n));
    if (next[0] != '/') {
      size_t slash = path.rfind('/');
      next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
    }
    path = std::move(next);
  }
  return path;  // a loop of links: the rename will say so
}

bool SyncFolderOf(const std::string& path) {
  const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return synced;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool AtomicFile::Open(const std::string& path, std::string* error, bool throughLink) {
  const std::string target = throughLink ? FinalTarget(path) : path;
  target_ = target;
  const std::string folder = FolderOf(target);
  const size_t slash = target.find_last_of('/');
  std::string temporary =
      folder + "/." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".XXXXXX";
  fd_ = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600
  if (fd_ < 0) {
    *error = Reason("cannot write into the folder", folder, errno);
    return false;
  }
  temporary_ = std::move(temporary);
  struct stat existing;
  if (lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    fchmod(fd_, existing.st_mode & 07777);
  }
  buffer_.reserve(kBufferBytes);
  return true;
}

void AtomicFile::Write(std::string_view bytes) {
  if (fd_ < 0 || errorNumber_ != 0) return;
  buffer_.append(bytes);
  if (buffer_.size() >= kBufferBytes) Flush();
}

bool AtomicFile::Flush() {
  size_t done = 0;
  while (done < buffer_.size() && errorNumber_ == 0) {
    size_t count = buffer_.size() - done;
    // Both points count every write (while anything is armed at all), as WriteFile does;
    // a write one byte short is a failed one.
    bool shortWrite = false;
    if (faultPoints_ && FaultsArmed()) {
      const bool fail = FaultNext("write");
      shortWrite = FaultNext("shortwrite");
      if (fail) {
        errorNumber_ = EIO;
        break;
      }
      count -= shortWrite ? 1 : 0;
    }
    const ssize_t wrote = write(fd_, buffer_.data() + done, count);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0 || shortWrite) {
      errorNumber_ = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  buffer_.clear();
  return errorNumber_ == 0;
}

bool AtomicFile::Close() {
  if (closed_) return errorNumber_ == 0;
  closed_ = true;
  if (fd_ < 0) return false;
  if (Flush() && fsync(fd_) != 0) errorNumber_ = errno;
  if (close(fd_) != 0 && errorNumber_ == 0) errorNumber_ = errno;
  fd_ = -1;
  return errorNumber_ == 0;
}

bool AtomicFile::Commit(std::string* error) {
  if (temporary_.empty()) {
    *error = "no file is open for \"" + target_ + "\"";
    return false;
  }
  if (Close() && rename(temporary_.c_str(), target_.c_str()) != 0) errorNumber_ = errno;
  if (errorNumber_ != 0) {
    *error = Reason("cannot write", target_, errorNumber_) + "; it was left as it was";
    return false;
  }
  temporary_.clear();
  if (!SyncFolderOf(target_)) {
    *error = Reason("cannot sync the folder of", target_, errno) + "; the new file may not last";
    return false;
  }
  return true;
}

bool AtomicFile::CommitNew(const std::string& path, bool* taken, std::string* error) {
  *taken = false;
  if (temporary_.empty()) {
    *error = "no file is open for \"" + path + "\"";
    return false;
  }
  if (Close() && link(temporary_.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      *taken = true;
      return false;
    }
    errorNumber_ = errno;
  }
  if (errorNumber_ == 0) {
    unlink(temporary_.c_str());
    temporary_.clear();
    if (!SyncFolderOf(path)) {
      const int number = errno;
      unlink(path.c_str());
      errorNumber_ = number;
    }
  }
  if (errorNumber_ != 0) {
    *error = Reason("cannot write", path, errorNumber_);
    return false;
  }
  return true;
}

}  // namespace handheld
