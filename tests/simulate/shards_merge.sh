#!/bin/sh
# Three shards (shard=K/3) of a run with two simulations, merged by
# quorvale-merge, give the JSON document of the run over every replicate byte
# for byte and the same summaries (page headings aside); their estimate files
# joined in shard order are the run's. A merge short of a shard fails.
# Usage: shards_merge.sh PROGRAM MERGE_PROGRAM SCHEMA
set -u
program=$1
merge=$2
schema=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1

cat > run.cmd <<'CMD'
PROC MODEL NPAR=10 ADDCELL;
 COHORT = 100; 30 : a; 20 : b; 25 : c;
 COHORT = 120; 30 : a; 20 : b; 25 : c;
 COHORT = 60; 20 : a; 15 : b; 10 : c;
 COHORT = 100; 60 : phi;
PROC SIMULATE NSIM=10 SEED=41 COVERAGE PARFILE=one.out;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=C EQUALS P;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=CONSTANT P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=ONE P;
 CONSTRAINT; S(2)=S(1); S(3)=S(1); S(4)=S(1); S(5)=S(1); S(6)=S(1);
  S(8)=0; S(9)=1; S(10)=1;
PROC SIMULATE NSIM=5 SEED=7 ERROR TEST PARFILE=two.out;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
 INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;
PROC ESTIMATE NAME=GOOD;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC ESTIMATE NAME=STOPPED MAXFN=4;
 CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;
PROC STOP;
CMD

mkdir whole s1 s2 s3
(cd whole && "$program" i=../run.cmd l=run.lst json=results.json 2>/dev/null) || { echo "the whole run failed"; exit 1; }
for k in 1 2 3; do
  (cd "s$k" && "$program" i=../run.cmd l=run.lst json=results.json shard=$k/3 2>/dev/null) ||
    { echo "shard $k failed"; exit 1; }
done
"$merge" s3/results.json s1/results.json s2/results.json json=merged.json l=merged.lst ||
  { echo "the merge failed"; exit 1; }

failed=0
cmp -s whole/results.json merged.json || { echo "the merged JSON differs from the whole run's"; failed=1; }
grep -q '"coverage_printed":true' merged.json || { echo "no coverage in the document"; failed=1; }
for f in one.out two.out; do
  cat s1/$f s2/$f s3/$f > joined.out
  [ -s "whole/$f" ] && cmp -s "whole/$f" joined.out || { echo "the shards' $f joined differ from the whole run's"; failed=1; }
done
grep -q 'Shard  2 of  3: replicates      4 to      6 of     10 are refitted.' s2/run.lst ||
  { echo "the shard's listing does not say which replicates it refits"; failed=1; }

# The summaries of each simulation: from its first title to the procedure's
# time line, without page headings and blank lines.
summaries() {
  awk '/S I M U L A T I O N   R E S U L T S/ { on = 1 } /CPU time in seconds for last procedure/ { on = 0 } on' "$1"
}
plain() { grep -v "$(printf '\f')" | grep -v 'Page  *[0-9]' | grep -v '^ - - - -' | grep -v '^ *$'; }
summaries whole/run.lst | plain > whole.sum
plain < merged.lst > merged.sum
[ -s whole.sum ] && grep -q 'B I A S   A N D   C O V E R A G E' whole.sum || { echo "no summaries found"; failed=1; }
cmp -s whole.sum merged.sum || { echo "the merged summaries differ:"; diff whole.sum merged.sum | head -20; failed=1; }

if "$merge" s1/results.json s3/results.json > /dev/null 2> err; then
  echo "a merge short of a shard succeeded"; failed=1
fi
grep -q 'the run has 3 shards, 2 given' err || { echo "unexpected message:"; cat err; failed=1; }
python3 -c 'import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
for f in sys.argv[2:]:
    jsonschema.validate(json.load(open(f)), schema)' "$schema" s1/results.json merged.json || { echo "a document fails the schema"; failed=1; }

# Faulty shard words end the run before any procedure.
for words in "shard=4/3 json=x.json" "shard=0/3 json=x.json" "shard=1-3 json=x.json" "shard=1/3"; do
  # shellcheck disable=SC2086
  if "$program" i=run.cmd l=bad.lst $words > /dev/null 2> err; then echo "$words was accepted"; failed=1; fi
  grep -q 'SHARD' err || { echo "$words: no message naming SHARD"; failed=1; }
done

[ $failed = 0 ] && echo "3 shards merged into the whole run's JSON, summaries and estimate files"
exit $failed
