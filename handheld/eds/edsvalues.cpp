// The store's item values and the mapping's plain values (see edsvalues.h).
#include "handheld/eds/edsvalues.h"

#include <memory>

namespace handheld::eds {
namespace {

using namespace store;

double Bool(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

void PutPattern(bool recurring, const interop::Recurrence& from, ItemValues* item) {
  if (!recurring) return;
  item->pattern = std::make_shared<PatternState>();
  item->pattern->repeats = true;
  PatternData& to = item->pattern->data;
  to.recurrenceType = from.type;
  to.interval = from.interval;
  to.dayOfWeekMask = from.dayOfWeekMask;
  to.dayOfMonth = from.dayOfMonth;
  to.instance = from.instance;
  to.monthOfYear = from.monthOfYear;
  to.patternStartDate = from.patternStart;
  to.noEndDate = from.noEnd ? VARIANT_TRUE : VARIANT_FALSE;
  to.occurrences = from.occurrences;
  to.patternEndDate = from.patternEnd;
}

bool TakePattern(const ItemValues& item, interop::Recurrence* to) {
  if (item.pattern == nullptr || !item.pattern->repeats) return false;
  const PatternData& from = item.pattern->data;
  to->type = from.recurrenceType;
  to->interval = from.interval;
  to->dayOfWeekMask = from.dayOfWeekMask;
  to->dayOfMonth = from.dayOfMonth;
  to->instance = from.instance;
  to->monthOfYear = from.monthOfYear;
  to->patternStart = from.patternStartDate;
  to->noEnd = from.noEndDate != VARIANT_FALSE;
  to->occurrences = from.occurrences;
  to->patternEnd = from.patternEndDate;
  return true;
}

LONG Long(double value) {
  return static_cast<LONG>(value);
}

}  // namespace

ItemValues ItemFromContact(const interop::ContactValues& contact) {
  ItemValues item = NewItemValues(Kind::kContact, SYSTEMTIME{});
  for (int i = 0; i < kContactStringCount; ++i) item.strings[i] = contact.texts[i];
  item.numbers[kContactBirthday] = contact.birthday;
  item.numbers[kContactAnniversary] = contact.anniversary;
  return item;
}

interop::ContactValues ContactFromItem(const ItemValues& item) {
  interop::ContactValues contact;
  for (int i = 0; i < kContactStringCount; ++i) contact.texts[i] = item.strings[i];
  contact.birthday = item.numbers[kContactBirthday];
  contact.anniversary = item.numbers[kContactAnniversary];
  return contact;
}

ItemValues ItemFromAppointment(const interop::AppointmentValues& a) {
  ItemValues item = NewItemValues(Kind::kAppointment, SYSTEMTIME{});
  item.strings[kAppointmentSubject] = a.subject;
  item.strings[kAppointmentLocation] = a.location;
  item.strings[kAppointmentCategories] = a.categories;
  item.strings[kAppointmentBody] = a.body;
  item.numbers[kAppointmentStart] = a.start;
  item.numbers[kAppointmentEnd] = a.end;
  item.numbers[kAppointmentAllDayEvent] = Bool(a.allDay);
  item.numbers[kAppointmentReminderSet] = Bool(a.reminderSet);
  if (a.reminderSet) item.numbers[kAppointmentReminderMinutesBeforeStart] = a.reminderMinutes;
  item.numbers[kAppointmentBusyStatus] = a.busy;
  item.numbers[kAppointmentSensitivity] = a.sensitivity;
  for (const interop::RecipientValues& recipient : a.recipients) {
    item.recipients->push_back(
        std::make_shared<RecipientEntry>(RecipientEntry{recipient.name, recipient.address}));
  }
  PutPattern(a.recurring, a.pattern, &item);
  return item;
}

interop::AppointmentValues AppointmentFromItem(const ItemValues& item) {
  interop::AppointmentValues a;
  a.subject = item.strings[kAppointmentSubject];
  a.location = item.strings[kAppointmentLocation];
  a.categories = item.strings[kAppointmentCategories];
  a.body = item.strings[kAppointmentBody];
  a.start = item.numbers[kAppointmentStart];
  a.end = item.numbers[kAppointmentEnd];
  a.allDay = item.numbers[kAppointmentAllDayEvent] != 0;
  a.reminderSet = item.numbers[kAppointmentReminderSet] != 0;
  a.reminderMinutes = Long(item.numbers[kAppointmentReminderMinutesBeforeStart]);
  a.busy = Long(item.numbers[kAppointmentBusyStatus]);
  a.sensitivity = Long(item.numbers[kAppointmentSensitivity]);
  if (item.recipients != nullptr) {
    for (const auto& entry : *item.recipients) a.recipients.push_back({entry->name, entry->address});
  }
  a.recurring = TakePattern(item, &a.pattern);
  return a;
}

ItemValues ItemFromTask(const interop::TaskValues& t) {
  ItemValues item = NewItemValues(Kind::kTask, SYSTEMTIME{});
  item.strings[kTaskSubject] = t.subject;
  item.strings[kTaskCategories] = t.categories;
  item.strings[kTaskBody] = t.body;
  item.numbers[kTaskImportance] = t.importance;
  item.numbers[kTaskComplete] = Bool(t.complete);
  item.numbers[kTaskStartDate] = t.startDate;
  item.numbers[kTaskDueDate] = t.dueDate;
  item.numbers[kTaskReminderSet] = Bool(t.reminderSet);
  item.numbers[kTaskReminderTime] = t.reminderTime;
  item.numbers[kTaskSensitivity] = t.sensitivity;
  PutPattern(t.recurring, t.pattern, &item);
  return item;
}

interop::TaskValues TaskFromItem(const ItemValues& item) {
  interop::TaskValues t;
  t.subject = item.strings[kTaskSubject];
  t.categories = item.strings[kTaskCategories];
  t.body = item.strings[kTaskBody];
  t.importance = Long(item.numbers[kTaskImportance]);
  t.complete = item.numbers[kTaskComplete] != 0;
  t.startDate = item.numbers[kTaskStartDate];
  t.dueDate = item.numbers[kTaskDueDate];
  t.reminderSet = item.numbers[kTaskReminderSet] != 0;
  t.reminderTime = item.numbers[kTaskReminderTime];
  t.sensitivity = Long(item.numbers[kTaskSensitivity]);
  t.recurring = TakePattern(item, &t.pattern);
  return t;
}

}  // namespace handheld::eds
