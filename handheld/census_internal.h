// Direct access to one census counter, for the stand-in's hottest paths (BSTRs, the
// store's COM objects).
//
// The counter lives as long as the process; callers may keep the pointer.
#pragma once

#include <atomic>

namespace handheld::internal {

std::atomic<long>* CensusCounter(const char* category);

}  // namespace handheld::internal
