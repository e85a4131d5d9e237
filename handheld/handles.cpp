// The handle registry and the conversions shared by files and modules.
#include <mutex>
#include <unordered_set>

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

void RegisterHandle(HandleObject* object) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.live.insert(object);
}

HandleObject* TakeHandle(HANDLE handle, HandleKind kind) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(static_cast<HandleObject*>(handle));
  if (it == registry.live.end() || (*it)->kind != kind) return nullptr;
  HandleObject* object = *it;
  registry.live.erase(it);
  return object;
}

HandleObject* LookupHandle(HANDLE handle, HandleKind kind) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.live.find(static_cast<HandleObject*>(handle));
  if (it == registry.live.end() || (*it)->kind != kind) return nullptr;
  return *it;
}

bool WideToUtf8(LPCWSTR text, std::string* out) {
  out->clear();
  if (text == nullptr) return false;
  bool wellFormed = false;
  *out = Utf8FromUtf16(text, &wellFormed);
  return wellFormed;
}

}  // namespace handheld::internal
