// The task record: 28 columns, the recurrence block at columns 9 to 21.
#pragma once

#include <cstdint>

#include "records/kinds.h"

constexpr int32_t kTaskColumns = 28;

void WriteTaskRecord(RecordContext& job, int32_t itemIndex);
int32_t TaskColumnLimit(int32_t column);
bool TaskRecordStarted(const RecordContext& job);
bool StartTaskRecord(RecordContext& job);
void ApplyTaskColumn(RecordContext& job, int32_t column, char16_t* field);
bool EndTaskRecord(RecordContext& job);
