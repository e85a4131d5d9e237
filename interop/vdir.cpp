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

#include "handheld/faults.h"

namespace interop {
namespace {

using handheld::FaultNext;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

std::string Reason(const char* what, const std::string& path, int number) {
  return std::string(what) + " " + Quoted(path) + ": " + std::strerror(number);
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

bool WriteFileIfChanged(const std::string& target, std::string_view bytes, bool* written,
                        std::string* error) {
  *written = false;
  std::string old, why;
  if (ReadItemFile(target, &old, &why) && old == bytes) return true;
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

bool ReadItemFile(const std::string& path, std::string* bytes, std::string* error) {
  bytes->clear();
  // O_NOFOLLOW refuses a link, O_NONBLOCK keeps a FIFO from blocking the open; fstat then
  // refuses everything that is not a regular file before anything is read.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int number = errno;
    *error = number == ELOOP ? "cannot read " + Quoted(path) + ": it is a link, not a file"
                             : Reason("cannot read", path, number);
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0;
  if (!ok) {
    *error = Reason("cannot read", path, errno);
  } else if (!S_ISREG(info.st_mode)) {
    *error = "cannot read " + Quoted(path) + ": it is not a regular file";
    ok = false;
  } else if (static_cast<unsigned long long>(info.st_size) > kMaxItemFileBytes) {
    *error = "cannot read " + Quoted(path) + ": it is larger than " +
             std::to_string(kMaxItemFileBytes >> 20) + " MiB";
    ok = false;
  }
  if (ok) {
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    // A file that grows while it is read is read up to the limit and no further.
    for (;;) {
      if (done == bytes->size()) {
        if (bytes->size() >= kMaxItemFileBytes) break;
        bytes->resize(std::min(kMaxItemFileBytes, bytes->size() + kBufferBytes));
      }
      // Every read counts the fault point readfile:N, as ReadFile does.
      ssize_t got = FaultNext("readfile") ? (errno = EIO, -1)
                                          : read(fd, bytes->data() + done, bytes->size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error = Reason("cannot read", path, errno);
        ok = false;
        break;
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    bytes->resize(done);
  }
  close(fd);
  if (!ok) bytes->clear();
  return ok;
}

std::vector<std::string> UidsInText(std::string_view text, int depth) {
  std::vector<std::string> uids;
  std::unordered_set<std::string> seen;
  int level = 0;
  size_t at = 0;
  std::string line;
  while (at < text.size()) {
    // One logical line: a line break followed by a space or a tab goes on.
    line.clear();
    for (;;) {
      size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      size_t stop = end > at && text[end - 1] == '\r' ? end - 1 : end;
      line.append(text.substr(at, stop - at));
      at = end == text.size() ? end : end + 1;
      if (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
        ++at;
        continue;
      }
      break;
    }
    // The property's name ends at the first ';' or ':'; the value after the first ':'
    // outside double quotes.
    size_t nameEnd = line.find_first_of(";:");
    if (nameEnd == std::string::npos) continue;
    std::string_view name(line.data(), nameEnd);
    size_t colon = nameEnd;
    for (bool quoted = false; colon < line.size(); ++colon) {
      if (line[colon] == '"') quoted = !quoted;
      if (line[colon] == ':' && !quoted) break;
    }
    if (colon >= line.size()) continue;
    std::string_view value(line.data() + colon + 1, line.size() - colon - 1);
    if (g_ascii_strncasecmp(name.data(), "BEGIN", name.size()) == 0 && name.size() == 5) {
      ++level;
    } else if (g_ascii_strncasecmp(name.data(), "END", name.size()) == 0 && name.size() == 3) {
      --level;
    } else if (level == depth && name.size() == 3 &&
               g_ascii_strncasecmp(name.data(), "UID", 3) == 0) {
      std::string uid;
      for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() &&
            (value[i + 1] == ',' || value[i + 1] == ';' || value[i + 1] == '\\')) {
          ++i;
        }
        uid += value[i];
      }
      if (!uid.empty() && seen.insert(uid).second) uids.push_back(std::move(uid));
    }
  }
  return uids;
}

bool FolderIndex::Build(const std::string& folder, std::string_view extension, int depth,
                        std::string* error) {
  folder_ = folder;
  extension_ = std::string(extension);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return true;
    *error = Reason("cannot read the folder", folder, errno);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.empty() || name.front() == '.' || !EndsWithNoCase(name, extension)) continue;
    names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  std::string bytes, why;
  for (const std::string& name : names) {
    std::string path = JoinPath(folder, name);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    regularNames_.insert(name);
    if (!ReadItemFile(path, &bytes, &why)) {
      skipped_.push_back(why);
      continue;
    }
    ++files_;
    for (std::string& uid : UidsInText(bytes, depth)) byUid_.emplace(std::move(uid), path);
  }
  return true;
}

const std::string* FolderIndex::Find(const std::string& uid) const {
  auto found = byUid_.find(uid);
  return found == byUid_.end() ? nullptr : &found->second;
}

std::string FolderIndex::PathForNew(const std::string& uid) {
  std::string name = FileNameForUid(uid, extension_);
  const std::string stem = name.substr(0, name.size() - extension_.size());
  for (long n = 1; regularNames_.count(name) != 0; ++n) {
    name = stem + "-" + std::to_string(n) + extension_;
  }
  regularNames_.insert(name);
  return JoinPath(folder_, name);
}

}  // namespace interop
