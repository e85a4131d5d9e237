// Counted strings: [uint32 byte length][code units][zero code unit].
//
// Each thread keeps a few freed blocks of the small sizes for its next strings, as the
// platform's own string allocator does: a store getter hands out a fresh string for
// every property read and the reader frees it at once, so in an export nearly every
// string reuses the block of the one before. Measured on Contacts/Export/10000
// (December 2026; callgrind on the worker thread, and interleaved runs of the case with
// and without): without the kept blocks the export takes 60 million more user-space
// instructions (a quarter more) and 1 to 5% more CPU time (medians of 25 to 35 runs
// on a quiet machine and of 12 pairs under load, +4.6% and +5.3% by run, +1.4% by
// pair); at 100,000 contacts the kernel's side of the writes hides the difference in
// this machine's noise.
// Sanitizer builds keep no blocks, so that a string used after it was freed is caught.
#include "handheld/bstr.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "handheld/census_internal.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HANDHELD_NO_STRING_CACHE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define HANDHELD_NO_STRING_CACHE 1
#endif
#endif
#ifdef HANDHELD_NO_STRING_CACHE
constexpr int kKeptPerSize = 0;
#else
constexpr int kKeptPerSize = 8;
#endif

// Blocks of up to kSizes × kGrain bytes are kept, by size rounded up to kGrain.
constexpr size_t kGrain = 32;
constexpr size_t kSizes = 8;

struct KeptBlock {
  KeptBlock* next;
};

// The thread's kept blocks. Trivially destructible, so reaching it costs nothing; the
// thread's ThreadEnd (made at its first string) frees them at its end.
struct ThreadStrings {
  enum State : unsigned char { kUnused, kLive, kEnded };
  State state;
  KeptBlock* kept[kSizes];
  unsigned char keptCount[kSizes];
};
thread_local ThreadStrings strings;

struct ThreadEnd {
  ~ThreadEnd() {
    for (KeptBlock*& list : strings.kept) {
      while (list != nullptr) {
        KeptBlock* next = list->next;
        std::free(list);
        list = next;
      }
    }
    strings.state = ThreadStrings::kEnded;
  }
};
thread_local ThreadEnd threadEnd;

[[gnu::noinline]] void StartThreadStrings() {
  strings.state = ThreadStrings::kLive;
  (void)&threadEnd;  // makes the thread's ThreadEnd, which registers its destructor
}

// Counts one string more (+1) or less (-1).
inline void Count(long delta) {
  handheld::internal::liveBstrs.fetch_add(delta, std::memory_order_relaxed);
}

uint32_t* Header(BSTR text) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - kPrefix);
}

// The size class of a string of `bytes` bytes, kSizes when it is not kept.
size_t SizeClass(uint64_t bytes) {
  return static_cast<size_t>((kPrefix + bytes + sizeof(OLECHAR) - 1) / kGrain);
}

// Lays out a string of `length` code units in `block`, big enough for it; zeros when
// text is null.
inline BSTR Fill(char* block, const OLECHAR* text, UINT length) {
  const uint32_t byteLength = length * static_cast<uint32_t>(sizeof(OLECHAR));
  std::memcpy(block, &byteLength, kPrefix);
  auto* result = reinterpret_cast<BSTR>(block + kPrefix);
  if (text != nullptr) {
    std::memcpy(result, text, byteLength);
  } else {
    std::memset(result, 0, byteLength);
  }
  result[length] = 0;
  return result;
}

// Allocation without a kept block at hand: a new block, or none at all.
[[gnu::noinline]] BSTR AllocateAnew(const OLECHAR* text, UINT length) {
  uint64_t bytes = uint64_t{length} * sizeof(OLECHAR);
  if (bytes > UINT32_MAX - kPrefix - sizeof(OLECHAR)) return nullptr;
  const size_t size = SizeClass(bytes);
  // A small block is made at its class's full size, so that it can be kept.
  const size_t blockBytes =
      size < kSizes && kKeptPerSize > 0 ? (size + 1) * kGrain : kPrefix + bytes + sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(blockBytes));
  if (block == nullptr) return nullptr;
  if (strings.state == ThreadStrings::kUnused) StartThreadStrings();
  Count(1);
  return Fill(block, text, length);
}

// A free that keeps no block: a large string, a full keep, a thread that has made no
// string yet or has ended.
[[gnu::noinline]] void FreeAway(uint32_t* block) {
  Count(-1);
  std::free(block);
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
  // The common case first: a kept block of the right size, on a thread still running.
  const uint64_t bytes = uint64_t{length} * sizeof(OLECHAR);
  const size_t size = SizeClass(bytes);
  if (size >= kSizes || strings.state != ThreadStrings::kLive || strings.kept[size] == nullptr ||
      text == nullptr) {
    return AllocateAnew(text, length);
  }
  KeptBlock* kept = strings.kept[size];
  strings.kept[size] = kept->next;
  --strings.keptCount[size];
  Count(1);
  return Fill(reinterpret_cast<char*>(kept), text, length);
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  uint32_t* block = Header(text);
  const size_t size = SizeClass(*block);
  if (size < kSizes && strings.state == ThreadStrings::kLive &&
      strings.keptCount[size] < kKeptPerSize) {
    auto* kept = reinterpret_cast<KeptBlock*>(block);
    kept->next = strings.kept[size];
    strings.kept[size] = kept;
    ++strings.keptCount[size];
    Count(-1);
    return;
  }
  FreeAway(block);
}
