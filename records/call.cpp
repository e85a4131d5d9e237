// The call record: 13 columns from one call-log entry, read in the log's own order.
#include "records/call.h"

#include <cstdint>

#include "format/writers.h"
#include "platform/calllog.h"

namespace {

// A call-log string as a text field: its code units up to its zero, escaped as every
// other text (a TAB or a line break in a number or a name must not split the record),
// then a TAB. A string that is not set is an empty field.
void WriteCallText(FieldOutput& out, const char16_t* text) {
  BSTR copy = nullptr;
  HRESULT status = S_OK;
  if (text != nullptr && text[0] != 0) {
    copy = SysAllocString(text);
    if (copy == nullptr) status = E_OUTOFMEMORY;
  }
  status = EscapeText(status, &copy);
  WriteTextField(out, status, copy);
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

void WriteCallRecord(RecordContext& job, int32_t /*itemIndex*/) {
  CallLog& log = job.callLog;
  if (!ReadNextCallEntry(log)) {
    job.runFault = FaultFetch;
    FreeCallEntryStrings(log);
    return;
  }
  const CALLLOGENTRY& entry = log.entry;
  WriteCallText(job, entry.pszNumber);
  WriteTimestampField(job, entry.ftStartTime);

  // Whole seconds, the fraction dropped; an end before the start counts as no time.
  const uint64_t start = Ticks(entry.ftStartTime);
  const uint64_t end = Ticks(entry.ftEndTime);
  const uint64_t seconds = end > start ? (end - start) / 10000000u : 0;
  const uint64_t minutes = seconds / 60;
  WriteLongField(job, S_OK, minutes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(minutes));
  WriteLongField(job, S_OK, static_cast<int32_t>(seconds % 60));

  WriteLongField(job, S_OK, entry.iom);
  WriteLongField(job, S_OK, entry.fConnected);  // a one-bit signed field: -1 or 0
  WriteCallText(job, entry.pszName);
  WriteCallText(job, entry.pszNameType);
  WriteChar(job, u'\r');
  WriteChar(job, u'\n');
  FreeCallEntryStrings(log);
}
