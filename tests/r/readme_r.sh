#!/bin/sh
# Runs the first r block of a README section as written, with Rscript, in a
# fresh folder laid out like the source tree (examples/, r/ and
# build/release/ holding the programs under test) with a library of its own
# for the package it installs. Fails when the script fails, has 15 lines or
# more, prints no model table, or leaves an empty picture; skipped (exit
# 77) where R is missing. Usage: readme_r.sh PROGRAM_DIR SOURCE_DIR "## Heading"
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
test -s "$work/script.R" || { echo "no r block under $heading"; exit 1; }
lines=$(grep -c . "$work/script.R")
[ "$lines" -lt 15 ] || { echo "the script has $lines lines, 15 or more"; exit 1; }
cd "$work"
unset QUORVALE_BIN QUORVALE_INP
R_LIBS=$work/library Rscript script.R > out.txt 2> err.txt || { cat out.txt err.txt; exit 1; }
cat out.txt
grep -q "^Models ranked by " out.txt || { echo "no model table"; exit 1; }
for png in *.png; do
  [ -s "$png" ] || { echo "no picture $png"; exit 1; }
done
