// An appointment's values and an iCalendar VEVENT.
#include "interop/ical_event.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "handheld/utf16.h"
#include "interop/ical_item.h"
#include "interop/ical_recurrence.h"

namespace interop {
namespace {

const char* const kBusyNames[] = {"FREE", "TENTATIVE", "BUSY", "OOF"};
constexpr const char* kBusyStatus = "X-MICROSOFT-CDO-BUSYSTATUS";

icalproperty* TimeProperty(icalproperty_kind kind, const icaltimetype& time,
                           const LocalZone& zone) {
  icalproperty* property = icalproperty_new(kind);
  icalproperty_set_value(property,
                         time.is_date ? icalvalue_new_date(time) : icalvalue_new_datetime(time));
  if (!time.is_date && zone.named()) {
    icalproperty_add_parameter(property, icalparameter_new_tzid(zone.name().c_str()));
  }
  return property;
}

icalproperty* NewXProperty(const char* name, const char* value) {
  icalproperty* property = icalproperty_new_x(value);
  icalproperty_set_x_name(property, name);
  return property;
}

bool IsMidnight(const icaltimetype& time) {
  return time.hour == 0 && time.minute == 0 && time.second == 0;
}

void AddAttendees(icalcomponent* event, const std::vector<RecipientValues>& recipients,
                  ItemLosses* losses) {
  for (const RecipientValues& recipient : recipients) {
    std::u16string_view address = recipient.address;
    if (address.empty() && recipient.name.find(u'@') != std::u16string::npos) {
      address = recipient.name;
    }
    if (address.empty() && recipient.name.empty()) {
      losses->Add("a recipient without a name or address");
      continue;
    }
    const std::string value =
        address.empty() ? "invalid:nomail" : "mailto:" + TextToIcal(address, losses);
    icalproperty* attendee = icalproperty_new_attendee(value.c_str());
    if (!recipient.name.empty() && recipient.name != address) {
      icalproperty_add_parameter(attendee,
                                 icalparameter_new_cn(TextToIcal(recipient.name, losses).c_str()));
    }
    icalcomponent_add_property(event, attendee);
  }
}

// ---- Import ---------------------------------------------------------------------------

LONG BusyOf(icalcomponent* event, ItemLosses* losses) {
  icalproperty* status = XProperty(event, kBusyStatus);
  if (status == nullptr) status = XProperty(event, "X-MICROSOFT-CDO-INTENDEDSTATUS");
  if (status != nullptr) {
    const char* value = icalproperty_get_x(status);
    for (LONG busy = 0; busy < 4; ++busy) {
      if (value != nullptr && strcasecmp(value, kBusyNames[busy]) == 0) return busy;
    }
    losses->Add(std::string(kBusyStatus) + ":" + (value != nullptr ? value : ""));
    return 2;
  }
  icalproperty* transp = icalcomponent_get_first_property(event, ICAL_TRANSP_PROPERTY);
  if (transp != nullptr && icalproperty_get_transp(transp) == ICAL_TRANSP_TRANSPARENT) return 0;
  icalproperty* state = icalcomponent_get_first_property(event, ICAL_STATUS_PROPERTY);
  if (state != nullptr && icalproperty_get_status(state) == ICAL_STATUS_TENTATIVE) return 1;
  return 2;
}

// Losses among the properties the mapping reads but cannot keep in every value.
void CountValueLosses(icalcomponent* event, ItemLosses* losses) {
  icalproperty* state = icalcomponent_get_first_property(event, ICAL_STATUS_PROPERTY);
  if (state != nullptr && icalproperty_get_status(state) == ICAL_STATUS_CANCELLED) {
    losses->Add("STATUS:CANCELLED");
  }
  icalproperty* priority = icalcomponent_get_first_property(event, ICAL_PRIORITY_PROPERTY);
  if (priority != nullptr && icalproperty_get_priority(priority) != 0 &&
      icalproperty_get_priority(priority) != 5) {
    losses->Add("PRIORITY");
  }
  icalproperty* importance = XProperty(event, "X-MICROSOFT-CDO-IMPORTANCE");
  if (importance != nullptr && icalproperty_get_x(importance) != nullptr &&
      strcmp(icalproperty_get_x(importance), "1") != 0) {
    losses->Add("X-MICROSOFT-CDO-IMPORTANCE");
  }
}

// Minutes before the start of the first VALARM; false when there is none to keep.
bool ReminderOf(icalcomponent* event, const icaltimetype& start, const icaltimetype& end,
                const ZoneTable& zones, ItemLosses* losses, LONG* minutes) {
  icalproperty* trigger = FirstTrigger(event, losses);
  if (trigger == nullptr) return false;
  const icaltriggertype value = icalproperty_get_trigger(trigger);
  long long before;
  if (!icaltime_is_null_time(value.time)) {
    icaltimetype at;
    LocalTimeOf(trigger, value.time, zones, losses, &at);
    before = WallSeconds(start) - WallSeconds(at);
  } else {
    before = -DurationSeconds(value.duration);
    if (RelatedToEnd(trigger)) {
      before -= WallSeconds(end) - WallSeconds(start);
    }
  }
  if (before < 0) {
    losses->Add("VALARM after the start");
    return false;
  }
  if (before % 60 != 0) losses->Add("seconds of a VALARM TRIGGER");
  if (before / 60 > INT32_MAX) {
    losses->Add("VALARM too long before the start");
    return false;
  }
  *minutes = static_cast<LONG>(before / 60);
  return true;
}

// The attendees as recipients: with their mail address, else with an empty one that the
// write resolves as a load resolves a name.
std::vector<RecipientValues> RecipientsOf(icalcomponent* event, ItemLosses* losses) {
  std::vector<RecipientValues> out;
  for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY);
       p != nullptr; p = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
    const char* value = icalproperty_get_attendee(p);
    std::u16string address;
    if (value != nullptr && strncasecmp(value, "mailto:", 7) == 0) {
      address = TextFromIcal(value + 7, losses);
    }
    icalparameter* cn = icalproperty_get_first_parameter(p, ICAL_CN_PARAMETER);
    std::u16string name = cn != nullptr ? TextFromIcal(icalparameter_get_cn(cn), losses) : u"";
    if (name.empty()) name = address;
    if (name.empty()) {
      losses->Add("ATTENDEE without a name or mail address");
      continue;
    }
    icalparameter* partstat = icalproperty_get_first_parameter(p, ICAL_PARTSTAT_PARAMETER);
    if (partstat != nullptr && icalparameter_get_partstat(partstat) != ICAL_PARTSTAT_NEEDSACTION) {
      losses->Add("PARTSTAT of ATTENDEE");
    }
    icalparameter* cutype = icalproperty_get_first_parameter(p, ICAL_CUTYPE_PARAMETER);
    if (cutype != nullptr && icalparameter_get_cutype(cutype) != ICAL_CUTYPE_INDIVIDUAL) {
      char* written = icalparameter_as_ical_string_r(cutype);
      losses->Change(std::string("ATTENDEE;") + (written != nullptr ? written : "CUTYPE") +
                     " as a person");
      free(written);
    }
    icalparameter* role = icalproperty_get_first_parameter(p, ICAL_ROLE_PARAMETER);
    if (role != nullptr && icalparameter_get_role(role) != ICAL_ROLE_REQPARTICIPANT) {
      losses->Add("ROLE of ATTENDEE");
    }
    out.push_back({std::move(name), std::move(address)});
  }
  return out;
}

}  // namespace

icalcomponent* EventFromValues(const AppointmentValues& a, const ExportOptions& options,
                               LossCounter* counter, std::string* error) {
  const LocalZone& zone = *options.zone;
  ItemLosses losses(counter);
  const bool allDay = a.allDay;
  icaltimetype start, end;
  if (!IcalFromStoreDate(a.start, allDay, &start)) {
    *error = "the appointment has no start";
    return nullptr;
  }
  if (allDay) {
    icaltimetype exact;
    IcalFromStoreDate(a.start, false, &exact);
    bool timed = !IsMidnight(exact);
    if (IcalFromStoreDate(a.end, false, &exact)) {
      end = exact;
      end.is_date = 1;
      end.hour = end.minute = end.second = 0;
      if (!IsMidnight(exact)) {
        timed = true;
        icaltime_adjust(&end, 1, 0, 0, 0);  // through the end of that day
      }
    } else {
      end = start;
    }
    if (timed) losses.Add("time of day of an all-day appointment");
    if (icaltime_compare_date_only(end, start) <= 0) {
      end = start;
      icaltime_adjust(&end, 1, 0, 0, 0);
    }
  } else if (!IcalFromStoreDate(a.end, false, &end) || icaltime_compare(end, start) < 0) {
    losses.Add("an end before the start");
    end = start;
  }

  icalcomponent* event = icalcomponent_new_vevent();
  icalcomponent_add_property(event, icalproperty_new_uid(a.uid.c_str()));
  icalcomponent_add_property(event, icalproperty_new_dtstamp(options.stamp));

  SeriesRule series;
  bool repeats = false;
  if (a.recurring) {
    std::string why;
    repeats = RuleFromRecurrence(a.pattern, start, zone.named(), &series, &why);
    if (!repeats) {
      losses.Add(why);
    } else if (icaltime_compare_date_only(series.first, start) != 0) {
      losses.Add("a start apart from its pattern's first occurrence");
      const long long shift = WallSeconds(series.first) - WallSeconds(start);
      start = series.first;
      const bool date = end.is_date;
      end = WallFromSeconds(WallSeconds(end) + shift);
      end.is_date = date;
    }
  }
  icalcomponent_add_property(event, TimeProperty(ICAL_DTSTART_PROPERTY, start, zone));
  icalcomponent_add_property(event, TimeProperty(ICAL_DTEND_PROPERTY, end, zone));
  if (repeats) icalcomponent_add_property(event, NewRuleProperty(series));

  AddText(event, ICAL_SUMMARY_PROPERTY, a.subject, &losses);
  AddText(event, ICAL_LOCATION_PROPERTY, a.location, &losses);
  AddText(event, ICAL_DESCRIPTION_PROPERTY, a.body, &losses);
  AddCategories(event, a.categories, &losses);
  AddClass(event, a.sensitivity);
  const LONG busy = a.busy >= 0 && a.busy <= 3 ? a.busy : 2;
  icalcomponent_add_property(
      event, icalproperty_new_transp(busy == 0 ? ICAL_TRANSP_TRANSPARENT : ICAL_TRANSP_OPAQUE));
  icalcomponent_add_property(event, NewXProperty(kBusyStatus, kBusyNames[busy]));
  AddAttendees(event, a.recipients, &losses);
  if (a.reminderSet) {
    icaltriggertype trigger{};
    trigger.time = icaltime_null_time();
    trigger.duration = icaldurationtype_null_duration();
    trigger.duration.is_neg = a.reminderMinutes > 0 ? 1 : 0;
    trigger.duration.minutes = static_cast<unsigned>(a.reminderMinutes > 0 ? a.reminderMinutes : 0);
    icalcomponent_add_component(event, NewAlarm(trigger, handheld::Utf8FromUtf16(a.subject)));
  }
  losses.Report();
  return event;
}

bool ValuesFromEvent(icalcomponent* event, const ImportOptions& options, ItemLosses* losses,
                     AppointmentValues* out, std::string* error) {
  *out = AppointmentValues{};
  const ZoneTable& zones = *options.zones;
  icalproperty* dtstart = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
  icaltimetype start, end;
  if (dtstart == nullptr || !LocalTimeOf(dtstart, TimeValue(dtstart), zones, losses, &start)) {
    *error = "a VEVENT without DTSTART";
    return false;
  }
  const bool allDay = start.is_date != 0;
  icalproperty* dtend = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY);
  icalproperty* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
  if (dtend != nullptr && LocalTimeOf(dtend, TimeValue(dtend), zones, losses, &end)) {
    if (allDay != (end.is_date != 0)) {
      end.is_date = start.is_date;
      if (allDay) end.hour = end.minute = end.second = 0;
    }
  } else if (duration != nullptr) {
    const icaldurationtype length = icalproperty_get_duration(duration);
    const long long days = static_cast<long long>(length.weeks) * 7 + length.days;
    const long long exact = DurationSeconds(length) - (length.is_neg ? -days : days) * 86400;
    end = start;
    icaltime_adjust(&end, static_cast<int>(length.is_neg ? -days : days), 0, 0, 0);
    if (!allDay) end = LocalFromUtc(WallFromSeconds(WallSeconds(UtcFromLocal(end)) + exact));
    end.is_date = start.is_date;
  } else {
    end = start;
    if (allDay) icaltime_adjust(&end, 1, 0, 0, 0);
  }
  if (icaltime_compare(end, start) < 0 || (allDay && icaltime_compare(end, start) == 0)) {
    if (icaltime_compare(end, start) < 0) losses->Add("DTEND before DTSTART");
    end = start;
    if (allDay) icaltime_adjust(&end, 1, 0, 0, 0);
  }
  if (!StoreDateFromIcal(start, &out->start) || !StoreDateFromIcal(end, &out->end)) {
    *error = "a VEVENT dated outside the years 100 to 9999";
    return false;
  }

  out->allDay = allDay;
  std::string why;
  if (!SeriesOf(event, dtstart, start, zones, options.changed, &out->recurring, &out->pattern,
                &why, losses)) {
    losses->Add(why + " (only the first occurrence imported)");
  }
  out->reminderSet = ReminderOf(event, start, end, zones, losses, &out->reminderMinutes);
  CountValueLosses(event, losses);
  CountUntaken(
      event,
      {ICAL_SUMMARY_PROPERTY, ICAL_LOCATION_PROPERTY, ICAL_DESCRIPTION_PROPERTY,
       ICAL_CATEGORIES_PROPERTY, ICAL_CLASS_PROPERTY, ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY,
       ICAL_DURATION_PROPERTY, ICAL_TRANSP_PROPERTY, ICAL_ATTENDEE_PROPERTY, ICAL_STATUS_PROPERTY,
       ICAL_PRIORITY_PROPERTY, ICAL_RECURRENCEID_PROPERTY},
      losses);

  out->uid = icalcomponent_get_uid(event) != nullptr ? icalcomponent_get_uid(event) : "";
  out->subject = TextOf(event, ICAL_SUMMARY_PROPERTY, losses);
  out->location = TextOf(event, ICAL_LOCATION_PROPERTY, losses);
  out->categories = CategoriesOf(event, losses);
  out->busy = BusyOf(event, losses);
  out->sensitivity = SensitivityOf(event);
  out->body = TextOf(event, ICAL_DESCRIPTION_PROPERTY, losses);
  out->recipients = RecipientsOf(event, losses);
  return true;
}

}  // namespace interop
