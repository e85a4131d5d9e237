// The task record: one task as one line of 28 columns, and back.
#include "records/task.h"

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

void TrackTaskDate(RecordContext& job, int32_t column) {
  TrackDateGroup(job, column,
                 {{kStartDateColumn, 3},
                  {kDueDateColumn, 3},
                  {kPatternColumn + 6, 3},
                  {kPatternColumn + 10, 3},
                  {kReminderColumn, 3}});
}

// Columns 22 to 24: the reminder's date when the reminder is on, else three empty
// fields (the store's "no date" lies outside the date codec's range).
void WriteReminder(FieldOutput& out, ITask* task) {
  if (out.runFault != FaultNone) return;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  DATE reminderTime = 0;
  HRESULT status = task->get_ReminderSet(&reminderSet);
  if (SUCCEEDED(status)) status = task->get_ReminderTime(&reminderTime);
  if (FAILED(status)) {
    out.runFault = FaultRead;
    return;
  }
  WriteDateField(out, S_OK, reminderSet != VARIANT_FALSE ? reminderTime : handheld::kNoDate);
}

}  // namespace

void WriteTaskRecord(RecordContext& job, int32_t itemIndex) {
  auto* task = static_cast<ITask*>(FetchItem(job, itemIndex));
  if (task == nullptr) {
    job.runFault = FaultFetch;
    return;
  }
  WriteTextProperty(job, task, &ITask::get_Subject);
  WriteNumberProperty(job, task, &ITask::get_Importance);
  WriteFlagProperty(job, task, &ITask::get_Complete);
  WriteDateProperty(job, task, &ITask::get_StartDate);
  WriteDateProperty(job, task, &ITask::get_DueDate);
  WriteItemRecurrence(job, task);
  WriteReminder(job, task);
  WriteTextProperty(job, task, &ITask::get_Categories);
  WriteSensitivityProperty(job, task);
  WriteTextProperty(job, task, &ITask::get_Body);
  WriteChar(job, u'\r');
  WriteChar(job, u'\n');
  task->Release();
}

int32_t TaskColumnLimit(int32_t column) {
  return ScheduleColumnLimit(column, kPatternColumn, kColumnLimits, kTaskColumns);
}

bool TaskRecordStarted(const RecordContext& job) {
  return job.newTask != nullptr;
}

bool StartTaskRecord(RecordContext& job) {
  return StartScheduleRecord(job, job.newTask, olTaskItem);
}

void ApplyTaskColumn(RecordContext& job, int32_t column, char16_t* field) {
  if (job.newTask == nullptr) return;
  TrackTaskDate(job, column);
  const char16_t* text = field;
  DateParts& date = job.dateParts;
  ITask* const item = job.newTask;
  switch (column) {
    case kSubjectColumn:
      PutTextProperty(item, &ITask::put_Subject, UnescapeText(field));
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
      DateDay(date, text);
      return;
    case kStartDateColumn + 1:
    case kDueDateColumn + 1:
    case kReminderColumn + 1:
      DateMonth(date, text);
      return;
    case kStartDateColumn + 2:
      if (const auto start = DateYear(date, text, true)) item->put_StartDate(*start);
      return;
    case kDueDateColumn + 2:
      if (const auto due = DateYear(date, text, true)) item->put_DueDate(*due);
      return;
    case kReminderColumn + 2:
      if (const auto reminder = DateYear(date, text, true)) {
        item->put_ReminderTime(*reminder);
        item->put_ReminderSet(1);
        job.ReminderGiven = true;
      }
      return;
    case kCategoriesColumn:
      PutTextProperty(item, &ITask::put_Categories, UnescapeText(field));
      return;
    case kSensitivityColumn:
      PutSensitivity(item, text);
      return;
    case kBodyColumn:
      PutTextProperty(item, &ITask::put_Body, UnescapeText(field));
      return;
    default:
      if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
        ApplyRecurrenceColumn(job, item, GetItemPattern<ITask>, column - kPatternColumn, text);
      }
      return;
  }
}

bool EndTaskRecord(RecordContext& job) {
  return EndScheduleRecord(job, job.newTask);
}
