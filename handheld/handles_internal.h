// Shared between the stand-in's file, thread and module code (not for the system).
//
// Every HANDLE given out is a HandleObject registered here; a handle is used only
// after Lookup finds it registered with the expected kind, so a stale or foreign value
// fails with ERROR_INVALID_HANDLE instead of touching freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "handheld/types.h"

namespace handheld::internal {

// Error codes the stand-in sets beside the public ones of files.h.
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INVALID_NAME = 123;

enum class HandleKind { kFile, kThread };

struct HandleObject {
  explicit HandleObject(HandleKind k) : kind(k) {}
  virtual ~HandleObject() = default;
  // CloseHandle, once the handle is out of the registry: gives back what the object
  // holds and deletes it.
  virtual BOOL Close() = 0;
  const HandleKind kind;
};

void RegisterHandle(HandleObject* object);

// The calling thread's last error (GetLastError).
extern constinit thread_local DWORD lastError;
// The registered object (null when unknown or of another kind) under the registry's
// lock; the calling thread remembers it.
HandleObject* LookupHandleLocked(HANDLE handle, HandleKind kind);

// Each thread remembers the last handle it found, with the registry's generation at
// that moment; every register and take bumps the generation (handles.cpp).
struct LastFound {
  uint64_t generation = 0;  // 0: nothing remembered
  HandleObject* object = nullptr;
  HandleKind kind = HandleKind::kFile;
};
extern constinit thread_local LastFound lastFound;
extern std::atomic<uint64_t> handleGeneration;

// The registered object, or null. The common case, the handle this thread found last
// with nothing registered or taken since, is answered in place.
inline HandleObject* LookupHandle(HANDLE handle, HandleKind kind) {
  if (handle != nullptr && handle == lastFound.object &&
      handleGeneration.load(std::memory_order_acquire) == lastFound.generation) {
    return lastFound.kind == kind ? lastFound.object : nullptr;
  }
  return LookupHandleLocked(handle, kind);
}

// UTF-16 up to the first zero to UTF-8; false for an unpaired surrogate.
bool WideToUtf8(LPCWSTR text, std::string* out);

}  // namespace handheld::internal
