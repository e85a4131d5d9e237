// The stand-in store's appointments and tasks read into plain values and written from them.
#include "interop/itemstore.h"

#include <utility>

namespace interop {
namespace {

// Runs store calls in order until one fails, remembering which one did.
class Steps {
 public:
  template <class Call>
  void operator()(const char* name, Call&& call) {
    if (FAILED(result_)) return;
    result_ = call();
    if (FAILED(result_)) failed_ = name;
  }
  HRESULT Done(const char** failed) const {
    if (failed != nullptr) *failed = failed_;
    return result_;
  }

 private:
  HRESULT result_ = S_OK;
  const char* failed_ = "";
};

VARIANT_BOOL Bool(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// A VARIANT_BOOL property read as a bool.
template <class I>
HRESULT ReadBool(I* item, HRESULT (I::*get)(VARIANT_BOOL*), bool* out) {
  VARIANT_BOOL value = VARIANT_FALSE;
  const HRESULT hr = (item->*get)(&value);
  if (SUCCEEDED(hr)) *out = value != VARIANT_FALSE;
  return hr;
}

// The pattern of an appointment or task that repeats (*recurring false otherwise).
template <class I>
HRESULT ReadItemRecurrence(I* item, bool* recurring, Recurrence* out) {
  VARIANT_BOOL repeats = VARIANT_FALSE;
  HRESULT hr = item->get_IsRecurring(&repeats);
  *recurring = SUCCEEDED(hr) && repeats != VARIANT_FALSE;
  if (!*recurring) return hr;
  IRecurrencePattern* pattern = nullptr;
  hr = item->GetRecurrencePattern(&pattern);
  if (SUCCEEDED(hr) && pattern == nullptr) hr = E_POINTER;
  if (SUCCEEDED(hr)) hr = ReadRecurrence(pattern, out);
  if (pattern != nullptr) pattern->Release();
  return hr;
}

template <class I>
HRESULT WriteItemRecurrence(I* item, const Recurrence& recurrence) {
  IRecurrencePattern* pattern = nullptr;
  HRESULT hr = item->GetRecurrencePattern(&pattern);
  if (SUCCEEDED(hr) && pattern == nullptr) hr = E_POINTER;
  if (SUCCEEDED(hr)) hr = WriteRecurrence(recurrence, pattern);
  if (pattern != nullptr) pattern->Release();
  return hr;
}

HRESULT ReadRecipients(IAppointment* item, std::vector<RecipientValues>* out) {
  IRecipients* recipients = nullptr;
  HRESULT hr = item->get_Recipients(&recipients);
  if (FAILED(hr) || recipients == nullptr) return FAILED(hr) ? hr : E_POINTER;
  INT count = 0;
  hr = recipients->get_Count(&count);
  for (INT i = 1; SUCCEEDED(hr) && i <= count; ++i) {
    IRecipient* recipient = nullptr;
    hr = recipients->Item(i, &recipient);
    if (SUCCEEDED(hr) && recipient == nullptr) hr = E_POINTER;
    if (FAILED(hr)) break;
    RecipientValues entry;
    hr = ReadText(recipient, &IRecipient::get_Name, &entry.name);
    if (SUCCEEDED(hr)) hr = ReadText(recipient, &IRecipient::get_Address, &entry.address);
    recipient->Release();
    out->push_back(std::move(entry));
  }
  recipients->Release();
  return hr;
}

// Adds `name` to the recipients and resolves it as a load does; *resolved false (and the
// recipient taken off again) when it does not resolve.
HRESULT AddResolved(IRecipients* recipients, const std::u16string& name, bool* resolved,
                    IRecipient** added) {
  BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  IRecipient* recipient = nullptr;
  HRESULT hr = text != nullptr ? recipients->Add(text, &recipient) : E_OUTOFMEMORY;
  SysFreeString(text);
  if (SUCCEEDED(hr) && recipient == nullptr) hr = E_POINTER;
  if (FAILED(hr)) return hr;
  IPOlRecipient* resolvable = nullptr;
  VARIANT_BOOL done = VARIANT_FALSE;
  if (SUCCEEDED(recipient->QueryInterface(IID_IPOlRecipient, reinterpret_cast<void**>(&resolvable)))) {
    if (FAILED(resolvable->Resolve(VARIANT_TRUE, &done))) done = VARIANT_FALSE;
    resolvable->Release();
  }
  *resolved = done != VARIANT_FALSE;
  if (!*resolved) {
    INT count = 0;
    hr = recipients->get_Count(&count);
    if (SUCCEEDED(hr)) hr = recipients->Remove(count);
  }
  if (added != nullptr && SUCCEEDED(hr)) {
    *added = recipient;
  } else {
    recipient->Release();
  }
  return hr;
}

HRESULT WriteRecipients(const std::vector<RecipientValues>& values, IAppointment* item,
                        ItemLosses* losses) {
  IRecipients* recipients = nullptr;
  HRESULT hr = item->get_Recipients(&recipients);
  if (FAILED(hr) || recipients == nullptr) return FAILED(hr) ? hr : E_POINTER;
  for (const RecipientValues& value : values) {
    if (value.address.empty()) {
      bool resolved = false;
      hr = AddResolved(recipients, value.name, &resolved, nullptr);
      if (SUCCEEDED(hr) && !resolved && losses != nullptr) {
        losses->Add("ATTENDEE without a mail address that no contact has");
      }
    } else {
      BSTR text = SysAllocStringLen(value.name.data(), static_cast<UINT>(value.name.size()));
      IRecipient* recipient = nullptr;
      hr = text != nullptr ? recipients->Add(text, &recipient) : E_OUTOFMEMORY;
      SysFreeString(text);
      if (SUCCEEDED(hr) && recipient == nullptr) hr = E_POINTER;
      if (SUCCEEDED(hr)) hr = WriteText(recipient, &IRecipient::put_Address, value.address);
      if (recipient != nullptr) recipient->Release();
    }
    if (FAILED(hr)) break;
  }
  recipients->Release();
  return hr;
}

// Hands out a new item whose values were all set, with its losses counted; or releases
// it and names the value that the store refused.
template <class I>
HRESULT HandOut(I* item, HRESULT hr, const char* failed, const char* noun, ItemLosses* losses,
                I** out, std::string* error) {
  if (FAILED(hr)) {
    item->Release();
    *error = std::string("the store refused the ") + noun + "'s " + failed;
    return hr;
  }
  if (losses != nullptr) losses->Report();
  *out = item;
  return S_OK;
}

}  // namespace

HRESULT ReadAppointment(IAppointment* item, AppointmentValues* out, const char** failed) {
  Steps step;
  step("Subject", [&] { return ReadText(item, &IAppointment::get_Subject, &out->subject); });
  step("Location", [&] { return ReadText(item, &IAppointment::get_Location, &out->location); });
  step("Start", [&] { return item->get_Start(&out->start); });
  step("End", [&] { return item->get_End(&out->end); });
  step("AllDayEvent", [&] { return ReadBool(item, &IAppointment::get_AllDayEvent, &out->allDay); });
  step("ReminderSet",
       [&] { return ReadBool(item, &IAppointment::get_ReminderSet, &out->reminderSet); });
  step("ReminderMinutesBeforeStart",
       [&] { return item->get_ReminderMinutesBeforeStart(&out->reminderMinutes); });
  step("Categories",
       [&] { return ReadText(item, &IAppointment::get_Categories, &out->categories); });
  step("BusyStatus", [&] { return item->get_BusyStatus(&out->busy); });
  step("Sensitivity", [&] { return item->get_Sensitivity(&out->sensitivity); });
  step("Body", [&] { return ReadText(item, &IAppointment::get_Body, &out->body); });
  step("Recipients", [&] { return ReadRecipients(item, &out->recipients); });
  step("the recurrence",
       [&] { return ReadItemRecurrence(item, &out->recurring, &out->pattern); });
  return step.Done(failed);
}

HRESULT WriteAppointment(const AppointmentValues& v, IAppointment* item, ItemLosses* losses,
                         const char** failed) {
  Steps step;
  step("Subject", [&] { return WriteText(item, &IAppointment::put_Subject, v.subject); });
  step("Location", [&] { return WriteText(item, &IAppointment::put_Location, v.location); });
  step("Start", [&] { return item->put_Start(v.start); });
  step("End", [&] { return item->put_End(v.end); });
  step("AllDayEvent", [&] { return item->put_AllDayEvent(Bool(v.allDay)); });
  step("ReminderSet", [&] { return item->put_ReminderSet(Bool(v.reminderSet)); });
  if (v.reminderSet) {
    step("ReminderMinutesBeforeStart",
         [&] { return item->put_ReminderMinutesBeforeStart(v.reminderMinutes); });
  }
  step("Categories", [&] { return WriteText(item, &IAppointment::put_Categories, v.categories); });
  step("BusyStatus", [&] { return item->put_BusyStatus(v.busy); });
  step("Sensitivity", [&] { return item->put_Sensitivity(v.sensitivity); });
  step("Body", [&] { return WriteText(item, &IAppointment::put_Body, v.body); });
  if (!v.recipients.empty()) {
    step("Recipients", [&] { return WriteRecipients(v.recipients, item, losses); });
  }
  if (v.recurring) step("the recurrence", [&] { return WriteItemRecurrence(item, v.pattern); });
  return step.Done(failed);
}

HRESULT NewAppointment(IPOutlookApp* app, const AppointmentValues& values, ItemLosses* losses,
                       IAppointment** out, std::string* error) {
  *out = nullptr;
  IAppointment* item = nullptr;
  if (HRESULT hr = NewItem(app, olAppointmentItem, &item); FAILED(hr)) {
    *error = "the store could not create an appointment";
    return hr;
  }
  const char* failed = "";
  const HRESULT hr = WriteAppointment(values, item, losses, &failed);
  return HandOut(item, hr, failed, "appointment", losses, out, error);
}

HRESULT ReadTask(ITask* item, TaskValues* out, const char** failed) {
  Steps step;
  step("Subject", [&] { return ReadText(item, &ITask::get_Subject, &out->subject); });
  step("Importance", [&] { return item->get_Importance(&out->importance); });
  step("Complete", [&] { return ReadBool(item, &ITask::get_Complete, &out->complete); });
  step("StartDate", [&] { return item->get_StartDate(&out->startDate); });
  step("DueDate", [&] { return item->get_DueDate(&out->dueDate); });
  step("ReminderSet", [&] { return ReadBool(item, &ITask::get_ReminderSet, &out->reminderSet); });
  step("ReminderTime", [&] { return item->get_ReminderTime(&out->reminderTime); });
  step("Categories", [&] { return ReadText(item, &ITask::get_Categories, &out->categories); });
  step("Sensitivity", [&] { return item->get_Sensitivity(&out->sensitivity); });
  step("Body", [&] { return ReadText(item, &ITask::get_Body, &out->body); });
  step("the recurrence",
       [&] { return ReadItemRecurrence(item, &out->recurring, &out->pattern); });
  return step.Done(failed);
}

HRESULT WriteTask(const TaskValues& v, ITask* item, const char** failed) {
  Steps step;
  step("Subject", [&] { return WriteText(item, &ITask::put_Subject, v.subject); });
  step("Importance", [&] { return item->put_Importance(v.importance); });
  step("Complete", [&] { return item->put_Complete(Bool(v.complete)); });
  step("StartDate", [&] { return item->put_StartDate(v.startDate); });
  step("DueDate", [&] { return item->put_DueDate(v.dueDate); });
  step("ReminderSet", [&] { return item->put_ReminderSet(Bool(v.reminderSet)); });
  if (v.reminderSet) step("ReminderTime", [&] { return item->put_ReminderTime(v.reminderTime); });
  step("Categories", [&] { return WriteText(item, &ITask::put_Categories, v.categories); });
  step("Sensitivity", [&] { return item->put_Sensitivity(v.sensitivity); });
  step("Body", [&] { return WriteText(item, &ITask::put_Body, v.body); });
  if (v.recurring) step("the recurrence", [&] { return WriteItemRecurrence(item, v.pattern); });
  return step.Done(failed);
}

HRESULT NewTask(IPOutlookApp* app, const TaskValues& values, ItemLosses* losses, ITask** out,
                std::string* error) {
  *out = nullptr;
  ITask* item = nullptr;
  if (HRESULT hr = NewItem(app, olTaskItem, &item); FAILED(hr)) {
    *error = "the store could not create a task";
    return hr;
  }
  const char* failed = "";
  const HRESULT hr = WriteTask(values, item, &failed);
  return HandOut(item, hr, failed, "task", losses, out, error);
}

bool ResolveName(IPOutlookApp* app, const std::u16string& name, std::u16string* address) {
  IAppointment* item = nullptr;
  if (FAILED(NewItem(app, olAppointmentItem, &item))) return false;
  IRecipients* recipients = nullptr;
  IRecipient* recipient = nullptr;
  bool resolved = false;
  HRESULT hr = item->get_Recipients(&recipients);
  if (SUCCEEDED(hr) && recipients != nullptr) {
    hr = AddResolved(recipients, name, &resolved, &recipient);
    recipients->Release();
  }
  if (SUCCEEDED(hr) && resolved) {
    resolved = SUCCEEDED(ReadText(recipient, &IRecipient::get_Address, address));
  }
  if (recipient != nullptr) recipient->Release();
  item->Release();
  return SUCCEEDED(hr) && resolved;
}

HRESULT ReadRecurrence(IRecurrencePattern* pattern, Recurrence* out) {
  Recurrence r;
  VARIANT_BOOL noEnd = VARIANT_TRUE;
  HRESULT hr = pattern->get_RecurrenceType(&r.type);
  if (SUCCEEDED(hr)) hr = pattern->get_Interval(&r.interval);
  if (SUCCEEDED(hr)) hr = pattern->get_DayOfWeekMask(&r.dayOfWeekMask);
  if (SUCCEEDED(hr)) hr = pattern->get_DayOfMonth(&r.dayOfMonth);
  if (SUCCEEDED(hr)) hr = pattern->get_Instance(&r.instance);
  if (SUCCEEDED(hr)) hr = pattern->get_MonthOfYear(&r.monthOfYear);
  if (SUCCEEDED(hr)) hr = pattern->get_PatternStartDate(&r.patternStart);
  if (SUCCEEDED(hr)) hr = pattern->get_NoEndDate(&noEnd);
  if (SUCCEEDED(hr)) hr = pattern->get_Occurrences(&r.occurrences);
  if (SUCCEEDED(hr)) hr = pattern->get_PatternEndDate(&r.patternEnd);
  r.noEnd = noEnd != VARIANT_FALSE;
  if (SUCCEEDED(hr)) *out = r;
  return hr;
}

HRESULT WriteRecurrence(const Recurrence& r, IRecurrencePattern* pattern) {
  HRESULT hr = pattern->put_RecurrenceType(r.type);
  const bool weekdays =
      r.type == olRecursWeekly || r.type == olRecursMonthNth || r.type == olRecursYearNth;
  const bool nth = r.type == olRecursMonthNth || r.type == olRecursYearNth;
  const bool yearly = r.type == olRecursYearly || r.type == olRecursYearNth;
  if (SUCCEEDED(hr) && !yearly) hr = pattern->put_Interval(r.interval);
  if (SUCCEEDED(hr) && weekdays) hr = pattern->put_DayOfWeekMask(r.dayOfWeekMask);
  if (SUCCEEDED(hr) && (r.type == olRecursMonthly || r.type == olRecursYearly)) {
    hr = pattern->put_DayOfMonth(r.dayOfMonth);
  }
  if (SUCCEEDED(hr) && nth) hr = pattern->put_Instance(r.instance);
  if (SUCCEEDED(hr) && yearly) hr = pattern->put_MonthOfYear(r.monthOfYear);
  if (SUCCEEDED(hr)) hr = pattern->put_PatternStartDate(r.patternStart);
  if (SUCCEEDED(hr)) hr = pattern->put_NoEndDate(r.noEnd ? VARIANT_TRUE : VARIANT_FALSE);
  if (SUCCEEDED(hr) && !r.noEnd) hr = pattern->put_Occurrences(r.occurrences);
  if (SUCCEEDED(hr) && !r.noEnd && r.patternEnd != handheld::kNoDate) {
    hr = pattern->put_PatternEndDate(r.patternEnd);
  }
  return hr;
}

}  // namespace interop
