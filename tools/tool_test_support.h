// Test support for the command-line tools: starts a program of the build's bin folder as
// a child process with its arguments, extra environment, a file-size limit and its
// standard streams where the test wants them, waits for it, and gives back its exit
// status and both outputs (through handheld/process.h).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handheld/process.h"
#include "handheld/testing/sandbox.h"

namespace tool_testing {

// A child as handheld/process.h starts it, but `argv` holds only the arguments after the
// program's name. Streams left "" are the test's own.
using Launch = handheld::ChildStart;

// Starts bin/`program`; the child's pid, or -1 when it could not be started.
inline pid_t Start(const std::string& program, Launch launch) {
  launch.argv.insert(launch.argv.begin(), handheld::testing::BinDir() + "/" + program);
  return handheld::StartChild(launch);
}

// Waits for the child: its exit status, or 128 + the signal that ended it (-1 when it
// was never started).
inline int Wait(pid_t pid) {
  return handheld::WaitChild(pid);
}

struct Result {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// Runs bin/`program` with `args`; its input, output and error go through files of `dir`.
// `env` entries are "NAME=value"; `fileSizeLimit` is the bytes any file of the child may
// grow to (0: no limit).
inline Result RunProgram(const std::string& dir, const std::string& program,
                         const std::vector<std::string>& args, const std::string& input = "",
                         const std::vector<std::string>& env = {}, long fileSizeLimit = 0) {
  using handheld::testing::ReadFileBytes;
  Launch launch;
  launch.argv = args;
  launch.env = env;
  launch.in = dir + "/stdin";
  launch.out = dir + "/stdout";
  launch.err = dir + "/stderr";
  launch.fileSizeLimit = fileSizeLimit;
  handheld::testing::WriteFileBytes(launch.in, input);
  Result result;
  result.status = Wait(Start(program, launch));
  result.out = ReadFileBytes(launch.out);
  result.err = ReadFileBytes(launch.err);
  return result;
}

// The names in a folder, sorted, but for the store's own files and the programs' output.
inline std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("handheld.db", 0) != 0 && name.rfind("std", 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A sandbox with its store, and the tools run in it.
class ToolTest : public handheld::testing::SandboxTest {
 protected:
  Result Run(const std::string& program, const std::vector<std::string>& args,
             const std::string& input = "", const std::vector<std::string>& env = {}) {
    return RunProgram(sandbox().dir(), program, args, input, env);
  }
  Result Batch(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return Run("quillmote-batch", args, "", env);
  }
  Result Tool(const std::vector<std::string>& args, const std::string& input = "",
              const std::vector<std::string>& env = {}) {
    return Run("handheld", args, input, env);
  }
  // `handheld COMMAND KIND`, which must succeed.
  Result Handheld(const std::string& command, const std::string& kind,
                  const std::string& input = "") {
    Result r = Tool({command, kind}, input);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }
  std::string Dump(const std::string& kind) { return Handheld("dump", kind).out; }
  std::string Count(const std::string& kind) { return Handheld("count", kind).out; }
};

// A terminal for a child's standard error (Launch::errFd = FarEnd()), as a person at one
// would see it: a thread here reads everything the child shows until its end closes.
class Terminal {
 public:
  Terminal() {
    near_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (near_ >= 0 && grantpt(near_) == 0 && unlockpt(near_) == 0) {
      far_ = open(ptsname(near_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    reader_ = std::thread([this] {
      char chunk[4096];
      ssize_t n;
      while (near_ >= 0 && (n = read(near_, chunk, sizeof chunk)) > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        shown_.append(chunk, static_cast<size_t>(n));
        changed_.notify_all();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      changed_.notify_all();
    });
  }
  ~Terminal() {
    CloseFarEnd();
    reader_.join();
    if (near_ >= 0) close(near_);
  }
  int FarEnd() const { return far_; }
  // Once the child has it: the reader then ends with the child.
  void CloseFarEnd() {
    if (far_ >= 0) close(far_);
    far_ = -1;
  }
  std::string Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }
  // Waits until what was shown satisfies `seen`; false when the child's end closed first
  // or a minute passed.
  bool WaitUntil(const std::function<bool(const std::string&)>& seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(1),
                             [&] { return seen(shown_) || closed_; }) &&
           seen(shown_);
  }

 private:
  int near_ = -1, far_ = -1;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string shown_;
  bool closed_ = false;
  std::thread reader_;
};

// The last percentage a progress bar ("[###...] 42%") shows in `shown` after `from`; -1
// when none.
inline int BarPercent(const std::string& shown, size_t from = 0) {
  const size_t end = shown.rfind('%');
  const size_t start = end == std::string::npos ? end : shown.rfind("] ", end);
  if (start == std::string::npos || start < from) return -1;
  return std::atoi(shown.c_str() + start + 2);
}

}  // namespace tool_testing
