// The phone's call log through "phone.dll". Every library function is looked up by
// name at each use; a function the library lacks counts as a call that failed.
#include "platform/calllog.h"

#include "handheld/modules.h"

CALLLOGENTRY CallEntry;

namespace {

HMODULE phoneLibrary = nullptr;
HANDLE callLog = nullptr;
bool callLogOpen = false;

template <typename Function>
Function LookUp(const char* name) {
  if (phoneLibrary == nullptr) return nullptr;
  return reinterpret_cast<Function>(GetProcAddress(phoneLibrary, name));
}

void FreeLocalString(PTSTR* text) {
  if (*text == nullptr) return;
  LocalFree(*text);
  *text = nullptr;
}

}  // namespace

void LoadCallLogLibrary() {
  if (phoneLibrary == nullptr) phoneLibrary = LoadLibraryW(u"phone.dll");
}

bool CallLogLibraryLoaded() {
  return phoneLibrary != nullptr;
}

int32_t CountCallLog() {
  if (phoneLibrary == nullptr) return 0;
  CloseCallLog();  // a log left open by an earlier count is not leaked
  auto open = LookUp<PhoneOpenCallLogFn>("PhoneOpenCallLog");
  HANDLE log = nullptr;
  if (open == nullptr || open(&log) != S_OK) {
    callLog = nullptr;
    return -1;
  }
  callLog = log;
  callLogOpen = true;

  int32_t count = 0;
  auto seek = LookUp<PhoneSeekCallLogFn>("PhoneSeekCallLog");
  DWORD last = 0;
  if (seek != nullptr && seek(callLog, CALLLOGSEEK_END, 0, &last) == S_OK) {
    count = last >= 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(last + 1);
  }
  seek = LookUp<PhoneSeekCallLogFn>("PhoneSeekCallLog");
  if (seek != nullptr) seek(callLog, CALLLOGSEEK_BEGINNING, 0, &last);
  return count;
}

bool CallLogOpen() {
  return callLogOpen;
}

bool ReadNextCallEntry() {
  if (!callLogOpen) return false;
  auto get = LookUp<PhoneGetCallLogEntryFn>("PhoneGetCallLogEntry");
  if (get == nullptr) return false;
  // Start from a clean record: strings of an earlier entry are not leaked, and a failed
  // read never leaves stale pointers behind to free.
  FreeCallEntryStrings();
  CallEntry = CALLLOGENTRY{};
  CallEntry.cbSize = kCallLogEntrySize;
  return get(callLog, &CallEntry) == S_OK;
}

void FreeCallEntryStrings() {
  FreeLocalString(&CallEntry.pszNumber);
  FreeLocalString(&CallEntry.pszName);
  FreeLocalString(&CallEntry.pszNameType);
  FreeLocalString(&CallEntry.pszNote);
}

void CloseCallLog() {
  if (!callLogOpen) return;
  auto close = LookUp<PhoneCloseCallLogFn>("PhoneCloseCallLog");
  if (close != nullptr) close(callLog);
  callLog = nullptr;
  callLogOpen = false;
}

void UnloadCallLogLibrary() {
  CloseCallLog();
  if (phoneLibrary == nullptr) return;
  FreeLibrary(phoneLibrary);
  phoneLibrary = nullptr;
}
