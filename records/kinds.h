// The per-kind entry table that the worker calls by the job's kind, and what a job's
// records see of the job (RecordContext): the output they write to, the store
// references and call log they read from or create items through, and the record being
// built on import. The worker's job is a RecordContext; the records never see the rest.
#pragma once

#include <cstdint>

#include "format/fieldoutput.h"
#include "format/parsers.h"
#include "handheld/pimstore.h"
#include "platform/calllog.h"

enum ItemKind : int32_t { KindContacts = 0, KindCalendar = 1, KindTasks = 2, KindCalls = 3 };

struct RecordContext : FieldOutput {
  IPOutlookItemCollection* items = nullptr;  // export and purge: the folder's items
  IPOutlookApp* app = nullptr;               // import: the application that creates items
  CallLog callLog;                           // export of calls: the open call log

  // Import: the item under construction (one of the three, by kind) and the per-record
  // state of the kinds that repeat and remind. Each is empty or none between records.
  IContact* newContact = nullptr;
  IAppointment* newAppointment = nullptr;
  ITask* newTask = nullptr;
  IRecurrencePattern* OpenPattern = nullptr;
  int32_t PatternType = -1;  // -1 none
  bool ReminderGiven = false;
  DateParts dateParts;     // the date being built from the record's fields
  int32_t dateGroup = -1;  // the day column of the date in dateParts, or -1
};

struct KindEntry {
  int32_t columns;  // the record's columns; fields beyond them are read and ignored
  // Writes one record: the item at the 1-based index (the call writer ignores it and
  // reads the next call-log entry). Reports only through job.runFault.
  void (*writeRecord)(RecordContext& job, int32_t itemIndex);
  // Import only (null for calls):
  int32_t (*columnLimit)(int32_t column);           // longest accepted field, in characters
  bool (*recordStarted)(const RecordContext& job);  // an item is under construction
  bool (*startRecord)(RecordContext& job);          // creates the item; false when it cannot
  // Applies one field (zero-terminated; a column's rule may change the text in place).
  void (*applyColumn)(RecordContext& job, int32_t column, char16_t* field);
  // Saves and releases the item, if any; false when the item could not be saved (it is
  // released all the same).
  bool (*endRecord)(RecordContext& job);
};

const KindEntry& KindEntryFor(ItemKind kind);

// Releases a store object reference, if any, and leaves the pointer null.
template <typename T>
void ReleaseAndClear(T*& object) {
  if (object != nullptr) {
    object->Release();
    object = nullptr;
  }
}

// Releases the items under construction unsaved, the pattern first, and clears the
// per-record state (the worker's thread end).
void ReleaseImportItems(RecordContext& job);
