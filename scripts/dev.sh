#!/usr/bin/env bash
# Installs what is missing, builds, and then runs Quillmote (`run`) or every test
# (`test`). Works on a fresh Debian 12 machine; uses sudo when not root.
#
#   run    build and start Quillmote
#   test   every test: the normal build, then again under AddressSanitizer and
#          UndefinedBehaviorSanitizer (and the threaded ones under ThreadSanitizer),
#          then each import fuzz target for FUZZ_SECONDS (60) seconds
#   quick  the normal build's tests only
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-test}
build=${BUILD_DIR:-build}
packages=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3
  qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
  qt6-translations-l10n xvfb xauth clang libclang-rt-14-dev llvm jq time
  libebook-contacts1.2-dev python3-vobject khard vdirsyncer radicale
  libical-dev tzdata python3-icalendar python3-dateutil khal todoman
  dpkg-dev file desktop-file-utils appstream lintian man-db gzip qt6-qpa-plugins
  qt6-wayland weston gnome-calls dbus-daemon libglib2.0-bin
  libebook1.2-dev libecal2.0-dev libedataserver1.2-dev evolution-data-server dbus)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_ apt-get update -qq
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B "$build" -G Ninja -DQUILLMOTE_WERROR=$werror >/dev/null
cmake --build "$build" -j "$(nproc)"

case "$what" in
  test | quick)
    (cd "$build" && ctest --output-on-failure -j "$(nproc)" --timeout 600)
    if [ "$what" = test ]; then
      bash scripts/sanitize.sh
      bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
    fi
    ;;
  run)
    if [ -x "$build/bin/quillmote" ]; then
      if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here, so the Quillmote window cannot open."
        echo "For headless backups use $build/bin/quillmote-batch (see README)."
        exit 1
      fi
      exec "$build/bin/quillmote"
    fi
    exec "$build/bin/handheld" --help
    ;;
  *)
    echo "usage: scripts/dev.sh run|test|quick" >&2
    exit 2
    ;;
esac
