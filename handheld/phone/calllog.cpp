// The library's side of the four functions, shared by the call-log libraries loaded at
// run time as "phone.dll" (phone.so, gnomecalls.so); each takes its entries from its own
// source (source.h).
//
// An open call log is a snapshot of the entries its source gives at open. A read position
// walks it from the beginning; each PhoneGetCallLogEntry hands out the entry at the
// position and moves on. Handles are checked against the set of open logs, so a stale or
// foreign handle fails instead of crashing. A log that cannot be opened fails the open,
// and the reason is written to standard error. Only the four Phone* functions are exported.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "handheld/census.h"
#include "handheld/faults.h"
#include "handheld/phone.h"
#include "handheld/phone/source.h"

#define PHONE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CallLog {
  std::vector<handheld::CallEntryData> entries;
  size_t next = 0;  // index of the entry the next read hands out
};

struct OpenLogs {
  std::mutex mutex;
  std::set<CallLog*> logs;
};

OpenLogs& TheOpenLogs() {
  // Never destroyed, so usable until the process ends; built in the library's own storage,
  // so that unloading the library leaves nothing of it on the heap.
  alignas(OpenLogs) static unsigned char storage[sizeof(OpenLogs)];
  static OpenLogs* open = new (storage) OpenLogs;
  return *open;
}

// A copy of text on the local heap, zero-terminated; null for text that is not set.
bool CopyText(const std::optional<std::u16string>& text, PTSTR* out) {
  *out = nullptr;
  if (!text) return true;
  const size_t bytes = (text->size() + 1) * sizeof(char16_t);
  auto* copy = static_cast<char16_t*>(LocalAlloc(LMEM_FIXED, bytes));
  if (copy == nullptr) return false;
  std::memcpy(copy, text->data(), text->size() * sizeof(char16_t));
  copy[text->size()] = 0;
  *out = copy;
  return true;
}

FILETIME ToFileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

PHONE_EXPORT HRESULT PhoneOpenCallLog(HANDLE* log) {
  if (log == nullptr) return E_POINTER;
  *log = nullptr;
  if (handheld::FaultNext("calllog-open")) return E_FAIL;
  std::string error;
  std::optional<std::vector<handheld::CallEntryData>> entries =
      handheld::phone::LoadCallLog(&error);
  if (!entries) {
    // The system shows its own message for a log that does not open; why goes where a
    // person running it from a terminal sees it.
    std::fprintf(stderr, "Quillmote: the call log cannot be opened%s%s\n",
                 error.empty() ? "" : ": ", error.c_str());
    return E_FAIL;
  }
  auto* opened = new CallLog{std::move(*entries), 0};
  {
    OpenLogs& open = TheOpenLogs();
    std::lock_guard<std::mutex> lock(open.mutex);
    open.logs.insert(opened);
  }
  handheld::CensusAdd("calllog", 1);
  *log = opened;
  return S_OK;
}

PHONE_EXPORT HRESULT PhoneSeekCallLog(HANDLE log, DWORD seek, DWORD offset, DWORD* record) {
  OpenLogs& open = TheOpenLogs();
  std::lock_guard<std::mutex> lock(open.mutex);
  auto* callLog = static_cast<CallLog*>(log);
  if (open.logs.count(callLog) == 0) return E_INVALIDARG;
  const size_t size = callLog->entries.size();
  size_t target = 0;
  if (seek == CALLLOGSEEK_BEGINNING) {
    // The beginning of an empty log is a position too: reads from it fail.
    if (offset != 0 && offset >= size) return E_FAIL;
    target = offset;
  } else if (seek == CALLLOGSEEK_END) {
    if (offset >= size) return E_FAIL;  // also an empty log: it has no last record
    target = size - 1 - offset;
  } else {
    return E_INVALIDARG;
  }
  callLog->next = target;
  if (record != nullptr) *record = static_cast<DWORD>(target);
  return S_OK;
}

PHONE_EXPORT HRESULT PhoneGetCallLogEntry(HANDLE log, CALLLOGENTRY* entry) {
  OpenLogs& open = TheOpenLogs();
  std::lock_guard<std::mutex> lock(open.mutex);
  auto* callLog = static_cast<CallLog*>(log);
  if (open.logs.count(callLog) == 0) return E_INVALIDARG;
  if (handheld::FaultNext("calllog-entry")) return E_FAIL;
  if (entry == nullptr || entry->cbSize != kCallLogEntrySize) return E_INVALIDARG;
  if (callLog->next >= callLog->entries.size()) return E_FAIL;
  const handheld::CallEntryData& data = callLog->entries[callLog->next];

  PTSTR texts[4] = {};
  if (!CopyText(data.number, &texts[0]) || !CopyText(data.name, &texts[1]) ||
      !CopyText(data.nameType, &texts[2]) || !CopyText(data.note, &texts[3])) {
    for (PTSTR text : texts) LocalFree(text);
    return E_OUTOFMEMORY;
  }
  std::memset(reinterpret_cast<char*>(entry) + sizeof entry->cbSize, 0,
              sizeof *entry - sizeof entry->cbSize);
  entry->ftStartTime = ToFileTime(data.startTime);
  entry->ftEndTime = ToFileTime(data.endTime);
  entry->iom = data.iom;
  entry->fOutgoing = data.outgoing ? -1 : 0;
  entry->fConnected = data.connected ? -1 : 0;
  entry->fEnded = data.ended ? -1 : 0;
  entry->fRoam = data.roam ? -1 : 0;
  entry->cidt = data.callerIdType;
  entry->pszNumber = texts[0];
  entry->pszName = texts[1];
  entry->pszNameType = texts[2];
  entry->pszNote = texts[3];
  ++callLog->next;
  return S_OK;
}

PHONE_EXPORT HRESULT PhoneCloseCallLog(HANDLE log) {
  auto* callLog = static_cast<CallLog*>(log);
  {
    OpenLogs& open = TheOpenLogs();
    std::lock_guard<std::mutex> lock(open.mutex);
    if (open.logs.erase(callLog) == 0) return E_INVALIDARG;
  }
  delete callLog;
  handheld::CensusAdd("calllog", -1);
  return S_OK;
}

static_assert(std::is_same_v<decltype(&PhoneOpenCallLog), PhoneOpenCallLogFn>);
static_assert(std::is_same_v<decltype(&PhoneSeekCallLog), PhoneSeekCallLogFn>);
static_assert(std::is_same_v<decltype(&PhoneGetCallLogEntry), PhoneGetCallLogEntryFn>);
static_assert(std::is_same_v<decltype(&PhoneCloseCallLog), PhoneCloseCallLogFn>);
