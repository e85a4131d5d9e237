// Where an export or an import leads, for every kind of item: the PATH rules, files
// written whole or not at all, and the vdir layout (a folder with one file per item,
// named by the item's UID), which khard, khal, todoman and vdirsyncer share.
//
// Contract:
// - IsFolderPath: a PATH that names an existing folder or ends in '/' is a vdir folder;
//   any other PATH is one file holding every item.
// - AtomicFile (handheld/atomicfile.h) writes into a temporary dot file beside the target
//   (vdir readers skip dot files) and renames it over the target at Commit, the file and
//   then its folder synced; until then the target is untouched.
// - WriteFileIfChanged leaves a target that already holds exactly `bytes` untouched (its
//   time stamps included, so that a sync tool sees no change); otherwise it writes it
//   as AtomicFile does. Only a regular file is read to compare (ReadItemFile); a link,
//   FIFO or device of that name is replaced.
// - FileNameForUid: the UID itself plus the extension when it is safe as a file name
//   (ASCII letters, digits and . _ - @ +, not starting with a dot, at most 200 bytes);
//   otherwise the SHA-1 of the UID in hexadecimal plus the extension.
// - ListFolder: the regular files of a folder whose names end with the extension (in
//   any case), dot files left out, as full paths sorted by name.
// Every failure comes back as false with a message naming the path and the reason.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "handheld/atomicfile.h"

namespace interop {

using handheld::AtomicFile;

bool IsFolderPath(const std::string& path);
// Makes the folder and its missing parents.
bool MakeFolder(const std::string& path, std::string* error);

bool WriteFileIfChanged(const std::string& target, std::string_view bytes, bool* written,
                        std::string* error);

std::string FileNameForUid(std::string_view uid, std::string_view extension);

bool ListFolder(const std::string& folder, std::string_view extension,
                std::vector<std::string>* files, std::string* error);

// The files an import of PATH reads: a folder's files with the extension (ListFolder),
// or PATH itself.
bool FilesAt(const std::string& path, std::string_view extension, std::vector<std::string>* files,
             std::string* error);

// `name` inside `folder` (with or without its closing '/').
std::string JoinPath(const std::string& folder, const std::string& name);

// The largest item file an export or import reads: a card with a large photo fits, a
// runaway file does not fill the memory.
constexpr size_t kMaxItemFileBytes = 64u << 20;

// Reads a whole item file, only when it is a regular file of at most kMaxItemFileBytes:
// a link, FIFO, device or folder of that name is never opened for reading (a FIFO would
// hang, a link to /dev/zero would never end). False with the reason otherwise.
bool ReadItemFile(const std::string& path, std::string* bytes, std::string* error);

// The UIDs a vCard or iCalendar text holds at the level of its items: the UID of each
// card (nested AGENT cards left out), or of each component inside a VCALENDAR
// (`depth` 1 for vCards, 2 for iCalendar). Folds are joined; \, \; and \\ read as the
// character. In file order, repeated UIDs once.
std::vector<std::string> UidsInText(std::string_view text, int depth);

// The item files of a folder, found by the UIDs inside them whatever their names (a sync
// tool names files its own way), and names for new items' files that are never another
// file's.
//
// Contract:
// - Build lists the folder's entries whose names end with the extension (any case; dot
//   files left out) and reads each regular one (ReadItemFile) for its UIDs (UidsInText).
//   A missing folder is an empty one. Entries that are not regular files are left for
//   PathForNew to replace; regular files that cannot be read are named in `skipped`
//   ("FILE: reason") and their names are never given to a new item. False with the
//   reason only when the folder exists and cannot be listed.
// - Find gives the path of the file holding `uid` (the first by name when several do),
//   or null.
// - PathForNew gives the path for a new item's file: FileNameForUid when no regular file
//   has that name (a link, FIFO or device there is replaced by the new file), otherwise
//   the same name with "-1", "-2", ... before the extension, the first that no regular
//   file and no earlier PathForNew holds. Taken names are remembered.
class FolderIndex {
 public:
  bool Build(const std::string& folder, std::string_view extension, int depth,
             std::string* error);
  const std::string* Find(const std::string& uid) const;
  std::string PathForNew(const std::string& uid);
  const std::vector<std::string>& skipped() const { return skipped_; }
  size_t files() const { return files_; }

 private:
  std::string folder_, extension_;
  std::unordered_map<std::string, std::string> byUid_;
  std::unordered_set<std::string> regularNames_;  // names no new item may take
  std::vector<std::string> skipped_;
  size_t files_ = 0;
};

}  // namespace interop
