// The appointment record: 32 columns, the recurrence block at columns 13 to 25.
#pragma once

#include <cstdint>

#include "records/kinds.h"

constexpr int32_t kAppointmentColumns = 32;

void WriteAppointmentRecord(RecordContext& job, int32_t itemIndex);
int32_t AppointmentColumnLimit(int32_t column);
bool AppointmentRecordStarted(const RecordContext& job);
bool StartAppointmentRecord(RecordContext& job);
void ApplyAppointmentColumn(RecordContext& job, int32_t column, char16_t* field);
bool EndAppointmentRecord(RecordContext& job);
