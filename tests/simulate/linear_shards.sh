#!/bin/sh
# A planned study with a trend and a covariate in survival, whose submodels
# include fits over coefficients on the logit scale: the listing, the JSON
# document and the CSV tables are the same for threads=1, 2 and 4; three
# shards merged by quorvale-merge give the whole run's document byte for
# byte and its summaries, coefficient rows included; shards whose
# coefficients were damaged are refused, naming what is wrong.
# Usage: linear_shards.sh PROGRAM MERGE_PROGRAM CONVERTER
set -u
program=$1
merge=$2
inp=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1

# Model 4 (no emigration, survival and capture by period) and model 6
# (random emigration), each followed by PHI(TREND+WINTER); ERROR TEST leaves
# the refits that fail out of the summaries, not of the counts. Without a
# title, so that the merge's page headings are the run's.
"$inp" --plan --secondary 2,2,3,2 --marked 150 --phi 0.8 --phi-trend -0.3 --covariate WINTER=0.2,0.8,0.1,0.5 \
  --phi-effect WINTER=0.5 --p 0.4 --gamma2 0.15 --gamma1 0.15 --nsim 9 --seed 5 --submodels 4,6 |
  sed -e 's/COVERAGE NAME=TRUTH/COVERAGE ERROR TEST NAME=TRUTH/' -e '/^PROC TITLE/d' > run.cmd ||
  { echo "the plan failed"; exit 1; }
[ "$(grep -c 'STRUCTURE PHI(TREND+WINTER)' run.cmd)" = 2 ] || { echo "the plan lacks its two linear submodels"; exit 1; }

mask() { sed -E -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} / DATE /' -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1/' "$1"; }
failed=0
same() {  # same FILE_A FILE_B WHAT
  if ! cmp -s "$1" "$2"; then
    echo "$3 differs:"; diff "$1" "$2" | head -20 | cut -c1-200; failed=1
  fi
}

for n in 1 2 4; do
  mkdir "t$n"
  (cd "t$n" && "$program" i=../run.cmd l=run.lst lines=50 json=run.json csv=tables notrace threads=$n 2>err; echo $? > status)
  [ "$(cat "t$n/status")" = 0 ] || { echo "threads=$n failed"; cat "t$n/err"; exit 1; }
  mask "t$n/run.lst" > "t$n/run.masked"
  sed -E 's/"parameter_line":"[^"]*"//' "t$n/run.json" > "t$n/json.masked"
done
[ "$(grep -c 'Coefficients on the logit scale' t1/run.lst)" -ge 6 ] ||
  { echo "the listing lacks the coefficient rows of the summaries and the coverage block"; failed=1; }
grep -q ' PHI:TREND$' t1/run.lst && grep -q ' PHI:WINTER$' t1/run.lst ||
  { echo "no PHI:TREND and PHI:WINTER rows"; failed=1; }
grep -q ',coefficient,' t1/tables/simulation.csv || { echo "simulation.csv has no coefficient rows"; failed=1; }
for n in 2 4; do
  same t1/run.masked "t$n/run.masked" "listing with threads=$n"
  same t1/json.masked "t$n/json.masked" "JSON with threads=$n"
  same t1/tables/simulation.csv "t$n/tables/simulation.csv" "simulation.csv with threads=$n"
done

# Three shards and their merge, each run with the same words but shard=.
mkdir whole s1 s2 s3
(cd whole && "$program" i=../run.cmd l=run.lst json=results.json notrace 2>/dev/null) || { echo "the whole run failed"; exit 1; }
for k in 1 2 3; do
  (cd "s$k" && "$program" i=../run.cmd l=run.lst json=results.json notrace shard=$k/3 2>/dev/null) ||
    { echo "shard $k failed"; exit 1; }
done
"$merge" s2/results.json s3/results.json s1/results.json json=merged.json l=merged.lst || { echo "the merge failed"; exit 1; }
same whole/results.json merged.json "the merged JSON against the whole run's"
summaries() {
  awk '/S I M U L A T I O N   R E S U L T S/ { on = 1 } /CPU time in seconds for last procedure/ { on = 0 } on' "$1"
}
plain() { grep -v "$(printf '\f')" | grep -v 'Page  *[0-9]' | grep -v '^ - - - -' | grep -v '^ *$'; }
summaries whole/run.lst | plain > whole.sum
plain < merged.lst > merged.sum
grep -q 'PHI:WINTER' merged.sum || { echo "the merged summaries lack the coefficients"; failed=1; }
same whole.sum merged.sum "the merged summaries against the whole run's"

# Damaged coefficients in shard 2: each refused, naming the shard and the member.
python3 - "$merge" <<'PY' || failed=1
import copy, json, re, subprocess, sys
merge = sys.argv[1]
doc = json.load(open("s2/results.json"))
sim = doc["simulations"][0]
linear = next(i for i, f in enumerate(sim["fits"]) if "coefficients" in f)
count = len(sim["fits"][linear]["coefficients"])
cases = [
    ("coefficients of a fit missing", lambda s: s["fits"][linear].pop("coefficients"),
     rf"fits\[{linear}\]\.coefficients is missing"),
    ("a coefficient dropped", lambda s: s["fits"][linear]["coefficients"].pop(),
     rf"fits\[{linear}\]\.coefficients is not an array of {count} coefficients"),
    ("covers not true or false", lambda s: s["fits"][linear]["coefficients"][0].__setitem__("covers", 1),
     rf"fits\[{linear}\]\.coefficients\[0\]\.covers is not true or false"),
    ("a true value not a number", lambda s: s["coefficients"][1][0].__setitem__("true_value", "x"),
     r"coefficients\[1\]\[0\]\.true_value is not a number"),
    ("a submodel's coefficients missing", lambda s: s["coefficients"].pop(), r"coefficients is not an array of 4 lists"),
    ("another true value", lambda s: s["coefficients"][1][0].__setitem__("true_value", 0.5), r'"coefficients" differs'),
]
failed = 0
for what, edit, pattern in cases:
    bad = copy.deepcopy(doc)
    edit(bad["simulations"][0])
    json.dump(bad, open("bad.json", "w"))
    r = subprocess.run([merge, "s1/results.json", "bad.json", "s3/results.json"], capture_output=True, text=True)
    if r.returncode != 1 or not re.search(r"bad\.json.*" + pattern, r.stderr):
        print(f"{what}: exit {r.returncode}, {r.stderr.strip()!r}")
        failed = 1
sys.exit(failed)
PY

[ $failed = 0 ] && echo "threads=1, 2 and 4 and three merged shards agree, coefficients included; damaged coefficients refused"
exit $failed
