#!/bin/sh
# Runs the first r block of a README section as written, with Rscript, in a
# fresh folder laid out like the source tree (examples/, r/ and
# build/release/ holding the programs under test) with a library of its own
# for the package it installs. Fails when the script fails, has 15 lines or
# more, prints no model table or not every line of the plain block after
# it, or leaves an empty picture; skipped (exit 77) where R is missing. Usage: readme_r.sh PROGRAM_DIR SOURCE_DIR "## Heading"
set -eu
bin=$1
src=$2
heading=$3
. "$src/tests/r/have_r.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/build" "$work/library"
ln -s "$src/examples" "$work/examples"
ln -s "$src/r" "$work/r"
ln -s "$bin" "$work/build/release"
awk -v h="$heading" '
  $0 == h { in_section = 1; next }
  in_section && /^## / { exit }
  in_section && /^```r$/ { in_block = 1; next }
  in_block && /^```$/ { exit }
  in_block { print }
' "$src/README.md" > "$work/script.R"
# The plain block after it: what the script prints.
awk -v h="$heading" '
  $0 == h { in_section = 1; next }
  in_section && /^## / { exit }
  in_section && state == 0 && /^```r$/ { state = 1; next }
  state == 1 && /^```$/ { state = 2; next }
  state == 2 && /^```$/ { state = 3; next }
  state == 3 && /^```$/ { exit }
  state == 3 { print }
' "$src/README.md" > "$work/printed.txt"
test -s "$work/script.R" || { echo "no r block under $heading"; exit 1; }
lines=$(grep -c . "$work/script.R")
[ "$lines" -lt 15 ] || { echo "the script has $lines lines, 15 or more"; exit 1; }
cd "$work"
unset QUORVALE_BIN QUORVALE_INP
R_LIBS=$work/library Rscript script.R > out.txt 2> err.txt || { cat out.txt err.txt; exit 1; }
cat out.txt
grep -q "^Models ranked by " out.txt || { echo "no model table"; exit 1; }
test -s printed.txt || { echo "no printed output under the r block of $heading"; exit 1; }
while IFS= read -r line; do
  grep -qxF -- "$line" out.txt || { echo "the README shows a line the script does not print: $line"; exit 1; }
done < printed.txt
for png in *.png; do
  [ -s "$png" ] || { echo "no picture $png"; exit 1; }
done
