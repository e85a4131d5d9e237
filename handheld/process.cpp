#include "handheld/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>

extern char** environ;

namespace handheld {
namespace {

// In the child: puts `path` (opened with `flags`) on descriptor `fd`; "" leaves it.
bool Redirect(const std::string& path, int flags, int fd) {
  if (path.empty()) return true;
  const int opened = open(path.c_str(), flags, 0600);
  if (opened < 0) return false;
  if (opened == fd) return true;
  const bool moved = dup2(opened, fd) == fd;
  close(opened);
  return moved;
}

// In the child: tells the parent why it could not start, and ends.
[[noreturn]] void Refuse(int report) {
  const int number = errno;
  [[maybe_unused]] ssize_t ignored = write(report, &number, sizeof number);
  _exit(127);
}

// The read ends of the children's report pipes, read when they are waited for: a parent
// that waited for the exec at the start could wait for ever on a child that opens a FIFO
// whose writer is the parent itself.
std::mutex reportsMutex;
std::map<pid_t, int> reports;

// The child's reason for not starting (0 when it started), closing its pipe.
int TakeReport(pid_t pid) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(reportsMutex);
    auto found = reports.find(pid);
    if (found == reports.end()) return 0;
    fd = found->second;
    reports.erase(found);
  }
  int number = 0;
  ssize_t got;
  while ((got = read(fd, &number, sizeof number)) < 0 && errno == EINTR) {
  }
  close(fd);
  return got == static_cast<ssize_t>(sizeof number) ? number : 0;
}

}  // namespace

pid_t StartChild(const ChildStart& starting) {
  if (starting.argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> argStore = starting.argv;
  std::vector<std::string> envStore = starting.env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    bool replaced = false;
    for (const std::string& added : starting.env) {
      const size_t nameEnd = added.find('=') + 1;
      if (entry.substr(0, nameEnd) == std::string_view(added).substr(0, nameEnd)) replaced = true;
    }
    if (!replaced) envStore.emplace_back(entry);
  }
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) argv.push_back(a.data());
  for (std::string& e : envStore) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  // The child writes the errno of a failed start into the pipe; a successful exec
  // closes it empty.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    const int number = errno;
    close(report[0]);
    close(report[1]);
    errno = number;
    return -1;
  }
  if (pid == 0) {
    close(report[0]);
    if (!Redirect(starting.in, O_RDONLY, 0) || !Redirect(starting.out, O_WRONLY | O_CREAT | O_TRUNC, 1)) {
      Refuse(report[1]);
    }
    if (starting.errToOut || starting.errFd >= 0) {
      if (dup2(starting.errToOut ? 1 : starting.errFd, 2) != 2) Refuse(report[1]);
    } else if (!Redirect(starting.err, O_WRONLY | O_CREAT | O_TRUNC, 2)) {
      Refuse(report[1]);
    }
    if (starting.fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit;
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = static_cast<rlim_t>(starting.fileSizeLimit);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execve(argv[0], argv.data(), envp.data());
    Refuse(report[1]);
  }
  close(report[1]);
  std::lock_guard<std::mutex> lock(reportsMutex);
  reports[pid] = report[0];
  return pid;
}

int WaitChild(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return -1;
  int raw = 0;
  bool reaped = false;
  if (limit.count() > 0) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pid_t done;
    while ((done = waitpid(pid, &raw, WNOHANG)) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done < 0 && errno != EINTR) return -1;
    reaped = done == pid;
  }
  while (!reaped && waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (const int number = TakeReport(pid); number != 0) {
    errno = number;
    return -1;
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

}  // namespace handheld
