// Item values: new-item defaults, setter checks and the saved blob.
#include "handheld/store/itemdata.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace handheld::store {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the store blob is written in the host's order, which must be little-endian");

constexpr uint8_t kBlobVersion = 1;
constexpr uint8_t kHasPattern = 1;
constexpr uint8_t kPatternFields = 10;

class Writer {
 public:
  void Byte(uint8_t value) { out_.push_back(static_cast<char>(value)); }
  template <class T>
  void Plain(T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out_.append(bytes, sizeof(T));
  }
  void Text(const std::u16string& text) {
    Plain(static_cast<uint32_t>(text.size()));
    out_.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
  }
  std::string Take() { return std::move(out_); }
  void Reserve(size_t bytes) { out_.reserve(bytes); }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool Byte(uint8_t* value) { return Plain(value); }
  template <class T>
  bool Plain(T* value) {
    if (in_.size() < sizeof(T)) return false;
    std::memcpy(value, in_.data(), sizeof(T));
    in_.remove_prefix(sizeof(T));
    return true;
  }
  bool Text(std::u16string* text) {
    uint32_t length = 0;
    if (!Plain(&length) || in_.size() / sizeof(char16_t) < length) return false;
    text->resize(length);
    std::memcpy(text->data(), in_.data(), length * sizeof(char16_t));
    in_.remove_prefix(length * sizeof(char16_t));
    return true;
  }
  bool Done() const { return in_.empty(); }

 private:
  std::string_view in_;
};

// A DATE at `hour`:`minute` of the day that `day` (a whole DATE) names.
DATE AtTime(DATE day, WORD hour, WORD minute) {
  SYSTEMTIME fields{};
  DATE result = day;
  if (VariantTimeToSystemTime(day, &fields)) {
    fields.wHour = hour;
    fields.wMinute = minute;
    fields.wSecond = 0;
    SystemTimeToVariantTime(&fields, &result);
  }
  return result;
}

void NextFullHour(const SYSTEMTIME& now, DATE* start, DATE* end) {
  SYSTEMTIME midnight = now;
  midnight.wHour = midnight.wMinute = midnight.wSecond = midnight.wMilliseconds = 0;
  DATE today = 0;
  if (!SystemTimeToVariantTime(&midnight, &today)) {
    *start = *end = kNoDate;
    return;
  }
  DATE day = now.wHour >= 23 ? today + 1 : today;
  WORD hour = now.wHour >= 23 ? 0 : static_cast<WORD>(now.wHour + 1);
  *start = AtTime(day, hour, 0);
  *end = AtTime(day, hour, 30);
}

}  // namespace

LONG FolderOf(Kind kind) {
  switch (kind) {
    case Kind::kContact:
      return olFolderContacts;
    case Kind::kAppointment:
      return olFolderCalendar;
    case Kind::kTask:
      break;
  }
  return olFolderTasks;
}

bool KindOfFolder(LONG folder, Kind* kind) {
  switch (folder) {
    case olFolderContacts:
      *kind = Kind::kContact;
      return true;
    case olFolderCalendar:
      *kind = Kind::kAppointment;
      return true;
    case olFolderTasks:
      *kind = Kind::kTask;
      return true;
  }
  return false;
}

bool KindOfItemType(LONG itemType, Kind* kind) {
  switch (itemType) {
    case olContactItem:
      *kind = Kind::kContact;
      return true;
    case olAppointmentItem:
      *kind = Kind::kAppointment;
      return true;
    case olTaskItem:
      *kind = Kind::kTask;
      return true;
  }
  return false;
}

ItemValues NewItemValues(Kind kind, const SYSTEMTIME& now) {
  ItemValues values;
  values.kind = kind;
  switch (kind) {
    case Kind::kContact:
      values.strings.resize(kContactStringCount);
      values.numbers.assign(kContactNumberCount, kNoDate);
      break;
    case Kind::kAppointment: {
      values.strings.resize(kAppointmentStringCount);
      values.numbers.resize(kAppointmentNumberCount);
      NextFullHour(now, &values.numbers[kAppointmentStart], &values.numbers[kAppointmentEnd]);
      values.numbers[kAppointmentAllDayEvent] = VARIANT_FALSE;
      values.numbers[kAppointmentReminderSet] = VARIANT_TRUE;
      values.numbers[kAppointmentReminderMinutesBeforeStart] = 15;
      values.numbers[kAppointmentBusyStatus] = 2;
      values.numbers[kAppointmentSensitivity] = 0;
      values.recipients = std::make_shared<RecipientList>();
      break;
    }
    case Kind::kTask:
      values.strings.resize(kTaskStringCount);
      values.numbers.resize(kTaskNumberCount);
      values.numbers[kTaskImportance] = 1;
      values.numbers[kTaskComplete] = VARIANT_FALSE;
      values.numbers[kTaskStartDate] = kNoDate;
      values.numbers[kTaskDueDate] = kNoDate;
      values.numbers[kTaskReminderSet] = VARIANT_TRUE;
      values.numbers[kTaskReminderTime] = kNoDate;
      values.numbers[kTaskSensitivity] = 0;
      break;
  }
  return values;
}

bool IsStoreDate(DATE value) {
  SYSTEMTIME fields;
  return value == kNoDate || (std::isfinite(value) && VariantTimeToSystemTime(value, &fields));
}

bool IsRecurrenceType(LONG value) {
  return value == olRecursDaily || value == olRecursWeekly || value == olRecursMonthly ||
         value == olRecursMonthNth || value == olRecursYearly || value == olRecursYearNth;
}

std::string EncodeItem(const ItemValues& values) {
  Writer out;
  size_t bytes = 16 + values.numbers.size() * 8;
  for (const std::u16string& text : values.strings) bytes += 4 + text.size() * 2;
  out.Reserve(bytes);
  out.Byte(kBlobVersion);
  out.Byte(static_cast<uint8_t>(values.kind));
  out.Plain(static_cast<uint16_t>(values.strings.size()));
  for (const std::u16string& text : values.strings) out.Text(text);
  out.Plain(static_cast<uint16_t>(values.numbers.size()));
  for (double number : values.numbers) out.Plain(number);
  bool repeats = values.pattern != nullptr && values.pattern->repeats;
  out.Byte(repeats ? kHasPattern : 0);
  if (repeats) {
    const PatternData& p = values.pattern->data;
    out.Byte(kPatternFields);
    const double fields[kPatternFields] = {static_cast<double>(p.recurrenceType),
                                           static_cast<double>(p.interval),
                                           static_cast<double>(p.dayOfWeekMask),
                                           static_cast<double>(p.dayOfMonth),
                                           static_cast<double>(p.instance),
                                           static_cast<double>(p.monthOfYear),
                                           p.patternStartDate,
                                           static_cast<double>(p.noEndDate),
                                           static_cast<double>(p.occurrences),
                                           p.patternEndDate};
    for (double number : fields) {
      out.Plain(number);
    }
  }
  size_t recipients = values.recipients != nullptr ? values.recipients->size() : 0;
  out.Plain(static_cast<uint32_t>(recipients));
  for (size_t i = 0; i < recipients; ++i) {
    out.Text((*values.recipients)[i]->name);
    out.Text((*values.recipients)[i]->address);
  }
  return out.Take();
}

bool DecodeItem(std::string_view blob, ItemValues* into) {
  Reader in(blob);
  uint8_t version = 0, kind = 0, flags = 0;
  uint16_t strings = 0, numbers = 0;
  if (!in.Byte(&version) || version != kBlobVersion || !in.Byte(&kind) ||
      kind != static_cast<uint8_t>(into->kind) || !in.Plain(&strings)) {
    return false;
  }
  std::u16string spare;  // texts past the kind's own, from a newer blob
  for (uint16_t i = 0; i < strings; ++i) {
    if (!in.Text(i < into->strings.size() ? &into->strings[i] : &spare)) return false;
  }
  if (!in.Plain(&numbers)) return false;
  for (uint16_t i = 0; i < numbers; ++i) {
    double number = 0;
    if (!in.Plain(&number)) return false;
    if (i < into->numbers.size()) into->numbers[i] = number;
  }
  if (!in.Byte(&flags)) return false;
  if ((flags & kHasPattern) != 0) {
    uint8_t count = 0;
    double field[kPatternFields] = {};
    if (!in.Byte(&count) || count < kPatternFields) return false;
    for (uint8_t i = 0; i < count; ++i) {
      double number = 0;
      if (!in.Plain(&number)) return false;
      if (i < kPatternFields) field[i] = number;
    }
    auto state = std::make_shared<PatternState>();
    PatternData& p = state->data;
    p.recurrenceType = static_cast<LONG>(field[0]);
    p.interval = static_cast<LONG>(field[1]);
    p.dayOfWeekMask = static_cast<LONG>(field[2]);
    p.dayOfMonth = static_cast<LONG>(field[3]);
    p.instance = static_cast<LONG>(field[4]);
    p.monthOfYear = static_cast<LONG>(field[5]);
    p.patternStartDate = field[6];
    p.noEndDate = field[7] != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    p.occurrences = static_cast<LONG>(field[8]);
    p.patternEndDate = field[9];
    state->repeats = true;
    into->pattern = std::move(state);
  }
  uint32_t recipients = 0;
  if (!in.Plain(&recipients)) return false;
  if (recipients != 0 && into->recipients == nullptr) return false;
  for (uint32_t i = 0; i < recipients; ++i) {
    auto entry = std::make_shared<RecipientEntry>();
    if (!in.Text(&entry->name) || !in.Text(&entry->address)) return false;
    into->recipients->push_back(std::move(entry));
  }
  return in.Done();
}

std::u16string ContactEmailKey(const ItemValues& contact) {
  return contact.strings[kContactEmail1Address];
}

std::u16string ContactNameKey(const ItemValues& contact) {
  const std::u16string& first = contact.strings[kContactFirstName];
  const std::u16string& last = contact.strings[kContactLastName];
  if (first.empty() || last.empty()) return first.empty() ? last : first;
  return first + u" " + last;
}

}  // namespace handheld::store
