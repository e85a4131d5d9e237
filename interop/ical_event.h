// An appointment's values (itemvalues.h) and an iCalendar VEVENT.
//
// Mapping:
//   Subject, Location, Body      SUMMARY, LOCATION, DESCRIPTION
//   Categories                   CATEGORIES (one value per category)
//   Start, End                   DTSTART, DTEND with the local zone's TZID (floating
//                                when the zone has no name); all-day: VALUE=DATE with
//                                the exclusive end day
//   BusyStatus 0 1 2 3           TRANSP TRANSPARENT (free) or OPAQUE, and
//                                X-MICROSOFT-CDO-BUSYSTATUS FREE TENTATIVE BUSY OOF
//   Sensitivity                  CLASS (see ical_item.h)
//   ReminderSet, ...Minutes...   VALARM, TRIGGER that many minutes before the start
//   Recipients (Name, Address)   ATTENDEE;CN=Name:mailto:Address ("invalid:nomail" for
//                                a recipient without an address)
//   recurrence                   RRULE, the series' first occurrence as DTSTART
//
// Contract:
// - EventFromValues returns a new VEVENT under the appointment's uid, or null with
//   *error when the appointment has no start. What the VEVENT cannot carry is counted in
//   `losses`.
// - ValuesFromEvent reads a VEVENT (its UID the uid), or fails with *error for one that
//   cannot be an appointment (no DTSTART, or dated outside the store's years). Times in
//   a TZID, in UTC or floating become local wall-clock times; without DTEND or DURATION
//   a timed event ends at its start, an all-day one after one day. Attendees with a mail
//   address come with it, others with an empty address for the write to resolve
//   (itemstore.h). A series that the store cannot hold comes as its first occurrence and
//   is counted. The reminder is the first VALARM: minutes before the start (absolute and
//   end-relative triggers too); one after the start cannot be kept. What the values
//   cannot keep is named in `losses`, which the caller reports once the item is made.
#pragma once

#include <libical/ical.h>

#include <string>

#include "interop/ical_item.h"
#include "interop/ical_losses.h"
#include "interop/itemvalues.h"

namespace interop {

icalcomponent* EventFromValues(const AppointmentValues& values, const ExportOptions& options,
                               LossCounter* losses, std::string* error);

bool ValuesFromEvent(icalcomponent* event, const ImportOptions& options, ItemLosses* losses,
                     AppointmentValues* values, std::string* error);

}  // namespace interop
