// Run-time modules: "name.dll" is the shared object "name.so" in the module folder
// (but for "phone.dll" with the desktop's store, below).
#include "handheld/modules.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "handheld/census.h"
#include "handheld/files.h"
#include "handheld/handles_internal.h"

namespace {

using handheld::internal::ERROR_INVALID_NAME;
using handheld::internal::ERROR_INVALID_PARAMETER;

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;

struct Loaded {
  std::mutex mutex;
  std::map<void*, long> handles;  // dlopen handle -> loads not yet freed
};

Loaded& TheLoaded() {
  static Loaded* loaded = new Loaded;
  return *loaded;
}

// An installed program keeps its modules in a folder of their own, at this path from
// the program's folder; the build tree keeps them beside the programs.
#ifndef HANDHELD_INSTALLED_MODULE_DIR
#define HANDHELD_INSTALLED_MODULE_DIR "../lib/quillmote"
#endif

// The folders that modules come from, in order: HANDHELD_MODULE_DIR alone when set, else
// the running program's own folder (where its link points, not the link's folder) and
// then the installed module folder relative to it.
std::vector<std::string> ModuleDirs() {
  const char* dir = std::getenv("HANDHELD_MODULE_DIR");
  if (dir != nullptr && dir[0] != 0) return {dir};
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return {"."};
  std::string path(exe, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "" : path.substr(0, slash);
  return {folder.empty() ? "/" : folder, folder + "/" + HANDHELD_INSTALLED_MODULE_DIR};
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

bool EndsWithDll(const std::string& name) {
  return name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".dll";
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name) {
  std::string file;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Only plain names: the module folder is the one place modules come from.
  if (!handheld::internal::WideToUtf8(name, &file) || file.empty() ||
      file.find('/') != std::string::npos || file == "." || file == "..") {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  // "phone.dll" and "phone" name phone.so; a name with another extension is taken as is.
  if (EndsWithDll(file)) {
    file.resize(file.size() - 4);
    file += ".so";
  } else if (file.find('.') == std::string::npos) {
    file += ".so";
  }
  // GNOME Calls' history is the call log that goes with the desktop's own address book:
  // with that store (HANDHELD_STORE=eds:...) "phone.dll" is gnomecalls.so.
  const char* store = std::getenv("HANDHELD_STORE");
  if (Lower(file) == "phone.so" && store != nullptr && std::strncmp(store, "eds:", 4) == 0) {
    file = "gnomecalls.so";
  }
  // Module names are case-blind on the handheld: "Phone.dll" finds phone.so too.
  std::string path;
  for (const std::string& dir : ModuleDirs()) {
    for (const std::string& name : {file, Lower(file)}) {
      struct stat info;
      std::string candidate = dir + "/" + name;
      if (path.empty() && stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        path = candidate;
      }
    }
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  {
    Loaded& loaded = TheLoaded();
    std::lock_guard<std::mutex> lock(loaded.mutex);
    ++loaded.handles[handle];
  }
  handheld::CensusAdd("module", 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<HMODULE>(handle);
}

namespace handheld {

void* LoadResidentModule(const std::string& file, std::string* error) {
  std::string path;
  struct stat info;
  for (const std::string& dir : ModuleDirs()) {
    std::string candidate = dir + "/" + file;
    if (path.empty() && stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      path = candidate;
    }
  }
  if (path.empty()) {
    *error = "the module " + file + " is not in " + ModuleDirs().front();
    return nullptr;
  }
  // Never unloaded: the libraries it brings register types that outlive any one use.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown reason");
  }
  return handle;
}

}  // namespace handheld

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  {
    Loaded& loaded = TheLoaded();
    std::lock_guard<std::mutex> lock(loaded.mutex);
    if (loaded.handles.count(module) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC procedure;
  static_assert(sizeof procedure == sizeof symbol);
  std::memcpy(&procedure, &symbol, sizeof procedure);
  return procedure;
}

BOOL FreeLibrary(HMODULE module) {
  {
    Loaded& loaded = TheLoaded();
    std::lock_guard<std::mutex> lock(loaded.mutex);
    auto it = loaded.handles.find(module);
    if (it == loaded.handles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) loaded.handles.erase(it);
  }
  dlclose(module);
  handheld::CensusAdd("module", -1);
  return TRUE;
}
