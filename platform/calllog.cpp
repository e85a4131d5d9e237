// The phone's call log through "phone.dll". Every library function is looked up by
// name at each use; a function the library lacks counts as a call that failed.
#include "platform/calllog.h"

#include "handheld/modules.h"

namespace {

template <typename Function>
Function LookUp(const CallLog& log, const char* name) {
  if (log.library == nullptr) return nullptr;
  return reinterpret_cast<Function>(GetProcAddress(log.library, name));
}

void FreeLocalString(PTSTR* text) {
  if (*text == nullptr) return;
  LocalFree(*text);
  *text = nullptr;
}

}  // namespace

void LoadCallLogLibrary(CallLog& log) {
  if (log.library == nullptr) log.library = LoadLibraryW(u"phone.dll");
}

bool CallLogLibraryLoaded(const CallLog& log) {
  return log.library != nullptr;
}

int32_t CountCallLog(CallLog& log) {
  if (log.library == nullptr) return 0;
  CloseCallLog(log);  // a log left open by an earlier count is not leaked
  auto open = LookUp<PhoneOpenCallLogFn>(log, "PhoneOpenCallLog");
  HANDLE handle = nullptr;
  if (open == nullptr || open(&handle) != S_OK) {
    log.handle = nullptr;
    return -1;
  }
  log.handle = handle;
  log.open = true;

  int32_t count = 0;
  auto seek = LookUp<PhoneSeekCallLogFn>(log, "PhoneSeekCallLog");
  DWORD last = 0;
  if (seek != nullptr && seek(log.handle, CALLLOGSEEK_END, 0, &last) == S_OK) {
    count = last >= 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(last + 1);
  }
  seek = LookUp<PhoneSeekCallLogFn>(log, "PhoneSeekCallLog");
  if (seek != nullptr) seek(log.handle, CALLLOGSEEK_BEGINNING, 0, &last);
  return count;
}

bool CallLogOpen(const CallLog& log) {
  return log.open;
}

bool ReadNextCallEntry(CallLog& log) {
  if (!log.open) return false;
  auto get = LookUp<PhoneGetCallLogEntryFn>(log, "PhoneGetCallLogEntry");
  if (get == nullptr) return false;
  // Start from a clean record: strings of an earlier entry are not leaked, and a failed
  // read never leaves stale pointers behind to free.
  FreeCallEntryStrings(log);
  log.entry = CALLLOGENTRY{};
  log.entry.cbSize = kCallLogEntrySize;
  return get(log.handle, &log.entry) == S_OK;
}

void FreeCallEntryStrings(CallLog& log) {
  FreeLocalString(&log.entry.pszNumber);
  FreeLocalString(&log.entry.pszName);
  FreeLocalString(&log.entry.pszNameType);
  FreeLocalString(&log.entry.pszNote);
}

void CloseCallLog(CallLog& log) {
  if (!log.open) return;
  auto close = LookUp<PhoneCloseCallLogFn>(log, "PhoneCloseCallLog");
  if (close != nullptr) close(log.handle);
  log.handle = nullptr;
  log.open = false;
}

void UnloadCallLogLibrary(CallLog& log) {
  CloseCallLog(log);
  if (log.library == nullptr) return;
  FreeLibrary(log.library);
  log.library = nullptr;
}
