"""Reads exported iCalendar files with python3-icalendar and expands their rules with
dateutil, as Python calendar programs do; prints one JSON object per component.

    peers.py FIRST LAST FILE...

For each VEVENT or VTODO: its UID, SUMMARY, DTSTART (UTC "...Z" for a time, "YYYY-MM-DD"
for a date, null when absent), and the dates (in DTSTART's own zone) of its occurrences
from FIRST to LAST ("YYYY-MM-DD"). A file that python3-icalendar refuses ends the run
with status 1.
"""
import datetime
import json
import sys

import icalendar
from dateutil import rrule


def occurrences(component, first, last):
    start = component.get("DTSTART")
    if start is None:
        return []
    start = start.dt
    aware = isinstance(start, datetime.datetime) and start.tzinfo is not None
    zone = start.tzinfo if aware else None
    naive = start.replace(tzinfo=None) if aware else start
    if not isinstance(naive, datetime.datetime):
        naive = datetime.datetime.combine(naive, datetime.time())
    if "RRULE" not in component:
        return [naive.date().isoformat()] if first <= naive.date() <= last else []
    rule = component["RRULE"].to_ical().decode()
    # Expanded in DTSTART's wall clock, an UNTIL in UTC read in DTSTART's zone, as khal
    # does.
    parts = []
    for part in rule.split(";"):
        name, _, value = part.partition("=")
        if name == "UNTIL" and value.endswith("Z") and zone is not None:
            until = datetime.datetime.strptime(value, "%Y%m%dT%H%M%SZ").replace(
                tzinfo=datetime.timezone.utc)
            value = until.astimezone(zone).replace(tzinfo=None).strftime("%Y%m%dT%H%M%S")
        parts.append(name + "=" + value)
    expanded = rrule.rrulestr(";".join(parts), dtstart=naive)
    dates = []
    for when in expanded:
        if when.date() > last:
            break
        if when.date() >= first:
            dates.append(when.date().isoformat())
    return dates


def main():
    first = datetime.date.fromisoformat(sys.argv[1])
    last = datetime.date.fromisoformat(sys.argv[2])
    for path in sys.argv[3:]:
        with open(path, "rb") as f:
            calendar = icalendar.Calendar.from_ical(f.read())
        for component in calendar.walk():
            if component.name not in ("VEVENT", "VTODO"):
                continue
            start = component.get("DTSTART")
            shown = None
            if start is not None:
                value = start.dt
                if isinstance(value, datetime.datetime):
                    shown = value.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
                else:
                    shown = value.isoformat()
            print(json.dumps({
                "uid": str(component.get("UID")),
                "summary": str(component.get("SUMMARY", "")),
                "start": shown,
                "dates": occurrences(component, first, last),
            }, ensure_ascii=False))


if __name__ == "__main__":
    main()
