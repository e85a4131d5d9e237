// The per-kind entry table that the worker calls by JobContext.kind: each kind's record
// writer (export) and, for the kinds that can be loaded, its import column limit,
// record start, column handler and record end.
#pragma once

#include <cstdint>

#include "worker/jobcontext.h"

struct KindEntry {
  int32_t columns;  // the record's columns; fields beyond them are read and ignored
  // Writes one record: the item at the 1-based index (the call writer ignores it and
  // reads the next call-log entry). Reports only through RunFault.
  void (*writeRecord)(int32_t itemIndex);
  // Import only (null for calls):
  int32_t (*columnLimit)(int32_t column);  // longest accepted field, in characters
  bool (*recordStarted)();                 // an item is under construction
  bool (*startRecord)();                   // creates the item; false when creation fails
  void (*applyColumn)(int32_t column);     // the field's text is in LineBuffer
  // Saves and releases the item, if any; false when the item could not be saved (it is
  // released all the same).
  bool (*endRecord)();
};

const KindEntry& KindEntryFor(ItemKind kind);

// Items under construction (import) and the per-record state of Calendar and Tasks.
// Each is empty/none between records. ReleaseImportItems releases them unsaved, the
// pattern first (the worker's thread end).
extern IContact* NewContact;
extern IAppointment* NewAppointment;
extern ITask* NewTask;
extern IRecurrencePattern* OpenPattern;
extern int32_t PatternType;  // -1 none
extern bool ReminderGiven;
void ReleaseImportItems();
