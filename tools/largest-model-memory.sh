#!/bin/sh
# Peak memory of a quick fit of the largest model the limits allow: 28
# primary periods of 6 secondary occasions (433 cohorts, about 26,000 cells,
# NPAR 416). Writes the command file, runs the program under /usr/bin/time -v
# and prints the maximum resident set size of the run, once for PROC MODEL
# alone and once for PROC MODEL followed by a PROC ESTIMATE.
#
# Usage: tools/largest-model-memory.sh [PROGRAM] [MAXFN]
#   PROGRAM  the program to measure (default build/release/quorvale)
#   MAXFN    function evaluations the fit may use (default 3000)
#   WORDS    (environment) more parameter words, e.g. WORDS=gradient=exact
set -eu
program=${1:-build/release/quorvale}
maxfn=${2:-3000}
[ -x "$program" ] || { echo "no program at $program (make build)" >&2; exit 1; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

M=28
kk=6
# Counts from a plain model: capture 0.3 on every occasion, survival 0.8,
# no temporary emigration; 300 animals in each closed cohort, 400 released
# in each open one. ADDCELL adds every remainder cell.
awk -v M=$M -v kk=$kk -v maxfn="$maxfn" 'BEGIN {
  p = 0.3; phi = 0.8; n = 2 ^ kk
  npar = M * (2 * kk - 1) + 4 * M - 4
  pstar = 1 - (1 - p) ^ kk
  printf "PROC MODEL NPAR=%d ADDCELL;\n", npar
  for (ip = 1; ip <= M; ++ip) {
    for (jp = 1; jp <= ip; ++jp) {
      printf " COHORT=300;\n"
      for (h = 0; h <= n - 2; ++h) {
        caught = 0
        for (t = 1; t <= kk; ++t) if (int(h / 2 ^ (kk - t)) % 2 == 0) ++caught
        pr = p ^ caught * (1 - p) ^ (kk - caught) / pstar
        printf "  %d : x;\n", int(300 * pr + 0.5)
      }
    }
  }
  for (i = 1; i < M; ++i) {
    printf " COHORT=400;\n"
    s = 1
    for (j = i + 1; j <= M; ++j) {
      s *= phi * (j == i + 1 ? 1 : 1 - pstar)
      printf "  %d : x;\n", int(400 * s * pstar + 0.5)
    }
  }
  # The estimate: recapture equal to capture, theta fixed at 1.
  printf "PROC ESTIMATE MAXFN=%d;\n CONSTRAINT;\n", maxfn
  off = 0
  for (ip = 1; ip <= M; ++ip) {
    for (t = 2; t <= kk; ++t) printf "  S(%d)=S(%d);\n", off + kk + t - 1, off + t
    off += 2 * kk - 1
  }
  for (ip = 1; ip <= M; ++ip) printf "  S(%d)=1;\n", npar - M + ip
  printf "PROC STOP;\n"
}' > "$work/fit.cmd"
sed '/^PROC ESTIMATE/,$d' "$work/fit.cmd" > "$work/model.cmd"
echo "PROC STOP;" >> "$work/model.cmd"

measure() {
  ( cd "$work" && printf 'i=%s l=%s.lst %s\n' "$1" "$1" "${WORDS:-}" | /usr/bin/time -v "$program" > /dev/null 2> "$1.time" ) || true
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$1.time")
  secs=$(sed -n 's/.*User time (seconds): //p' "$work/$1.time")
  evals=$(grep -c 'nper,majper=' "$work/$1.lst" || true)
  echo "$2: max RSS $rss kB, user time $secs s, $evals likelihood evaluations"
}
measure model.cmd "PROC MODEL alone      "
measure fit.cmd "PROC MODEL + ESTIMATE "
