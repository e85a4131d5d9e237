// Where the field writers append a record: the open backup file, the record's sticky
// fault, and the scratch line that numbers, dates and runs of empty fields are formatted
// into. The same line holds a field's text on import. One per job, owned by the thread
// that runs the job; nothing here is shared.
#pragma once

#include <cstdint>

#include "handheld/files.h"

// 61440 characters of text plus one position for the terminating zero.
constexpr int kLineBufferChars = 61440;

// The sticky fault of the record being written; cleared before each record. Once set,
// every field writer of that record does nothing.
enum RunFaultKind : int32_t {
  FaultNone = 0,
  FaultRead = 1,   // a store property read failed
  FaultWrite = 2,  // a write to the backup file failed or wrote fewer bytes than asked
  FaultFetch = 3,  // the item or call-log entry cannot be fetched
};

struct FieldOutput {
  HANDLE file = INVALID_HANDLE_VALUE;
  RunFaultKind runFault = FaultNone;
  char16_t lineBuffer[kLineBufferChars + 1] = {};
};
