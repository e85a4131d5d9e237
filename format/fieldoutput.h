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

// What the backup file cannot carry of a value, and so a load cannot give back. The
// load tells the first; a save tells the others, and writes the value as the file's
// layout has it all the same.
enum ValueLoss : uint32_t {
  LossFieldTooLong = 0,    // load: a field longer than its column takes was dropped
  LossDateOutOfRange = 1,  // a date outside the years the file holds: empty fields
  LossTimeOfDay = 2,       // the time of day of a date that the file holds as a day
  LossRecipientName = 3,   // a recipient's name beside its address (the address goes)
  LossSensitivity = 4,     // a sensitivity the load does not take (only 0 and 2)
  LossTextTooLong = 5,     // a text longer than its column takes on loading
  kValueLosses = 6,
};

struct FieldOutput {
  HANDLE file = INVALID_HANDLE_VALUE;
  RunFaultKind runFault = FaultNone;
  // The record's column (0-based) that the next field goes to; the field writers count
  // it on. Set to 0 before each record.
  int32_t column = 0;
  // Export: the longest text each column takes on loading (the kind's limit), or null
  // when the file is never loaded.
  int32_t (*columnLimit)(int32_t column) = nullptr;
  // What the record written so far could not carry: per cause, one bit per column
  // (columns above 63 share bit 63). Cleared before each record.
  uint64_t lostColumns[kValueLosses] = {};
  uint64_t bytesWritten = 0;  // by the field writers, since the job began
  char16_t lineBuffer[kLineBufferChars + 1] = {};
};

// Notes that the value of `column` (by default the one the next field goes to) loses
// `loss`.
inline void NoteLoss(FieldOutput& out, ValueLoss loss, int32_t column = -1) {
  if (column < 0) column = out.column;
  out.lostColumns[loss] |= uint64_t{1} << (column < 63 ? column : 63);
}
