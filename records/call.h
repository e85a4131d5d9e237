// The call record: 13 columns from one call-log entry.
#pragma once

#include <cstdint>

#include "records/kinds.h"

constexpr int32_t kCallColumns = 13;

// Reads the next entry of job.callLog; the index is not used: entries come in order.
void WriteCallRecord(RecordContext& job, int32_t itemIndex);
