// Store items made from the records of bench_records.h: the dates and the repetition
// that every benchmark gives them.
#pragma once

#include "bench/bench_records.h"
#include "handheld/oledate.h"
#include "handheld/pimstore.h"

namespace bench {

inline DATE DateOf(BenchDay day, int hour = 0, int minute = 0) {
  SYSTEMTIME fields{};
  fields.wYear = static_cast<WORD>(day.year);
  fields.wMonth = static_cast<WORD>(day.month);
  fields.wDay = static_cast<WORD>(day.day);
  fields.wHour = static_cast<WORD>(hour);
  fields.wMinute = static_cast<WORD>(minute);
  DATE date = 0;
  SystemTimeToVariantTime(&fields, &date);
  return date;
}

// Gives an appointment or a task the pattern, when the record repeats.
template <typename Item>
void SetPattern(Item* item, const BenchPattern& p) {
  if (!p.repeats) return;
  IRecurrencePattern* pattern = nullptr;
  if (FAILED(item->GetRecurrencePattern(&pattern)) || pattern == nullptr) return;
  pattern->put_RecurrenceType(p.type);
  pattern->put_Interval(p.interval);
  pattern->put_DayOfWeekMask(p.weekdayMask);
  pattern->put_DayOfMonth(p.dayOfMonth);
  pattern->put_Instance(p.instance);
  pattern->put_MonthOfYear(p.monthOfYear);
  pattern->put_PatternStartDate(DateOf(p.start));
  pattern->put_NoEndDate(p.noEnd ? VARIANT_TRUE : VARIANT_FALSE);
  if (!p.noEnd) {
    pattern->put_Occurrences(p.occurrences);
    pattern->put_PatternEndDate(DateOf(p.end));
  }
  pattern->Release();
}

}  // namespace bench
