// Test support for interop: days and store times, the store's contacts, appointments and
// tasks as plain values (made up, saved, read back, compared), whole exports and imports
// as the tools run them, other programs as child processes, and a Radicale server on
// 127.0.0.1.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "handheld/store/store_test_support.h"
#include "interop/ical_recurrence.h"
#include "interop/ical_store.h"
#include "interop/itemvalues.h"
#include "interop/transfer.h"
#include "interop/vcardcontact.h"

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
inline DATE At(int y, unsigned m, unsigned d, int hour = 0, int minute = 0, int second = 0) {
  return StoreTime(Day(y, m, d), hour, minute, second);
}
sys_days DayOf(DATE value);
sys_days DayOf(const icaltimetype& t);
std::string Text(DATE value);  // "2024-03-31 02:30:00", or "none"
std::string Iso(sys_days d);   // "2024-03-31"

// What the store's pattern means, day by day from its start up to `until`.
std::vector<sys_days> StoreMeaning(const Recurrence& r, sys_days until);

// New items saved with these values (a contact with its UID when it has one), and the
// items of the store in its order, with their UIDs.
void Add(Session& session, const ContactValues& values);
void Add(Session& session, const AppointmentValues& values);
void Add(Session& session, const TaskValues& values);
std::vector<ContactValues> Contacts(Session& session);
std::vector<AppointmentValues> Appointments(Session& session);
std::vector<TaskValues> Tasks(Session& session);
// An item's properties as "Name=value", in a fixed order: a reminder's minutes or time only
// when it is on, a pattern only when the item repeats, its end only when it ends, a UID
// only when the item has one (texts in UTF-8, dates as Text gives them).
std::vector<std::string> Fields(const ContactValues& c);
std::vector<std::string> Fields(const AppointmentValues& v);
std::vector<std::string> Fields(const TaskValues& v);
// The fields of `a` that `b` lacks ("-Name=value; ") and of `b` that `a` lacks ("+..."):
// "" when the items are alike.
std::string Differences(const std::vector<std::string>& a, const std::vector<std::string>& b);
// Item by item ("item N: ..."), and a count that differs.
std::string Differences(const std::vector<std::vector<std::string>>& a,
                        const std::vector<std::vector<std::string>>& b);
template <class Values>
std::string Differences(const Values& a, const Values& b) {
  return Differences(Fields(a), Fields(b));
}

// The items in the order of their UIDs.
template <class Values>
std::vector<Values> ByUid(std::vector<Values> items) {
  std::sort(items.begin(), items.end(),
            [](const Values& a, const Values& b) { return a.uid < b.uid; });
  return items;
}

// Made-up items of every kind the store holds. A contact's every property holds a text
// of its own with the characters that vCard escapes, CR LF, Cyrillic, emoji and long
// lines; some places are left empty so that later places of a group stand alone; dates
// from year 100 to 9999; a UID (with odd characters) on three contacts in four.
// Appointments and tasks have every recurrence type and end kind (patterns starting on
// their first occurrence, their ends consistent as a device keeps them), all-day and
// timed, times in daylight-saving changes, reminders, attendees, texts with commas,
// quotes, line ends and characters beyond the BMP.
class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  static ContactValues Contact(int n);
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
  std::mt19937 random_;
};

// An export or import of the store that HANDHELD_STORE names, as the tools run it, with
// the summary lines of what was not kept.
enum class Kind { kContacts, kEvents, kTasks };
struct Moved {
  TransferResult result;
  std::vector<std::string> lost;
  // Every problem, the error, what was not kept and every note, one a line: "" when all
  // went well.
  std::string Said() const;
};
Moved Export(Kind kind, const std::string& path);
Moved Import(Kind kind, const std::string& path, bool replace = false,
            Reading reading = Reading::kThread);
// The fields of the store's items of that kind, in the store's order or by UID.
std::vector<std::vector<std::string>> HeldFields(Kind kind, bool byUid = false);

struct Ran {
  int status = -1;  // the exit status, or 128 + the signal
  std::string out, err;
};
// Runs `argv` (argv[0] a full path) with `env` ("NAME=value") added, standard input from
// /dev/null, its output through files of `dir`; killed after `seconds`.
Ran RunProgram(const std::string& dir, const std::vector<std::string>& argv,
               const std::vector<std::string>& env = {}, int seconds = 60);
bool Installed(const char* program);

class RadicaleServer {
 public:
  // Starts the server (no authentication; its collections and log in `folder`) and waits
  // up to 10 s for it to answer.
  explicit RadicaleServer(const std::string& folder);
  ~RadicaleServer();
  RadicaleServer(const RadicaleServer&) = delete;
  RadicaleServer& operator=(const RadicaleServer&) = delete;
  bool running() const;
  std::string log() const;
  int port() const { return port_; }
  // The collection NAME as a client names it.
  std::string Url(const std::string& name) const;

 private:
  std::string folder_;
  int port_;
  pid_t pid_ = -1;
};

}  // namespace interop::testing
