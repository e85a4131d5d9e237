// The census: process-wide live-object counters.
//
// Counters are created on first use and never removed, so a thread may keep a pointer
// to one; each thread caches the few categories it touches, which keeps CensusAdd off
// the lock in the hot paths (the store's COM objects).
//
// BSTRs are counted apart, in per-thread shares (see census_internal.h). A share that a
// thread gives back keeps its value, so the sum stays right, and the next new thread
// takes it over: there are never more shares than threads alive at once.
#include "handheld/census.h"

#include "handheld/census_internal.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

namespace handheld {
namespace {

struct BstrShare {
  std::atomic<long> value{0};  // first: a share is handed out as &value
  BstrShare* nextFree = nullptr;
};
static_assert(std::is_standard_layout_v<BstrShare>);

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::atomic<long>, std::less<>> counters;
  std::vector<BstrShare*> shares;  // every share ever made; never freed
  BstrShare* freeShares = nullptr;
  std::atomic<long> sharedBstrs{0};  // counted by threads that have ended
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: threads may outlive main
  return *registry;
}

// `literal`: the caller promises that `category` lives, unchanged, as long as the
// process (a string literal), so that its address alone finds it again.
std::atomic<long>* CounterFor(const char* category, bool literal) {
  struct CacheEntry {
    const char* literal;  // the caller's literal, or null
    const std::string* name;
    std::atomic<long>* counter;
  };
  constexpr int kCacheSize = 16;
  thread_local CacheEntry cache[kCacheSize] = {};
  thread_local int next = 0;
  if (literal) {
    for (const CacheEntry& entry : cache) {
      if (entry.literal == category) return entry.counter;
    }
  }
  for (const CacheEntry& entry : cache) {
    if (entry.name != nullptr && std::strcmp(entry.name->c_str(), category) == 0) {
      return entry.counter;
    }
  }
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.counters.find(std::string_view(category));
  if (it == registry.counters.end()) {
    it = registry.counters.try_emplace(category, 0).first;
  }
  cache[next] = CacheEntry{literal ? category : nullptr, &it->first, &it->second};
  next = (next + 1) % kCacheSize;
  return &it->second;
}

BstrShare* TakeShareLocked(Registry& registry) {
  BstrShare* share = registry.freeShares;
  if (share != nullptr) {
    registry.freeShares = share->nextFree;
    share->nextFree = nullptr;
  } else {
    share = new BstrShare;
    registry.shares.push_back(share);
  }
  return share;
}

long BstrTotal(Registry& registry) {  // registry.mutex held
  long total = registry.sharedBstrs.load(std::memory_order_relaxed);
  for (const BstrShare* share : registry.shares) {
    total += share->value.load(std::memory_order_relaxed);
  }
  return total;
}

std::string Format(const Census& census) {
  std::string text;
  for (const auto& [name, count] : census) {
    if (count == 0) continue;
    if (!text.empty()) text += ' ';
    text += name;
    text += '=';
    text += std::to_string(count);
  }
  return text;
}

}  // namespace

std::atomic<long>* internal::CensusCounter(const char* category) {
  return CounterFor(category, true);
}

std::atomic<long>* internal::TakeBstrShare() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return &TakeShareLocked(registry)->value;
}

void internal::GiveBackBstrShare(std::atomic<long>* share) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto* whole = reinterpret_cast<BstrShare*>(share);
  whole->nextFree = registry.freeShares;
  registry.freeShares = whole;
}

void internal::AddToSharedBstrCount(long delta) {
  TheRegistry().sharedBstrs.fetch_add(delta, std::memory_order_relaxed);
}

void CensusAdd(const char* category, long delta) {
  if (category == nullptr || delta == 0) return;
  CounterFor(category, false)->fetch_add(delta, std::memory_order_relaxed);
}

Census TakeCensus() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  Census census;
  for (const auto& [name, counter] : registry.counters) {
    long count = counter.load(std::memory_order_relaxed);
    if (count != 0) census.emplace(name, count);
  }
  if (long strings = BstrTotal(registry); strings != 0) census["bstr"] += strings;
  return census;
}

std::string CensusReport() {
  return Format(TakeCensus());
}

std::string CensusChange(const Census& before) {
  Census now = TakeCensus();
  Census change;
  for (const auto& [name, count] : now) change[name] += count;
  for (const auto& [name, count] : before) change[name] -= count;
  return Format(change);
}

}  // namespace handheld
