#!/usr/bin/env bash
# Builds Quillmote with sanitizers and runs its tests there:
#   build-asan  AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer, every test;
#   build-tsan  ThreadSanitizer, the programs whose tests run the worker, the dialog, the
#               message queue and the windows on more than one thread.
# Any finding fails the run: the sanitizers stop the program at the first report with exit
# status 66, which no test expects of a program it starts; address, leak and thread reports
# are also written to <build>/sanitizer-logs, and undefined-behaviour reports are looked
# for in the tests' output, so that a finding in a program started by a test cannot hide
# behind that test's result. The script ends non-zero on any of them.
#
#   scripts/sanitize.sh [asan|tsan]...     (both when none is named)
#
# Assumes the packages that scripts/dev.sh installs. CI=true turns warnings into errors.
# JOBS sets the build and test parallelism (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
werror=OFF
[ "${CI:-}" = true ] && werror=ON
runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(asan tsan)

# The programs that hold the threaded tests: the worker against a running dialog, the
# launch and the dialog, quillmote-batch end to end and under faults, the stand-in's
# threads, message queue and windows, and the vCard and iCalendar imports, which read on
# one thread and save on another. The kill -9 test of quillmote-batch is left to the
# AddressSanitizer run: it takes minutes here and adds no thread interplay of its own.
tsan_targets=(worker_tests app_tests batch_tests batch_fault_tests handheld_tests window_tests
  interop_tests)
# The Qt window's tests are not among them (window_qt_tests is not built here, so its
# zoom-4 and Wayland runs are skipped).
tsan_skip='^CrashSafetyTest\.|^window_qt_tests_(zoom4|wayland)$'

# Qt's own allocations that live until the process ends (fonts, the platform plugin) are
# not ours; nothing of this project may be listed here.
lsan_suppressions=$PWD/scripts/lsan.supp

configure() {  # folder, sanitizers
  # -O1 builds markedly faster than the default -O2 and keeps the reports readable;
  # assertions stay on.
  cmake -S . -B "$1" -G Ninja -DQUILLMOTE_SANITIZE="$2" -DQUILLMOTE_WERROR=$werror \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_C_FLAGS_DEBUG="-O1 -g" \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
}

sanitizer_env() {  # log folder
  local common="halt_on_error=1:print_stacktrace=1:exitcode=66:log_path=$1/report"
  export ASAN_OPTIONS="$common:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:strict_string_checks=1"
  export UBSAN_OPTIONS="$common"
  export LSAN_OPTIONS="suppressions=$lsan_suppressions:print_suppressions=0"
  export TSAN_OPTIONS="$common:second_deadlock_stack=1"
}

# Prints every report in the log folder; fails when there is one.
reports() {  # folder, name
  local found
  found=$(find "$1" -type f 2>/dev/null | sort)
  [ -z "$found" ] && return 0
  echo "$2: sanitizer reports:" >&2
  local f
  for f in $found; do
    echo "---- $f" >&2
    cat "$f" >&2
  done
  return 1
}

run() {  # name, folder, sanitizers, tests to skip (regular expression), targets...
  local name=$1 dir=$2 sanitizers=$3 skip=$4 start=$SECONDS status=0
  shift 4
  local logs=$PWD/$dir/sanitizer-logs
  echo "== $name: building $dir (-fsanitize=$sanitizers)"
  configure "$dir" "$sanitizers"
  rm -rf "$logs"
  mkdir -p "$logs"
  # The build lists each test program's tests by running it, so it runs instrumented too.
  sanitizer_env "$logs"
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$dir" -j "$jobs" "${targets[@]}" || status=$?
  local built=$SECONDS
  if [ $status -eq 0 ]; then
    echo "== $name: testing ($((built - start)) s to build)"
    # A test program that was not built here shows up as <target>_NOT_BUILT; only the
    # programs built for this run are tested.
    local exclude="_NOT_BUILT\$${skip:+|$skip}"
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900 -E "$exclude") || status=$?
    # UndefinedBehaviorSanitizer inside an AddressSanitizer build ignores log_path and
    # reports on standard error only (with exit status 66); a report that reached a test's
    # output is caught here even when the test passed.
    if grep -E -n 'runtime error:|(Address|Leak|Thread)Sanitizer' \
        "$dir/Testing/Temporary/LastTest.log" >&2; then
      echo "$name: sanitizer reports in the tests' output (above)" >&2
      status=1
    fi
  fi
  reports "$logs" "$name" || status=1
  echo "== $name: $([ $status -eq 0 ] && echo passed || echo FAILED)" \
    "($((built - start)) s build, $((SECONDS - built)) s tests)"
  return $status
}

failed=0
for r in "${runs[@]}"; do
  case "$r" in
    asan) run asan build-asan address,undefined "" || failed=1 ;;
    tsan) run tsan build-tsan thread "$tsan_skip" "${tsan_targets[@]}" || failed=1 ;;
    *)
      echo "usage: scripts/sanitize.sh [asan|tsan]..." >&2
      exit 2
      ;;
  esac
done
exit $failed
