// The per-kind entry table and the items under construction of an import.
#include "records/kinds.h"

#include "records/appointment.h"
#include "records/call.h"
#include "records/contact.h"
#include "records/task.h"

IContact* NewContact = nullptr;
IAppointment* NewAppointment = nullptr;
ITask* NewTask = nullptr;
IRecurrencePattern* OpenPattern = nullptr;
int32_t PatternType = -1;
bool ReminderGiven = false;

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

void ReleaseImportItems() {
  ReleaseAndClear(OpenPattern);
  ReleaseAndClear(NewContact);
  ReleaseAndClear(NewTask);
  ReleaseAndClear(NewAppointment);
  PatternType = -1;
  ReminderGiven = false;
}
