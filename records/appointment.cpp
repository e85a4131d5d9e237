// Placeholder until the appointment record lands.
#include "records/appointment.h"

void WriteAppointmentRecord(int32_t) {}
int32_t AppointmentColumnLimit(int32_t) { return 1024; }
bool AppointmentRecordStarted() { return false; }
bool StartAppointmentRecord() { return false; }
void ApplyAppointmentColumn(int32_t) {}
void EndAppointmentRecord() {}
