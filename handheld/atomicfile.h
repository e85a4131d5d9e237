// A file that appears whole or not at all.
//
// Contract:
// - The bytes go to a temporary dot file ".NAME.XXXXXX" (0600) beside the target; a
//   committed file has been synced, has its name, and its folder has been synced so that
//   the name reaches the disk too. A file not committed leaves nothing behind.
// - Commit replaces the target (which takes the old file's permissions); CommitNew gives
//   the file a name no other file has and never replaces one.
// - With `throughLink`, a target that is a symbolic link is written through: the file it
//   leads to is replaced (or made, when the link leads nowhere yet) and the link stays.
//   Otherwise a link is itself replaced.
// - Writes are buffered; the first failure is kept and told by the commit, which then
//   leaves the target as it was. Each write to the file counts the fault points write:N
//   and shortwrite:N (faults.h) unless the file is made with `faultPoints` false (the
//   store's removed-items files have a point of their own).
#pragma once

#include <string>
#include <string_view>

namespace handheld {

class AtomicFile {
 public:
  explicit AtomicFile(bool faultPoints = true) : faultPoints_(faultPoints) {}
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& target, std::string* error, bool throughLink = false);
  void Write(std::string_view bytes);
  // Whether every write so far has succeeded.
  bool good() const { return errorNumber_ == 0; }
  // Replaces the target given to Open with the file.
  bool Commit(std::string* error);
  // Gives the file the name `path` (in the target's folder) unless a file has it: then
  // *taken, and another name may be tried.
  bool CommitNew(const std::string& path, bool* taken, std::string* error);

 private:
  bool Flush();
  bool Close();
  std::string target_, temporary_;
  int fd_ = -1;
  bool faultPoints_;
  bool closed_ = false;
  std::string buffer_;
  int errorNumber_ = 0;
};

// Syncs the folder that holds `path`, so that a name given there reaches the disk.
bool SyncFolderOf(const std::string& path);

// The folder of `path` ("." for a bare name, "/" for one at the root).
std::string FolderOf(const std::string& path);
// Where `path`'s content lives: symbolic links at its end followed (relative ones from
// their own folder), whether or not the last one leads anywhere.
std::string FinalTarget(std::string path);

}  // namespace handheld
