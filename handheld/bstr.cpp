// Counted strings: [uint32 byte length][code units][zero code unit].
#include "handheld/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "handheld/census_internal.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

std::atomic<long>& Live() {
  static std::atomic<long>* const live = handheld::internal::CensusCounter("bstr");
  return *live;
}

uint32_t* Header(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kPrefix);
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  size_t length = 0;
  while (text[length] != 0) ++length;
  if (length > UINT32_MAX / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  uint64_t bytes = uint64_t{length} * sizeof(OLECHAR);
  if (bytes > UINT32_MAX - kPrefix - sizeof(OLECHAR)) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  uint32_t byteLength = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byteLength, kPrefix);
  auto* result = reinterpret_cast<BSTR>(block + kPrefix);
  if (text != nullptr) {
    std::memcpy(result, text, bytes);
  } else {
    std::memset(result, 0, bytes);
  }
  result[length] = 0;
  Live().fetch_add(1, std::memory_order_relaxed);
  return result;
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  Live().fetch_sub(1, std::memory_order_relaxed);
  std::free(Header(text));
}

UINT SysStringLen(BSTR text) {
  return text == nullptr ? 0 : *Header(text) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR text) {
  return text == nullptr ? 0 : *Header(text);
}
