#!/usr/bin/env bash
# Runs a command as a Wayland client (QT_QPA_PLATFORM=wayland) of a private weston the
# size of a phone's screen: 360 x 720 logical pixels at a scale of 2. Weston draws into a
# private Xvfb, which gives it the keyboard a seat needs (its headless backend has none,
# so no window would ever be active). Both are stopped afterwards. Exits 77 (skipped)
# when weston, Xvfb or Qt's Wayland plugin is missing (fails in the CI, which has them).
set -u
plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null)
if ! command -v weston >/dev/null || ! command -v Xvfb >/dev/null ||
  ! ls "$plugins"/platforms/libqwayland-generic.so >/dev/null 2>&1; then
  echo "skipped: needs weston, Xvfb and Qt's Wayland plugin (qt6-wayland)"
  [ "${CI:-}" = true ] && exit 1  # the CI installs them, so there this is a failure
  exit 77
fi
runtime=$(mktemp -d)
chmod 700 "$runtime"
Xvfb -displayfd 3 -screen 0 720x1440x24 3>"$runtime/display" 2>"$runtime/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$runtime/display" ] && break; sleep 0.1; done
# The socket by its full path: the tests move XDG_RUNTIME_DIR into their sandboxes.
export WAYLAND_DISPLAY=$runtime/wayland QT_QPA_PLATFORM=wayland
DISPLAY=:$(cat "$runtime/display") XDG_RUNTIME_DIR=$runtime weston --backend=x11-backend.so \
  --no-config --idle-time=0 --socket=wayland --width=360 --height=720 --scale=2 \
  >"$runtime/weston.log" 2>&1 &
weston=$!
for _ in $(seq 100); do [ -S "$WAYLAND_DISPLAY" ] && break; sleep 0.1; done
"$@"
status=$?
kill "$weston" && wait "$weston"
kill "$xvfb" && wait "$xvfb"
[ $status = 0 ] || cat "$runtime/xvfb.log" "$runtime/weston.log"
rm -rf "$runtime"
exit $status
