// Steps shared by the record writers and column handlers of contacts, appointments and
// tasks: fetching and creating items, one property as one field, the date groups of a
// record, and the record start and end of the two kinds that repeat and remind.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "format/parsers.h"
#include "format/writers.h"
#include "handheld/pimstore.h"
#include "records/kinds.h"
#include "records/recurrence.h"

// The item at the 1-based index of job.items, or null when it cannot be fetched.
IDispatch* FetchItem(RecordContext& job, int32_t itemIndex);
// A new item of the type from job.app, or null when it cannot be created.
IDispatch* CreateRecordItem(RecordContext& job, LONG itemType);

// One property of an item (or of a pattern) as one field. The text is escaped.
template <typename Item>
void WriteTextProperty(FieldOutput& out, Item* item, HRESULT (Item::*getter)(BSTR*)) {
  BSTR text = nullptr;
  const HRESULT status = EscapeText((item->*getter)(&text), &text);
  WriteTextField(out, status, text);
}
template <typename Item>
void WriteNumberProperty(FieldOutput& out, Item* item, HRESULT (Item::*getter)(LONG*)) {
  LONG value = 0;
  const HRESULT status = (item->*getter)(&value);
  WriteLongField(out, status, value);
}
// The load takes back normal (0) and private (2) only; any other value is written all
// the same, and told.
template <typename Item>
void WriteSensitivityProperty(FieldOutput& out, Item* item) {
  LONG value = 0;
  const HRESULT status = item->get_Sensitivity(&value);
  if (SUCCEEDED(status) && value != 0 && value != 2) NoteLoss(out, LossSensitivity);
  WriteLongField(out, status, value);
}
template <typename Item>
void WriteFlagProperty(FieldOutput& out, Item* item, HRESULT (Item::*getter)(VARIANT_BOOL*)) {
  VARIANT_BOOL value = VARIANT_FALSE;
  const HRESULT status = (item->*getter)(&value);
  WriteBoolField(out, status, value);
}
template <typename Item>
void WriteDateProperty(FieldOutput& out, Item* item, HRESULT (Item::*getter)(DATE*)) {
  DATE value = 0;
  const HRESULT status = (item->*getter)(&value);
  WriteDateField(out, status, value);
}
template <typename Item>
void WriteDateTimeProperty(FieldOutput& out, Item* item, HRESULT (Item::*getter)(DATE*)) {
  DATE value = 0;
  const HRESULT status = (item->*getter)(&value);
  WriteDateTimeField(out, status, value);
}
// The recurrence block of an appointment or task: the pattern is asked for before
// IsRecurring is read.
template <typename Item>
void WriteItemRecurrence(FieldOutput& out, Item* item) {
  IRecurrencePattern* pattern = nullptr;
  const HRESULT patternStatus = item->GetRecurrencePattern(&pattern);
  VARIANT_BOOL recurring = VARIANT_FALSE;
  const HRESULT recurringStatus = item->get_IsRecurring(&recurring);
  WriteRecurrenceBlock(out, patternStatus, pattern, recurringStatus, recurring);
}

// Stores the text as a counted string (nothing when it cannot be allocated).
template <typename Item>
void PutTextProperty(Item* item, HRESULT (Item::*setter)(BSTR), const char16_t* text) {
  BSTR value = SysAllocString(text);
  if (value == nullptr) return;
  (item->*setter)(value);
  SysFreeString(value);
}
// A true or false token sets the flag; anything else leaves it.
template <typename Item>
void PutFlagProperty(Item* item, HRESULT (Item::*setter)(VARIANT_BOOL), const char16_t* text) {
  const int32_t flag = ParseBoolToken(text);
  if (flag >= 0) (item->*setter)(flag == 1 ? VARIANT_TRUE : VARIANT_FALSE);
}
// Sensitivity takes 0 (normal) and 2 (private) only.
template <typename Item>
void PutSensitivity(Item* item, const char16_t* text) {
  const int32_t sensitivity = ParseNumber(text);
  if (sensitivity == 0 || sensitivity == 2) item->put_Sensitivity(sensitivity);
}
template <typename Item>
HRESULT GetItemPattern(IDispatch* item, IRecurrencePattern** pattern) {
  return static_cast<Item*>(item)->GetRecurrencePattern(pattern);
}

// The dates of a record, each `count` columns from its day column `first`. A date's
// day field starts it; a month or later part that arrives for a date whose day field
// was empty or dropped starts that date from cleared parts, so it never goes on from
// an earlier date's day. Call before the column's handler.
struct DateColumns {
  int32_t first;
  int32_t count;
};
void TrackDateGroup(RecordContext& job, int32_t column, std::initializer_list<DateColumns> dates);

// The limit of a column of an appointment or task record: the recurrence block's own
// limits at patternColumn..+12, 1024 beyond the last column, else limits[column].
int32_t ScheduleColumnLimit(int32_t column, int32_t patternColumn, const int32_t* limits,
                            int32_t columns);

// Releases job.OpenPattern and clears PatternType, ReminderGiven and the date group.
void ClearScheduleRecord(RecordContext& job);
// Record start of an appointment or task: clears the per-record state and creates the
// item; false when it cannot be created.
template <typename Item>
bool StartScheduleRecord(RecordContext& job, Item*& newItem, LONG itemType) {
  if (newItem != nullptr) return true;  // the record's item exists already
  ClearScheduleRecord(job);
  newItem = static_cast<Item*>(CreateRecordItem(job, itemType));
  return newItem != nullptr;
}
// Record end of an appointment or task: the reminder goes off unless the record gave
// one; the item is saved and released, then its pattern. False when the save failed.
template <typename Item>
bool EndScheduleRecord(RecordContext& job, Item*& newItem) {
  bool saved = true;
  if (newItem != nullptr) {
    if (!job.ReminderGiven) newItem->put_ReminderSet(VARIANT_FALSE);
    saved = SUCCEEDED(newItem->Save());
    newItem->Release();
    newItem = nullptr;
  }
  ClearScheduleRecord(job);
  return saved;
}
