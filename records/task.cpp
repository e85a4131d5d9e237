// The task record: one task as one line of 28 columns, and back.
#include "records/task.h"

#include "format/linebuffer.h"
#include "records/recordfields.h"

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

void TrackTaskDate(int32_t column) {
  TrackDateGroup(column, {{kStartDateColumn, 3},
                          {kDueDateColumn, 3},
                          {kPatternColumn + 6, 3},
                          {kPatternColumn + 10, 3},
                          {kReminderColumn, 3}});
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

}  // namespace

void WriteTaskRecord(int32_t itemIndex) {
  auto* task = static_cast<ITask*>(FetchItem(itemIndex));
  if (task == nullptr) {
    RunFault = FaultFetch;
    return;
  }
  WriteTextProperty(task, &ITask::get_Subject);
  WriteNumberProperty(task, &ITask::get_Importance);
  WriteFlagProperty(task, &ITask::get_Complete);
  WriteDateProperty(task, &ITask::get_StartDate);
  WriteDateProperty(task, &ITask::get_DueDate);
  WriteItemRecurrence(task);
  WriteReminder(task);
  WriteTextProperty(task, &ITask::get_Categories);
  WriteNumberProperty(task, &ITask::get_Sensitivity);
  WriteTextProperty(task, &ITask::get_Body);
  WriteChar(u'\r');
  WriteChar(u'\n');
  task->Release();
}

int32_t TaskColumnLimit(int32_t column) {
  return ScheduleColumnLimit(column, kPatternColumn, kColumnLimits, kTaskColumns);
}

bool TaskRecordStarted() {
  return NewTask != nullptr;
}

bool StartTaskRecord() {
  return StartScheduleRecord(NewTask, olTaskItem);
}

void ApplyTaskColumn(int32_t column) {
  if (NewTask == nullptr) return;
  TrackTaskDate(column);
  const char16_t* text = LineBuffer;
  ITask* const item = NewTask;
  switch (column) {
    case kSubjectColumn:
      PutTextProperty(item, &ITask::put_Subject, UnescapeText());
      return;
    case kImportanceColumn: {
      const int32_t importance = ParseNumber(text);
      if (importance >= 0 && importance <= 2) item->put_Importance(importance);
      return;
    }
    case kCompleteColumn:
      PutFlagProperty(item, &ITask::put_Complete, text);
      return;
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
      if (DateYear(text, true)) item->put_StartDate(BuiltDate);
      return;
    case kDueDateColumn + 2:
      if (DateYear(text, true)) item->put_DueDate(BuiltDate);
      return;
    case kReminderColumn + 2:
      if (DateYear(text, true)) {
        item->put_ReminderTime(BuiltDate);
        item->put_ReminderSet(1);
        ReminderGiven = true;
      }
      return;
    case kCategoriesColumn:
      PutTextProperty(item, &ITask::put_Categories, UnescapeText());
      return;
    case kSensitivityColumn:
      PutSensitivity(item, text);
      return;
    case kBodyColumn:
      PutTextProperty(item, &ITask::put_Body, UnescapeText());
      return;
    default:
      if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
        ApplyRecurrenceColumn(item, GetItemPattern<ITask>, column - kPatternColumn);
      }
      return;
  }
}

bool EndTaskRecord() {
  return EndScheduleRecord(NewTask);
}
