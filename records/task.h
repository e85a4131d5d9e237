// The task record: 28 columns, the recurrence block at columns 9 to 21.
#pragma once

#include <cstdint>

constexpr int32_t kTaskColumns = 28;

void WriteTaskRecord(int32_t itemIndex);
int32_t TaskColumnLimit(int32_t column);
bool TaskRecordStarted();
bool StartTaskRecord();
void ApplyTaskColumn(int32_t column);
bool EndTaskRecord();
