// The recurrence block of appointments and tasks: 13 columns written from an item's
// pattern, and a new item's pattern rebuilt from them one field at a time.
#include "records/recurrence.h"

#include "records/recordfields.h"

namespace {

// Offsets within the block.
constexpr int32_t kTypeColumn = 0;
constexpr int32_t kIntervalColumn = 1;
constexpr int32_t kWeekdayMaskColumn = 2;
constexpr int32_t kDayOfMonthColumn = 3;
constexpr int32_t kInstanceColumn = 4;
constexpr int32_t kMonthOfYearColumn = 5;
constexpr int32_t kStartDayColumn = 6;
constexpr int32_t kStartMonthColumn = 7;
constexpr int32_t kStartYearColumn = 8;
constexpr int32_t kOccurrencesColumn = 9;
constexpr int32_t kEndDayColumn = 10;
constexpr int32_t kEndMonthColumn = 11;
constexpr int32_t kEndYearColumn = 12;

constexpr int32_t kColumnLimits[kRecurrenceColumns] = {1, 3, 3, 2, 1, 2, 2, 2, 4, 10, 2, 2, 4};

// Which of the pattern columns 1 to 5 carry a value for a recurrence type, one bit per
// column (bit 0 the interval). The same table decides what the export writes and what
// the import applies. Types outside the six carry nothing.
unsigned CarriedColumns(int32_t type) {
  switch (type) {
    case olRecursDaily:
      return 0b00001;  // interval
    case olRecursWeekly:
      return 0b00011;  // interval, weekday mask
    case olRecursMonthly:
      return 0b00101;  // interval, day of month
    case olRecursMonthNth:
      return 0b01011;  // interval, weekday mask, instance
    case olRecursYearly:
      return 0b10100;  // day of month, month of year
    case olRecursYearNth:
      return 0b11010;  // weekday mask, instance, month of year
    default:
      return 0;
  }
}

bool IsRecurrenceType(int32_t value) {
  return value >= 0 && CarriedColumns(value) != 0;
}

bool Carries(int32_t type, int32_t offset) {
  return offset >= kIntervalColumn && offset <= kMonthOfYearColumn &&
         (CarriedColumns(type) >> (offset - kIntervalColumn) & 1u) != 0;
}

using LongGetter = HRESULT (IRecurrencePattern::*)(LONG*);

// Every column of a repeating item's block.
void WritePatternColumns(FieldOutput& out, IRecurrencePattern* pattern) {
  LONG type = -1;
  const HRESULT typeStatus = pattern->get_RecurrenceType(&type);
  WriteLongField(out, typeStatus, type);
  if (FAILED(typeStatus)) type = -1;

  static constexpr LongGetter kPatternColumnGetters[] = {
      &IRecurrencePattern::get_Interval, &IRecurrencePattern::get_DayOfWeekMask,
      &IRecurrencePattern::get_DayOfMonth, &IRecurrencePattern::get_Instance,
      &IRecurrencePattern::get_MonthOfYear};
  for (int32_t offset = kIntervalColumn; offset <= kMonthOfYearColumn; ++offset) {
    if (Carries(type, offset)) {
      WriteNumberProperty(out, pattern, kPatternColumnGetters[offset - kIntervalColumn]);
    } else {
      WriteChar(out, u'\t');
    }
  }

  WriteDateProperty(out, pattern, &IRecurrencePattern::get_PatternStartDate);

  // A pattern whose end cannot be read is taken as one without end.
  VARIANT_BOOL noEnd = VARIANT_TRUE;
  if (FAILED(pattern->get_NoEndDate(&noEnd))) noEnd = VARIANT_TRUE;
  if (noEnd != VARIANT_FALSE) {
    WriteEmptyFields(out, 4);
    return;
  }
  WriteNumberProperty(out, pattern, &IRecurrencePattern::get_Occurrences);
  WriteDateProperty(out, pattern, &IRecurrencePattern::get_PatternEndDate);
}

// Column 0: a known type opens the item's pattern and makes the item repeat.
void OpenItemPattern(RecordContext& job, IDispatch* item, PatternGetter getPattern, int32_t type) {
  if (!IsRecurrenceType(type) || item == nullptr || getPattern == nullptr) return;
  IRecurrencePattern* pattern = nullptr;
  const HRESULT status = getPattern(item, &pattern);
  if (FAILED(status) || pattern == nullptr) {
    if (pattern != nullptr) pattern->Release();
    return;
  }
  ReleaseAndClear(job.OpenPattern);  // a record has one type column
  job.OpenPattern = pattern;
  job.PatternType = type;
  pattern->put_RecurrenceType(type);
}

}  // namespace

void WriteRecurrenceBlock(FieldOutput& out, HRESULT patternStatus, IRecurrencePattern* pattern,
                          HRESULT recurringStatus, VARIANT_BOOL recurring) {
  if (out.runFault == FaultNone) {
    if (FAILED(recurringStatus) || FAILED(patternStatus)) {
      out.runFault = FaultRead;
    } else if (recurring == VARIANT_FALSE) {
      WriteEmptyFields(out, kRecurrenceColumns);
    } else if (pattern == nullptr) {
      // A repeating item that hands out no pattern cannot be described.
      out.runFault = FaultRead;
    } else {
      WritePatternColumns(out, pattern);
    }
  }
  if (pattern != nullptr) pattern->Release();
}

void ApplyRecurrenceColumn(RecordContext& job, IDispatch* item, PatternGetter getPattern,
                           int32_t offset, const char16_t* text) {
  IRecurrencePattern* const pattern = job.OpenPattern;
  switch (offset) {
    case kTypeColumn:
      OpenItemPattern(job, item, getPattern, ParseNumber(text));
      return;
    case kIntervalColumn:
    case kWeekdayMaskColumn:
    case kDayOfMonthColumn:
    case kInstanceColumn:
    case kMonthOfYearColumn: {
      if (pattern == nullptr || !Carries(job.PatternType, offset)) return;
      const int32_t value = ParseNumber(text);
      if (offset == kIntervalColumn && value >= 1 && value <= 999) {
        pattern->put_Interval(value);
      } else if (offset == kWeekdayMaskColumn && value >= 0) {
        pattern->put_DayOfWeekMask(value & 127);
      } else if (offset == kDayOfMonthColumn && value >= 1 && value <= 31) {
        pattern->put_DayOfMonth(value);
      } else if (offset == kInstanceColumn && value >= 0) {
        pattern->put_Instance(value);
      } else if (offset == kMonthOfYearColumn && value >= 1 && value <= 12) {
        pattern->put_MonthOfYear(value);
      }
      return;
    }
    case kStartDayColumn:
    case kEndDayColumn:
      DateDay(job.dateParts, text);
      return;
    case kStartMonthColumn:
    case kEndMonthColumn:
      DateMonth(job.dateParts, text);
      return;
    case kStartYearColumn: {
      const auto date = DateYear(job.dateParts, text, true);
      if (date && pattern != nullptr) pattern->put_PatternStartDate(*date);
      return;
    }
    case kOccurrencesColumn: {
      const int32_t value = ParseNumber(text);
      if (value >= 0 && pattern != nullptr) {
        pattern->put_NoEndDate(VARIANT_FALSE);
        pattern->put_Occurrences(value);
      }
      return;
    }
    case kEndYearColumn: {
      const auto date = DateYear(job.dateParts, text, true);
      if (date && pattern != nullptr) {
        pattern->put_NoEndDate(VARIANT_FALSE);
        pattern->put_PatternEndDate(*date);
      }
      return;
    }
    default:
      return;
  }
}

int32_t RecurrenceColumnLimit(int32_t offset) {
  if (offset < 0 || offset >= kRecurrenceColumns) return 1024;
  return kColumnLimits[offset];
}
