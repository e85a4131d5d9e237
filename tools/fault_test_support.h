// Test support for the fault matrix and the crash tests: starts a program of the build's
// bin folder as a child process with extra environment, a file-size limit and its outputs
// where the test wants them, waits for it, and asks SQLite whether a store file is sound.
//
// Everything the child needs (arguments, environment) is built before the fork; the child
// only redirects, sets its limit and executes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"

extern char** environ;

namespace fault_testing {

struct Launch {
  std::vector<std::string> args;  // after the program's name
  std::vector<std::string> env;   // "NAME=value", added to (or replacing) the test's own
  std::string out = "/dev/null";  // files that take standard output and standard error
  std::string err = "/dev/null";
  int errFd = -1;          // when >= 0, standard error goes to this descriptor instead
  long fileSizeLimit = 0;  // bytes any file of the child may grow to; 0 for no limit
};

// Starts bin/`program`; the child's pid, or -1 when it could not be forked.
inline pid_t Start(const std::string& program, const Launch& launch) {
  const std::string path = handheld::testing::BinDir() + "/" + program;
  std::vector<std::string> argStore = {path};
  argStore.insert(argStore.end(), launch.args.begin(), launch.args.end());
  std::vector<std::string> envStore = launch.env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& added : launch.env) {
      const size_t nameEnd = added.find('=') + 1;
      if (entry.compare(0, nameEnd, added, 0, nameEnd) == 0) replaced = true;
    }
    if (!replaced) envStore.push_back(entry);
  }
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) argv.push_back(a.data());
  for (std::string& e : envStore) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int in = open("/dev/null", O_RDONLY);
  const int out = open(launch.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = launch.errFd >= 0 ? launch.errFd
                                    : open(launch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (launch.fileSizeLimit > 0) {
    // A write beyond the limit then fails with EFBIG instead of ending the program.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(launch.fileSizeLimit);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

// Waits for the child: its exit status, or 128 + the signal that ended it.
inline int Wait(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// The rows of PRAGMA integrity_check on the database at `path`, one per line ("ok" for
// a sound file), or what kept SQLite from running it.
inline std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string problem = "cannot open: " + std::string(sqlite3_errmsg(db));
    sqlite3_close(db);
    return problem;
  }
  std::string rows;
  sqlite3_stmt* check = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) != SQLITE_OK) {
    rows = "cannot check: " + std::string(sqlite3_errmsg(db));
  }
  while (check != nullptr && sqlite3_step(check) == SQLITE_ROW) {
    if (!rows.empty()) rows += "\n";
    rows += reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
  }
  sqlite3_finalize(check);
  sqlite3_close(db);
  return rows;
}

}  // namespace fault_testing
