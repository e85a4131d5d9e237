// A Radicale server on 127.0.0.1, started for one test and stopped with it, and
// vdirsyncer taking exported folders up to it and back down: the way a user's CardDAV or
// CalDAV account meets the files that `handheld export` writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace interop::testing_support {

enum class DavKind { kAddressBooks, kCalendars };

class RadicaleServer {
 public:
  // Starts the server (no authentication; its collections and log in `folder`) and waits
  // up to 10 s for it to answer.
  explicit RadicaleServer(const std::string& folder);
  ~RadicaleServer();
  RadicaleServer(const RadicaleServer&) = delete;
  RadicaleServer& operator=(const RadicaleServer&) = delete;

  bool running() const;
  std::string log() const;

  // Makes each of `collections` on the server as a client makes it (an address book or a
  // calendar), syncs the folders `exported`/NAME/ up to them and then down into
  // `back`/NAME/, with vdirsyncer's configuration and status in `work`. "" when every step
  // went through, else the step and what it printed.
  std::string SyncUpAndBack(DavKind kind, const std::vector<std::string>& collections,
                            const std::string& exported, const std::string& back,
                            const std::string& work) const;

 private:
  std::string folder_;
  int port_;
  pid_t pid_ = -1;
};

}  // namespace interop::testing_support
