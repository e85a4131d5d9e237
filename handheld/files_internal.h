// Shared between the stand-in's file layer and its store (not for the system).
#pragma once

#include <sys/types.h>

#include <string>

namespace handheld::internal {

// The files of an open SQLite database: the database itself and its companions (NAME-wal,
// NAME-shm, NAME-journal), held by the store for as long as this object lives. The file
// layer refuses them (ERROR_SHARING_VIOLATION), as a device refuses a file that another
// program holds open without sharing: closing any descriptor of the database would drop
// the locks SQLite holds on it for this process. A path is compared by what it leads to
// (device and inode, symbolic links and ".." resolved), and a companion that does not
// exist yet by its folder's device and inode and its name; nothing is opened to find
// out.
class HeldFiles {
 public:
  // `path` names the database, which exists.
  explicit HeldFiles(const std::string& path);
  ~HeldFiles();
  HeldFiles(const HeldFiles&) = delete;
  HeldFiles& operator=(const HeldFiles&) = delete;

  bool Holds(const std::string& path) const;
  bool HoldsInode(dev_t device, ino_t inode) const;

 private:
  std::string folder_;  // absolute
  std::string name_;
  dev_t folderDevice_ = 0, device_ = 0;
  ino_t folderInode_ = 0, inode_ = 0;
};

}  // namespace handheld::internal
