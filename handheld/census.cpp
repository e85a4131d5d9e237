// The census: process-wide live-object counters.
//
// Counters are created on first use and never removed, so a thread may keep a pointer
// to one; each thread caches the few categories it touches, which keeps CensusAdd off
// the lock in the hot paths (the store's COM objects). BSTRs are counted apart, in
// one counter of their own (census_internal.h).
#include "handheld/census.h"

#include "handheld/census_internal.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace handheld {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::atomic<long>, std::less<>> counters;
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

constinit std::atomic<long> internal::liveBstrs{0};

std::atomic<long>* internal::CensusCounter(const char* category) {
  return CounterFor(category, true);
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
  if (long strings = internal::liveBstrs.load(std::memory_order_relaxed); strings != 0) {
    census["bstr"] += strings;
  }
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
