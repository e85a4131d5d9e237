// Child processes for the tools and the tests: one program started with its arguments,
// extra environment, standard streams and a file-size limit, and waited for.
//
// Contract:
// - `env` entries ("NAME=value") are added to this process's environment, replacing the
//   entries of the same names.
// - A stream given as a path is opened there (standard input for reading, output and
//   error made or emptied, 0600); "" leaves the stream this process's own. `errToOut`
//   sends standard error where standard output goes; `errFd` >= 0 sends it to that
//   descriptor.
// - With `fileSizeLimit` > 0, a write beyond that many bytes fails with EFBIG instead of
//   ending the child.
// - StartChild builds everything before the fork; the child only redirects, sets its
//   limit and executes. It gives the pid at once (-1 when no process could be made): it
//   does not wait for the exec, since the child may block opening a FIFO that the caller
//   is yet to open.
// - WaitChild gives the exit status, 128 + the signal that ended the child, or -1 (not a
//   child, or it could not start: then errno holds the child's own reason, such as a
//   missing program or a stream that cannot be opened). With `limit`, a child still
//   running then is killed first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace handheld {

struct ChildStart {
  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;
  std::string in = "/dev/null";
  std::string out;
  std::string err;
  bool errToOut = false;
  int errFd = -1;
  long fileSizeLimit = 0;
};

pid_t StartChild(const ChildStart& starting);
int WaitChild(pid_t pid, std::chrono::milliseconds limit = std::chrono::milliseconds(0));

}  // namespace handheld
