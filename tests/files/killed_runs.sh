#!/bin/sh
# A run ended by SIGTERM leaves no temporary file: during PROC SIMULATE its
# result files keep their old text; while they are being written, every one
# of them gets its new text (none half old, half new). A temporary file
# left by a run killed outright neither blocks nor changes a later run.
# Usage: killed_runs.sh PROGRAM SOURCE_DIR
set -u
program=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1
sed -e 's#PARFILE=./run.cmd#PARFILE=est.txt#' -e 's#NSIM=1#NSIM=20000#' \
  "$src/tests/e2e/simulate_parfile_command_file/run.cmd" > sim.cmd
grep -q 'NSIM=20000 PARFILE=est.txt' sim.cmd || { echo "the simulation was not made long"; exit 1; }
old() { echo old > r.json; mkdir -p tabs; echo old > tabs/models.csv; echo old > tabs/estimates.csv; }
temporaries() { find . -name '*.tmp*' | grep -v stale; }

# Killed during the simulation.
old
"$program" i=sim.cmd l=sim.lst json=r.json csv=tabs threads=1 2>/dev/null &
pid=$!
sleep 0.5
kill -TERM "$pid"
wait "$pid"
[ $? -ne 0 ] || { echo "the run was not ended by SIGTERM"; exit 1; }
[ -z "$(temporaries)" ] || { echo "temporary files left by SIGTERM:"; temporaries; exit 1; }
for f in r.json tabs/models.csv tabs/estimates.csv; do
  [ "$(cat $f)" = old ] || { echo "$f replaced by a run killed before its end"; exit 1; }
done

# Killed as soon as a result file's temporary file shows.
old
"$program" i=sim.cmd l=sim.lst json=r.json csv=tabs threads=1 2>/dev/null &
pid=$!
tries=0
until [ -n "$(temporaries)" ] || ! kill -0 "$pid" 2>/dev/null || [ $tries -gt 3000 ]; do
  sleep 0.005
  tries=$((tries + 1))
done
kill -TERM "$pid" 2>/dev/null
wait "$pid"
[ -z "$(temporaries)" ] || { echo "temporary files left by SIGTERM during the writing:"; temporaries; exit 1; }
new=0
for f in r.json tabs/models.csv tabs/estimates.csv; do
  [ "$(cat $f)" = old ] || new=$((new + 1))
done
[ $new = 0 ] || [ $new = 3 ] || { echo "$new of 3 result files replaced: not all or none"; exit 1; }
[ $new = 0 ] || tail -c 2 r.json | grep -q '}' || { echo "r.json is not complete"; exit 1; }

# A temporary file of a run killed outright is left alone and changes nothing.
sed 's#NSIM=20000#NSIM=2#' sim.cmd > short.cmd
"$program" i=short.cmd l=a.lst json=a.json 2>/dev/null || { echo "the short run failed"; exit 1; }
for f in a.json est.txt; do echo "half a file" > "$f.tmp0stale1"; done
"$program" i=short.cmd l=b.lst json=b.json 2>/dev/null || { echo "a stale temporary file blocked a run"; exit 1; }
[ "$(cat a.json.tmp0stale1)" = "half a file" ] || { echo "a stale temporary file was changed"; exit 1; }
# The documents differ only in the parameter line that names them.
sed 's/a\.json/X/; s/a\.lst/X/' a.json > a.cmp
sed 's/b\.json/X/; s/b\.lst/X/' b.json > b.cmp
cmp -s a.cmp b.cmp || { echo "a stale temporary file changed the results:"; diff a.cmp b.cmp | head; exit 1; }
echo "SIGTERM: no temporary file left, $new of 3 result files new after the writing began; a stale temporary file ignored"
