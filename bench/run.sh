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
bench_setup run.sh cmake ninja jq /usr/bin/time -- engine_bench floor_bench
ENGINE=$BUILD/bin/engine_bench
FLOOR=$BUILD/bin/floor_bench

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

# Rounds: every case, engine then floor then the floor on a thread, before the next round.
: >"$WORK/results"
for round in $(seq 1 "$REPS"); do
  for name in "${NAMES[@]}"; do
    echo "round $round/$REPS: $name" >&2
    threaded=$(echo "$name" | sed -E 's#/(Export|Import)/#/\1OnThread/#')
    echo "$name engine $(run_case "$ENGINE" "$name")" >>"$WORK/results"
    echo "$name floor $(run_case "$FLOOR" "$name")" >>"$WORK/results"
    echo "$name thread $(run_case "$FLOOR" "$threaded")" >>"$WORK/results"
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
