#!/usr/bin/env bash
# Builds vcard_bench and prints its table as Markdown: the export of the store to one
# .vcf file and the import of that file, at 10,000 and 100,000 contacts, beside
# python3-vobject reading the same file; each case runs in a process of its own (so that
# its peak memory, ru_maxrss through /usr/bin/time, is that case's alone), repeated and
# reported by the median.
#
#   bench/vcard.sh                  # 3 rounds, build in build-bench/
#   REPS=5 bench/vcard.sh           # more rounds
#   CASES='100000' bench/vcard.sh   # only the cases whose name matches (grep -E)
#
# The store and the file are made once, in a pass before the measured rounds, in
# QUILLMOTE_BENCH_FOLDER (a fresh folder under /tmp unless given; a given one is kept).
# Needs cmake, ninja, jq, GNU time and python3-vobject (/usr/bin/python3).
#
# bench/ical.sh runs this script for ical_bench: the same table for appointments and
# iCalendar, beside python3-icalendar (the variables below say which program, cases and
# goals).
set -euo pipefail

PROGRAM=${PROGRAM:-vcard_bench}      # the benchmark program
TOOL=${TOOL:-VCard}                  # its cases: TOOL/Export/N and TOOL/Import/N
READER=${READER:-Vobject/Read}       # the Python reader's cases: READER/N
READER_NAME=${READER_NAME:-vobject}  # for the table
GOALS=${GOALS:-2000 3000}            # export and import goals at 100,000, in ms

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
REPS=${REPS:-3}
CASES=${CASES:-.}

. "$ROOT/bench/bench_lib.sh"
bench_setup "$(basename "$0")" cmake ninja jq /usr/bin/time /usr/bin/python3 -- "$PROGRAM"
BENCH=$BUILD/bin/$PROGRAM

mapfile -t NAMES < <("$BENCH" --benchmark_list_tests | cut -d/ -f1-3 | grep -E -- "$CASES")
[ ${#NAMES[@]} -gt 0 ] || { echo "no case matches '$CASES'" >&2; exit 2; }

# Making the stores and files, not measured (the vobject cases need them too).
for count in $(printf '%s\n' "${NAMES[@]}" | cut -d/ -f3 | sort -u); do
  echo "preparing $count items ..." >&2
  "$BENCH" --benchmark_filter="^$TOOL/Export/$count/" >/dev/null 2>"$WORK/prepare.err" ||
    { cat "$WORK/prepare.err" >&2; exit 1; }
done

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
: >"$WORK/results"
for round in $(seq 1 "$REPS"); do
  for name in "${NAMES[@]}"; do
    echo "round $round/$REPS: $name" >&2
    if /usr/bin/time -f %M -o "$WORK/mem" "$BENCH" --benchmark_filter="^$name/" \
        --benchmark_format=json --benchmark_out="$WORK/run.json" >/dev/null 2>"$WORK/err" &&
       [ "$(jq '[.benchmarks[] | select(.error_occurred == true)] | length' "$WORK/run.json")" = 0 ]
    then
      echo "$name $(jq -r '.benchmarks[0] | "\(.real_time) \(.cpu_time)"' "$WORK/run.json") $(tail -n1 "$WORK/mem")" \
        >>"$WORK/results"
    else
      echo "$name ERROR" >>"$WORK/results"
      jq -r '.benchmarks[]?.error_message // empty' "$WORK/run.json" >&2 || tail -n3 "$WORK/err" >&2
    fi
  done
done
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"
echo "kernel $(uname -r), $("${compiler:-c++}" --version | head -n1), $(/usr/bin/python3 -c \
  'import sys; print("Python %d.%d" % sys.version_info[:2])'), Debian's $READER_NAME."
echo "Load average (1, 5, 15 min): $LOAD_BEFORE before, $LOAD_AFTER after; $REPS rounds, medians."
echo
echo "| case | time | CPU time | goal | $READER_NAME reading the same file | times faster | peak memory |"
echo "|---|---:|---:|---:|---:|---:|---:|"
awk -v tool="$TOOL" -v reader="$READER" -v goals="$GOALS" '
  function median(list, n,   i, j, t, v) {
    if (n == 0) return -1
    for (i = 1; i <= n; ++i) v[i] = list[i]
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  $2 != "ERROR" {
    ++count[$1]; times[$1, count[$1]] = $2; cpus[$1, count[$1]] = $3
    if ($4 > peak[$1]) peak[$1] = $4
    seen[$1] = 1
  }
  $2 == "ERROR" { errors[$1] = 1; seen[$1] = 1 }
  END {
    for (name in seen) {
      n = count[name]; for (i = 1; i <= n; ++i) list[i] = times[name, i]
      med[name] = median(list, n)
      for (i = 1; i <= n; ++i) list[i] = cpus[name, i]
      cpu[name] = median(list, n)
    }
    for (name in seen) {
      split(name, part, "/")
      if (part[1] != tool || (part[2] != "Export" && part[2] != "Import" && part[2] != "Refresh")) continue
      size = part[3]; read = reader "/" size; split(goals, goal_ms, " ")
      goal = size == 100000 ? (part[2] == "Export" ? goal_ms[1] : goal_ms[2]) " ms" : "-"
      v = (read in med) ? med[read] : -1
      faster = (v > 0 && med[name] > 0 && part[2] == "Import") ? sprintf("%.0f", v / med[name]) : "-"
      printf "| %s | %s | %s | %s | %s | %s | %.1f MB |\n", name,
             med[name] < 0 ? "error" : sprintf("%.0f ms", med[name]),
             cpu[name] < 0 ? "error" : sprintf("%.0f ms", cpu[name]), goal,
             (part[2] == "Import" && v > 0) ? sprintf("%.0f ms", v) : "", faster, peak[name] / 1024
    }
  }' "$WORK/results" | sort
