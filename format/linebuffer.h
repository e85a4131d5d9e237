// The worker's shared working storage: LineBuffer, RunFault and the date under
// construction. Process-wide; used only by the worker thread while a job runs.
#pragma once

#include <cstdint>

#include "handheld/oledate.h"

// 61440 characters of text plus one position for the terminating zero.
constexpr int kLineBufferChars = 61440;
extern char16_t LineBuffer[kLineBufferChars + 1];

// The sticky fault of the record being exported; cleared before each record. Once set,
// every field writer of that record does nothing.
enum RunFaultKind : int32_t {
  FaultNone = 0,
  FaultRead = 1,   // a store property read failed
  FaultWrite = 2,  // a write to the backup file failed or wrote fewer bytes than asked
  FaultFetch = 3,  // the item or call-log entry cannot be fetched
};
extern int32_t RunFault;

// The date being built on import; seconds are always 0. Its product is BuiltDate.
struct DatePartSet {
  uint16_t day;
  uint16_t month;
  uint16_t year;
  uint16_t hour;
  uint16_t minute;
};
extern DatePartSet DateParts;
extern DATE BuiltDate;
