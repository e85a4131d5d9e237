// A private session bus and Evolution data server for a test program (see
// eds_test_support.h).
#include "handheld/eds/eds_test_support.h"

#include <gio/gio.h>
#include <libedataserver/libedataserver.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "handheld/process.h"
#include "handheld/testing/sandbox.h"

namespace handheld::eds::testing {
namespace {

constexpr const char* kUnset = "\1";

std::string Line(FILE* from) {
  char buffer[512];
  if (fgets(buffer, sizeof buffer, from) == nullptr) return "";
  std::string line(buffer);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

bool Session::Start(std::string* error) {
  char folder[] = "/tmp/quillmote-eds-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    *error = "no temporary folder";
    return false;
  }
  dir_ = folder;
  const std::pair<const char*, std::string> env[] = {
      {"XDG_CONFIG_HOME", dir_ + "/config"},
      {"XDG_DATA_HOME", dir_ + "/data"},
      {"XDG_CACHE_HOME", dir_ + "/cache"},
      {"GSETTINGS_BACKEND", "memory"},
      {"DBUS_SESSION_BUS_ADDRESS", ""},
  };
  for (const auto& [name, value] : env) {
    const char* old = getenv(name);
    saved_.emplace_back(name, old != nullptr ? old : kUnset);
    if (name != std::string("DBUS_SESSION_BUS_ADDRESS")) {
      std::filesystem::create_directories(value);
      setenv(name, value.c_str(), 1);
    }
  }
  // The forked daemon prints its address and pid, one line each, and the command ends.
  FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
  if (daemon == nullptr) {
    *error = "dbus-daemon cannot be started";
    return false;
  }
  address_ = Line(daemon);
  const std::string pid = Line(daemon);
  const int status = pclose(daemon);
  if (status != 0 || address_.empty() || pid.empty()) {
    *error = "dbus-daemon did not start (status " + std::to_string(status) + ")";
    address_.clear();
    return false;
  }
  bus_ = static_cast<pid_t>(std::stol(pid));
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  return true;
}

std::vector<pid_t> Session::Processes() const {
  std::vector<pid_t> found;
  if (address_.empty()) return found;
  const std::string mark = "DBUS_SESSION_BUS_ADDRESS=" + address_ + '\0';
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == getpid()) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t state = line.rfind(") ");
    if (state == std::string::npos || line.compare(state + 2, 1, "Z") == 0) continue;  // gone
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(environ)),
                           std::istreambuf_iterator<char>());
    if (pid == bus_ || text.find(mark) != std::string::npos) found.push_back(pid);
  }
  return found;
}

void Session::Stop() {
  if (bus_ > 0) {
    // GLib's shared connection ends the process when its bus goes away, unless told not to.
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(bus, FALSE);
      g_object_unref(bus);
    }
    std::vector<pid_t> left = Processes();
    kill(bus_, SIGTERM);
    for (pid_t pid : left) kill(pid, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(left = Processes()).empty() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (pid_t pid : left) kill(pid, SIGKILL);
    bus_ = -1;
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
  }
  for (const auto& [name, value] : saved_) {
    if (value == kUnset) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  saved_.clear();
}

Ran RunChild(std::vector<std::string> argv, std::vector<std::string> env,
             const std::string& input) {
  handheld::testing::Sandbox sandbox;
  ChildStart child;
  child.argv = std::move(argv);
  child.env = std::move(env);
  child.in = sandbox.path("in");
  child.out = sandbox.path("out");
  child.err = sandbox.path("err");
  handheld::testing::WriteFileBytes(child.in, input);
  const int status = WaitChild(StartChild(child), std::chrono::seconds(60));
  return {status, handheld::testing::ReadFileBytes(child.out),
          handheld::testing::ReadFileBytes(child.err)};
}

std::string AddAddressBook(const char* name, const char* backend) {
  GError* failure = nullptr;
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &failure);
  ESource* source = e_source_new(nullptr, nullptr, &failure);
  e_source_set_display_name(source, name);
  e_source_set_parent(source, "local-stub");
  e_source_backend_set_backend_name(
      E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK)), backend);
  std::string uid;
  if (e_source_registry_commit_source_sync(registry, source, nullptr, &failure)) {
    uid = e_source_get_uid(source);
  }
  g_clear_error(&failure);
  g_object_unref(source);
  g_object_unref(registry);
  return uid;
}

}  // namespace handheld::eds::testing
