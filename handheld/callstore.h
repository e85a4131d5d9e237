// The call log's storage inside the store file, for the call-log library and the
// `handheld` tool. (The system itself reads calls only through phone.dll.)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace handheld {

struct CallEntryData {
  std::optional<std::u16string> number;  // nullopt: not set
  std::optional<std::u16string> name;
  std::optional<std::u16string> nameType;
  std::optional<std::u16string> note;
  uint64_t startTime = 0;  // FILETIME ticks (100 ns since 1601, UTC)
  uint64_t endTime = 0;
  int32_t iom = 0;
  bool outgoing = false;
  bool connected = false;
  bool ended = false;
  bool roam = false;
  int32_t callerIdType = 0;
};

// Each call opens the store file ($HANDHELD_STORE or the default), creating it when
// missing, and is one transaction. On failure returns false / nullopt with *error set.
bool AddCallEntry(const CallEntryData& entry, std::string* error);
// Newest start time first, ties in the order added.
std::optional<std::vector<CallEntryData>> LoadCallEntries(std::string* error);
bool ClearCallEntries(std::string* error);

}  // namespace handheld
