// Live-object accounting.
//
// The stand-in counts everything it hands out that its receiver must give back:
// COM objects per class ("com:Contact", "com:Folder", ...), BSTRs ("bstr"), local-heap
// blocks ("local"), open files ("file"), loaded modules ("module"), live threads
// ("thread", from creation until the thread has ended and its handle is closed) and
// open call logs ("calllog"). Tests read the census before and after a scenario.
#pragma once

#include <map>
#include <string>

namespace handheld {

using Census = std::map<std::string, long>;  // only non-zero entries

Census TakeCensus();

// "" when every count is zero, else "bstr=2 com:Contact=1" (sorted by name).
std::string CensusReport();
// What changed from `before` to now, in the same form; "" when nothing did.
std::string CensusChange(const Census& before);

// For the stand-in's own components.
void CensusAdd(const char* category, long delta);

}  // namespace handheld
