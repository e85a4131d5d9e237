// The task record: one task as one line of 28 columns, and back.
#include "records/task.h"

#include "format/linebuffer.h"
#include "format/parsers.h"
#include "format/writers.h"
#include "records/kinds.h"
#include "records/recurrence.h"

namespace {

constexpr int32_t kSubjectColumn = 0;
constexpr int32_t kImportanceColumn = 1;
constexpr int32_t kCompleteColumn = 2;
constexpr int32_t kStartDateColumn = 3;  // day, month, year
constexpr int32_t kDueDateColumn = 6;    // day, month, year
constexpr int32_t kPatternColumn = 9;    // the recurrence block, 13 columns
constexpr int32_t kReminderColumn = 22;  // day, month, year
constexpr int32_t kCategoriesColumn = 25;
constexpr int32_t kSensitivityColumn = 26;
constexpr int32_t kBodyColumn = 27;

// A column beyond the record's last one is never stored; its limit only decides
// whether a long extra field still creates an item.
constexpr int32_t kExtraColumnLimit = 1024;

// Limits of the columns outside the recurrence block.
// clang-format off
constexpr int32_t kColumnLimits[kTaskColumns] = {
    4096, 1, 5,                               // subject, importance, completed flag
    2, 2, 4,                                  // start date
    2, 2, 4,                                  // due date
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // recurrence block (its own limits)
    2, 2, 4,                                  // reminder date
    1024, 1, kLineBufferChars};               // categories, sensitivity, body
// clang-format on

// The first column of the date in DateParts, or -1. A date's day field starts it; a
// date whose day field was empty or dropped must not go on from an earlier date's day.
int32_t DateGroup = -1;

// Starts the date of `column` when the column belongs to one.
void TrackDateGroup(int32_t column) {
  static constexpr int32_t kDateGroups[] = {kStartDateColumn, kDueDateColumn, kPatternColumn + 6,
                                            kPatternColumn + 10, kReminderColumn};
  for (const int32_t first : kDateGroups) {
    if (column < first || column >= first + 3) continue;
    if (column != first && DateGroup != first) DateDay(u"");  // this date's day is missing
    DateGroup = first;
    return;
  }
}

ITask* FetchTask(int32_t itemIndex) {
  if (JobContext.items == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.items->Item(itemIndex, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return static_cast<ITask*>(item);
}

void WriteString(ITask* task, HRESULT (ITask::*getter)(BSTR*)) {
  BSTR text = nullptr;
  const HRESULT status = (task->*getter)(&text);
  WriteTextField(EscapeText(status, text), text);
}

void WriteDate(ITask* task, HRESULT (ITask::*getter)(DATE*)) {
  DATE value = 0;
  const HRESULT status = (task->*getter)(&value);
  WriteDateField(status, value);
}

void WriteNumber(ITask* task, HRESULT (ITask::*getter)(LONG*)) {
  LONG value = 0;
  const HRESULT status = (task->*getter)(&value);
  WriteLongField(status, value);
}

// Columns 22 to 24: the reminder's date when the reminder is on, else three empty
// fields (the DATE 0 lies outside the date codec's range).
void WriteReminder(ITask* task) {
  if (RunFault != FaultNone) return;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  DATE reminderTime = 0;
  HRESULT status = task->get_ReminderSet(&reminderSet);
  if (SUCCEEDED(status)) status = task->get_ReminderTime(&reminderTime);
  if (FAILED(status)) {
    RunFault = FaultRead;
    return;
  }
  WriteDateField(S_OK, reminderSet != VARIANT_FALSE ? reminderTime : 0);
}

void SetString(HRESULT (ITask::*setter)(BSTR), const char16_t* text) {
  BSTR value = SysAllocString(text);
  (NewTask->*setter)(value);
  SysFreeString(value);
}

HRESULT GetTaskPattern(IDispatch* item, IRecurrencePattern** pattern) {
  return static_cast<ITask*>(item)->GetRecurrencePattern(pattern);
}

}  // namespace

void WriteTaskRecord(int32_t itemIndex) {
  ITask* task = FetchTask(itemIndex);
  if (task == nullptr) {
    RunFault = FaultFetch;
    return;
  }
  WriteString(task, &ITask::get_Subject);
  WriteNumber(task, &ITask::get_Importance);
  VARIANT_BOOL complete = VARIANT_FALSE;
  const HRESULT completeStatus = task->get_Complete(&complete);
  WriteBoolField(completeStatus, complete);
  WriteDate(task, &ITask::get_StartDate);
  WriteDate(task, &ITask::get_DueDate);

  IRecurrencePattern* pattern = nullptr;
  const HRESULT patternStatus = task->GetRecurrencePattern(&pattern);
  VARIANT_BOOL recurring = VARIANT_FALSE;
  const HRESULT recurringStatus = task->get_IsRecurring(&recurring);
  WriteRecurrenceBlock(patternStatus, pattern, recurringStatus, recurring);

  WriteReminder(task);
  WriteString(task, &ITask::get_Categories);
  WriteNumber(task, &ITask::get_Sensitivity);
  WriteString(task, &ITask::get_Body);
  WriteChar(u'\r');
  WriteChar(u'\n');
  task->Release();
}

int32_t TaskColumnLimit(int32_t column) {
  if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
    return RecurrenceColumnLimit(column - kPatternColumn);
  }
  if (column < 0 || column >= kTaskColumns) return kExtraColumnLimit;
  return kColumnLimits[column];
}

bool TaskRecordStarted() {
  return NewTask != nullptr;
}

bool StartTaskRecord() {
  if (NewTask != nullptr) return true;  // the record's item exists already
  ReminderGiven = false;
  if (OpenPattern != nullptr) OpenPattern->Release();
  OpenPattern = nullptr;
  PatternType = -1;
  DateGroup = -1;
  if (JobContext.app == nullptr) return false;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.app->CreateItem(olTaskItem, &item)) || item == nullptr) {
    if (item != nullptr) item->Release();
    return false;
  }
  NewTask = static_cast<ITask*>(item);
  return true;
}

void ApplyTaskColumn(int32_t column) {
  if (NewTask == nullptr) return;
  TrackDateGroup(column);
  const char16_t* text = LineBuffer;
  switch (column) {
    case kSubjectColumn:
      SetString(&ITask::put_Subject, UnescapeText());
      return;
    case kImportanceColumn: {
      const int32_t importance = ParseNumber(text);
      if (importance >= 0 && importance <= 2) NewTask->put_Importance(importance);
      return;
    }
    case kCompleteColumn: {
      const int32_t flag = ParseBoolToken(text);
      if (flag == 1) NewTask->put_Complete(VARIANT_TRUE);
      if (flag == 0) NewTask->put_Complete(VARIANT_FALSE);
      return;
    }
    case kStartDateColumn:
    case kDueDateColumn:
    case kReminderColumn:
      DateDay(text);
      return;
    case kStartDateColumn + 1:
    case kDueDateColumn + 1:
    case kReminderColumn + 1:
      DateMonth(text);
      return;
    case kStartDateColumn + 2:
      if (DateYear(text, true)) NewTask->put_StartDate(BuiltDate);
      return;
    case kDueDateColumn + 2:
      if (DateYear(text, true)) NewTask->put_DueDate(BuiltDate);
      return;
    case kReminderColumn + 2:
      if (DateYear(text, true)) {
        NewTask->put_ReminderTime(BuiltDate);
        NewTask->put_ReminderSet(1);
        ReminderGiven = true;
      }
      return;
    case kCategoriesColumn:
      SetString(&ITask::put_Categories, UnescapeText());
      return;
    case kSensitivityColumn: {
      const int32_t sensitivity = ParseNumber(text);
      if (sensitivity == 0 || sensitivity == 2) NewTask->put_Sensitivity(sensitivity);
      return;
    }
    case kBodyColumn:
      SetString(&ITask::put_Body, UnescapeText());
      return;
    default:
      if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
        ApplyRecurrenceColumn(NewTask, GetTaskPattern, column - kPatternColumn);
      }
      return;
  }
}

void EndTaskRecord() {
  if (NewTask != nullptr) {
    if (!ReminderGiven) NewTask->put_ReminderSet(VARIANT_FALSE);
    NewTask->Save();
    NewTask->Release();
    NewTask = nullptr;
  }
  if (OpenPattern != nullptr) OpenPattern->Release();
  OpenPattern = nullptr;
  PatternType = -1;
  ReminderGiven = false;
  DateGroup = -1;
}
