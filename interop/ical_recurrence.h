// A store recurrence pattern (Recurrence, itemvalues.h) and the iCalendar RRULE that names the same days.
//
// What a store pattern means (as on handheld and desktop calendars): the series begins
// on PatternStartDate and its occurrences are the days on or after that date that the
// pattern names, at the item's time of day:
// - daily: every Interval-th day from the start;
// - weekly: the weekdays of DayOfWeekMask (bit 0 Sunday ... bit 6 Saturday) in every
//   Interval-th week, weeks beginning on Sunday and counted from the start's week;
// - monthly: day DayOfMonth of every Interval-th month counted from the start's month,
//   or the month's last day when the month is shorter;
// - month-nth: the Instance-th (1 to 4; 5 is the last) of the mask's days in every
//   Interval-th month;
// - yearly: day DayOfMonth of month MonthOfYear each year, the month's last day when it
//   is shorter (29 February falls on 28 February in other years);
// - year-nth: the Instance-th (5 the last) of the mask's days in month MonthOfYear each
//   year.
// A mask, day or month of 0 stands for the start's weekday, day or month, an instance
// outside 1 to 5 for the first, an interval below 1 for 1; yearly patterns repeat every
// year whatever their Interval. The series has no end when NoEndDate is set; otherwise
// it ends with the day of PatternEndDate when that is a date, else after Occurrences
// occurrences.
//
// Contract:
// - RuleFromRecurrence gives the RRULE and the DTSTART (the first occurrence) that name
//   exactly these days; days 29 to 31 use BYMONTHDAY with BYSETPOS=-1 so that shorter
//   months are not skipped. False, with the reason, for a pattern without occurrences.
// - RecurrenceFromRule gives the pattern of an RRULE whose series starts at DTSTART, or
//   false with the reason (an RRULE part, as the user would look it up) when no store
//   pattern names exactly the same days. A COUNT sets Occurrences; an UNTIL sets
//   PatternEndDate to the day of the last occurrence and Occurrences to their number.
#pragma once

#include <libical/ical.h>

#include <string>

#include "interop/itemvalues.h"

namespace interop {

struct SeriesRule {
  icalrecurrencetype rule;
  icaltimetype first;  // the DTSTART: the first occurrence, a date or a wall-clock time
  // The pattern's own Occurrences when it ends by date and that count differs from the
  // occurrences up to the date (the store keeps both): written beside UNTIL as the
  // RRULE's parameter X-QUILLMOTE-OCCURRENCES, which SeriesOf reads back. 0: none.
  LONG ownCount = 0;
};

// The RRULE property of a series, with X-QUILLMOTE-OCCURRENCES when it has an own count.
icalproperty* NewRuleProperty(const SeriesRule& series);
// The X-QUILLMOTE-OCCURRENCES of an RRULE property; 0 when it has none (or a bad one).
LONG OwnCountOf(icalproperty* rrule);

// `itemStart` gives the occurrences' time of day, or is a date for date-only series
// (all-day appointments, tasks). An UNTIL after a wall-clock DTSTART is in UTC when
// `utcUntil` (a DTSTART with TZID), else floating.
bool RuleFromRecurrence(const Recurrence& recurrence, const icaltimetype& itemStart, bool utcUntil,
                        SeriesRule* out, std::string* why);

// `start` is the DTSTART as a wall-clock time or a date, in the zone that the rule counts
// days in; an UNTIL in UTC is read in local time, so a series of another zone comes with
// its UNTIL in that zone's wall clock.
bool RecurrenceFromRule(const icalrecurrencetype& rule, const icaltimetype& start, Recurrence* out,
                        std::string* why);

}  // namespace interop
