// Steps shared by the record writers and column handlers.
#include "records/recordfields.h"

#include "worker/jobcontext.h"

namespace {

// The day column of the date in DateParts, or -1.
int32_t DateGroup = -1;

}  // namespace

IDispatch* FetchItem(int32_t itemIndex) {
  if (JobContext.items == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.items->Item(itemIndex, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return item;
}

IDispatch* CreateRecordItem(LONG itemType) {
  if (JobContext.app == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.app->CreateItem(itemType, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return item;
}

void TrackDateGroup(int32_t column, std::initializer_list<DateColumns> dates) {
  for (const DateColumns& date : dates) {
    if (column < date.first || column >= date.first + date.count) continue;
    if (column != date.first && DateGroup != date.first) DateDay(u"");  // its day is missing
    DateGroup = date.first;
    return;
  }
}

void ForgetDateGroup() {
  DateGroup = -1;
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

void ClearScheduleRecord() {
  if (OpenPattern != nullptr) OpenPattern->Release();
  OpenPattern = nullptr;
  PatternType = -1;
  ReminderGiven = false;
  DateGroup = -1;
}
