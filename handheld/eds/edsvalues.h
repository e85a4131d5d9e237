// The store's item values (handheld/store/itemdata.h) and the plain values that the vCard
// and iCalendar mapping reads and writes (interop/vcardcontact.h, itemvalues.h): the same
// properties, slot by slot. The plain values carry no UID here; the caller sets it.
#pragma once

#include "handheld/store/itemdata.h"
#include "interop/itemvalues.h"
#include "interop/vcardcontact.h"

namespace handheld::eds {

store::ItemValues ItemFromContact(const interop::ContactValues& contact);
interop::ContactValues ContactFromItem(const store::ItemValues& item);

// A reminder that is off keeps the store's default lead.
store::ItemValues ItemFromAppointment(const interop::AppointmentValues& appointment);
interop::AppointmentValues AppointmentFromItem(const store::ItemValues& item);

store::ItemValues ItemFromTask(const interop::TaskValues& task);
interop::TaskValues TaskFromItem(const store::ItemValues& item);

}  // namespace handheld::eds
