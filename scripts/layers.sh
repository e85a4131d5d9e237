#!/usr/bin/env bash
# The include arrows between the system's five folders, and whether any runs upward;
# then those between the parts of the stand-in and interop, and those of the tools on top
# (below).
# The order from the bottom: format and platform (which use only the standard library
# and the stand-in), then records, then worker, then app. A folder may include from the
# folders below it, never from one above. Test files (*_test.cpp, */testing/*,
# *_test_support.h) drive the folders above theirs on purpose and are listed apart.
#
#   scripts/layers.sh      prints the arrows; exit status 1 when one runs upward
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(format platform records worker app)
declare -A level=([format]=0 [platform]=0 [records]=1 [worker]=2 [app]=3)

is_test() { [[ "$1" == *_test.cpp || "$1" == */testing/* || "$1" == *_test_support.* ]]; }

status=0
for kind in code tests; do
  echo "== $kind"
  for from in "${folders[@]}"; do
    for to in "${folders[@]}" handheld; do
      [ "$from" = "$to" ] && continue
      files=0
      while IFS= read -r file; do
        if [ "$kind" = code ] && is_test "$file"; then continue; fi
        if [ "$kind" = tests ] && ! is_test "$file"; then continue; fi
        grep -q "#include \"$to/" "$file" && files=$((files + 1))
      done < <(find "$from" -name '*.cpp' -o -name '*.h' | sort)
      [ "$files" -eq 0 ] && continue
      mark=""
      if [ "$to" != handheld ] && [ "${level[$to]}" -ge "${level[$from]}" ]; then
        mark="   <- upward"
        [ "$kind" = code ] && status=1
      fi
      printf '  %-8s -> %-8s %3d files%s\n' "$from" "$to" "$files" "$mark"
    done
  done
done

# The stand-in and interop, from the bottom: the store's interfaces (handheld/'s own
# files), the vCard/iCalendar mapping (the interop/ files that interop/mapping.cmake
# lists), and above the mapping, side by side, the stand-in's store (handheld/store/) and
# interop's transfer side (the rest of interop/). The store keeps the items a purge
# removes through the mapping; the transfer side reaches the store only through its
# interfaces.
declare -A unitLevel=([interfaces]=0 [mapping]=1 [store]=2 [transfer]=2)
mapping=" $(sed -n '/^set(INTEROP_MAPPING\(_HEADERS\)\?$/,/^)/s/^ *\([a-z_0-9]*\)$/\1/p' \
  interop/mapping.cmake | tr '\n' ' ')"
unit_of() {
  local base
  case $1 in
    handheld/store/*|handheld/eds/*) echo store ;;
    handheld/*/*) echo other ;;  # the window system, the call-log library, test support
    handheld/*) echo interfaces ;;
    interop/*)
      base=${1#interop/}
      base=${base%.*}
      if [[ "$mapping" == *" $base "* ]]; then echo mapping; else echo transfer; fi ;;
  esac
}
echo "== the stand-in and interop"
declare -A arrows=()
while IFS= read -r file; do
  is_test "$file" && continue
  from=$(unit_of "$file")
  [ "$from" = other ] && continue
  while IFS= read -r included; do
    to=$(unit_of "$included")
    [ -z "$to" ] || [ "$to" = "$from" ] && continue
    arrows["$from -> $to"]=$(( ${arrows["$from -> $to"]:-0} + 1 ))
    if [ "$to" = other ] || [ "${unitLevel[$to]}" -ge "${unitLevel[$from]}" ]; then
      echo "  !! $file includes $included"
      status=1
    fi
  done < <(sed -n 's/^#include "\(\(handheld\|interop\)\/[^"]*\)".*/\1/p' "$file")
done < <(find handheld interop -name '*.cpp' -o -name '*.h' | sort)
for arrow in $(printf '%s\n' "${!arrows[@]}" | tr ' ' '_' | sort); do
  printf '  %-30s %3d includes\n' "${arrow//_/ }" "${arrows[${arrow//_/ }]}"
done
# The tools sit on top of everything: their programs may include any folder below, and
# nothing includes tools/. Nor do the system's folders include interop/: they reach the
# store through the stand-in's interfaces only. Benchmarks and fuzz targets drive the
# layers below from outside, as tests do.
echo "== tools"
for to in "${folders[@]}" handheld interop; do
  files=$(grep -rlE "#include \"$to/" tools --include='*.cpp' --include='*.h' |
    grep -cvE '_test\.cpp$|_test_support\.h$' || true)
  [ "$files" -eq 0 ] || printf '  %-8s -> %-8s %3d files\n' tools "$to" "$files"
done
if grep -rlE '#include "tools/' "${folders[@]}" handheld interop bench fuzz \
  --include='*.cpp' --include='*.h'; then
  echo "!! the files above include tools/, which nothing may include"
  status=1
fi
# The data server is the store's business: the system reaches it through the store only.
if grep -rlE '#include "handheld/eds/' "${folders[@]}" interop --include='*.cpp' --include='*.h'; then
  echo "!! the files above include handheld/eds/, which only the stand-in and the tools may"
  status=1
fi
if grep -rlE '#include "interop/' "${folders[@]}" --include='*.cpp' --include='*.h'; then
  echo "!! the files above include interop/ from the system's folders"
  status=1
fi
# Outside the stand-in, nothing of the system touches SQLite, Qt, GLib, Evolution's
# libraries, dlopen or POSIX.
if grep -rlE '#include <(sqlite3\.h|Q[A-Za-z]+|gio/|glib|libebook|libecal|libedataserver|dlfcn\.h|unistd\.h|fcntl\.h|sys/[a-z]+\.h|pthread\.h)' \
  "${folders[@]}" --include='*.cpp' --include='*.h' | grep -vE '_test\.cpp$|/testing/|_test_support\.h$'; then
  echo "!! the files above reach past the stand-in"
  status=1
fi
exit $status
