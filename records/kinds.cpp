// The per-kind entry table.
#include "records/kinds.h"

#include "records/appointment.h"
#include "records/call.h"
#include "records/contact.h"
#include "records/recordfields.h"
#include "records/task.h"

namespace {

constexpr KindEntry kEntries[] = {
    {kContactColumns, WriteContactRecord, ContactColumnLimit, ContactRecordStarted,
     StartContactRecord, ApplyContactColumn, EndContactRecord},
    {kAppointmentColumns, WriteAppointmentRecord, AppointmentColumnLimit, AppointmentRecordStarted,
     StartAppointmentRecord, ApplyAppointmentColumn, EndAppointmentRecord},
    {kTaskColumns, WriteTaskRecord, TaskColumnLimit, TaskRecordStarted, StartTaskRecord,
     ApplyTaskColumn, EndTaskRecord},
    {kCallColumns, WriteCallRecord, nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const KindEntry& KindEntryFor(ItemKind kind) {
  // A kind outside the table gets the contact entry rather than a read past its end.
  const auto index = static_cast<uint32_t>(kind);
  return kEntries[index < 4 ? index : 0];
}

void ReleaseImportItems(RecordContext& job) {
  ClearScheduleRecord(job);  // the pattern first
  ReleaseAndClear(job.newContact);
  ReleaseAndClear(job.newTask);
  ReleaseAndClear(job.newAppointment);
}
