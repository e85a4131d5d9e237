// The handle registry, CloseHandle, the last error, and the conversions shared by files
// and modules.
//
// Every write and read looks its handle up, so each thread remembers the last handle it
// validated together with the registry's generation at that moment. Any register or
// take bumps the generation, so a remembered handle is trusted only while the registry
// is exactly as it was when the handle was found in it; a closed handle (or a new object
// at a freed address) always goes back through the locked lookup.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "handheld/handles.h"
#include "handheld/handles_internal.h"
#include "handheld/utf16.h"

namespace handheld::internal {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_set<HandleObject*> live;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

// Changed (under the registry's mutex) by every register and take; starts above the
// cache's zero.
std::atomic<uint64_t> handleGeneration{1};
constinit thread_local LastFound lastFound;

void RegisterHandle(HandleObject* object) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.live.insert(object);
  handleGeneration.fetch_add(1, std::memory_order_release);
}

constinit thread_local DWORD lastError = ERROR_SUCCESS;

HandleObject* LookupHandleLocked(HANDLE handle, HandleKind kind) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(static_cast<HandleObject*>(handle));
  if (it == registry.live.end()) return nullptr;
  lastFound = LastFound{handleGeneration.load(std::memory_order_relaxed), *it, (*it)->kind};
  return (*it)->kind == kind ? *it : nullptr;
}

bool WideToUtf8(LPCWSTR text, std::string* out) {
  out->clear();
  if (text == nullptr) return false;
  bool wellFormed = false;
  *out = Utf8FromUtf16(text, &wellFormed);
  return wellFormed;
}

}  // namespace handheld::internal

BOOL CloseHandle(HANDLE handle) {
  using handheld::internal::HandleObject;
  HandleObject* object = nullptr;
  {
    // Out of the registry first: after this no other thread can find it.
    handheld::internal::Registry& registry = handheld::internal::TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.live.find(static_cast<HandleObject*>(handle));
    if (it != registry.live.end()) {
      object = *it;
      registry.live.erase(it);
      handheld::internal::handleGeneration.fetch_add(1, std::memory_order_release);
    }
  }
  if (object == nullptr) {
    handheld::internal::lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  return object->Close();
}

DWORD GetLastError() {
  return handheld::internal::lastError;
}

void SetLastError(DWORD error) {
  handheld::internal::lastError = error;
}
