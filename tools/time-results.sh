#!/bin/sh
# Times the bundled example's run with and without the result files
# (json= and csv=), the median of RUNS runs each, and checks that the
# listing is the same either way.
# Usage: tools/time-results.sh [PROGRAM] [RUNS]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$top/build/release/quorvale}
runs=${2:-9}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cp "$top/examples/robust-example.cmd" "$work/run.cmd"
cd "$work"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
timed() {  # timed WORDS... : prints the elapsed seconds of one run
  start=$(date +%s.%N)
  "$program" "$@" 2>/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}
i=0
: > plain.t; : > files.t
while [ $i -lt "$runs" ]; do
  timed i=run.cmd l=plain.lst >> plain.t
  timed i=run.cmd l=files.lst json=run.json csv=tables >> files.t
  i=$((i + 1))
done
mask() { sed -E -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} //' -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1/' "$1"; }
mask plain.lst > a; mask files.lst > b
cmp -s a b || { echo "the listing differs when result files are written"; exit 1; }
p=$(median < plain.t); f=$(median < files.t)
awk -v p="$p" -v f="$f" -v n="$runs" 'BEGIN { printf "median of %d runs: listing only %.3fs, with json= and csv= %.3fs (%.1f%% more); listings identical\n", n, p, f, 100 * (f - p) / p }'
