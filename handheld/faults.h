// Fault injection at chosen calls, for tests and for the executables.
//
// A fault list is comma-separated points, each failing once, at its N-th occurrence
// in the process (N counts from 1; without N the first occurrence fails):
//   logon, folder, items            IPOutlookApp::Logon, GetDefaultFolder, IFolder::get_Items
//   item:N                          the collection's Item for index N
//   remove:N  create:N  save:N      the N-th Remove, CreateItem, item Save
//   read:PROPERTY:N                 a getter of PROPERTY on the N-th item fetched with Item
//   pattern:N                       GetRecurrencePattern of the N-th item fetched with Item
//   write:N  shortwrite:N           the N-th file write fails / writes one byte less
//   readfile:N                      the N-th file read fails
//   calllog-open  calllog-entry:N   PhoneOpenCallLog / the N-th PhoneGetCallLogEntry
//   thread                          the next CreateThread
//   replace:N                       the N-th ReplaceFileW
//   keep:N                          the N-th file of removed items (itemkeeping.h)
//   addgroup:N                      the N-th group of adds a store makes in one call
//                                   (storebatch.h; nothing of the group is made)
// The same list comes from the environment variable HANDHELD_FAULTS.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

namespace handheld {

// Replaces the armed list and resets every occurrence counter. Returns false, arms
// nothing and explains in *error when a point is unknown or malformed.
bool ArmFaults(std::string_view list, std::string* error);
// Arms HANDHELD_FAULTS (nothing when unset). Executables call it at start and refuse
// to run when it returns false.
bool ArmFaultsFromEnvironment(std::string* error);
void ClearFaults();

// Counts one occurrence of `point` ("write", "create", "logon", ...) and tells whether
// an armed fault fires at it.
bool FaultNext(std::string_view point);
// For points whose N is not an occurrence count: `point` at index/ordinal n
// ("item" with the requested index; "read:FirstName" or "pattern" with the fetch
// ordinal of the item).
bool FaultAt(std::string_view point, long n);
namespace internal {
extern std::atomic<bool> anyFaultArmed;
}
// Whether any fault is armed at all: lets a hot path skip naming its point.
inline bool FaultsArmed() {
  return internal::anyFaultArmed.load(std::memory_order_relaxed);
}
// std::fopen(path, "rb") whose every read from the file counts the point readfile:N; a
// read that fails there fails with EIO (ferror then holds).
std::FILE* OpenForReading(const std::string& path);
// Ordinal of the next successful Item fetch (1, 2, ...); reset by ArmFaults/ClearFaults.
long NextFetchOrdinal();

}  // namespace handheld
