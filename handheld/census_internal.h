// Direct access to one census counter, for the stand-in's hottest paths (BSTRs, the
// store's COM objects).
//
// The counter lives as long as the process; callers may keep the pointer.
#pragma once

#include <atomic>

namespace handheld::internal {

// `category` is a string literal: the thread's cache finds it again by its address.
std::atomic<long>* CensusCounter(const char* category);

// The BSTR count changes twice per string, millions of times in an export, so each
// thread keeps its own share of it, which only that thread writes: a change is a plain
// load and store, no locked instruction. TakeCensus adds every share, and the shared
// counter below, to "bstr". A string may be freed on another thread than the one that
// made it; the shares then simply differ in sign.
//
// A thread takes a share at its first string and gives it back when it ends; past that
// point it counts with AddToSharedBstrCount.
std::atomic<long>* TakeBstrShare();
void GiveBackBstrShare(std::atomic<long>* share);
void AddToSharedBstrCount(long delta);

}  // namespace handheld::internal
