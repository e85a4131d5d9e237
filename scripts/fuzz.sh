#!/usr/bin/env bash
# Builds the import fuzz targets (backup files, and the vCard and iCalendar imports seeded
# with interop/testdata/) (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for SECONDS (default 60), one
# after the other, each as a single process. The corpus in fuzz/corpus/ is only read:
# every target works on a temporary copy, and what a target finds is written to
# build-fuzz/fuzz-findings/KIND/. Exit status 1 when any target reports a finding.
#
#   scripts/fuzz.sh [SECONDS]
#
# Backup-file inputs are at most 2,100 bytes (vCard and iCalendar ones 4,096): room for a field one character over the 1,024 that
# most text columns take, while the time per input (the reader takes one code unit per
# turn) stays short.
#
# Assumes clang and libclang-rt-dev are installed (scripts/dev.sh installs the rest).
# FUZZ_BUILD_DIR overrides the build folder; FUZZ_JOBS the build's parallelism (2).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}
werror=OFF
[ "${CI:-}" = true ] && werror=ON
kinds=(contacts calendar tasks)
# vCard and iCalendar imports: target, seed files, largest input, leak check after each
# input (their store in memory grows from input to input by design, which set libFuzzer's
# leak check off after nearly every input and took half the time; the census check sees
# what an import leaves held, and the leak check at the end still runs).
formats=("interop_fuzz_vcard interop/testdata/*.vcf 4096 0" "interop_fuzz_ical interop/testdata/*.ics 4096 0")

cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUILLMOTE_FUZZ=ON -DQUILLMOTE_WITH_QT=OFF -DQUILLMOTE_WERROR=$werror >/dev/null
ninja -C "$build" -j "$jobs" "${kinds[@]/#/import_fuzz_}" interop_fuzz_vcard interop_fuzz_ical

# The working corpus, where libFuzzer writes every input that finds something new, is in
# memory (/dev/shm) unless TMPDIR names another place: on a disk, making those files took
# a fifth of the time of the vCard and iCalendar targets.
memory=/dev/shm
[ -n "${TMPDIR:-}" ] || [ ! -d "$memory" ] && memory=${TMPDIR:-/tmp}
work=$(mktemp -d "$memory/quillmote-fuzz-corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=()
runs=()
for kind in "${kinds[@]}"; do runs+=("import_fuzz_$kind fuzz/corpus/$kind/* 2100 1"); done
runs+=("${formats[@]}")
for run in "${runs[@]}"; do
  read -r target seedGlob maxLen leaks <<<"$run"
  kind=${target#*_fuzz_}
  corpus="$work/$kind"
  findings="$build/fuzz-findings/$kind"
  mkdir -p "$corpus" "$findings"
  # shellcheck disable=SC2086
  cp $seedGlob "$corpus"/
  log="$build/fuzz-findings/$kind.log"
  echo "== $target: ${seconds}s"
  status=0
  "$build/bin/$target" -max_total_time="$seconds" -max_len="$maxLen" -detect_leaks="$leaks" -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  echo "   executions: ${executed:-?} (${rate:-?}/s)  exit: $status  log: $log"
  if [ "$status" -ne 0 ]; then
    failed+=("$kind")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|(import|interop)_fuzz:|.*runtime error)' "$log" | head -5 | sed 's/^/   /'
    ls "$findings" | sed 's/^/   finding: /'
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: no findings"
