// What appointments (VEVENT) and tasks (VTODO) share in iCalendar: texts, categories,
// sensitivity, the recurrence of a component, and the account of what one item could
// not keep.
//
// Contract:
// - Texts: the store's UTF-16 with CR LF line ends is written as UTF-8 with LF line ends
//   and read back with CR LF. Zero and other control characters (tab aside) cannot be
//   written and are dropped; text that is not valid Unicode or not UTF-8 keeps U+FFFD in
//   place of each bad unit. Both are counted as losses.
// - Categories: the store's list, separated by commas, is one CATEGORIES value per
//   category; read back they are joined with ", ".
// - Sensitivity: 0 normal, 1 personal, 2 private, 3 confidential are CLASS PUBLIC (or
//   none), X-PERSONAL, PRIVATE and CONFIDENTIAL; any other CLASS reads as private, as
//   iCalendar asks of values a program does not know.
// - SeriesOf reads a component's recurrence into a store pattern, or names why the
//   store cannot hold it (several RRULEs, RDATE, EXDATE, EXRULE, changed occurrences,
//   and what RecurrenceFromRule refuses).
#pragma once

#include <libical/ical.h>

#include <string>
#include <string_view>
#include <vector>

#include "handheld/types.h"
#include "interop/ical_losses.h"
#include "interop/ical_recurrence.h"
#include "interop/ical_time.h"

namespace interop {

// What every item of one export shares.
struct ExportOptions {
  const LocalZone* zone;
  icaltimetype stamp;  // DTSTAMP, in UTC
};

// What the reading of one component needs.
struct ImportOptions {
  const ZoneTable* zones;
  bool changed = false;  // the series has changed occurrences (RECURRENCE-ID) elsewhere
};

std::string TextToIcal(std::u16string_view text, ItemLosses* losses);
std::u16string TextFromIcal(const char* text, ItemLosses* losses);

// Adds a text property (SUMMARY, LOCATION, DESCRIPTION) unless the text is empty.
void AddText(icalcomponent* component, icalproperty_kind kind, std::u16string_view text,
             ItemLosses* losses);
// The text of the component's first property of `kind` ("" when there is none).
std::u16string TextOf(icalcomponent* component, icalproperty_kind kind, ItemLosses* losses);

void AddCategories(icalcomponent* component, std::u16string_view categories, ItemLosses* losses);
std::u16string CategoriesOf(icalcomponent* component, ItemLosses* losses);

void AddClass(icalcomponent* component, LONG sensitivity);
LONG SensitivityOf(icalcomponent* component);

// A DISPLAY alarm with `trigger` and the subject as its text.
icalcomponent* NewAlarm(const icaltriggertype& trigger, const std::string& description);

// The component's recurrence, when it has one that the store can hold: true with
// *recurs false for a component without RRULE; false with the reason when the store
// cannot hold it. `anchor` is the property that starts the series (DTSTART, or a task's
// DUE) and `start` its value in local time. `changed` tells that the series has changed
// occurrences elsewhere in the stream (components with its UID and a RECURRENCE-ID). A
// series written in another zone is read in that zone's days and moved to local ones
// (daily and weekly series only, when the days differ); times that the other zone's
// clock changes would move are counted in `losses`.
bool SeriesOf(icalcomponent* component, icalproperty* anchor, const icaltimetype& start,
              const ZoneTable& zones, bool changed, bool* recurs, Recurrence* recurrence,
              std::string* why, ItemLosses* losses);

// Counts every property that the mapping did not take (kinds not in `taken`, X-
// properties not in the known lists), the parameters of those it took that it does not
// read ("LANGUAGE of SUMMARY"), and what libical could not read.
void CountUntaken(icalcomponent* component, const std::vector<icalproperty_kind>& taken,
                  ItemLosses* losses);

// The TZID parameter of a property (null when it has none).
const char* TzidOf(icalproperty* property);
// The DATE or DATE-TIME value of a property (the null time for another value).
icaltimetype TimeValue(icalproperty* property);
// The local wall clock of `value`, a DTSTART, DTEND, DUE or absolute TRIGGER written in
// `property`; an unknown TZID is read as local time and counted. False for a null time.
bool LocalTimeOf(icalproperty* property, const icaltimetype& value, const ZoneTable& zones,
                 ItemLosses* losses, icaltimetype* out);
long long DurationSeconds(const icaldurationtype& duration);

// The first X- property named `name` (any case), or null.
icalproperty* XProperty(icalcomponent* component, const char* name);

// The TRIGGER of the component's first VALARM (null when none), counting what the
// store's one reminder cannot keep: further VALARMs, repeats, actions other than a
// message or a sound.
icalproperty* FirstTrigger(icalcomponent* component, ItemLosses* losses);
bool RelatedToEnd(icalproperty* trigger);

}  // namespace interop
