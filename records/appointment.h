// The appointment record: 32 columns, the recurrence block at columns 13 to 25.
#pragma once

#include <cstdint>

constexpr int32_t kAppointmentColumns = 32;

void WriteAppointmentRecord(int32_t itemIndex);
int32_t AppointmentColumnLimit(int32_t column);
bool AppointmentRecordStarted();
bool StartAppointmentRecord();
void ApplyAppointmentColumn(int32_t column);
bool EndAppointmentRecord();
