// The values of one store item, how a new item starts, which values the setters take,
// and the compact blob in which a saved item lies in the store file.
//
// An item is a list of strings and a list of numbers (dates, LONGs and VARIANT_BOOLs
// all fit a double exactly), laid out per kind by the slot enums below, plus the
// recurrence pattern (appointments, tasks) and the recipients (appointments). The blob
// keeps every UTF-16 code unit as given, zeros included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/oledate.h"
#include "handheld/pimstore.h"

namespace handheld::store {

enum class Kind { kContact, kAppointment, kTask };

LONG FolderOf(Kind kind);
bool KindOfFolder(LONG folder, Kind* kind);
bool KindOfItemType(LONG itemType, Kind* kind);

// Slots of the contact's values.
enum ContactString : int {
#define HANDHELD_STORE_SLOT(Name) kContact##Name,
  HANDHELD_CONTACT_STRINGS(HANDHELD_STORE_SLOT) kContactStringCount
};
enum ContactNumber : int {
  HANDHELD_CONTACT_DATES(HANDHELD_STORE_SLOT) kContactNumberCount
#undef HANDHELD_STORE_SLOT
};

enum AppointmentString : int {
  kAppointmentSubject,
  kAppointmentLocation,
  kAppointmentCategories,
  kAppointmentBody,
  kAppointmentStringCount
};
enum AppointmentNumber : int {
  kAppointmentStart,
  kAppointmentEnd,
  kAppointmentAllDayEvent,
  kAppointmentReminderSet,
  kAppointmentReminderMinutesBeforeStart,
  kAppointmentBusyStatus,
  kAppointmentSensitivity,
  kAppointmentNumberCount
};

enum TaskString : int { kTaskSubject, kTaskCategories, kTaskBody, kTaskStringCount };
enum TaskNumber : int {
  kTaskImportance,
  kTaskComplete,
  kTaskStartDate,
  kTaskDueDate,
  kTaskReminderSet,
  kTaskReminderTime,
  kTaskSensitivity,
  kTaskNumberCount
};

struct PatternData {
  LONG recurrenceType = olRecursDaily;
  LONG interval = 1;
  LONG dayOfWeekMask = 0;
  LONG dayOfMonth = 0;
  LONG instance = 0;
  LONG monthOfYear = 0;
  DATE patternStartDate = kNoDate;
  VARIANT_BOOL noEndDate = VARIANT_TRUE;
  LONG occurrences = 1;
  DATE patternEndDate = kNoDate;
};

// A pattern as the item and its pattern objects share it. `repeats` turns true when
// RecurrenceType is set (or the saved item repeats); the item's Save stores the pattern
// only then.
struct PatternState {
  PatternData data;
  bool repeats = false;
};

struct RecipientEntry {
  std::u16string name;
  std::u16string address;
};
using RecipientList = std::vector<std::shared_ptr<RecipientEntry>>;

struct ItemValues {
  Kind kind = Kind::kContact;
  std::vector<std::u16string> strings;
  std::vector<double> numbers;
  std::shared_ptr<PatternState> pattern;      // null: none handed out, none saved
  std::shared_ptr<RecipientList> recipients;  // appointments only
};

// The values of a new item of `kind`; `now` is the local clock (appointments start at
// its next full hour).
ItemValues NewItemValues(Kind kind, const SYSTEMTIME& now);

// Setter checks.
bool IsStoreDate(DATE value);  // years 100 to 9999, or kNoDate
bool IsRecurrenceType(LONG value);
inline bool InRange(LONG value, LONG low, LONG high) {
  return value >= low && value <= high;
}

// The blob of a saved item; the pattern is stored only when it repeats.
std::string EncodeItem(const ItemValues& values);
// Reads a blob into `into`, which must come from NewItemValues: values missing from an
// older blob keep its defaults. False for a damaged blob (the whole blob is checked).
bool DecodeItem(std::string_view blob, ItemValues* into);

// The lookup keys that let a recipient resolve to a contact: Email1Address and
// "FirstName LastName" (either name alone when the other is empty).
std::u16string ContactEmailKey(const ItemValues& contact);
std::u16string ContactNameKey(const ItemValues& contact);

}  // namespace handheld::store
