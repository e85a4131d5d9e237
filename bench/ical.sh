#!/usr/bin/env bash
# Builds ical_bench and prints its table as Markdown, as bench/vcard.sh does for vCards:
# appointments exported to one .ics file and that file imported, at 10,000 and 100,000,
# beside python3-icalendar reading the same file; each case in a process of its own,
# repeated, medians. REPS, CASES, BUILD and QUILLMOTE_BENCH_FOLDER as for vcard.sh.
PROGRAM=ical_bench TOOL=Ical READER=Ical/Python READER_NAME=python3-icalendar \
  GOALS="3000 4000" exec bash "$(dirname "$0")/vcard.sh" "$@"
