// A task's values and an iCalendar VTODO.
#include "interop/ical_todo.h"

#include <utility>

#include "handheld/utf16.h"
#include "interop/ical_item.h"
#include "interop/ical_recurrence.h"

namespace interop {
namespace {

// The date of a task's start or due date; false for none. A time of day is counted.
bool TaskDate(DATE value, ItemLosses* losses, icaltimetype* out) {
  icaltimetype exact;
  if (!IcalFromStoreDate(value, false, &exact)) return false;
  if (exact.hour != 0 || exact.minute != 0 || exact.second != 0) {
    losses->Add("time of day of a task's start or due date");
  }
  *out = exact;
  out->is_date = 1;
  out->hour = out->minute = out->second = 0;
  return true;
}

icalproperty* DateProperty(icalproperty_kind kind, const icaltimetype& date) {
  icalproperty* property = icalproperty_new(kind);
  icalproperty_set_value(property, icalvalue_new_date(date));
  return property;
}

// The local date of a DTSTART or DUE (its wall clock in *exact); false when absent.
bool LocalDateOf(icalcomponent* todo, icalproperty_kind kind, const ZoneTable& zones,
                 ItemLosses* losses, icaltimetype* date, icaltimetype* exact) {
  icalproperty* property = icalcomponent_get_first_property(todo, kind);
  if (property == nullptr || !LocalTimeOf(property, TimeValue(property), zones, losses, exact)) {
    return false;
  }
  *date = *exact;
  if (!date->is_date && (date->hour != 0 || date->minute != 0 || date->second != 0)) {
    losses->Add(std::string("time of day of ") + icalproperty_kind_to_string(kind));
  }
  date->is_date = 1;
  date->hour = date->minute = date->second = 0;
  return true;
}

LONG ImportanceOf(icalcomponent* todo, ItemLosses* losses) {
  icalproperty* property = icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY);
  const int priority = property != nullptr ? icalproperty_get_priority(property) : 0;
  if (priority != 0 && priority != 1 && priority != 5 && priority != 9) {
    losses->Add("PRIORITY other than 1, 5 and 9");
  }
  if (priority >= 1 && priority <= 4) return 2;
  if (priority >= 6 && priority <= 9) return 0;
  return 1;
}

bool CompleteOf(icalcomponent* todo, ItemLosses* losses) {
  icalproperty* status = icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY);
  icalproperty* percent = icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
  const int done = percent != nullptr ? icalproperty_get_percentcomplete(percent) : 0;
  const icalproperty_status state =
      status != nullptr ? icalproperty_get_status(status) : ICAL_STATUS_NONE;
  if (state == ICAL_STATUS_CANCELLED) losses->Add("STATUS:CANCELLED");
  if (state == ICAL_STATUS_INPROCESS) losses->Add("STATUS:IN-PROCESS");
  if (done > 0 && done < 100) losses->Add("PERCENT-COMPLETE");
  if (state == ICAL_STATUS_COMPLETED) return true;
  if (state != ICAL_STATUS_NONE) return false;
  return done >= 100 || icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY) != nullptr;
}

}  // namespace

// The store's own start date of a repeating task (a DATE, or NONE), when DTSTART is not it.
constexpr const char* kOwnStart = "X-QUILLMOTE-START-DATE";

icalcomponent* TodoFromValues(const TaskValues& t, const ExportOptions& options,
                              LossCounter* counter) {
  ItemLosses losses(counter);
  icaltimetype start, due;
  bool hasStart = TaskDate(t.startDate, &losses, &start);
  const bool hasDue = TaskDate(t.dueDate, &losses, &due);

  SeriesRule series;
  bool repeats = false;
  std::string ownStart;
  if (t.recurring) {
    std::string why;
    icaltimetype anchor = hasStart ? start : due;
    if (!hasStart && !hasDue && !IcalFromStoreDate(t.pattern.patternStart, true, &anchor)) {
      why = "a recurrence pattern without a start";
    } else {
      repeats = RuleFromRecurrence(t.pattern, anchor, false, &series, &why);
    }
    if (!repeats) {
      losses.Add(why);
    } else {
      // DTSTART is the series' first occurrence; a start date of the task's own, or none,
      // is kept beside it for Quillmote to read back.
      if (!hasStart || icaltime_compare_date_only(series.first, start) != 0) {
        ownStart = hasStart ? icaltime_as_ical_string(start) : "NONE";
      }
      start = series.first;
      hasStart = true;
    }
  }

  icalcomponent* todo = icalcomponent_new_vtodo();
  icalcomponent_add_property(todo, icalproperty_new_uid(t.uid.c_str()));
  icalcomponent_add_property(todo, icalproperty_new_dtstamp(options.stamp));
  if (hasStart) icalcomponent_add_property(todo, DateProperty(ICAL_DTSTART_PROPERTY, start));
  if (hasDue) icalcomponent_add_property(todo, DateProperty(ICAL_DUE_PROPERTY, due));
  if (repeats) icalcomponent_add_property(todo, NewRuleProperty(series));
  if (!ownStart.empty()) {
    icalproperty* own = icalproperty_new_x(ownStart.c_str());
    icalproperty_set_x_name(own, kOwnStart);
    icalcomponent_add_property(todo, own);
  }
  AddText(todo, ICAL_SUMMARY_PROPERTY, t.subject, &losses);
  AddText(todo, ICAL_DESCRIPTION_PROPERTY, t.body, &losses);
  AddCategories(todo, t.categories, &losses);
  AddClass(todo, t.sensitivity);
  static const int kPriorities[] = {9, 5, 1};
  icalcomponent_add_property(
      todo, icalproperty_new_priority(
                kPriorities[t.importance >= 0 && t.importance <= 2 ? t.importance : 1]));
  const bool complete = t.complete;
  icalcomponent_add_property(
      todo, icalproperty_new_status(complete ? ICAL_STATUS_COMPLETED : ICAL_STATUS_NEEDSACTION));
  if (complete) icalcomponent_add_property(todo, icalproperty_new_percentcomplete(100));
  if (t.reminderSet) {
    icaltimetype at;
    if (IcalFromStoreDate(t.reminderTime, false, &at)) {
      icaltriggertype trigger{};
      trigger.time = UtcFromLocal(at);
      trigger.duration = icaldurationtype_null_duration();
      icalcomponent_add_component(todo, NewAlarm(trigger, handheld::Utf8FromUtf16(t.subject)));
    } else {
      losses.Add("a reminder without a time");
    }
  }
  losses.Report();
  return todo;
}

bool ValuesFromTodo(icalcomponent* todo, const ImportOptions& options, ItemLosses* losses,
                    TaskValues* out, std::string* error) {
  *out = TaskValues{};
  const ZoneTable& zones = *options.zones;
  icaltimetype start, startExact, due, dueExact;
  const bool hasStart =
      LocalDateOf(todo, ICAL_DTSTART_PROPERTY, zones, losses, &start, &startExact);
  bool hasDue = LocalDateOf(todo, ICAL_DUE_PROPERTY, zones, losses, &due, &dueExact);
  icalproperty* duration = icalcomponent_get_first_property(todo, ICAL_DURATION_PROPERTY);
  if (!hasDue && hasStart && duration != nullptr) {
    dueExact = WallFromSeconds(WallSeconds(startExact) +
                               DurationSeconds(icalproperty_get_duration(duration)));
    due = dueExact;
    due.is_date = 1;
    due.hour = due.minute = due.second = 0;
    hasDue = true;
  }
  if ((hasStart && !StoreDateFromIcal(start, &out->startDate)) ||
      (hasDue && !StoreDateFromIcal(due, &out->dueDate))) {
    *error = "a VTODO dated outside the years 100 to 9999";
    return false;
  }

  std::string why;
  if ((hasStart || hasDue) &&
      !SeriesOf(todo,
                icalcomponent_get_first_property(
                    todo, hasStart ? ICAL_DTSTART_PROPERTY : ICAL_DUE_PROPERTY),
                hasStart ? start : due, zones, options.changed, &out->recurring, &out->pattern, &why,
                losses)) {
    losses->Add(why + " (only the first occurrence imported)");
  } else if (!hasStart && !hasDue &&
             icalcomponent_get_first_property(todo, ICAL_RRULE_PROPERTY) != nullptr) {
    losses->Add("RRULE without DTSTART or DUE");
  }
  // A repeating task's own start date, which DTSTART (the series' first occurrence) is not.
  if (icalproperty* own = XProperty(todo, kOwnStart); own != nullptr && out->recurring) {
    const char* value = icalproperty_get_x(own);
    const icaltimetype date = icaltime_from_string(value != nullptr ? value : "");
    DATE owned;
    if (value != nullptr && std::string_view(value) == "NONE") {
      out->startDate = handheld::kNoDate;
    } else if (!icaltime_is_null_time(date) && date.is_date && StoreDateFromIcal(date, &owned)) {
      out->startDate = owned;
    } else {
      losses->Add(std::string(kOwnStart) + " not read");
    }
  }

  bool reminder = false;
  if (icalproperty* trigger = FirstTrigger(todo, losses); trigger != nullptr) {
    const icaltriggertype value = icalproperty_get_trigger(trigger);
    icaltimetype at;
    if (!icaltime_is_null_time(value.time)) {
      reminder = LocalTimeOf(trigger, value.time, zones, losses, &at);
    } else if (RelatedToEnd(trigger) ? hasDue : hasStart) {
      at = WallFromSeconds(WallSeconds(RelatedToEnd(trigger) ? dueExact : startExact) +
                           DurationSeconds(value.duration));
      reminder = true;
    } else {
      losses->Add("VALARM relative to a missing DTSTART or DUE");
    }
    if (reminder && !StoreDateFromIcal(at, &out->reminderTime)) {
      losses->Add("VALARM outside the years 100 to 9999");
      reminder = false;
    }
  }
  out->reminderSet = reminder;
  if (!reminder) out->reminderTime = handheld::kNoDate;
  out->importance = ImportanceOf(todo, losses);
  out->complete = CompleteOf(todo, losses);
  CountUntaken(todo,
               {ICAL_SUMMARY_PROPERTY, ICAL_DESCRIPTION_PROPERTY, ICAL_CATEGORIES_PROPERTY,
                ICAL_CLASS_PROPERTY, ICAL_DTSTART_PROPERTY, ICAL_DUE_PROPERTY,
                ICAL_DURATION_PROPERTY, ICAL_PRIORITY_PROPERTY, ICAL_STATUS_PROPERTY,
                ICAL_PERCENTCOMPLETE_PROPERTY, ICAL_RECURRENCEID_PROPERTY},
               losses);

  out->uid = icalcomponent_get_uid(todo) != nullptr ? icalcomponent_get_uid(todo) : "";
  out->subject = TextOf(todo, ICAL_SUMMARY_PROPERTY, losses);
  out->categories = CategoriesOf(todo, losses);
  out->sensitivity = SensitivityOf(todo);
  out->body = TextOf(todo, ICAL_DESCRIPTION_PROPERTY, losses);
  return true;
}

}  // namespace interop
