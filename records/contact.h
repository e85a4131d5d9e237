// The contact record: 50 columns, 46 IContact properties (44 texts, two dates).
#pragma once

#include <cstdint>

#include "records/kinds.h"

constexpr int32_t kContactColumns = 50;

void WriteContactRecord(RecordContext& job, int32_t itemIndex);
int32_t ContactColumnLimit(int32_t column);
bool ContactRecordStarted(const RecordContext& job);
bool StartContactRecord(RecordContext& job);
void ApplyContactColumn(RecordContext& job, int32_t column, char16_t* field);
bool EndContactRecord(RecordContext& job);
