#!/usr/bin/env bash
# The include arrows between the system's five folders, and whether any runs upward.
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

is_test() { [[ "$1" == *_test.cpp || "$1" == */testing/* || "$1" == *_test_support.h ]]; }

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
# Outside the stand-in, nothing of the system touches SQLite, Qt, dlopen or POSIX.
if grep -rlE '#include <(sqlite3\.h|Q[A-Za-z]+|dlfcn\.h|unistd\.h|fcntl\.h|sys/[a-z]+\.h|pthread\.h)>' \
  "${folders[@]}" --include='*.cpp' --include='*.h' | grep -vE '_test\.cpp$|/testing/|_test_support\.h$'; then
  echo "!! the files above reach past the stand-in"
  status=1
fi
exit $status
