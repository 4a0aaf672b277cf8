#!/bin/sh
# Refit threads the system cannot start do not end the run: under an address
# space too small for the stacks of all of them (ulimit -v, with large thread
# stacks from ulimit -s) the simulation goes on with the threads that started,
# or on the calling thread when none did, says so in one warning, and writes
# the listing and estimate file of threads=1 otherwise.
# Usage: threads_unstartable.sh PROGRAM SANITIZED (ON under AddressSanitizer,
# whose shadow memory no address space limit leaves room for: skipped, 77)
set -u
program=$1
case ${2:-OFF} in ON|on|1|TRUE|true) echo "skipped under AddressSanitizer"; exit 77 ;; esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1

cat > run.cmd <<'CMD'
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
PROC SIMULATE NSIM=12 SEED=3 PARFILE=est.out;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=C EQUALS P;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=CONSTANT P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
CMD

mask() { sed -E -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} / DATE /' -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1/' "$1"; }
# run DIR THREADS [VMEM_KB]: one run in DIR, thread stacks of about 1 GB.
run() {
  mkdir "$1" && cp run.cmd "$1"/
  (
    cd "$1" || exit 1
    ulimit -s 1000000 2>/dev/null || exit 77
    [ -n "${3:-}" ] && { ulimit -v "$3" || exit 77; }
    MALLOC_ARENA_MAX=1 "$program" i=run.cmd l=run.lst lines=60 threads="$2" > out 2> err
    echo $? > status
  ) || exit 77
  mask "$1/run.lst" > "$1/run.masked"
}
run one 1
run none 4 700000
run some 4 2500000
failed=0
[ "$(cat one/status)" = 0 ] && [ -s one/est.out ] || { echo "threads=1 run failed"; cat one/err; exit 1; }
warning='^ \* \*  WARNING  \* \*   '
for d in none some; do
  [ "$(cat $d/status)" = 0 ] || { echo "$d: exit status $(cat $d/status)"; cat $d/err; failed=1; }
  tail -n 1 $d/err | grep -qx 'STOP PELMAR NORMAL TERMINATION' || { echo "$d: no normal termination"; failed=1; }
  cmp -s one/est.out $d/est.out || { echo "$d: estimate file differs from threads=1"; failed=1; }
  # The warning and the blank line the warning layout writes before it are
  # the only difference from the listing of threads=1.
  grep -v -E "${warning}(No refit thread|Only [0-9]+ of 4 refit threads)" $d/run.masked > $d/rest
  [ "$(grep -c -E "${warning}(No refit thread|Only [0-9]+ of 4 refit threads)" $d/run.masked)" = 1 ] ||
    { echo "$d: not one warning of the threads"; failed=1; }
  diff one/run.masked $d/rest > $d/diff
  [ "$(grep -c '^[<>]' $d/diff)" = 1 ] && grep -qx '> ' $d/diff ||
    { echo "$d: the listing differs from threads=1 by more than the warning:"; head -20 $d/diff; failed=1; }
done
grep -q -E "${warning}No refit thread could be started: refits run one at a time\.$" none/run.masked ||
  { echo "none: no warning that no thread started"; grep WARNING none/run.masked | head -3; failed=1; }
grep -q -E "${warning}Only [123] of 4 refit threads could be started\.$" some/run.masked ||
  { echo "some: no warning that only some threads started"; grep WARNING some/run.masked | head -3; failed=1; }
[ $failed = 0 ] && echo "runs whose threads could not all start went on, warned once and wrote what threads=1 writes"
exit $failed
