# Shared by the benchmark scripts (run.sh, vcard.sh); sourced, not run.
#
#   bench_setup NAME TOOLS... -- TARGETS...
#
# checks that each tool is there, configures $BUILD (Release) when it is missing and
# builds the targets with $JOBS jobs, then sets QUILLMOTE_BENCH_FOLDER (a fresh folder
# under /tmp that is removed at the end, unless one is given) and WORK (a scratch folder,
# always removed at the end).
bench_setup() {
  local name=$1
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    command -v "$1" >/dev/null || { echo "$name needs $1" >&2; exit 2; }
    shift
  done
  shift
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
  fi
  ninja -C "$BUILD" -j"${JOBS:-2}" "$@" >&2
  BENCH_KEEP=1
  if [ -z "${QUILLMOTE_BENCH_FOLDER:-}" ]; then
    QUILLMOTE_BENCH_FOLDER=$(mktemp -d /tmp/quillmote-bench-XXXXXX)
    BENCH_KEEP=0
  fi
  export QUILLMOTE_BENCH_FOLDER
  WORK=$(mktemp -d /tmp/quillmote-bench-results-XXXXXX)
  trap bench_cleanup EXIT
}

bench_cleanup() {
  rm -rf "$WORK"
  if [ "$BENCH_KEEP" = 0 ]; then rm -rf "$QUILLMOTE_BENCH_FOLDER"; fi
}
