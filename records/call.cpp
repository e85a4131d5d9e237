// The call record: 13 columns from one call-log entry, read in the log's own order.
#include "records/call.h"

#include <cstdint>

#include "format/linebuffer.h"
#include "format/writers.h"
#include "platform/calllog.h"

namespace {

// A call-log string as a text field: its code units up to its zero, escaped as every
// other text (a TAB or a line break in a number or a name must not split the record),
// then a TAB. A string that is not set is an empty field.
void WriteCallText(const char16_t* text) {
  BSTR copy = nullptr;
  HRESULT status = S_OK;
  if (text != nullptr && text[0] != 0) {
    copy = SysAllocString(text);
    if (copy == nullptr) status = E_OUTOFMEMORY;
  }
  status = EscapeText(status, &copy);
  WriteTextField(status, copy);
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void WriteCallRecord(int32_t /*itemIndex*/) {
  if (!ReadNextCallEntry()) {
    RunFault = FaultFetch;
    FreeCallEntryStrings();
    return;
  }
  WriteCallText(CallEntry.pszNumber);
  WriteTimestampField(CallEntry.ftStartTime);

  // Whole seconds, the fraction dropped; an end before the start counts as no time.
  const uint64_t start = Ticks(CallEntry.ftStartTime);
  const uint64_t end = Ticks(CallEntry.ftEndTime);
  const uint64_t seconds = end > start ? (end - start) / 10000000u : 0;
  const uint64_t minutes = seconds / 60;
  WriteLongField(S_OK, minutes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(minutes));
  WriteLongField(S_OK, static_cast<int32_t>(seconds % 60));

  WriteLongField(S_OK, CallEntry.iom);
  WriteLongField(S_OK, CallEntry.fConnected);  // a one-bit signed field: -1 or 0
  WriteCallText(CallEntry.pszName);
  WriteCallText(CallEntry.pszNameType);
  WriteChar(u'\r');
  WriteChar(u'\n');
  FreeCallEntryStrings();
}
