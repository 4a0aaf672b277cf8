#!/bin/sh
# Runs the first sh block of a README section as written, in a fresh folder
# laid out like the source tree (examples/ and build/release/ holding the
# programs under test), and fails when any command of it fails or it prints
# nothing. Usage: readme_block.sh PROGRAM_DIR SOURCE_DIR "## Heading"
set -eu
bin=$1
src=$2
heading=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/build"
ln -s "$src/examples" "$work/examples"
ln -s "$bin" "$work/build/release"
# The block: from the first ```sh after the heading to the closing ```.
awk -v h="$heading" '
  $0 == h { in_section = 1; next }
  in_section && /^## / { exit }
  in_section && /^```sh$/ { in_block = 1; next }
  in_block && /^```$/ { exit }
  in_block { print }
' "$src/README.md" > "$work/block.sh"
test -s "$work/block.sh" || { echo "no sh block under $heading"; exit 1; }
cd "$work"
sh -e block.sh > out.txt 2> err.txt || { cat err.txt; exit 1; }
cat out.txt
test -s out.txt
