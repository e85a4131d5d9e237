#!/usr/bin/env bash
# Makes the sample backup files from their JSON Lines with the real tools: `handheld add`
# into a scratch store, then `quillmote-batch --overwrite save-...`. Call times are kept
# in UTC in the store and written in local time, so the files are made with TZ=UTC.
#
#   examples/make.sh [BUILD]      # BUILD defaults to build/
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:-$HERE/../build}
BIN=$(cd "$BUILD/bin" && pwd)
SCRATCH=$(mktemp -d /tmp/quillmote-examples-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
export TZ=UTC HANDHELD_STORE=$SCRATCH/store.db XDG_RUNTIME_DIR=$SCRATCH
for kind in contacts calendar tasks calls; do
  "$BIN/handheld" add "$kind" <"$HERE/$kind.jsonl"
  "$BIN/quillmote-batch" --overwrite "save-$kind" "$HERE/$kind.txt"
done
