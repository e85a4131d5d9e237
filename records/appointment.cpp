// The appointment record: one Calendar appointment as one line of 32 columns, and back.
#include "records/appointment.h"

#include <cstddef>

#include "format/linebuffer.h"
#include "format/parsers.h"
#include "format/writers.h"
#include "records/kinds.h"
#include "records/recurrence.h"

namespace {

constexpr int32_t kSubjectColumn = 0;
constexpr int32_t kLocationColumn = 1;
constexpr int32_t kStartColumn = 2;  // day, month, year, hour, minute
constexpr int32_t kEndColumn = 7;    // day, month, year, hour, minute
constexpr int32_t kAllDayColumn = 12;
constexpr int32_t kPatternColumn = 13;  // the recurrence block, 13 columns
constexpr int32_t kReminderColumn = 26;
constexpr int32_t kCategoriesColumn = 27;
constexpr int32_t kRecipientsColumn = 28;
constexpr int32_t kBusyStatusColumn = 29;
constexpr int32_t kSensitivityColumn = 30;
constexpr int32_t kBodyColumn = 31;

// A column beyond the record's last one is never stored; its limit only decides
// whether a long extra field still creates an item.
constexpr int32_t kExtraColumnLimit = 1024;

// Limits of the columns outside the recurrence block.
// clang-format off
constexpr int32_t kColumnLimits[kAppointmentColumns] = {
    4096, 1024,                               // subject, location
    2, 2, 4, 2, 2,                            // start
    2, 2, 4, 2, 2,                            // end
    1,                                        // all-day flag
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // recurrence block (its own limits)
    10, 1024, 1024, 1, 1, kLineBufferChars};  // reminder ... body
// clang-format on

// Joins recipients with this text on export and splits them at it on import.
const char16_t RecipientSeparator[] = u",";

// The first column of the date in DateParts, or -1. A date's day field starts it; a
// date whose day field was empty or dropped must not go on from an earlier date's day.
int32_t DateGroup = -1;

void EnterDateGroup(int32_t column, int32_t firstColumn) {
  if (column == firstColumn) {
    DateGroup = firstColumn;
  } else if (DateGroup != firstColumn) {
    DateDay(u"");  // this date's day is missing: start it from cleared parts
    DateGroup = firstColumn;
  }
}

// Starts the date of `column` when the column belongs to one.
void TrackDateGroup(int32_t column) {
  static constexpr struct {
    int32_t first;
    int32_t count;
  } kDateGroups[] = {
      {kStartColumn, 5}, {kEndColumn, 5}, {kPatternColumn + 6, 3}, {kPatternColumn + 10, 3}};
  for (const auto& group : kDateGroups) {
    if (column >= group.first && column < group.first + group.count) {
      EnterDateGroup(column, group.first);
      return;
    }
  }
}

IAppointment* FetchAppointment(int32_t itemIndex) {
  if (JobContext.items == nullptr) return nullptr;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.items->Item(itemIndex, &item))) {
    if (item != nullptr) item->Release();
    return nullptr;
  }
  return static_cast<IAppointment*>(item);
}

void WriteString(IAppointment* appointment, HRESULT (IAppointment::*getter)(BSTR*)) {
  BSTR text = nullptr;
  const HRESULT status = (appointment->*getter)(&text);
  WriteTextField(EscapeText(status, text), text);
}

void WriteDateTime(IAppointment* appointment, HRESULT (IAppointment::*getter)(DATE*)) {
  DATE value = 0;
  const HRESULT status = (appointment->*getter)(&value);
  WriteDateTimeField(status, value);
}

void WriteNumber(IAppointment* appointment, HRESULT (IAppointment::*getter)(LONG*)) {
  LONG value = 0;
  const HRESULT status = (appointment->*getter)(&value);
  WriteLongField(status, value);
}

// Column 26: the lead time when the reminder is on, else an empty field.
void WriteReminder(IAppointment* appointment) {
  if (RunFault != FaultNone) return;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  LONG minutes = 0;
  HRESULT status = appointment->get_ReminderSet(&reminderSet);
  if (SUCCEEDED(status)) status = appointment->get_ReminderMinutesBeforeStart(&minutes);
  if (FAILED(status)) {
    RunFault = FaultRead;
  } else if (reminderSet != VARIANT_FALSE) {
    WriteLongField(S_OK, minutes);
  } else {
    WriteEmptyFields(1);
  }
}

size_t TextLength(const char16_t* text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length] != 0) ++length;
  return length;
}

// Column 28: the recipients' addresses from the last to the first, joined in LineBuffer.
// A recipient that would not fit into LineBuffer is left out, and so is every one after
// it, so the field stays whole. Failures leave recipients out; they never fault.
void WriteRecipients(IAppointment* appointment) {
  size_t length = 0;
  LineBuffer[0] = 0;
  bool full = false;
  IRecipients* recipients = nullptr;
  if (SUCCEEDED(appointment->get_Recipients(&recipients)) && recipients != nullptr) {
    INT count = 0;
    if (FAILED(recipients->get_Count(&count))) count = 0;
    for (INT index = count; index >= 1; --index) {
      IRecipient* recipient = nullptr;
      if (FAILED(recipients->Item(index, &recipient)) || recipient == nullptr) {
        if (recipient != nullptr) recipient->Release();
        continue;
      }
      BSTR text = nullptr;
      const HRESULT status = recipient->get_Address(&text);
      if (SUCCEEDED(status) && !full) {
        EscapeText(status, text);
        const size_t textLength = TextLength(text, SysStringLen(text));
        const size_t separatorLength = length > 0 ? 1 : 0;
        if (length + separatorLength + textLength > static_cast<size_t>(kLineBufferChars)) {
          full = true;
        } else {
          if (separatorLength > 0) LineBuffer[length++] = RecipientSeparator[0];
          for (size_t i = 0; i < textLength; ++i) LineBuffer[length++] = text[i];
          LineBuffer[length] = 0;
        }
      }
      SysFreeString(text);
      recipient->Release();
    }
    recipients->Release();
  }
  WriteTextField(S_OK, LineBuffer);
}

void SetString(HRESULT (IAppointment::*setter)(BSTR), const char16_t* text) {
  BSTR value = SysAllocString(text);
  (NewAppointment->*setter)(value);
  SysFreeString(value);
}

void AddRecipient(IRecipients* recipients, const char16_t* text) {
  BSTR name = SysAllocString(text);
  IRecipient* added = nullptr;
  recipients->Add(name, &added);
  if (added != nullptr) added->Release();
  SysFreeString(name);
}

// Column 28: the pieces between commas are added from the last to the first, which
// gives back the order that the export read; recipients that do not resolve are removed.
void AddRecipients() {
  IRecipients* recipients = nullptr;
  if (FAILED(NewAppointment->get_Recipients(&recipients)) || recipients == nullptr) {
    if (recipients != nullptr) recipients->Release();
    return;
  }
  char16_t* text = LineBuffer;
  for (size_t i = TextLength(text, kLineBufferChars); i-- > 0;) {
    if (text[i] == RecipientSeparator[0]) {
      text[i] = 0;
      AddRecipient(recipients, text + i + 1);
    }
  }
  AddRecipient(recipients, text);

  INT count = 0;
  if (FAILED(recipients->get_Count(&count))) count = 0;
  for (INT index = count; index >= 1; --index) {
    IRecipient* recipient = nullptr;
    if (FAILED(recipients->Item(index, &recipient)) || recipient == nullptr) {
      if (recipient != nullptr) recipient->Release();
      continue;
    }
    bool unresolved = false;
    IPOlRecipient* resolvable = nullptr;
    if (SUCCEEDED(
            recipient->QueryInterface(IID_IPOlRecipient, reinterpret_cast<void**>(&resolvable))) &&
        resolvable != nullptr) {
      VARIANT_BOOL resolved = VARIANT_FALSE;
      resolvable->Resolve(1, &resolved);
      unresolved = resolved == VARIANT_FALSE;
      resolvable->Release();
    }
    recipient->Release();
    if (unresolved) recipients->Remove(index);
  }
  recipients->Release();
}

HRESULT GetAppointmentPattern(IDispatch* item, IRecurrencePattern** pattern) {
  return static_cast<IAppointment*>(item)->GetRecurrencePattern(pattern);
}

}  // namespace

void WriteAppointmentRecord(int32_t itemIndex) {
  IAppointment* appointment = FetchAppointment(itemIndex);
  if (appointment == nullptr) {
    RunFault = FaultFetch;
    return;
  }
  WriteString(appointment, &IAppointment::get_Subject);
  WriteString(appointment, &IAppointment::get_Location);
  WriteDateTime(appointment, &IAppointment::get_Start);
  WriteDateTime(appointment, &IAppointment::get_End);
  VARIANT_BOOL allDay = VARIANT_FALSE;
  const HRESULT allDayStatus = appointment->get_AllDayEvent(&allDay);
  WriteBoolField(allDayStatus, allDay);

  IRecurrencePattern* pattern = nullptr;
  const HRESULT patternStatus = appointment->GetRecurrencePattern(&pattern);
  VARIANT_BOOL recurring = VARIANT_FALSE;
  const HRESULT recurringStatus = appointment->get_IsRecurring(&recurring);
  WriteRecurrenceBlock(patternStatus, pattern, recurringStatus, recurring);

  WriteReminder(appointment);
  WriteString(appointment, &IAppointment::get_Categories);
  WriteRecipients(appointment);
  WriteNumber(appointment, &IAppointment::get_BusyStatus);
  WriteNumber(appointment, &IAppointment::get_Sensitivity);
  WriteString(appointment, &IAppointment::get_Body);
  WriteChar(u'\r');
  WriteChar(u'\n');
  appointment->Release();
}

int32_t AppointmentColumnLimit(int32_t column) {
  if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
    return RecurrenceColumnLimit(column - kPatternColumn);
  }
  if (column < 0 || column >= kAppointmentColumns) return kExtraColumnLimit;
  return kColumnLimits[column];
}

bool AppointmentRecordStarted() {
  return NewAppointment != nullptr;
}

bool StartAppointmentRecord() {
  if (NewAppointment != nullptr) return true;  // the record's item exists already
  ReminderGiven = false;
  if (OpenPattern != nullptr) OpenPattern->Release();
  OpenPattern = nullptr;
  PatternType = -1;
  DateGroup = -1;
  if (JobContext.app == nullptr) return false;
  IDispatch* item = nullptr;
  if (FAILED(JobContext.app->CreateItem(olAppointmentItem, &item)) || item == nullptr) {
    if (item != nullptr) item->Release();
    return false;
  }
  NewAppointment = static_cast<IAppointment*>(item);
  return true;
}

void ApplyAppointmentColumn(int32_t column) {
  if (NewAppointment == nullptr) return;
  TrackDateGroup(column);
  const char16_t* text = LineBuffer;
  switch (column) {
    case kSubjectColumn:
      SetString(&IAppointment::put_Subject, UnescapeText());
      return;
    case kLocationColumn:
      SetString(&IAppointment::put_Location, UnescapeText());
      return;
    case kStartColumn:
    case kEndColumn:
      DateDay(text);
      return;
    case kStartColumn + 1:
    case kEndColumn + 1:
      DateMonth(text);
      return;
    case kStartColumn + 2:
    case kEndColumn + 2:
      DateYear(text, false);
      return;
    case kStartColumn + 3:
    case kEndColumn + 3:
      DateHour(text);
      return;
    case kStartColumn + 4:
      if (DateMinute(text)) NewAppointment->put_Start(BuiltDate);
      return;
    case kEndColumn + 4:
      if (DateMinute(text)) NewAppointment->put_End(BuiltDate);
      return;
    case kAllDayColumn: {
      const int32_t flag = ParseBoolToken(text);
      if (flag == 1) NewAppointment->put_AllDayEvent(VARIANT_TRUE);
      if (flag == 0) NewAppointment->put_AllDayEvent(VARIANT_FALSE);
      return;
    }
    case kReminderColumn: {
      const int32_t minutes = ParseNumber(text);
      if (minutes < 0) return;
      NewAppointment->put_ReminderMinutesBeforeStart(minutes);
      NewAppointment->put_ReminderSet(1);
      ReminderGiven = true;
      return;
    }
    case kCategoriesColumn:
      SetString(&IAppointment::put_Categories, UnescapeText());
      return;
    case kRecipientsColumn:
      AddRecipients();
      return;
    case kBusyStatusColumn: {
      const int32_t status = ParseNumber(text);
      if (status >= 0 && status <= 3) NewAppointment->put_BusyStatus(status);
      return;
    }
    case kSensitivityColumn: {
      const int32_t sensitivity = ParseNumber(text);
      if (sensitivity == 0 || sensitivity == 2) NewAppointment->put_Sensitivity(sensitivity);
      return;
    }
    case kBodyColumn:
      SetString(&IAppointment::put_Body, UnescapeText());
      return;
    default:
      if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
        ApplyRecurrenceColumn(NewAppointment, GetAppointmentPattern, column - kPatternColumn);
      }
      return;
  }
}

void EndAppointmentRecord() {
  if (NewAppointment != nullptr) {
    if (!ReminderGiven) NewAppointment->put_ReminderSet(VARIANT_FALSE);
    NewAppointment->Save();
    NewAppointment->Release();
    NewAppointment = nullptr;
  }
  if (OpenPattern != nullptr) OpenPattern->Release();
  OpenPattern = nullptr;
  PatternType = -1;
  ReminderGiven = false;
  DateGroup = -1;
}
