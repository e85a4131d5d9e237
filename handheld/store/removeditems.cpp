// The removed-items files (see removeditems.h): gathering the items, naming the file,
// writing it whole and synced, and keeping the newest 20.
#include "handheld/store/removeditems.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "handheld/atomicfile.h"
#include "handheld/faults.h"
#include "handheld/itemkeeping.h"
#include "handheld/pimstore.h"
#include "handheld/store/storefile.h"
#include "handheld/utf16.h"
#include "interop/ical_store.h"
#include "interop/ical_stream.h"
#include "interop/losses.h"
#include "interop/vcardcontact.h"

namespace handheld::store {
namespace {

struct KindNames {
  const char* word;       // in the file's name, and the KIND of `handheld import`
  const char* extension;  // ".vcf" or ".ics"
  const char* noun;       // "contact"
  const char* nouns;      // "contacts"
};

KindNames NamesOf(Kind kind) {
  switch (kind) {
    case Kind::kContact:
      return {"contacts", ".vcf", "contact", "contacts"};
    case Kind::kAppointment:
      return {"calendar", ".ics", "appointment", "appointments"};
    case Kind::kTask:
      break;
  }
  return {"tasks", ".ics", "task", "tasks"};
}

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Makes `path` and the folders above it that are missing, each 0700.
bool MakeFolders(const std::string& path, std::string* error) {
  for (size_t slash = 1; slash <= path.size(); ++slash) {
    slash = std::min(path.find('/', slash), path.size());
    const std::string level = path.substr(0, slash);
    if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = Errno("cannot make the folder " + level);
      return false;
    }
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = path + " is not a folder";
    return false;
  }
  if ((info.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) {
    *error = Errno("cannot make " + path + " private");
    return false;
  }
  return true;
}

// Writes all of `text` at the file's end.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// The texts of the items, written to a file a buffer at a time.
class ItemWriter {
 public:
  using Sink = std::function<bool(std::string_view)>;  // false: the bytes were not written
  ItemWriter(Kind kind, Sink sink) : kind_(kind), sink_(std::move(sink)), losses_(NamesOf(kind).noun, NamesOf(kind).nouns) {
    if (kind_ != Kind::kContact) {
      time_t now = std::time(nullptr);
      exporter_.emplace(kind_ == Kind::kAppointment ? interop::IcalKind::kEvents
                                                    : interop::IcalKind::kTodos,
                        interop::LocalZone::Current(),
                        icaltime_from_timet_with_zone(now, 0, icaltimezone_get_utc_timezone()));
    }
  }

  // Items first to first + count - 1, as one vCard stream or one VCALENDAR. `which`
  // names a single item in messages instead of its number.
  bool Items(size_t first, size_t count, const FetchItem& fetch, std::string* error,
             const std::string& which = "") {
    which_ = which;
    if (exporter_) buffer_ += exporter_->Head();
    for (size_t at = first; at < first + count; ++at) {
      if (!Item(at, fetch, error)) return false;
      if (buffer_.size() >= kBufferSize && !Flush(error)) return false;
    }
    if (exporter_) buffer_ += interop::CalendarTail();
    return Flush(error);
  }

  const interop::Losses& losses() const { return losses_; }

 private:
  bool Item(size_t at, const FetchItem& fetch, std::string* error) {
    IDispatch* item = nullptr;
    std::u16string uid16;
    std::string native;
    HRESULT hr = fetch(at, &item, &uid16, &native);
    if (hr == S_FALSE && item == nullptr) return true;  // gone already: not removed either
    if (SUCCEEDED(hr) && item == nullptr) hr = E_POINTER;
    if (uid16.empty()) uid16 = NewItemUid();  // the file's own: the item goes
    const std::string uid = Utf8FromUtf16(uid16);
    std::string why;
    if (SUCCEEDED(hr) && !native.empty()) {
      buffer_ += native;
    } else if (SUCCEEDED(hr) && kind_ == Kind::kContact) {
      interop::ContactValues values;
      hr = interop::ReadContact(static_cast<IContact*>(item), &values);
      values.uid = uid;
      if (SUCCEEDED(hr)) buffer_ += interop::CardFromContact(values, &losses_);
    } else if (SUCCEEDED(hr)) {
      std::string text;
      if (exporter_->Item(item, uid, &losses_, false, &text, &why)) {
        buffer_ += text;
      } else {
        hr = E_FAIL;
      }
    }
    if (item != nullptr) item->Release();
    losses_.EndItem();
    if (FAILED(hr)) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      *error = std::string(NamesOf(kind_).noun) + " " +
               (which_.empty() ? std::to_string(at + 1) : which_) + " could not be " +
               (why.empty() ? std::string("read (") + code + ")" : "written: " + why);
      return false;
    }
    return true;
  }

  bool Flush(std::string* error) {
    if (!sink_(buffer_)) {
      *error = Errno("cannot write the file");
      return false;
    }
    buffer_.clear();
    return true;
  }

  static constexpr size_t kBufferSize = 1 << 16;

  Kind kind_;
  Sink sink_;
  interop::Losses losses_;
  std::optional<interop::IcalExporter> exporter_;
  std::string buffer_;
  std::string which_;
};

// A removed-items file's name: "YYYYMMDD-HHMMSS-WORD[-N].EXT". Gives the key that orders
// the files by age (the time, then the number).
bool IsRemovedFile(std::string_view name, std::string* key) {
  auto digits = [&](size_t from, size_t count) {
    if (name.size() < from + count) return false;
    return std::all_of(name.begin() + from, name.begin() + from + count,
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(0, 8) || name.size() < 16 || name[8] != '-' || !digits(9, 6) || name[15] != '-') {
    return false;
  }
  for (Kind kind : {Kind::kContact, Kind::kAppointment, Kind::kTask}) {
    const KindNames names = NamesOf(kind);
    std::string_view rest = name.substr(16);
    if (rest.substr(0, std::strlen(names.word)) != names.word) continue;
    rest.remove_prefix(std::strlen(names.word));
    const std::string_view extension = names.extension;
    if (rest.size() < extension.size() || rest.substr(rest.size() - extension.size()) != extension) {
      continue;
    }
    rest.remove_suffix(extension.size());
    std::string number = "1";
    if (!rest.empty()) {
      if (rest.size() < 2 || rest.size() > 10 || rest[0] != '-') continue;
      number = std::string(rest.substr(1));
      if (number.find_first_not_of("0123456789") != std::string::npos) continue;
    }
    *key = std::string(name.substr(0, 15)) + std::string(10 - number.size(), '0') + number;
    return true;
  }
  return false;
}

// Deletes all but the newest kRemovedFilesKept removed-items files of the folder.
void Prune(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::pair<std::string, std::string>> files;  // key, name
  while (const dirent* entry = readdir(dir)) {
    std::string key;
    if (IsRemovedFile(entry->d_name, &key)) files.emplace_back(std::move(key), entry->d_name);
  }
  closedir(dir);
  if (files.size() <= kRemovedFilesKept) return;
  std::sort(files.begin(), files.end());
  for (size_t i = 0; i + kRemovedFilesKept < files.size(); ++i) {
    unlink((folder + "/" + files[i].second).c_str());
  }
}

// Gives `file` the first free name of the removed items of `kind` at the local time
// `now`; its path in *path.
bool Name(const std::string& folder, AtomicFile& file, Kind kind, time_t now, std::string* path,
          std::string* error) {
  tm local {};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const KindNames names = NamesOf(kind);
  for (int number = 1; number < 1000; ++number) {
    *path = folder + "/" + stamp + "-" + names.word +
            (number > 1 ? "-" + std::to_string(number) : "") + names.extension;
    bool taken = false;
    if (file.CommitNew(*path, &taken, error)) return true;
    if (!taken) return false;
  }
  *error = "too many files of removed items named " + std::string(stamp);
  return false;
}

// Writes items first to first + count - 1 to a new file; its path in *path.
bool WriteNewFile(Kind kind, size_t first, size_t count, const FetchItem& fetch, std::string* path,
                  std::string* error, const std::string& which = "") {
  if (FaultNext("keep")) {
    *error = "the file cannot be written (fault injected at \"keep\")";
    return false;
  }
  const std::string folder = RemovedItemsFolder();
  if (folder.empty()) {
    *error = "neither XDG_STATE_HOME nor HOME names a folder";
    return false;
  }
  if (!MakeFolders(folder, error)) return false;
  AtomicFile file(false);  // the point keep:N stands for its writes
  if (!file.Open(folder + "/removed", error)) return false;
  ItemWriter writer(kind, [&file](std::string_view bytes) {
    file.Write(bytes);
    return file.good();
  });
  if (!writer.Items(first, count, fetch, error, which) ||
      !Name(folder, file, kind, std::time(nullptr), path, error)) {
    path->clear();
    return false;
  }
  for (const std::string& line : writer.losses().Summary()) {
    std::fprintf(stderr, "handheld store: %s: %s\n", path->c_str(), line.c_str());
  }
  Prune(folder);
  return true;
}

// Adds the item at `at` to the end of the file at `path`, synced.
bool AppendToFile(Kind kind, const std::string& path, size_t at, const FetchItem& fetch,
                  std::string* error, const std::string& which) {
  if (FaultNext("keep")) {
    *error = "the file cannot be written (fault injected at \"keep\")";
    return false;
  }
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    *error = Errno("cannot open " + path);
    return false;
  }
  const off_t end = lseek(fd, 0, SEEK_END);
  ItemWriter writer(kind, [fd](std::string_view bytes) { return WriteAll(fd, bytes); });
  bool ok = writer.Items(at, 1, fetch, error, which);
  if (ok && fsync(fd) != 0) ok = (*error = Errno("cannot sync " + path), false);
  if (!ok && end >= 0 && ftruncate(fd, end) != 0) {
    // The part written stays; the next reader reports it as a broken last item.
  }
  close(fd);
  return ok;
}

// `what`: "the contacts to be removed"; `outcome`: "none was removed".
HRESULT Refused(const std::string& what, const std::string& error, const char* outcome) {
  std::fprintf(stderr, "handheld store: %s could not be kept first in %s: %s; %s\n", what.c_str(),
               RemovedItemsFolder().c_str(), error.c_str(), outcome);
  return kNotKept;
}

}  // namespace

std::string RemovedItemsFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.local/state";
  } else {
    return "";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/quillmote/removed";
}

HRESULT RemovedItems::BeforeRemove(size_t count, const FetchItem& fetch) {
  if (purgeKept_) return S_OK;
  std::string path, error;
  if (!WriteNewFile(kind_, 0, count, fetch, &path, &error)) {
    return Refused(std::string("the ") + NamesOf(kind_).nouns + " to be removed", error,
                   "none was removed");
  }
  purgeKept_ = true;
  return S_OK;
}

HRESULT RemovedItems::Keep(size_t at, const FetchItem& fetch, const std::string& which) {
  std::string error;
  const bool kept = keepFile_.empty()
                        ? WriteNewFile(kind_, at, 1, fetch, &keepFile_, &error, which)
                        : AppendToFile(kind_, keepFile_, at, fetch, &error, which);
  return kept ? S_OK
              : Refused(std::string("the ") + NamesOf(kind_).noun + " " +
                            (which.empty() ? std::to_string(at + 1) : which),
                        error, "it was left as it was");
}

}  // namespace handheld::store
