// The appointment record: one Calendar appointment as one line of 32 columns, and back.
#include "records/appointment.h"

#include <cstddef>
#include <string_view>

#include "records/recordfields.h"

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

void TrackAppointmentDate(RecordContext& job, int32_t column) {
  TrackDateGroup(
      job, column,
      {{kStartColumn, 5}, {kEndColumn, 5}, {kPatternColumn + 6, 3}, {kPatternColumn + 10, 3}});
}

// Column 26: the lead time when the reminder is on, else an empty field.
void WriteReminder(FieldOutput& out, IAppointment* appointment) {
  if (out.runFault != FaultNone) return;
  VARIANT_BOOL reminderSet = VARIANT_FALSE;
  LONG minutes = 0;
  HRESULT status = appointment->get_ReminderSet(&reminderSet);
  if (SUCCEEDED(status)) status = appointment->get_ReminderMinutesBeforeStart(&minutes);
  if (FAILED(status)) {
    out.runFault = FaultRead;
  } else if (reminderSet != VARIANT_FALSE) {
    WriteLongField(out, S_OK, minutes);
  } else {
    WriteEmptyFields(out, 1);
  }
}

// The recipient at a 1-based index (the caller releases it), or null.
IRecipient* RecipientAt(IRecipients* recipients, INT index) {
  IRecipient* recipient = nullptr;
  if (FAILED(recipients->Item(index, &recipient)) && recipient != nullptr) {
    recipient->Release();
    recipient = nullptr;
  }
  return recipient;
}

size_t TextLength(const char16_t* text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length] != 0) ++length;
  return length;
}

// What a recipient is written as: its address, or its name when it has no address (a
// recipient that resolved by name alone). Null when neither can be read or both are
// empty. A name beside the address is not written, and told.
BSTR RecipientText(FieldOutput& out, IRecipient* recipient) {
  BSTR address = nullptr;
  BSTR name = nullptr;
  if (FAILED(recipient->get_Address(&address)) || SysStringLen(address) == 0) {
    SysFreeString(address);
    address = nullptr;
  }
  if (FAILED(recipient->get_Name(&name)) || SysStringLen(name) == 0) {
    SysFreeString(name);
    name = nullptr;
  }
  if (address == nullptr) return name;
  if (name != nullptr && std::u16string_view(name, SysStringLen(name)) !=
                             std::u16string_view(address, SysStringLen(address))) {
    NoteLoss(out, LossRecipientName);
  }
  SysFreeString(name);
  return address;
}

// Column 28: the recipients from the last to the first, joined in the line buffer. A
// recipient that would not fit into the line is left out alone; later ones that fit
// are still written. Failures leave recipients out; they never fault.
void WriteRecipients(FieldOutput& out, IAppointment* appointment) {
  char16_t* const line = out.lineBuffer;
  size_t length = 0;
  line[0] = 0;
  IRecipients* recipients = nullptr;
  if (SUCCEEDED(appointment->get_Recipients(&recipients)) && recipients != nullptr) {
    INT count = 0;
    if (FAILED(recipients->get_Count(&count))) count = 0;
    for (INT index = count; index >= 1; --index) {
      IRecipient* recipient = RecipientAt(recipients, index);
      if (recipient == nullptr) continue;
      BSTR text = RecipientText(out, recipient);
      if (text != nullptr && SUCCEEDED(EscapeText(S_OK, &text))) {
        const size_t textLength = TextLength(text, SysStringLen(text));
        const size_t separatorLength = length > 0 ? 1 : 0;
        if (length + separatorLength + textLength <= static_cast<size_t>(kLineBufferChars)) {
          if (separatorLength > 0) line[length++] = RecipientSeparator[0];
          for (size_t i = 0; i < textLength; ++i) line[length++] = text[i];
          line[length] = 0;
        } else {
          NoteLoss(out, LossTextTooLong);
        }
      }
      SysFreeString(text);
      recipient->Release();
    }
    recipients->Release();
  }
  WriteTextField(out, S_OK, line);
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
void AddRecipients(IAppointment* appointment, char16_t* text) {
  IRecipients* recipients = nullptr;
  if (FAILED(appointment->get_Recipients(&recipients)) || recipients == nullptr) {
    if (recipients != nullptr) recipients->Release();
    return;
  }
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
    IRecipient* recipient = RecipientAt(recipients, index);
    if (recipient == nullptr) continue;
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

}  // namespace

void WriteAppointmentRecord(RecordContext& job, int32_t itemIndex) {
  auto* appointment = static_cast<IAppointment*>(FetchItem(job, itemIndex));
  if (appointment == nullptr) {
    job.runFault = FaultFetch;
    return;
  }
  WriteTextProperty(job, appointment, &IAppointment::get_Subject);
  WriteTextProperty(job, appointment, &IAppointment::get_Location);
  WriteDateTimeProperty(job, appointment, &IAppointment::get_Start);
  WriteDateTimeProperty(job, appointment, &IAppointment::get_End);
  WriteFlagProperty(job, appointment, &IAppointment::get_AllDayEvent);
  WriteItemRecurrence(job, appointment);
  WriteReminder(job, appointment);
  WriteTextProperty(job, appointment, &IAppointment::get_Categories);
  WriteRecipients(job, appointment);
  WriteNumberProperty(job, appointment, &IAppointment::get_BusyStatus);
  WriteSensitivityProperty(job, appointment);
  WriteTextProperty(job, appointment, &IAppointment::get_Body);
  WriteChar(job, u'\r');
  WriteChar(job, u'\n');
  appointment->Release();
}

int32_t AppointmentColumnLimit(int32_t column) {
  return ScheduleColumnLimit(column, kPatternColumn, kColumnLimits, kAppointmentColumns);
}

bool AppointmentRecordStarted(const RecordContext& job) {
  return job.newAppointment != nullptr;
}

bool StartAppointmentRecord(RecordContext& job) {
  return StartScheduleRecord(job, job.newAppointment, olAppointmentItem);
}

void ApplyAppointmentColumn(RecordContext& job, int32_t column, char16_t* field) {
  if (job.newAppointment == nullptr) return;
  TrackAppointmentDate(job, column);
  const char16_t* text = field;
  DateParts& date = job.dateParts;
  IAppointment* const item = job.newAppointment;
  switch (column) {
    case kSubjectColumn:
      PutTextProperty(item, &IAppointment::put_Subject, UnescapeText(field));
      return;
    case kLocationColumn:
      PutTextProperty(item, &IAppointment::put_Location, UnescapeText(field));
      return;
    case kStartColumn:
    case kEndColumn:
      DateDay(date, text);
      return;
    case kStartColumn + 1:
    case kEndColumn + 1:
      DateMonth(date, text);
      return;
    case kStartColumn + 2:
    case kEndColumn + 2:
      DateYear(date, text, false);
      return;
    case kStartColumn + 3:
    case kEndColumn + 3:
      DateHour(date, text);
      return;
    case kStartColumn + 4:
      if (const auto start = DateMinute(date, text)) item->put_Start(*start);
      return;
    case kEndColumn + 4:
      if (const auto end = DateMinute(date, text)) item->put_End(*end);
      return;
    case kAllDayColumn:
      PutFlagProperty(item, &IAppointment::put_AllDayEvent, text);
      return;
    case kReminderColumn: {
      const int32_t minutes = ParseNumber(text);
      if (minutes < 0) return;
      item->put_ReminderMinutesBeforeStart(minutes);
      item->put_ReminderSet(1);
      job.ReminderGiven = true;
      return;
    }
    case kCategoriesColumn:
      PutTextProperty(item, &IAppointment::put_Categories, UnescapeText(field));
      return;
    case kRecipientsColumn:
      AddRecipients(item, field);
      return;
    case kBusyStatusColumn: {
      const int32_t status = ParseNumber(text);
      if (status >= 0 && status <= 3) item->put_BusyStatus(status);
      return;
    }
    case kSensitivityColumn:
      PutSensitivity(item, text);
      return;
    case kBodyColumn:
      PutTextProperty(item, &IAppointment::put_Body, UnescapeText(field));
      return;
    default:
      if (column >= kPatternColumn && column < kPatternColumn + kRecurrenceColumns) {
        ApplyRecurrenceColumn(job, item, GetItemPattern<IAppointment>, column - kPatternColumn,
                              text);
      }
      return;
  }
}

bool EndAppointmentRecord(RecordContext& job) {
  return EndScheduleRecord(job, job.newAppointment);
}
