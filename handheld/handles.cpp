// The handle registry and the conversions shared by files and modules.
#include <mutex>
#include <unordered_set>

#include "handheld/handles_internal.h"

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
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

}  // namespace handheld::internal
