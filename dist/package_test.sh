#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it with lintian, installs it
# into this machine with dpkg, uses the installed programs from PATH on a store of its
# own, checks the manual pages, the launcher and the AppStream file, then purges the
# package and checks that none of its files is left. Needs root; exits 77 (skipped)
# otherwise.
#
#   dist/package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
# The system's own folders only: the programs must come from the package.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

if [ "$(id -u)" != 0 ]; then
  echo "skipped: installing the package with dpkg needs root"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmote-package.XXXXXX")
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then dpkg --purge quillmote >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A run that failed part-way may have left the package installed; it goes first.
if dpkg-query -W -f='${Status}' quillmote 2>/dev/null | grep -qv 'not-installed'; then
  echo "removing the quillmote package that a previous run left installed"
  dpkg --purge quillmote >/dev/null
fi

echo "== cpack"
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/quillmote_*.deb)
dpkg-deb -c "$deb"
echo "== lintian"
status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'root privileges' "$work/lintian" || true
[ "$status" = 0 ] || fail "lintian reports errors"

echo "== dpkg -i"
installed=1
dpkg -i "$deb"
dpkg-query -L quillmote | sort >"$work/files"

# The programs from PATH, on a store, a home and an instance folder of this test's own.
# No HANDHELD_MODULE_DIR: the installed call-log library is found from the programs.
mkdir -m 700 "$work/home" "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/home/data
export HANDHELD_STORE=$work/store.db LC_ALL=C.UTF-8
unset HANDHELD_MODULE_DIR HANDHELD_FAULTS
for program in quillmote quillmote-batch quillmote-convert handheld; do
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not /usr/bin/$program"
done
for file in $(grep -E '^/usr/(bin|lib)/.' "$work/files"); do
  [ -f "$file" ] || continue
  if ldd "$file" | grep -q 'not found'; then ldd "$file"; fail "$file misses a library"; fi
done

expect() {  # expected output, command...
  local want=$1 got status=0
  shift
  got=$("$@" 2>>"$work/stderr") || status=$?
  if [ "$status" != 0 ]; then
    tail -n 5 "$work/stderr" >&2
    fail "$* ended with status $status"
  fi
  [ "$got" = "$want" ] || fail "$*: printed \"$got\", expected \"$want\""
}

echo "== the installed programs"
handheld add contacts <<'END'
{"FirstName": "Анна", "LastName": "Петрова"}
{"FirstName": "Boris", "LastName": "Ivanov", "Email1Address": "boris@example.org"}
END
expect "Экспорт Контактов завершен. Сохранено записей: 2" \
  quillmote-batch save-contacts "$work/contacts.txt"
handheld dump contacts >"$work/before.jsonl"
expect "Удалить существующие Контакты?
Импорт Контактов завершен. Загружено записей: 2" \
  quillmote-batch --replace load-contacts "$work/contacts.txt"
handheld dump contacts | cmp -s - "$work/before.jsonl" ||
  fail "the contacts loaded back differ from those saved"
handheld add calls <<'END'
{"Number": "+79001234567", "Name": "Анна", "StartTime": "2026-03-01T10:00:00.0000000Z", "EndTime": "2026-03-01T10:05:00.0000000Z", "Outgoing": true, "Connected": true}
{"Number": "+74951234567", "StartTime": "2026-03-02T09:00:00.0000000Z", "EndTime": "2026-03-02T09:00:30.0000000Z"}
END
expect "Экспорт Звонков завершен. Сохранено записей: 2" \
  quillmote-batch save-calls "$work/calls.txt"
[ "$(iconv -f UTF-16 -t UTF-8 "$work/calls.txt" | grep -c '+7')" = 2 ] ||
  fail "calls.txt does not hold the two calls"
quillmote-convert "$work/contacts.txt" "$work/contacts.vcf" >/dev/null 2>>"$work/stderr"
[ "$(grep -c '^BEGIN:VCARD' "$work/contacts.vcf")" = 2 ] || fail "contacts.vcf lacks the cards"

echo "== manual pages, launcher, AppStream, completion"
for page in quillmote quillmote-batch quillmote-convert handheld; do
  path=$(man -w "$page") || fail "man finds no page for $page"
  [ "$path" = "/usr/share/man/man1/$page.1.gz" ] || fail "man $page finds $path"
  warnings=$(MANWIDTH=80 man --warnings -l "$path" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $path: $warnings"
done
desktop-file-validate /usr/share/applications/quillmote.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.quillmote.Quillmote.metainfo.xml
completions=$(bash -c 'source /usr/share/bash-completion/completions/quillmote-batch
  COMP_WORDS=(quillmote-batch save-ca); COMP_CWORD=1; _quillmote_batch; echo "${COMPREPLY[*]}"')
[ "$completions" = "save-calendar save-calls" ] || fail "completion offers \"$completions\""

echo "== dpkg --purge"
dpkg --purge quillmote
installed=0
if dpkg-query -W -f='${Status}' quillmote 2>/dev/null | grep -qv 'not-installed'; then
  fail "dpkg still knows quillmote"
fi
# Every file is gone; a folder that stays belongs to another package or holds others' files.
left=0
while read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then
    echo "left behind: $path" >&2
    left=1
  elif [ -d "$path" ] && [ -z "$(ls -A "$path")" ] && ! dpkg-query -S "$path" >/dev/null 2>&1; then
    echo "left behind: empty folder $path" >&2
    left=1
  fi
done <"$work/files"
[ "$left" = 0 ] || fail "files of the package are left after dpkg --purge"
echo "package test passed: $(grep -c . "$work/files") paths installed and removed"
