#!/bin/sh
# notrace leaves the listing as it is except for the trace lines, and csv=DIR
# writes the four tables with one row per fit and parameter, names in full
# and quoted where they hold a comma or a quote.
# Usage: notrace_and_csv.sh PROGRAM SOURCE_DIR
set -u
program=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cp "$src/examples/example.cmd" "$work/run.cmd"
cd "$work" || exit 1
mask() { sed -E -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4} / DATE /' -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1/' "$1"; }
"$program" i=run.cmd l=plain.lst 2>/dev/null || { echo "plain run failed"; exit 1; }
"$program" i=run.cmd l=quiet.lst notrace csv=tables 2>/dev/null || { echo "notrace run failed"; exit 1; }
traces=$(grep -c '^ nper,majper=' plain.lst)
[ "$traces" -gt 0 ] || { echo "the plain listing has no trace lines"; exit 1; }
grep -q 'nper,majper=' quiet.lst && { echo "notrace left trace lines"; exit 1; }
mask plain.lst | grep -v '^ nper,majper=' > a
mask quiet.lst > b
cmp -s a b || { echo "notrace changed more than the trace lines:"; diff a b | head -20; exit 1; }

for t in estimates models tests simulation; do
  [ -f "tables/$t.csv" ] || { echo "tables/$t.csv missing"; exit 1; }
done
fits=$(grep -c '^@@' plain.lst)
rows=$(($(wc -l < tables/models.csv) - 1))
[ "$rows" = "$fits" ] || { echo "models.csv has $rows rows for $fits fits"; exit 1; }
npar=$(sed -n 's/.*NPAR *= *\([0-9][0-9]*\).*/\1/p' run.cmd | head -n 1)
rows=$(($(wc -l < tables/estimates.csv) - 1))
[ "$rows" = $((fits * npar)) ] || { echo "estimates.csv has $rows rows for $fits fits of $npar parameters"; exit 1; }

grep -q '^2,RANDOM CONSTPHI,' tables/models.csv || { echo "a two-word name is not kept whole"; exit 1; }

# A name with a comma and a quote, longer than the 20 characters of the listing.
sed -e 's/^PROC ESTIMATE.*/PROC ESTIMATE NAME=a,"q"-long-model-title-of-40-characters;/' run.cmd > named.cmd
"$program" i=named.cmd l=named.lst csv=named 2>/dev/null || { echo "named run failed"; exit 1; }
grep -q '^1,"a,""q""-long-model-title-of-40-characters",' named/models.csv || {
  echo "the name is not quoted in full:"; head -n 2 named/models.csv; exit 1; }
echo "notrace dropped $traces trace lines and nothing else; CSV tables complete"
