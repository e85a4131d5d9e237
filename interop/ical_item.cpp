// What appointments and tasks share in iCalendar.
#include "interop/ical_item.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "handheld/pimstore.h"
#include "handheld/utf16.h"

namespace interop {
namespace {

bool IsDropped(char16_t c) {
  return (c < 0x20 && c != u'\t' && c != u'\n') || c == 0x7f;
}

// Properties that only keep a program's own bookkeeping: nothing of the item is lost
// without them.
bool IsBookkeeping(std::string_view name) {
  static const char* const kNames[] = {
      "X-MICROSOFT-CDO-APPT-SEQUENCE",
      "X-MICROSOFT-CDO-OWNERAPPTID",
      "X-MICROSOFT-CDO-INSTTYPE",
      "X-MICROSOFT-CDO-ALLDAYEVENT",
      "X-MICROSOFT-CDO-INTENDEDSTATUS",
      "X-MICROSOFT-CDO-OWNER-CRITICAL-CHANGE",
      "X-MICROSOFT-CDO-ATTENDEE-CRITICAL-CHANGE",
      "X-MICROSOFT-DISALLOW-COUNTER",
      "X-MICROSOFT-DONOTFORWARDMEETING",
      "X-MICROSOFT-CDO-BUSYSTATUS",
      "X-MICROSOFT-LOCATIONS",
      "X-MICROSOFT-CDO-IMPORTANCE",
      "X-LIC-LOCATION",
      "X-QUILLMOTE-START-DATE",  // read by the task mapping itself
      "X-GOOGLE-CALENDAR-CONTENT-DISPLAY",
  };
  if (name.substr(0, 6) == "X-MOZ-") return true;
  return std::any_of(std::begin(kNames), std::end(kNames),
                     [name](const char* known) { return name == known; });
}

// "Can't parse as RECUR value in RRULE property. Removing entire property: ..." names
// the property that libical dropped.
std::string UnreadProperty(const char* message) {
  std::string_view text = message != nullptr ? message : "";
  size_t end = text.find(" property");
  if (end != std::string_view::npos) {
    size_t begin = text.rfind(' ', end - 1);
    begin = begin == std::string_view::npos ? 0 : begin + 1;
    if (begin < end)
      return std::string(text.substr(begin, end - begin)) + " that could not be read";
  }
  return "a line that could not be read";
}

bool SameName(const char* a, const char* b) {
  return a != nullptr && strcasecmp(a, b) == 0;
}

}  // namespace

void ItemLosses::Report() {
  if (counter_ != nullptr) {
    for (const auto& [what, change] : named_) {
      if (change) {
        counter_->Changed(what);
      } else {
        counter_->NotKept(what);
      }
    }
  }
  named_.clear();
}

void ItemLosses::Name(std::string_view what, bool change) {
  for (const auto& [named, isChange] : named_) {
    if (named == what && isChange == change) return;
  }
  named_.emplace_back(what, change);
}

void ItemLosses::Add(std::string_view what) {
  Name(what, false);
}

void ItemLosses::Change(std::string_view what) {
  Name(what, true);
}

std::string TextToIcal(std::u16string_view text, ItemLosses* losses) {
  bool plain =
      std::none_of(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || IsDropped(c); });
  std::u16string clean;
  if (!plain) {
    clean.reserve(text.size());
    bool dropped = false;
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      if (c == u'\r') {
        if (i + 1 < text.size() && text[i + 1] == u'\n') continue;  // CR LF is one line end
        c = u'\n';
      } else if (IsDropped(c)) {
        dropped = true;
        continue;
      }
      clean.push_back(c);
    }
    if (dropped) losses->Add("control characters in text");
    text = clean;
  }
  bool wellFormed = true;
  std::string out = handheld::Utf8FromUtf16(text, &wellFormed);
  if (!wellFormed) losses->Add("text that is not valid Unicode");
  return out;
}

std::u16string TextFromIcal(const char* text, ItemLosses* losses) {
  if (text == nullptr) return {};
  bool wellFormed = true;
  std::u16string read = handheld::Utf16FromUtf8(text, &wellFormed);
  if (!wellFormed) losses->Add("text that is not UTF-8");
  if (read.find(u'\n') == std::u16string::npos) return read;
  std::u16string out;
  out.reserve(read.size() + 8);
  for (char16_t c : read) {
    if (c == u'\n') out.push_back(u'\r');
    out.push_back(c);
  }
  return out;
}

void AddText(icalcomponent* component, icalproperty_kind kind, std::u16string_view text,
             ItemLosses* losses) {
  if (text.empty()) return;
  const std::string value = TextToIcal(text, losses);
  icalproperty* property = icalproperty_new(kind);
  icalproperty_set_value(property, icalvalue_new_text(value.c_str()));
  icalcomponent_add_property(component, property);
}

std::u16string TextOf(icalcomponent* component, icalproperty_kind kind, ItemLosses* losses) {
  icalproperty* property = icalcomponent_get_first_property(component, kind);
  if (property == nullptr) return {};
  icalvalue* value = icalproperty_get_value(property);
  if (value == nullptr || icalvalue_isa(value) != ICAL_TEXT_VALUE) return {};
  return TextFromIcal(icalvalue_get_text(value), losses);
}

void AddCategories(icalcomponent* component, std::u16string_view categories, ItemLosses* losses) {
  std::u16string list;
  size_t from = 0;
  while (from <= categories.size()) {
    size_t comma = std::min(categories.find(u',', from), categories.size());
    std::u16string_view one = categories.substr(from, comma - from);
    while (!one.empty() && one.front() == u' ') one.remove_prefix(1);
    while (!one.empty() && one.back() == u' ') one.remove_suffix(1);
    if (!one.empty()) {
      if (!list.empty()) list.push_back(u',');
      list.append(one);
    }
    from = comma + 1;
  }
  if (list.empty()) return;
  icalcomponent_add_property(component,
                             icalproperty_new_categories(TextToIcal(list, losses).c_str()));
}

std::u16string CategoriesOf(icalcomponent* component, ItemLosses* losses) {
  std::u16string out;
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_CATEGORIES_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_CATEGORIES_PROPERTY)) {
    std::u16string one = TextFromIcal(icalproperty_get_categories(p), losses);
    while (!one.empty() && one.front() == u' ') one.erase(0, 1);
    while (!one.empty() && one.back() == u' ') one.pop_back();
    if (one.empty()) continue;
    if (one.find(u',') != std::u16string::npos) losses->Add("a category holding a comma");
    if (!out.empty()) out.append(u", ");
    out.append(one);
  }
  return out;
}

void AddClass(icalcomponent* component, LONG sensitivity) {
  icalproperty* property = nullptr;
  switch (sensitivity) {
    case 1:
      property = icalproperty_new_class(ICAL_CLASS_X);
      icalvalue_set_x(icalproperty_get_value(property), "X-PERSONAL");
      break;
    case 2:
      property = icalproperty_new_class(ICAL_CLASS_PRIVATE);
      break;
    case 3:
      property = icalproperty_new_class(ICAL_CLASS_CONFIDENTIAL);
      break;
    default:
      return;  // PUBLIC is what no CLASS means
  }
  icalcomponent_add_property(component, property);
}

LONG SensitivityOf(icalcomponent* component) {
  icalproperty* property = icalcomponent_get_first_property(component, ICAL_CLASS_PROPERTY);
  if (property == nullptr) return 0;
  switch (icalproperty_get_class(property)) {
    case ICAL_CLASS_PUBLIC:
    case ICAL_CLASS_NONE:
      return 0;
    case ICAL_CLASS_CONFIDENTIAL:
      return 3;
    case ICAL_CLASS_X:
      return SameName(icalvalue_get_x(icalproperty_get_value(property)), "X-PERSONAL") ? 1 : 2;
    default:
      return 2;
  }
}

icalcomponent* NewAlarm(const icaltriggertype& trigger, const std::string& description) {
  icalcomponent* alarm = icalcomponent_new_valarm();
  icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
  icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
  icalcomponent_add_property(
      alarm, icalproperty_new_description(description.empty() ? "Reminder" : description.c_str()));
  return alarm;
}

namespace {

// A weekly mask moved by `shift` days; false when a day would cross into another week of
// a pattern that skips weeks.
bool ShiftMask(LONG* mask, long shift, LONG interval) {
  LONG moved = 0;
  bool crosses = false;
  for (int day = 0; day < 7; ++day) {
    if ((*mask >> day & 1) == 0) continue;
    const long to = day + shift;
    crosses = crosses || to < 0 || to > 6;
    moved |= 1 << ((to % 7 + 7) % 7);
  }
  if (crosses && interval > 1 && __builtin_popcount(static_cast<unsigned>(*mask)) > 1) return false;
  *mask = moved;
  return true;
}

// Whether local time keeps the same distance to the series' own wall clock over a year
// from `wall` (their clocks change on the same days).
bool SameClockChanges(const icaltimetype& wall, const char* tzid, const ZoneTable& zones) {
  long long distance = 0;
  for (int day = 0; day <= 366; ++day) {
    icaltimetype at = wall;
    icaltime_adjust(&at, day, 0, 0, 0);
    if (tzid == nullptr) at.zone = icaltimezone_get_utc_timezone();
    icaltimetype local;
    zones.ToLocal(at, tzid, &local);
    const long long now = WallSeconds(local) - WallSeconds(at);
    if (day == 0) distance = now;
    if (now != distance) return false;
  }
  return true;
}

}  // namespace

bool SeriesOf(icalcomponent* component, icalproperty* anchor, const icaltimetype& start,
              const ZoneTable& zones, bool changed, bool* recurs, Recurrence* recurrence,
              std::string* why, ItemLosses* losses) {
  *recurs = false;
  const int rules = icalcomponent_count_properties(component, ICAL_RRULE_PROPERTY);
  const bool dates = icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY) != nullptr;
  if (rules == 0 && !dates) return true;
  if (rules > 1) {
    *why = "several RRULEs";
    return false;
  }
  if (dates) {
    *why = "RDATE";
    return false;
  }
  if (icalcomponent_get_first_property(component, ICAL_EXRULE_PROPERTY) != nullptr) {
    *why = "EXRULE";
    return false;
  }
  if (icalcomponent_get_first_property(component, ICAL_EXDATE_PROPERTY) != nullptr) {
    *why = "EXDATE";
    return false;
  }
  if (changed) {
    *why = "changed occurrences (RECURRENCE-ID)";
    return false;
  }
  // The rule counts days in the zone it is written in.
  icaltimetype wall = TimeValue(anchor);
  const bool utc = icaltime_is_utc(wall);
  const char* tzid = utc ? nullptr : TzidOf(anchor);
  const bool foreign = utc || (tzid != nullptr && *tzid != '\0' && !zones.local().Names(tzid));
  wall.zone = nullptr;
  if (start.is_date) {
    wall.is_date = 1;
    wall.hour = wall.minute = wall.second = 0;
  }
  icalproperty* rrule = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY);
  icalrecurrencetype rule = icalproperty_get_rrule(rrule);
  if (!icaltime_is_null_time(rule.until) && !rule.until.is_date && icaltime_is_utc(rule.until)) {
    rule.until = zones.FromUtc(rule.until, utc ? "UTC" : tzid);
  }
  if (!RecurrenceFromRule(rule, wall, recurrence, why)) return false;
  if (const LONG own = OwnCountOf(rrule); own > 0 && !recurrence->noEnd) {
    recurrence->occurrences = own;
  }
  icaltimetype startDay = start;
  startDay.is_date = 1;
  icaltimetype wallDay = wall;
  wallDay.is_date = 1;
  const long days = static_cast<long>((WallSeconds(startDay) - WallSeconds(wallDay)) / 86400);
  if (days != 0) {
    const bool movable = recurrence->type == olRecursDaily ||
                         (recurrence->type == olRecursWeekly &&
                          ShiftMask(&recurrence->dayOfWeekMask, days, recurrence->interval));
    if (!movable) {
      *why = std::string("a series in ") + (utc ? "UTC" : tzid) + " whose days differ here";
      return false;
    }
    StoreDateFromIcal(startDay, &recurrence->patternStart);
    if (recurrence->patternEnd != handheld::kNoDate) recurrence->patternEnd += days;
  }
  if (foreign && !start.is_date && !SameClockChanges(wall, tzid, zones)) {
    losses->Add(std::string("series times in ") + (utc ? "UTC" : tzid) +
                " (its clock changes differ from local ones)");
  }
  *recurs = true;
  return true;
}

void CountUntaken(icalcomponent* component, const std::vector<icalproperty_kind>& taken,
                  ItemLosses* losses) {
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
    const icalproperty_kind kind = icalproperty_isa(p);
    if (std::find(taken.begin(), taken.end(), kind) != taken.end()) continue;
    switch (kind) {
      case ICAL_UID_PROPERTY:
      case ICAL_DTSTAMP_PROPERTY:
      case ICAL_CREATED_PROPERTY:
      case ICAL_LASTMODIFIED_PROPERTY:
      case ICAL_SEQUENCE_PROPERTY:
      case ICAL_RRULE_PROPERTY:
      case ICAL_RDATE_PROPERTY:
      case ICAL_EXDATE_PROPERTY:
      case ICAL_EXRULE_PROPERTY:
        continue;  // identity and bookkeeping, or judged with the recurrence
      case ICAL_XLICERROR_PROPERTY:
        losses->Add(UnreadProperty(icalproperty_get_xlicerror(p)));
        continue;
      case ICAL_X_PROPERTY: {
        const char* name = icalproperty_get_x_name(p);
        if (name != nullptr && !IsBookkeeping(name)) losses->Add(name);
        continue;
      }
      default: {
        const char* name = icalproperty_get_property_name(p);
        if (name != nullptr) losses->Add(name);
        continue;
      }
    }
  }
  // Parameters of the properties taken that no mapping reads.
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
    const icalproperty_kind kind = icalproperty_isa(p);
    if (std::find(taken.begin(), taken.end(), kind) == taken.end()) continue;
    for (icalparameter* q = icalproperty_get_first_parameter(p, ICAL_ANY_PARAMETER); q != nullptr;
         q = icalproperty_get_next_parameter(p, ICAL_ANY_PARAMETER)) {
      const icalparameter_kind which = icalparameter_isa(q);
      if (which == ICAL_TZID_PARAMETER || which == ICAL_VALUE_PARAMETER) continue;
      if (kind == ICAL_ATTENDEE_PROPERTY &&
          (which == ICAL_CN_PARAMETER || which == ICAL_PARTSTAT_PARAMETER ||
           which == ICAL_ROLE_PARAMETER || which == ICAL_CUTYPE_PARAMETER)) {
        continue;  // read with the attendee
      }
      const char* name = which == ICAL_X_PARAMETER || which == ICAL_IANA_PARAMETER
                             ? icalparameter_get_xname(q)
                             : icalparameter_kind_to_string(which);
      losses->Add(std::string(name != nullptr ? name : "a parameter") + " of " +
                  icalproperty_kind_to_string(kind));
    }
  }
  for (icalcomponent* c = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
       c != nullptr; c = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT)) {
    if (icalcomponent_isa(c) != ICAL_VALARM_COMPONENT) {
      // libical names no kind for a BEGIN line with empty parameters ("BEGIN;;:VEVENT").
      const char* name = icalcomponent_kind_to_string(icalcomponent_isa(c));
      losses->Add(name != nullptr ? name : "a component without a name");
    }
  }
}

const char* TzidOf(icalproperty* property) {
  icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  return tzid != nullptr ? icalparameter_get_tzid(tzid) : nullptr;
}

icaltimetype TimeValue(icalproperty* property) {
  icalvalue* value = icalproperty_get_value(property);
  if (value == nullptr) return icaltime_null_time();
  switch (icalvalue_isa(value)) {
    case ICAL_DATE_VALUE:
      return icalvalue_get_date(value);
    case ICAL_DATETIME_VALUE:
      return icalvalue_get_datetime(value);
    default:
      return icaltime_null_time();
  }
}

bool LocalTimeOf(icalproperty* property, const icaltimetype& value, const ZoneTable& zones,
                 ItemLosses* losses, icaltimetype* out) {
  if (icaltime_is_null_time(value)) return false;
  const char* tzid = TzidOf(property);
  if (!zones.ToLocal(value, tzid, out)) {
    losses->Add(std::string("TZID ") + tzid + " (read as local time)");
  }
  return true;
}

long long DurationSeconds(const icaldurationtype& duration) {
  long long seconds = (static_cast<long long>(duration.weeks) * 7 + duration.days) * 86400 +
                      static_cast<long long>(duration.hours) * 3600 +
                      static_cast<long long>(duration.minutes) * 60 + duration.seconds;
  return duration.is_neg ? -seconds : seconds;
}

icalproperty* XProperty(icalcomponent* component, const char* name) {
  for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_X_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(component, ICAL_X_PROPERTY)) {
    const char* own = icalproperty_get_x_name(p);
    if (own != nullptr && strcasecmp(own, name) == 0) return p;
  }
  return nullptr;
}

icalproperty* FirstTrigger(icalcomponent* component, ItemLosses* losses) {
  icalcomponent* alarm = icalcomponent_get_first_component(component, ICAL_VALARM_COMPONENT);
  if (alarm == nullptr) return nullptr;
  if (icalcomponent_get_next_component(component, ICAL_VALARM_COMPONENT) != nullptr) {
    losses->Add("more than one VALARM");
  }
  icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
  if (action != nullptr && icalproperty_get_action(action) != ICAL_ACTION_DISPLAY &&
      icalproperty_get_action(action) != ICAL_ACTION_AUDIO) {
    losses->Add(std::string("VALARM ACTION:") + icalproperty_get_value_as_string(action));
  }
  icalproperty* repeat = icalcomponent_get_first_property(alarm, ICAL_REPEAT_PROPERTY);
  if (repeat != nullptr && icalproperty_get_repeat(repeat) > 0) losses->Add("VALARM REPEAT");
  icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
  if (trigger == nullptr) losses->Add("VALARM without TRIGGER");
  return trigger;
}

bool RelatedToEnd(icalproperty* trigger) {
  icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
  return related != nullptr && icalparameter_get_related(related) == ICAL_RELATED_END;
}

}  // namespace interop
