// The call record: 13 columns from one call-log entry.
#pragma once

#include <cstdint>

constexpr int32_t kCallColumns = 13;

void WriteCallRecord(int32_t itemIndex);  // the index is not used: entries come in order
