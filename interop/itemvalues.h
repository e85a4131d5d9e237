// An appointment and a task as plain values: every property the store keeps of them, and
// nothing of the store or of iCalendar, so that the iCalendar mapping works the same
// whichever store the items come from or go to.
//
// Contract:
// - Texts are the store's UTF-16 (line ends CR LF); times are the store's local DATE
//   values, handheld::kNoDate for a date never set; a uid is UTF-8 and empty for none.
// - A recurrence holds the values of the store's pattern (see ical_recurrence.h for
//   what they mean); it is only read when `recurring` is set.
// - A recipient is the name and address the store shows; an empty address is one still
//   to resolve (as a load resolves a name) when the item is written to a store.
// - A reminder's minutes or time count only when `reminderSet` is.
#pragma once

#include <string>
#include <vector>

#include "handheld/oledate.h"
#include "handheld/types.h"

namespace interop {

// The values of a store recurrence pattern. `type` is one of the olRecurs constants
// (handheld/pimstore.h): 0 daily, 1 weekly, 2 monthly, 3 month-nth, 5 yearly, 6 year-nth.
struct Recurrence {
  LONG type = 0;
  LONG interval = 1;
  LONG dayOfWeekMask = 0;
  LONG dayOfMonth = 0;
  LONG instance = 0;
  LONG monthOfYear = 0;
  DATE patternStart = handheld::kNoDate;
  bool noEnd = true;
  LONG occurrences = 1;
  DATE patternEnd = handheld::kNoDate;
};

struct RecipientValues {
  std::u16string name, address;
  bool operator==(const RecipientValues&) const = default;
};

struct AppointmentValues {
  std::string uid;
  std::u16string subject, location, categories, body;
  DATE start = 0, end = 0;
  bool allDay = false, reminderSet = false;
  LONG reminderMinutes = 0;  // before the start
  LONG busy = 2;             // 0 free, 1 tentative, 2 busy, 3 out of office
  LONG sensitivity = 0;      // 0 normal, 1 personal, 2 private, 3 confidential
  std::vector<RecipientValues> recipients;
  bool recurring = false;
  Recurrence pattern;
};

struct TaskValues {
  std::string uid;
  std::u16string subject, categories, body;
  LONG importance = 1;   // 0 low, 1 normal, 2 high
  LONG sensitivity = 0;  // as an appointment's
  bool complete = false, reminderSet = false;
  DATE startDate = handheld::kNoDate, dueDate = handheld::kNoDate;
  DATE reminderTime = handheld::kNoDate;
  bool recurring = false;
  Recurrence pattern;
};

}  // namespace interop
