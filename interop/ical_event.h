// A store appointment and an iCalendar VEVENT.
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
// - EventFromAppointment returns a new VEVENT under `uid`, or null with *error when a
//   property cannot be read or the appointment has no start. What the VEVENT cannot
//   carry is counted in `losses`.
// - AppointmentFromEvent returns a new, unsaved appointment (the caller saves it), or
//   fails with *error for a VEVENT that cannot be one (no DTSTART) or when the store
//   refuses. Times in a TZID, in UTC or floating become local wall-clock times; without
//   DTEND or DURATION a timed event ends at its start, an all-day one after one day.
//   Attendees with a mail address are kept with it; others resolve as in a load (by a
//   contact's name or address) and are dropped, and counted, when they do not. A series
//   that the store cannot hold is imported as its first occurrence and counted. The
//   reminder is the first VALARM: minutes before the start (absolute and end-relative
//   triggers too); one after the start cannot be kept.
#pragma once

#include <libical/ical.h>

#include <string>
#include <string_view>

#include "handheld/pimstore.h"
#include "interop/ical_item.h"
#include "interop/ical_losses.h"

namespace interop {

icalcomponent* EventFromAppointment(IAppointment* item, std::string_view uid,
                                    const ExportOptions& options, LossCounter* losses,
                                    std::string* error);

HRESULT AppointmentFromEvent(icalcomponent* event, const ImportOptions& options,
                             LossCounter* losses, IAppointment** item, std::string* error);

}  // namespace interop
