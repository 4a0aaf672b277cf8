#!/bin/sh
# The listing, the estimate files, the JSON document and the CSV tables of a
# run with PROC SIMULATE are the same for threads=1, 2 and 4: short pages that
# break inside the DETAIL output, DEBUG data, fits that fail under ERROR TEST,
# a simulation whose refits take exact derivatives (GRADIENT=EXACT, one
# submodel by differences), a further simulation and a PROC ESTIMATE after it
# on the last replicate's data. A run that ends in the draw ends the same way
# for every count.
# Usage: threads_identity.sh PROGRAM
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1

cat > run.cmd <<'CMD'
PROC TITLE Refits in threads;
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
PROC SIMULATE DEBUG NSIM=7 SEED=99 ERROR TEST DETAIL PARFILE=one.out;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=GOOD;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=BAD MAXFN=3;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=CONSTANT P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC SIMULATE NSIM=11 SEED=17 COVERAGE GRADIENT=EXACT;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=EXACT;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=BY DIFFERENCE GRADIENT=DIFFERENCE;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC SIMULATE NSIM=23 SEED=5 PARFILE=two.out;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=C EQUALS P;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=ONE P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(4)=S(1); S(5)=S(1); S(6)=S(1);
  S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=AFTER;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
CMD

cat > bad.cmd <<'CMD'
PROC MODEL NPAR=3 ADDCELL;
 COHORT = 100; 30 : a; 20 : b;
 COHORT = 120; 30 : a; 20 : b;
PROC SIMULATE NSIM=5;
 INITIAL; S(1)=0.4; S(2)=0.5;
PROC ESTIMATE NAME=A;
PROC STOP;
CMD

mask() { sed -E -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} / DATE /' -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1/' "$1"; }
failed=0
same() {  # same FILE_A FILE_B WHAT
  if ! cmp -s "$1" "$2"; then
    echo "$3 differs:"; diff "$1" "$2" | head -20; failed=1
  fi
}

for n in 1 2 4; do
  mkdir "t$n" && cp run.cmd bad.cmd "t$n"/
  (cd "t$n" && "$program" i=run.cmd l=run.lst lines=40 json=run.json csv=tables threads=$n 2>err; echo $? > status)
  (cd "t$n" && "$program" i=bad.cmd l=bad.lst threads=$n > bad.stdout 2> bad.err; echo $? > bad.status)
  mask "t$n/run.lst" > "t$n/run.masked"
  mask "t$n/bad.lst" > "t$n/bad.masked"
  sed -E 's/"parameter_line":"[^"]*"//' "t$n/run.json" > "t$n/json.masked"
done
[ "$(cat t1/status)" = 0 ] || { echo "threads=1 run failed"; cat t1/err; exit 1; }
[ -s t1/one.out ] && [ -s t1/two.out ] || { echo "estimate files missing"; exit 1; }
grep -q 'Failed to converge properly' t1/run.lst || { echo "no fit failed under ERROR TEST"; failed=1; }
grep -q 'Listing of data generated for replicate' t1/run.lst || { echo "no DEBUG data"; failed=1; }
[ "$(grep -c "$(printf '\f')" t1/run.lst)" -gt 20 ] || { echo "too few pages to test page breaks"; failed=1; }
grep -q 'MODEL EXACT .*NSIM =  11' t1/run.lst || { echo "no simulation with exact derivatives"; failed=1; }
[ "$(cat t1/bad.status)" = 1 ] || { echo "the bad design did not end the run"; failed=1; }
# BAD stops at MAXFN in every replicate: its warning reaches the error stream
# once, at the PROC SIMULATE statement, not once for each refit.
[ "$(grep -c '^run.cmd:7: Number of function evaluations exceed MAXFN limit before$' t1/err)" = 1 ] ||
  { echo "the MAXFN warning is not on the error stream once"; grep MAXFN t1/err | head -3; failed=1; }
for n in 2 4; do
  same t1/run.masked "t$n/run.masked" "listing with threads=$n"
  same t1/err "t$n/err" "error stream with threads=$n"
  same t1/one.out "t$n/one.out" "first estimate file with threads=$n"
  same t1/two.out "t$n/two.out" "second estimate file with threads=$n"
  same t1/json.masked "t$n/json.masked" "JSON with threads=$n"
  for t in estimates models tests simulation; do same "t1/tables/$t.csv" "t$n/tables/$t.csv" "$t.csv with threads=$n"; done
  same t1/bad.masked "t$n/bad.masked" "listing of the failed run with threads=$n"
  same t1/bad.stdout "t$n/bad.stdout" "standard output of the failed run with threads=$n"
  same t1/bad.err "t$n/bad.err" "error stream of the failed run with threads=$n"
  same t1/bad.status "t$n/bad.status" "exit status of the failed run with threads=$n"
done
[ $failed = 0 ] && echo "threads=1, 2 and 4 wrote the same listing, estimate files, JSON and CSV"
exit $failed
