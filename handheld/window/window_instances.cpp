// The registry of running instances: a top-level dialog with a title listens on a Unix
// socket named after it, in a folder private to the user, and FindWindowW in another
// process finds it there and asks it to raise itself, or whether it shows a control.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "handheld/utf16.h"
#include "handheld/window/window_internal.h"

namespace handheld::window {

namespace {

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A connected socket to the listener at `path`, or -1 (errno tells why).
int ConnectTo(const std::string& path) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return fd;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (line.size() < 64 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

struct Registry {
  std::mutex mutex;  // guards `listeners`; held while a request is answered
  std::vector<InstanceListener*> listeners;
  int wake[2] = {-1, -1};  // makes the thread poll the changed list
  pid_t process = 0;       // whose thread serves (a forked child starts its own)
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

void WakeRegistry(Registry& registry) {
  char c = 'x';
  ssize_t ignored = ::write(registry.wake[1], &c, 1);
  (void)ignored;
}

// The requests: "raise", and "shows ID", whether the dialog shows its control ID (its
// list of controls is made with the dialog and stays; their visibility is atomic).
void Answer(int client, Dialog& dialog) {
  timeval limit{2, 0};
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const std::string request = ReadLine(client);
  std::string answer;
  if (request == "raise") {
    ActiveBackend().Raise(dialog);
    answer = "ok\n";
  } else if (request.rfind("shows ", 0) == 0) {
    const int id = std::atoi(request.c_str() + 6);
    bool shown = false;
    for (const auto& control : dialog.controls) {
      if (control->id == id) shown = control->visible;
    }
    answer = shown ? "yes\n" : "no\n";
  }
  ssize_t ignored = ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
  (void)ignored;
  ::close(client);
}

void Serve(Registry* registry) {
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign(1, pollfd{registry->wake[0], POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(registry->mutex);
      for (InstanceListener* listener : registry->listeners) {
        fds.push_back(pollfd{listener->socket, POLLIN, 0});
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) {
      char drained[64];
      while (::read(registry->wake[0], drained, sizeof drained) > 0) {
      }
    }
    std::lock_guard<std::mutex> lock(registry->mutex);
    for (size_t i = 1; i < fds.size(); ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      // Only a socket still claimed: a released one's number may be in use again.
      for (InstanceListener* listener : registry->listeners) {
        if (listener->socket != fds[i].fd) continue;
        int client = ::accept4(listener->socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) Answer(client, *listener->dialog);
        break;
      }
    }
  }
}

// Hands a listening socket to the registry's thread, starting it first when this
// process has none; false when it cannot be started.
bool Enlist(InstanceListener* listener) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.process != ::getpid()) {
    registry.listeners.clear();  // the parent's, in a forked child
    if (::pipe2(registry.wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    try {
      std::thread(Serve, &registry).detach();
    } catch (const std::system_error&) {
      ::close(registry.wake[0]);
      ::close(registry.wake[1]);
      return false;
    }
    registry.process = ::getpid();
  }
  registry.listeners.push_back(listener);
  WakeRegistry(registry);
  return true;
}

// Takes a socket back; once this returns, no request for it is being answered.
void Withdraw(InstanceListener* listener) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto& listeners = registry.listeners;
  listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
  WakeRegistry(registry);
}

}  // namespace

std::string InstanceFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return runtime;
  std::string folder = "/tmp/handheld-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  // Only a private folder of ours will do: not a link, nor a folder someone else made.
  struct stat info;
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
      (info.st_mode & 077) != 0) {
    return "/nonexistent/handheld";
  }
  return folder;
}

std::string InstanceSocketPath(std::u16string_view title) {
  static const char kHex[] = "0123456789abcdef";
  std::string utf8 = Utf8FromUtf16(title);
  std::string name;
  for (unsigned char c : utf8) {
    name += kHex[c >> 4];
    name += kHex[c & 15];
  }
  std::string path = InstanceFolder() + "/window-" + name;
  if (path.size() < sizeof(sockaddr_un::sun_path)) return path;
  // A long title: its 64-bit FNV-1a hash names the socket instead.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : utf8) hash = (hash ^ c) * 1099511628211ull;
  name.clear();
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 15];
  return InstanceFolder() + "/window-h" + name;
}

void ClaimTitle(Dialog& dialog) {
  ReleaseTitle(dialog);
  if (dialog.text.empty() || !ActiveBackend().ListsTitles()) return;
  auto listener = std::make_unique<InstanceListener>();
  listener->path = InstanceSocketPath(dialog.text);
  listener->dialog = &dialog;
  sockaddr_un address;
  if (!FillAddress(listener->path, &address)) return;
  // Non-blocking, so that the registry's thread never waits in accept.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!bound && errno == EADDRINUSE) {
    int other = ConnectTo(listener->path);
    if (other >= 0) {
      ::close(other);  // another process owns this title
    } else if (errno == ECONNREFUSED) {
      ::unlink(listener->path.c_str());  // left behind by a process that died
      bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
  }
  struct stat info;
  if (!bound || ::listen(fd, 8) != 0 || ::stat(listener->path.c_str(), &info) != 0) {
    ::close(fd);
    return;
  }
  listener->socket = fd;
  listener->inode = info.st_ino;
  if (!Enlist(listener.get())) {
    ::unlink(listener->path.c_str());
    ::close(fd);
    return;
  }
  dialog.listener = std::move(listener);
}

void ReleaseTitle(Dialog& dialog) {
  std::unique_ptr<InstanceListener> listener = std::move(dialog.listener);
  if (!listener) return;
  Withdraw(listener.get());
  struct stat info;
  if (::stat(listener->path.c_str(), &info) == 0 && info.st_ino == listener->inode) {
    ::unlink(listener->path.c_str());
  }
  ::close(listener->socket);
}

bool InstanceListening(const std::string& path) {
  int fd = ConnectTo(path);
  if (fd < 0) {
    // Nobody listens: a socket left by a process that died is removed.
    if (errno == ECONNREFUSED) ::unlink(path.c_str());
    return false;
  }
  ::close(fd);
  return true;
}

namespace {

// Sends one request line to the process listening at `path`; its answer line, "" when
// none came.
std::string AskInstance(const std::string& path, const std::string& request) {
  int fd = ConnectTo(path);
  if (fd < 0) return "";
  const std::string line = request + "\n";
  bool sent =
      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  std::string answer = sent ? ReadLine(fd) : "";
  ::close(fd);
  return answer;
}

}  // namespace

bool AskInstanceToRaise(const std::string& path) {
  return AskInstance(path, "raise") == "ok";
}

bool AskInstanceShows(const std::string& path, int id) {
  return AskInstance(path, "shows " + std::to_string(id)) == "yes";
}

}  // namespace handheld::window
