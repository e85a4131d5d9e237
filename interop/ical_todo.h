// A task's values (itemvalues.h) and an iCalendar VTODO.
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
// - TodoFromValues returns a new VTODO under the task's uid. What the VTODO cannot carry
//   is counted in `losses`: a time of day on a start or due date, a repeating task's start
//   date apart from its pattern's first occurrence, a reminder without a time.
// - ValuesFromTodo reads a VTODO (its UID the uid), or fails with *error for one dated
//   outside the store's years. Start and due become local dates; a relative reminder
//   counts from DTSTART (or DUE with RELATED=END). A series without DTSTART repeats from
//   DUE. A series the store cannot hold comes as its first occurrence and is counted.
//   What the values cannot keep is named in `losses`, which the caller reports once the
//   item is made.
#pragma once

#include <libical/ical.h>

#include <string>

#include "interop/ical_item.h"
#include "interop/ical_losses.h"
#include "interop/itemvalues.h"

namespace interop {

icalcomponent* TodoFromValues(const TaskValues& values, const ExportOptions& options,
                              LossCounter* losses);

bool ValuesFromTodo(icalcomponent* todo, const ImportOptions& options, ItemLosses* losses,
                    TaskValues* values, std::string* error);

}  // namespace interop
