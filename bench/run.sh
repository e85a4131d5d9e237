#!/usr/bin/env bash
# Builds the benchmarks and prints the benchmark table as Markdown: every case of
# engine_bench beside the same case of floor_bench, each run in a process of its own
# (so that its peak memory, ru_maxrss through /usr/bin/time, is that case's alone),
# repeated and reported by the median.
#
#   bench/run.sh                      # everything, 3 rounds, build in build-bench/
#   REPS=5 bench/run.sh               # more rounds
#   CASES='Calendar/' bench/run.sh    # only the cases whose name matches (grep -E)
#   BUILD=build-mine bench/run.sh     # another build folder (configured if missing)
#
# The whole save: in every round, beside the case Contacts/Export/5000, quillmote-batch
# saves that case's store of 5,000 contacts as a user would, its process timed from
# start to exit, against the floor's write() calls of the same case (target 1.25).
#
# The stores that the export cases read are filled once, in a pass before the measured
# rounds, in QUILLMOTE_BENCH_FOLDER (a fresh folder under /tmp unless given; a given
# folder is kept, so a second run skips the filling). Needs cmake, ninja, jq, GNU time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
REPS=${REPS:-3}
CASES=${CASES:-.}
JOBS=${JOBS:-2}

. "$ROOT/bench/bench_lib.sh"
bench_setup run.sh cmake ninja jq /usr/bin/time -- engine_bench floor_bench quillmote-batch
ENGINE=$BUILD/bin/engine_bench
FLOOR=$BUILD/bin/floor_bench
BATCH=$BUILD/bin/quillmote-batch
WHOLE=Contacts/Export/5000

# The cases: engine_bench's names without the run settings, e.g. "Tasks/Import/100000".
mapfile -t NAMES < <("$ENGINE" --benchmark_list_tests | cut -d/ -f1-3 | grep -E -- "$CASES")
[ ${#NAMES[@]} -gt 0 ] || { echo "no case matches '$CASES'" >&2; exit 2; }

LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

# Filling and checking, not measured: each export case's store and each import case's
# file are made once, and every case runs once with all its checks (an export's file
# against the floor's bytes, an import saved back and compared the same way).
for name in "${NAMES[@]}"; do
  echo "preparing and checking $name ..." >&2
  rm -f "$WORK/check.json"
  if ! "$ENGINE" --benchmark_filter="^$name/" --benchmark_format=json \
      --benchmark_out="$WORK/check.json" >/dev/null 2>"$WORK/check.err" ||
     [ "$(jq '[.benchmarks[] | select(.error_occurred != true)] | length' \
          "$WORK/check.json" 2>/dev/null)" != 1 ]; then
    echo "$name failed its check:" >&2
    jq -r '.benchmarks[]?.error_message // empty' "$WORK/check.json" >&2 || true
    tail -n 5 "$WORK/check.err" >&2
    exit 1
  fi
done
export QUILLMOTE_BENCH_SAVE_BACK=0

# One case of one program in its own process: "real_ms cpu_ms peak_kb" or "ERROR".
run_case() {
  local program=$1 name=$2 out=$WORK/run.json mem=$WORK/mem
  if ! /usr/bin/time -f %M -o "$mem" "$program" --benchmark_filter="^$name/" \
      --benchmark_format=json --benchmark_out="$out" >/dev/null 2>"$WORK/stderr"; then
    echo ERROR; return
  fi
  if [ "$(jq '[.benchmarks[] | select(.error_occurred == true)] | length' "$out")" != 0 ] ||
     [ "$(jq '.benchmarks | length' "$out")" = 0 ]; then
    echo ERROR; return
  fi
  jq -r --arg mem "$(tail -n1 "$mem")" \
    '.benchmarks[0] | "\(.real_time) \(.cpu_time) \($mem)"' "$out"
}

# The whole save of $WHOLE's store by quillmote-batch: "real_ms" or "ERROR".
run_whole() {
  local start end
  start=$(date +%s%N)
  if ! HANDHELD_STORE=$QUILLMOTE_BENCH_FOLDER/Contacts-5000.db "$BATCH" --overwrite \
      save-contacts "$WORK/whole.txt" >"$WORK/whole.out" 2>"$WORK/stderr" ||
     ! grep -q 'Сохранено записей: 5000$' "$WORK/whole.out"; then
    echo ERROR; return
  fi
  end=$(date +%s%N)
  printf '%d.%03d\n' $(( (end - start) / 1000000 )) $(( (end - start) / 1000 % 1000 ))
}

# Rounds: every case, engine then floor then the floor on a thread, before the next round.
: >"$WORK/results"
for round in $(seq 1 "$REPS"); do
  for name in "${NAMES[@]}"; do
    echo "round $round/$REPS: $name" >&2
    threaded=$(echo "$name" | sed -E 's#/(Export|Import)/#/\1OnThread/#')
    echo "$name engine $(run_case "$ENGINE" "$name")" >>"$WORK/results"
    echo "$name floor $(run_case "$FLOOR" "$name")" >>"$WORK/results"
    echo "$name thread $(run_case "$FLOOR" "$threaded")" >>"$WORK/results"
    if [ "$name" = "$WHOLE" ]; then echo "$name whole $(run_whole)" >>"$WORK/results"; fi
  done
done

LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- The report ---------------------------------------------------------------------------
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
echo "Machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"
echo "kernel $(uname -r), $("${compiler:-c++}" --version | head -n1), build type ${build_type:-default}."
echo "Load average (1, 5, 15 min): $LOAD_BEFORE before, $LOAD_AFTER after; $REPS rounds, medians."
echo
echo "| case | engine | floor | ratio | target | CPU ratio | floor on a thread | peak memory |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
for name in "${NAMES[@]}"; do
  awk -v name="$name" '
    function median(list, n,   i, j, t, v) {
      if (n == 0) return -1
      for (i = 1; i <= n; ++i) v[i] = list[i]
      for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function ms(x) { return x < 0 ? "error" : sprintf("%.0f ms", x) }
    $1 == name && $3 != "ERROR" {
      if ($2 == "engine") { er[++ne] = $3; ec[ne] = $4; if ($5 > peak) peak = $5 }
      if ($2 == "floor") { fr[++nf] = $3; fc[nf] = $4 }
      if ($2 == "thread") { tr[++nt] = $3 }
    }
    $1 == name && $3 == "ERROR" { errors = errors " " $2 }
    END {
      e = median(er, ne); f = median(fr, nf); t = median(tr, nt)
      target = name ~ /\/Export\// ? 1.25 : 1.5
      ratio = (e > 0 && f > 0) ? sprintf("%.2f", e / f) : "-"
      cpu = (ne > 0 && nf > 0 && median(fc, nf) > 0) ? sprintf("%.2f", median(ec, ne) / median(fc, nf)) : "-"
      met = (ratio != "-" && ratio + 0 <= target) ? "met" : "missed"
      if (errors != "") met = met ", failed runs:" errors
      printf "| %s | %s | %s | %s | %.2f (%s) | %s | %s | %.1f MB |\n", name, ms(e), ms(f), ratio,
             target, met, cpu, ms(t), peak / 1024
    }' "$WORK/results"
done
if grep -q "^$WHOLE whole " "$WORK/results"; then
  echo
  awk -v name="$WHOLE" '
    function median(list, n,   i, j, t, v) {
      for (i = 1; i <= n; ++i) v[i] = list[i]
      for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    $1 == name && $2 == "whole" { if ($3 == "ERROR") errors++; else w[++nw] = $3 }
    $1 == name && $2 == "floor" && $3 != "ERROR" { f[++nf] = $3 }
    END {
      if (nw == 0 || nf == 0) { print "Whole save: no run succeeded"; exit }
      ratio = median(w, nw) / median(f, nf)
      printf "Whole save (quillmote-batch save-contacts, 5,000 contacts, process and all): %.0f ms " \
             "against %.0f ms of the floor'"'"'s writes, ratio %.2f, target 1.25 (%s)%s\n",
             median(w, nw), median(f, nf), ratio, ratio <= 1.25 ? "met" : "missed",
             errors ? ", failed runs: " errors : ""
    }' "$WORK/results"
fi
