// The items the benchmarks move, one made-up item per index for each kind (contacts,
// appointments, tasks), and the exact write() calls that exporting each one makes. The
// engine benchmark saves these items into the store; the floor issues their writes
// straight to a file; both check against the same bytes.
//
// Appointments and tasks: every second one repeats (the six recurrence types in turn,
// some without end, some with an end after a count of occurrences), and appointments
// carry one to three recipients.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"

namespace bench {

// ---- Contacts -------------------------------------------------------------------------

struct BenchContact {
  std::u16string title, firstName, lastName, mobile, email, city, company, body;
  int day, month, year;  // the birthday; the anniversary stays unset
};

inline BenchContact ContactNumber(int i) {
  static const char* const kTitles[] = {"Mr", "Ms", "Dr."};
  const std::string n = std::to_string(i);
  return {Wide(kTitles[i % 3]),
          Wide("Name" + n),
          Wide("Surname" + n),
          Wide("+7 900 " + n),
          Wide("name" + n + "@example.org"),
          Wide("Moscow"),
          Wide("Quillmote Ltd"),
          Wide("Met at the conference, table " + n + "."),
          1 + i % 28,
          1 + i % 12,
          1950 + i % 50};
}

// Each non-empty text, then its TAB; an empty text just its TAB; a date group as one
// write; CR and LF as one write each.
inline void ContactWrites(int index, Writes* out) {
  const BenchContact c = ContactNumber(index);
  const auto empty = [&](int count) {
    for (int i = 0; i < count; ++i) out->Text(u"");
  };
  out->Text(c.title);                 // 0
  out->Text(c.firstName);             // 1
  empty(1);                           // 2 middle name
  out->Text(c.lastName);              // 3
  empty(2);                           // 4 suffix, 5 categories
  out->Text(c.mobile);                // 6
  out->Text(c.email);                 // 7
  out->Date(c.day, c.month, c.year);  // 8-10 birthday
  empty(3);                           // 11-13
  out->Text(c.city);                  // 14 home city
  empty(4);                           // 15-18
  out->Tabs(3);                       // 19-21 anniversary (unset)
  empty(3);                           // 22-24
  out->Text(c.company);               // 25
  empty(23);                          // 26-48
  out->Text(c.body);                  // 49
  out->LineEnd();
}

// ---- The recurrence block ---------------------------------------------------------------

struct BenchDay {
  int day, month, year;
};

struct BenchPattern {
  bool repeats;
  int type;  // 0 daily, 1 weekly, 2 monthly, 3 month-nth, 5 yearly, 6 year-nth
  int interval, weekdayMask, dayOfMonth, instance, monthOfYear;
  BenchDay start;
  bool noEnd;
  int occurrences;
  BenchDay end;
};

// Which of interval, weekday mask, day of month, instance and month of year a type
// carries, one bit each from the interval up.
inline unsigned PatternColumns(int type) {
  switch (type) {
    case 0:
      return 0b00001;
    case 1:
      return 0b00011;
    case 2:
      return 0b00101;
    case 3:
      return 0b01011;
    case 5:
      return 0b10100;
    case 6:
      return 0b11010;
    default:
      return 0;
  }
}

// Every second item repeats; the types take turns; one pattern in three has no end.
inline BenchPattern PatternNumber(int i, BenchDay start) {
  static const int kTypes[] = {0, 1, 2, 3, 5, 6};
  BenchPattern p{};
  p.repeats = i % 2 == 0;
  if (!p.repeats) return p;
  p.type = kTypes[(i / 2) % 6];
  p.interval = 1 + i % 4;
  p.weekdayMask = 1 + i % 127;
  p.dayOfMonth = start.day;
  p.instance = 1 + i % 5;
  p.monthOfYear = start.month;
  p.start = start;
  p.noEnd = i % 3 == 0;
  p.occurrences = p.noEnd ? 0 : 5 + i % 20;
  p.end = {start.day, start.month, start.year + 1};
  return p;
}

inline void PatternWrites(const BenchPattern& p, Writes* out) {
  if (!p.repeats) {
    out->Tabs(13);
    return;
  }
  out->Number(p.type);
  const int values[5] = {p.interval, p.weekdayMask, p.dayOfMonth, p.instance, p.monthOfYear};
  for (int k = 0; k < 5; ++k) {
    if ((PatternColumns(p.type) >> k & 1u) != 0) {
      out->Number(values[k]);
    } else {
      out->Raw(u"\t");
    }
  }
  out->Date(p.start.day, p.start.month, p.start.year);
  if (p.noEnd) {
    out->Tabs(4);
  } else {
    out->Number(p.occurrences);
    out->Date(p.end.day, p.end.month, p.end.year);
  }
}

// ---- Appointments -----------------------------------------------------------------------

struct BenchRecipient {
  std::u16string name, address;
};

struct BenchAppointment {
  std::u16string subject, location;
  BenchDay day;
  int hour, minute;  // the start; the end is an hour later
  bool allDay;
  BenchPattern pattern;
  bool reminderSet;
  int reminderMinutes;
  std::u16string categories;
  std::vector<BenchRecipient> recipients;  // in the store's order
  int busyStatus, sensitivity;
  std::u16string body;
};

inline BenchAppointment AppointmentNumber(int i) {
  const std::string n = std::to_string(i);
  BenchAppointment a;
  a.subject = Wide("Meeting " + n);
  a.location = Wide("Room " + std::to_string(100 + i % 40));
  a.day = {1 + i % 28, 1 + i % 12, 2000 + i % 30};
  a.hour = 8 + i % 10;
  a.minute = (i % 4) * 15;
  a.allDay = i % 10 == 0;
  a.pattern = PatternNumber(i, a.day);
  a.reminderSet = i % 3 != 0;
  a.reminderMinutes = a.reminderSet ? 5 * (1 + i % 6) : 0;
  a.categories = i % 2 == 0 ? u"Work" : u"";
  for (int k = 0; k < 1 + i % 3; ++k) {
    const std::string guest = "guest" + std::to_string(k + 1) + "." + n;
    a.recipients.push_back({Wide("Guest " + std::to_string(k + 1)), Wide(guest + "@example.org")});
  }
  a.busyStatus = i % 4;
  a.sensitivity = (i % 2) * 2;
  a.body = Wide("Agenda for meeting " + n + ": plans, then questions.");
  return a;
}

// The recipients' addresses from the last to the first, joined by commas.
inline std::u16string RecipientList(const BenchAppointment& a) {
  std::u16string list;
  for (auto r = a.recipients.rbegin(); r != a.recipients.rend(); ++r) {
    if (!list.empty()) list += u",";
    list += r->address;
  }
  return list;
}

inline void AppointmentWrites(int index, Writes* out) {
  const BenchAppointment a = AppointmentNumber(index);
  out->Text(a.subject);
  out->Text(a.location);
  out->DateTime(a.day.day, a.day.month, a.day.year, a.hour, a.minute);
  out->DateTime(a.day.day, a.day.month, a.day.year, a.hour + 1, a.minute);
  out->Number(a.allDay ? 1 : 0);
  PatternWrites(a.pattern, out);
  if (a.reminderSet) {
    out->Number(a.reminderMinutes);
  } else {
    out->Tabs(1);
  }
  out->Text(a.categories);
  out->Text(RecipientList(a));
  out->Number(a.busyStatus);
  out->Number(a.sensitivity);
  out->Text(a.body);
  out->LineEnd();
}

// ---- Tasks ------------------------------------------------------------------------------

struct BenchTask {
  std::u16string subject;
  int importance;
  bool complete;
  BenchDay start;
  bool hasDue;
  BenchDay due;
  BenchPattern pattern;
  bool reminderSet;
  BenchDay reminder;  // at 09:30 of that day
  std::u16string categories;
  int sensitivity;
  std::u16string body;
};

inline BenchTask TaskNumber(int i) {
  const std::string n = std::to_string(i);
  BenchTask t;
  t.subject = Wide("Task " + n);
  t.importance = i % 3;
  t.complete = i % 5 == 0;
  t.start = {1 + i % 28, 1 + i % 12, 2000 + i % 30};
  t.hasDue = i % 4 != 0;
  t.due = {1 + (i + 7) % 28, t.start.month, t.start.year + 1};
  t.pattern = PatternNumber(i, t.start);
  t.reminderSet = i % 3 != 0;
  t.reminder = t.start;
  t.categories = i % 2 == 0 ? u"Home" : u"";
  t.sensitivity = (i % 2) * 2;
  t.body = Wide("Steps for task " + n + ".");
  return t;
}

inline void TaskWrites(int index, Writes* out) {
  const BenchTask t = TaskNumber(index);
  out->Text(t.subject);
  out->Number(t.importance);
  out->Number(t.complete ? 1 : 0);
  out->Date(t.start.day, t.start.month, t.start.year);
  if (t.hasDue) {
    out->Date(t.due.day, t.due.month, t.due.year);
  } else {
    out->Tabs(3);
  }
  PatternWrites(t.pattern, out);
  if (t.reminderSet) {
    out->Date(t.reminder.day, t.reminder.month, t.reminder.year);
  } else {
    out->Tabs(3);
  }
  out->Text(t.categories);
  out->Number(t.sensitivity);
  out->Text(t.body);
  out->LineEnd();
}

// ---- The kinds, as the benchmarks list them --------------------------------------------

struct BenchKind {
  const char* name;  // "Contacts", "Calendar", "Tasks": the first part of a case's name
  int itemKind;      // ItemKind of the job
  RecordWrites writes;
};

inline const BenchKind kKinds[] = {
    {"Contacts", 0, ContactWrites},
    {"Calendar", 1, AppointmentWrites},
    {"Tasks", 2, TaskWrites},
};

// A case's name, as both programs register it: "Calendar/Export/100000".
inline std::string CaseName(const BenchKind& kind, const char* run, int count) {
  return std::string(kind.name) + "/" + run + "/" + std::to_string(count);
}

// The sizes a kind is measured at: kSizes, and kWholeSave for contacts.
inline std::vector<int> SizesOf(const BenchKind& kind) {
  std::vector<int> sizes(std::begin(kSizes), std::end(kSizes));
  if (kind.itemKind == 0) sizes.insert(sizes.begin(), kWholeSave);
  return sizes;
}

// The backup file that both programs' imports read, written once per kind and size.
inline std::string ImportFile(const std::string& folder, const BenchKind& kind, int count) {
  return folder + "/" + kind.name + "-" + std::to_string(count) + ".txt";
}

inline bool EnsureImportFile(const std::string& path, const BenchKind& kind, int count) {
  return (std::filesystem::exists(path) && FileMatches(path, kind.writes, count)) ||
         WriteBackupFile(path, kind.writes, count);
}

}  // namespace bench
