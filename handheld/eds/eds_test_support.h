// Test support: a private session bus, and with it a private Evolution data server, for
// one test program.
//
// Contract:
// - Start makes a temporary folder, points XDG_CONFIG_HOME, XDG_DATA_HOME and
//   XDG_CACHE_HOME into it, takes GSettings into memory (GSETTINGS_BACKEND=memory: the
//   defaults are the built-in sources), starts a session dbus-daemon and sets
//   DBUS_SESSION_BUS_ADDRESS to it. The data server's processes are started by the bus
//   when first called, with that environment; the built-in sources
//   "system-address-book", "system-calendar" and "system-task-list" exist from the start.
//   False, with the reason in *error, when the bus cannot be started.
// - Stop (also run by the destructor) ends the bus and every process started from it
//   (those that carry its address), waiting for them and killing what is left after a
//   few seconds, removes the folder and restores the environment. Stop first tells
//   GLib's shared connection to the bus not to end this process when the bus goes.
// - GLib keeps one session-bus connection per process: start one session per test
//   program (a gtest Environment), before anything reaches the bus.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace handheld::eds::testing {

class Session {
 public:
  Session() = default;
  ~Session() { Stop(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Start(std::string* error);
  void Stop();

  const std::string& dir() const { return dir_; }
  const std::string& address() const { return address_; }
  // The processes started from the bus that are still running (the bus's own included).
  std::vector<pid_t> Processes() const;

 private:
  std::string dir_;
  std::string address_;
  pid_t bus_ = -1;
  std::vector<std::pair<std::string, std::string>> saved_;  // name, value ("\1": unset)
};

struct Ran {
  int status;  // the exit status, or 128 + the signal that ended it
  std::string out, err;
};
// Runs `argv` (argv[0] the program's path) with `env` added and `input` on standard input;
// killed after 60 s.
Ran RunChild(std::vector<std::string> argv, std::vector<std::string> env = {},
             const std::string& input = "");

// Adds an address book called `name` of `backend` through a registry of its own; its UID
// ("" when it could not be added).
std::string AddAddressBook(const char* name, const char* backend = "local");

}  // namespace handheld::eds::testing
