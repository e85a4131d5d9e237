// Direct access to the census counters, for the stand-in's hottest paths (BSTRs, the
// store's COM objects).
//
// The counter lives as long as the process; callers may keep the pointer.
#pragma once

#include <atomic>

namespace handheld::internal {

// `category` is a string literal: the thread's cache finds it again by its address.
std::atomic<long>* CensusCounter(const char* category);

// Live BSTRs, changed by every string made or freed (bstr.cpp); TakeCensus reports it
// as "bstr".
extern constinit std::atomic<long> liveBstrs;

}  // namespace handheld::internal
