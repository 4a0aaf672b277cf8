#!/bin/sh
# Runs quorvale-inp on one end-to-end case and compares what it wrote with
# the case's golden files. Usage: run_convert_case.sh PROGRAM CASE_DIR
#
# A case folder holds:
#   args             the words given on the command line, separated by blanks
#   args.lines       instead of args: one word a line, for words holding blanks
#                    (--models='PHI(G+T) P(T)')
#   stdin            what is typed on standard input; empty if absent
#   *.inp, ...       input files the case names
#   expected.stdout  standard output (the command file, or the help text)
#   expected.stderr  the error stream
#   expected.status  the exit status
# With UPDATE_GOLDEN=1 the golden files are rewritten.
set -u
program=$1
case_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cp -R "$case_dir"/. "$work"/
cd "$work" || exit 1
rm -f expected.*

args=""
[ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")
[ -f stdin ] || : > stdin
if [ -f "$case_dir/args.lines" ]; then
  # One word a line: the lines become the positional parameters as they are.
  set --
  while IFS= read -r word; do set -- "$@" "$word"; done < "$case_dir/args.lines"
  "$program" "$@" < stdin > actual.stdout 2> actual.stderr
else
  # shellcheck disable=SC2086
  "$program" $args < stdin > actual.stdout 2> actual.stderr
fi
echo $? > actual.status

failed=0
for name in stdout stderr status; do
  if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then
    cp "actual.$name" "$case_dir/expected.$name"
  elif ! cmp -s "actual.$name" "$case_dir/expected.$name"; then
    echo "--- expected.$name differs:"
    diff -u "$case_dir/expected.$name" "actual.$name" | head -n 80
    failed=1
  fi
done
exit $failed
