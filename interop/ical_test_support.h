// Test support for the calendar and task mappings: days, what a store pattern means
// (expanded day by day, independently of the mapping), store items as plain values to
// write, read and compare, a loss recorder, and whole exports and imports.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "handheld/store/storetest.h"
#include "interop/ical_losses.h"
#include "interop/ical_recurrence.h"
#include "interop/ical_store.h"

namespace std::chrono {
// Days print as dates in failure messages.
inline void PrintTo(const sys_days& d, std::ostream* out) {
  year_month_day ymd{d};
  *out << static_cast<int>(ymd.year()) << '-' << static_cast<unsigned>(ymd.month()) << '-'
       << static_cast<unsigned>(ymd.day());
}
}  // namespace std::chrono

namespace interop::testing {

using handheld::store::testing::Bstr;
using handheld::store::testing::Ref;
using handheld::store::testing::Session;
using std::chrono::days;
using std::chrono::sys_days;

sys_days Day(int y, unsigned m, unsigned d);
DATE StoreTime(sys_days d, int hour = 0, int minute = 0, int second = 0);
sys_days DayOf(DATE value);
sys_days DayOf(const icaltimetype& t);
std::string Text(DATE value);  // "2024-03-31 02:30:00", or "none"

// What the store's pattern means, day by day from its start up to `until`.
std::vector<sys_days> StoreMeaning(const Recurrence& r, sys_days until);

class RecordedLosses : public LossCounter {
 public:
  void NotKept(std::string_view what) override { ++counts[std::string(what)]; }
  std::map<std::string, int> counts;
};

struct RecipientValues {
  std::u16string name, address;
  bool operator==(const RecipientValues&) const = default;
};

struct AppointmentValues {
  std::string uid;  // read back, never compared
  std::u16string subject, location, categories, body;
  DATE start = 0, end = 0;
  bool allDay = false, reminderSet = false;
  LONG reminderMinutes = 0, busy = 2, sensitivity = 0;
  std::vector<RecipientValues> recipients;
  bool recurring = false;
  Recurrence pattern;
};

struct TaskValues {
  std::string uid;  // read back, never compared
  std::u16string subject, categories, body;
  LONG importance = 1, sensitivity = 0;
  bool complete = false, reminderSet = false;
  DATE startDate = handheld::kNoDate, dueDate = handheld::kNoDate;
  DATE reminderTime = handheld::kNoDate;
  bool recurring = false;
  Recurrence pattern;
};

// Saves new items with these values.
void AddAppointment(Session& session, const AppointmentValues& values);
void AddTask(Session& session, const TaskValues& values);
std::vector<AppointmentValues> Appointments(Session& session);
std::vector<TaskValues> Tasks(Session& session);
// The properties that differ ("" when none), with both values; a reminder's time only
// counts when it is on, an end count only when no end date governs.
std::string Differences(const AppointmentValues& a, const AppointmentValues& b);
std::string Differences(const TaskValues& a, const TaskValues& b);

// Made-up appointments and tasks of every kind the store holds: every recurrence type
// and end kind (patterns starting on their first occurrence, their ends consistent as a
// device keeps them), all-day and timed, times in daylight-saving changes, reminders,
// attendees, texts with commas, quotes, line ends and characters beyond the BMP.
class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  Recurrence Pattern(sys_days from);
  // `changeDays` are days on which the local clock changes (may be empty).
  AppointmentValues Appointment(const std::vector<sys_days>& changeDays);
  TaskValues Task();

 private:
  template <class T, size_t N>
  const T& OneOf(const T (&values)[N]) {
    return values[static_cast<size_t>(Pick(0, static_cast<int>(N) - 1))];
  }
  std::u16string Subject();
  std::u16string Body();
  std::u16string Categories();
  std::mt19937 random_;
};

// The store's appointments or tasks (of the store HANDHELD_STORE names) exported to
// PATH (a file, or a folder when it ends in '/'), or PATH imported into it, as the tools
// run them: the lines they would report (problems, error, what was not kept, notes),
// none when all went well.
std::vector<std::string> Export(IcalKind kind, const std::string& path);
std::vector<std::string> ImportInto(IcalKind kind, const std::string& path, bool replace = false);

// Imports every .ics file at `path` (a file, or the files of a folder in the order of
// their names, shorter names first) through the mapping alone, counting what it cannot
// keep in `losses`.
ImportResult Import(Session& session, IcalKind kind, const std::string& path, LossCounter* losses);

// The items in the order of their UIDs.
template <class Values>
std::vector<Values> ByUid(std::vector<Values> items) {
  std::sort(items.begin(), items.end(),
            [](const Values& a, const Values& b) { return a.uid < b.uid; });
  return items;
}

}  // namespace interop::testing
