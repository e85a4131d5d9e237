// A store task and an iCalendar VTODO.
//
// Mapping:
//   Subject, Body, Categories    SUMMARY, DESCRIPTION, CATEGORIES
//   Importance 0 1 2             PRIORITY 9 5 1 (read back: 1-4 high, 5 or none normal,
//                                6-9 low)
//   Complete                     STATUS COMPLETED (with PERCENT-COMPLETE 100) or
//                                NEEDS-ACTION
//   StartDate, DueDate           DTSTART, DUE as dates
//   ReminderSet, ReminderTime    VALARM with an absolute TRIGGER (UTC)
//   Sensitivity                  CLASS (see ical_item.h)
//   recurrence                   RRULE; the series' first occurrence is DTSTART, which a
//                                repeating task's start date becomes
//
// Contract:
// - TodoFromTask returns a new VTODO under `uid`, or null with *error when a property
//   cannot be read. What the VTODO cannot carry is counted in `losses`: a time of day on
//   a start or due date, a repeating task's start date apart from its pattern's first
//   occurrence, a reminder without a time.
// - TaskFromTodo returns a new, unsaved task (the caller saves it), or fails with *error
//   when the store refuses. Start and due become local dates; a relative reminder counts
//   from DTSTART (or DUE with RELATED=END). A series without DTSTART repeats from DUE. A
//   series the store cannot hold is imported as its first occurrence and counted.
#pragma once

#include <libical/ical.h>

#include <string>
#include <string_view>

#include "handheld/pimstore.h"
#include "interop/ical_item.h"
#include "interop/ical_losses.h"

namespace interop {

icalcomponent* TodoFromTask(ITask* item, std::string_view uid, const ExportOptions& options,
                            LossCounter* losses, std::string* error);

HRESULT TaskFromTodo(icalcomponent* todo, const ImportOptions& options, LossCounter* losses,
                     ITask** item, std::string* error);

}  // namespace interop
