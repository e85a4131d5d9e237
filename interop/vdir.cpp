#include "interop/vdir.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace interop {
namespace {

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

std::string Reason(const char* what, const std::string& path, int number) {
  return std::string(what) + " " + Quoted(path) + ": " + std::strerror(number);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         g_ascii_strncasecmp(text.data() + text.size() - end.size(), end.data(), end.size()) == 0;
}

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

bool IsFolderPath(const std::string& path) {
  if (!path.empty() && path.back() == '/') return true;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (g_mkdir_with_parents(path.c_str(), 0700) == 0) return true;
  *error = Reason("cannot create the folder", path, errno);
  return false;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) {
    close(fd_);
    unlink(temporary_.c_str());
  }
}

bool AtomicFile::Open(const std::string& target, std::string* error) {
  target_ = target;
  std::string folder = FolderOf(target);
  size_t slash = target.find_last_of('/');
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  temporary_ = folder + "/." + name + ".XXXXXX";
  fd_ = mkostemp(temporary_.data(), O_CLOEXEC);  // mode 0600
  if (fd_ < 0) {
    *error = Reason("cannot write into the folder", folder, errno);
    return false;
  }
  struct stat existing;
  if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
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
    ssize_t wrote = write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      errorNumber_ = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  buffer_.clear();
  return errorNumber_ == 0;
}

bool AtomicFile::Commit(std::string* error) {
  if (fd_ < 0) {
    *error = "no file is open for " + Quoted(target_);
    return false;
  }
  if (Flush() && fsync(fd_) != 0) errorNumber_ = errno;
  if (close(fd_) != 0 && errorNumber_ == 0) errorNumber_ = errno;
  fd_ = -1;
  if (errorNumber_ == 0 && rename(temporary_.c_str(), target_.c_str()) != 0) errorNumber_ = errno;
  if (errorNumber_ != 0) {
    unlink(temporary_.c_str());
    *error = Reason("cannot write", target_, errorNumber_) + "; it was left as it was";
    return false;
  }
  return true;
}

bool WriteFileIfChanged(const std::string& target, std::string_view bytes, bool* written,
                        std::string* error) {
  *written = false;
  gchar* old = nullptr;
  gsize length = 0;
  if (g_file_get_contents(target.c_str(), &old, &length, nullptr)) {
    bool same = std::string_view(old, length) == bytes;
    g_free(old);
    if (same) return true;
  }
  AtomicFile file;
  if (!file.Open(target, error)) return false;
  file.Write(bytes);
  if (!file.Commit(error)) return false;
  *written = true;
  return true;
}

std::string FileNameForUid(std::string_view uid, std::string_view extension) {
  bool safe = !uid.empty() && uid.size() <= 200 && uid.front() != '.';
  for (char c : uid) {
    safe = safe && (g_ascii_isalnum(c) || c == '.' || c == '_' || c == '-' || c == '@' || c == '+');
  }
  if (safe) return std::string(uid) + std::string(extension);
  std::unique_ptr<gchar, decltype(&g_free)> hash(
      g_compute_checksum_for_data(G_CHECKSUM_SHA1, reinterpret_cast<const guchar*>(uid.data()),
                                  uid.size()),
      &g_free);
  return std::string(hash.get()) + std::string(extension);
}

bool ListFolder(const std::string& folder, std::string_view extension,
                std::vector<std::string>* files, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    *error = Reason("cannot read the folder", folder, errno);
    return false;
  }
  std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::vector<std::string> found;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.empty() || name.front() == '.' || !EndsWithNoCase(name, extension)) continue;
    std::string path = base + std::string(name);
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) found.push_back(std::move(path));
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return true;
}

bool FilesAt(const std::string& path, std::string_view extension, std::vector<std::string>* files,
             std::string* error) {
  if (IsFolderPath(path)) return ListFolder(path, extension, files, error);
  files->assign(1, path);
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace interop
