// Where an export or an import leads, for every kind of item: the PATH rules, files
// written whole or not at all, and the vdir layout (a folder with one file per item,
// named by the item's UID), which khard, khal, todoman and vdirsyncer share.
//
// Contract:
// - IsFolderPath: a PATH that names an existing folder or ends in '/' is a vdir folder;
//   any other PATH is one file holding every item.
// - AtomicFile writes into a temporary dot file beside the target (vdir readers skip dot
//   files) and renames it over the target at Commit, after flushing it to disk; until
//   then the target is untouched, and a file never committed is removed. A new target
//   is readable by its owner only; a replaced one keeps its permissions. The first write
//   error is kept and reported by Commit.
// - WriteFileIfChanged leaves a target that already holds exactly `bytes` untouched (its
//   time stamps included, so that a sync tool sees no change); otherwise it writes it
//   as AtomicFile does.
// - FileNameForUid: the UID itself plus the extension when it is safe as a file name
//   (ASCII letters, digits and . _ - @ +, not starting with a dot, at most 200 bytes);
//   otherwise the SHA-1 of the UID in hexadecimal plus the extension.
// - ListFolder: the regular files of a folder whose names end with the extension (in
//   any case), dot files left out, as full paths sorted by name.
// Every failure comes back as false with a message naming the path and the reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace interop {

bool IsFolderPath(const std::string& path);
// Makes the folder and its missing parents.
bool MakeFolder(const std::string& path, std::string* error);

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& target, std::string* error);
  void Write(std::string_view bytes);
  bool Commit(std::string* error);

 private:
  bool Flush();
  std::string target_, temporary_;
  int fd_ = -1;
  std::string buffer_;
  int errorNumber_ = 0;
};

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

}  // namespace interop
