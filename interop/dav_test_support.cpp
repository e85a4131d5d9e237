#include "interop/dav_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"

extern char** environ;

namespace interop::testing_support {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port on 127.0.0.1 that nothing listens on now (the kernel's choice, let go at once).
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// Makes /user/NAME/ as a CardDAV or CalDAV client makes it; prints the response status.
constexpr char kMakeCollection[] = R"(
import http.client, sys
port, kind, name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
c = http.client.HTTPConnection("127.0.0.1", port)
auth = {"Authorization": "Basic dXNlcjp1c2Vy"}
if kind == "addressbook":
    body = ('<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
            '<set><prop><resourcetype><collection/><C:addressbook/></resourcetype></prop></set>'
            '</mkcol>')
    c.request("MKCOL", "/user/%s/" % name, body, auth)
else:
    c.request("MKCALENDAR", "/user/%s/" % name, headers=auth)
print(c.getresponse().status)
)";

}  // namespace

RadicaleServer::RadicaleServer(const std::string& folder) : folder_(folder), port_(FreePort()) {
  std::vector<std::string> argStore = {"/usr/bin/radicale",
                                       "--config",
                                       "",
                                       "--storage-filesystem-folder=" + folder + "/collections",
                                       "--server-hosts=127.0.0.1:" + std::to_string(port_),
                                       "--auth-type=none",
                                       "--rights-type=owner_only",
                                       "--logging-level=warning"};
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (folder + "/radicale.log").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 200 && pid_ > 0 && !Accepts(port_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

RadicaleServer::~RadicaleServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

bool RadicaleServer::running() const {
  return pid_ > 0 && Accepts(port_);
}

std::string RadicaleServer::log() const {
  return handheld::testing::ReadFileBytes(folder_ + "/radicale.log");
}

std::string RadicaleServer::SyncUpAndBack(DavKind kind, const std::vector<std::string>& collections,
                                          const std::string& exported, const std::string& back,
                                          const std::string& work) const {
  const bool books = kind == DavKind::kAddressBooks;
  const std::string python = "/usr/bin/python3", script = work + "/make_collection.py";
  handheld::testing::WriteFileBytes(script, kMakeCollection);
  std::string names;
  for (const std::string& name : collections) {
    Ran made = RunProgram(
        work, {python, script, std::to_string(port_), books ? "addressbook" : "calendar", name});
    if (made.status != 0 || made.out != "201\n") {
      return "making " + name + ": status " + std::to_string(made.status) + ", " + made.out +
             made.err;
    }
    // vdirsyncer asks before it makes a folder of its own: the folders are there.
    std::filesystem::create_directories(back + "/" + name);
    names += (names.empty() ? "\"" : ", \"") + name + "\"";
  }

  const std::string extension = books ? ".vcf" : ".ics";
  auto folder = [&](const std::string& storage, const std::string& path) {
    return "[storage " + storage + "]\ntype = \"filesystem\"\npath = \"" + path +
           "/\"\nfileext = \"" + extension + "\"\n";
  };
  const std::string config = work + "/vdirsyncer.conf";
  handheld::testing::WriteFileBytes(
      config, "[general]\nstatus_path = \"" + work + "/status/\"\n" +
                  "[pair up]\na = \"exported\"\nb = \"server\"\ncollections = [" + names +
                  "]\n[pair down]\na = \"server\"\nb = \"back\"\ncollections = [" + names + "]\n" +
                  folder("exported", exported) + folder("back", back) +
                  "[storage server]\ntype = \"" + (books ? "carddav" : "caldav") +
                  "\"\nurl = \"http://127.0.0.1:" + std::to_string(port_) +
                  "/user/\"\nusername = \"user\"\npassword = \"user\"\n");
  for (const char* step : {"discover", "sync"}) {
    for (const char* pair : {"up", "down"}) {
      Ran ran =
          RunProgram(work, {"/usr/bin/vdirsyncer", "-c", config, step, pair}, {"HOME=" + work});
      if (ran.status != 0 || ran.out.find("error") != std::string::npos ||
          ran.err.find("error") != std::string::npos) {
        return std::string("vdirsyncer ") + step + " " + pair + ": status " +
               std::to_string(ran.status) + "\n" + ran.out + ran.err;
      }
    }
  }
  return "";
}

}  // namespace interop::testing_support
