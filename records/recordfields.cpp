// Steps shared by the record writers and column handlers.
#include "records/recordfields.h"

IDispatch* FetchItem(RecordContext& job, int32_t itemIndex) {
  if (job.items == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(job.items->Item(itemIndex, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return item;
}

IDispatch* CreateRecordItem(RecordContext& job, LONG itemType) {
  if (job.app == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(job.app->CreateItem(itemType, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return item;
}

void TrackDateGroup(RecordContext& job, int32_t column, std::initializer_list<DateColumns> dates) {
  for (const DateColumns& date : dates) {
    if (column < date.first || column >= date.first + date.count) continue;
    // A date whose day is missing starts from nothing.
    if (column != date.first && job.dateGroup != date.first) DateDay(job.dateParts, u"");
    job.dateGroup = date.first;
    return;
  }
}

int32_t ScheduleColumnLimit(int32_t column, int32_t patternColumn, const int32_t* limits,
                            int32_t columns) {
  if (column >= patternColumn && column < patternColumn + kRecurrenceColumns) {
    return RecurrenceColumnLimit(column - patternColumn);
  }
  // A column beyond the record's last one is never stored; its limit only decides
  // whether a long extra field still creates an item.
  if (column < 0 || column >= columns) return 1024;
  return limits[column];
}

void ClearScheduleRecord(RecordContext& job) {
  ReleaseAndClear(job.OpenPattern);
  job.PatternType = -1;
  job.ReminderGiven = false;
  job.dateGroup = -1;
}
