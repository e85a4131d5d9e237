// The contact record: 50 columns, 46 IContact properties (44 texts, two dates).
#pragma once

#include <cstdint>

constexpr int32_t kContactColumns = 50;

void WriteContactRecord(int32_t itemIndex);
int32_t ContactColumnLimit(int32_t column);
bool ContactRecordStarted();
bool StartContactRecord();
void ApplyContactColumn(int32_t column);
bool EndContactRecord();
