#!/bin/sh
# Checks that includes between the folders under src/ point one way only:
# a folder may include its own headers and those of lower layers, never a
# higher one. Unit tests (*_test.cpp) and the test harness may include
# anything, since they are linked into the test binary, not the library.
#
# Usage: check-layers.sh SRC_DIR      exit 0 when clean, 1 with a list otherwise
#        check-layers.sh --planted SRC_DIR
#                                     copies SRC_DIR, adds an upward include to
#                                     the listing and expects the check to fail
set -u
if [ "${1:-}" = "--planted" ]; then
  src=$2
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT INT TERM
  cp -R "$src" "$tmp/src"
  printf '#include "driver/run.h"\n' >> "$tmp/src/listing/listing.h"
  if sh "$0" "$tmp/src" > "$tmp/out"; then
    echo "planted upward include listing -> driver was not reported"
    exit 1
  fi
  grep -q 'listing/listing.h.*driver/run.h' "$tmp/out" || { cat "$tmp/out"; exit 1; }
  echo "planted upward include reported"
  exit 0
fi

src=${1:?usage: check-layers.sh SRC_DIR}
# Layer of each folder, lowest first. Folders of one layer do not include
# each other either, except where listed on the same line as equal peers.
rank() {
  case $1 in
    base) echo 0 ;;
    listing) echo 1 ;;
    input) echo 2 ;;
    model) echo 3 ;;
    stats) echo 4 ;;
    estimate) echo 5 ;;
    compare|simulate|identify|convert) echo 6 ;;
    results) echo 7 ;;
    driver) echo 8 ;;
    testing) echo 9 ;;
    *) echo "" ;;
  esac
}

status=0
for dir in "$src"/*/; do
  from=$(basename "$dir")
  rf=$(rank "$from")
  if [ -z "$rf" ]; then
    echo "src/$from: folder has no layer in check-layers.sh"
    status=1
    continue
  fi
  for file in "$dir"*; do
    case $file in *_test.cpp|*/testdata) continue ;; esac
    [ -f "$file" ] || continue
    for to in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file" | sort -u); do
      [ "$to" = "$from" ] && continue
      rt=$(rank "$to")
      if [ -z "$rt" ] || [ "$rt" -ge "$rf" ]; then
        line=$(grep -n "#[[:space:]]*include[[:space:]]*\"$to/" "$file" | head -n 1 | cut -d: -f1)
        echo "src/$from/$(basename "$file"):$line includes $to/ (layer ${rt:-?}) from layer $rf: $(grep "#[[:space:]]*include[[:space:]]*\"$to/" "$file" | head -n 1)"
        status=1
      fi
    done
  done
done
[ $status = 0 ] && echo "includes point one way"
exit $status
