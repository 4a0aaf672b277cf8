#!/bin/sh
# Checks that includes between the folders under src/ point one way only:
# a folder may include its own headers and those of lower layers, never a
# higher one. Unit tests (*_test.cpp) and the test harness may include
# anything, since they are linked into the test binary, not the library.
#
# Checks too that what renders results computes none: the value headers
# (what the procedures yield) include only value headers, the result
# writers (src/results) only value headers and their own folder, and the
# listing's renderers only value headers, the listing and their own helpers;
# never a header of a procedure or of the statistics.
#
# Usage: check-layers.sh SRC_DIR      exit 0 when clean, 1 with a list otherwise
#        check-layers.sh --planted SRC_DIR
#                                     copies SRC_DIR, adds an upward include to
#                                     the listing and expects the check to fail
#        check-layers.sh --planted-writer SRC_DIR
#                                     copies SRC_DIR, adds a procedure header to
#                                     a writer and a value header and expects
#                                     the check to report both
set -u
if [ "${1:-}" = "--planted" ] || [ "${1:-}" = "--planted-writer" ]; then
  mode=$1
  src=$2
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT INT TERM
  cp -R "$src" "$tmp/src"
  if [ "$mode" = "--planted" ]; then
    printf '#include "driver/run.h"\n' >> "$tmp/src/listing/listing.h"
    expected='listing/listing.h.*driver/run.h'
  else
    printf '#include "simulate/totals.h"\n' >> "$tmp/src/results/csv.cpp"
    printf '#include "stats/distributions.h"\n' >> "$tmp/src/estimate/fit_report.h"
    expected='results/csv.cpp.*simulate/totals.h'
  fi
  if sh "$0" "$tmp/src" > "$tmp/out"; then
    echo "planted include ($mode) was not reported"
    exit 1
  fi
  grep -q "$expected" "$tmp/out" || { cat "$tmp/out"; exit 1; }
  if [ "$mode" = "--planted-writer" ]; then
    grep -q 'estimate/fit_report.h.*stats/distributions.h' "$tmp/out" || { cat "$tmp/out"; exit 1; }
  fi
  echo "planted include reported ($mode)"
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

# Headers that hold values only: what the procedures yield, as the listing
# and the result files read it. base/ holds no statistics.
is_value() {
  case $1 in
    base/*|estimate/fit_codes.h|estimate/fit_report.h|stats/interval.h|model/robust_layout.h) return 0 ;;
    compare/comparison.h|identify/scan.h|simulate/simulation_values.h) return 0 ;;
  esac
  return 1
}
# What a value header or a writer (path under src/) may include besides the
# value headers ("-": nothing else); no answer for a file that is neither.
may_include() {
  case $1 in
    base/*) echo "base/*" ;;
    results/*) echo "results/*" ;;
    estimate/results_listing.cpp) echo "listing/* estimate/results_listing.h estimate/numerr.h model/store.h" ;;
    simulate/summaries.cpp) echo "listing/* simulate/summaries.h input/fields.h" ;;
    compare/test_listing.cpp) echo "listing/* compare/test_listing.h" ;;
    estimate/results_listing.h|simulate/summaries.h|compare/test_listing.h) echo "-" ;;
    *) is_value "$1" && echo "-" ;;
  esac
}

for file in "$src"/*/*; do
  case $file in *_test.cpp|*/testdata) continue ;; esac
  [ -f "$file" ] || continue
  rel=${file#"$src"/}
  allowed=$(may_include "$rel") || continue
  [ -n "$allowed" ] || continue
  for to in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\/[a-z0-9_]*\.h\)".*/\1/p' "$file" | sort -u); do
    is_value "$to" && continue
    ok=
    set -f  # the patterns are matched, not expanded
    for pattern in $allowed; do
      case $to in $pattern) ok=1 ;; esac
    done
    set +f
    [ -n "$ok" ] && continue
    line=$(grep -n "#[[:space:]]*include[[:space:]]*\"$to\"" "$file" | head -n 1 | cut -d: -f1)
    echo "src/$rel:$line renders or holds values but includes $to, no value header"
    status=1
  done
done

[ $status = 0 ] && echo "includes point one way; writers and value headers include value headers only"
exit $status
