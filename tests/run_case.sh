#!/bin/sh
# Runs the program on one end-to-end case and compares what it wrote with the
# case's golden files. Usage: run_case.sh PROGRAM CASE_DIR
#
# A case folder holds:
#   stdin            what is typed on standard input (the parameter line first,
#                    then commands when no input file is named); empty if absent
#   args             optional words given on the command line
#   *.cmd, ...       command files and any other input the case needs
#   expected.stdout  standard output (prompt, and the listing without l=)
#   expected.stderr  the error stream
#   expected.status  the exit status
#   expected.lst     the listing file run.lst, when the case names one
#   expected.files   optional: names of further files the run must leave, each
#                    compared with expected.<name>
#   stdin.closed     optional: the program runs with standard input closed
#   stdout.full      optional: the program writes standard output to /dev/full
# The date and time of the page headings and the elapsed-time figures are
# masked before comparing. With UPDATE_GOLDEN=1 the golden files are rewritten.
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
# shellcheck disable=SC2086
if [ -f stdin.closed ]; then
  "$program" $args <&- > actual.stdout 2> actual.stderr
elif [ -f stdout.full ]; then
  "$program" $args < stdin > /dev/full 2> actual.stderr
else
  "$program" $args < stdin > actual.stdout 2> actual.stderr
fi
echo $? > actual.status
[ -f actual.stdout ] || : > actual.stdout

mask() {
  sed -E \
    -e 's/^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} / Www Mmm dd hh:mm:ss yyyy /' \
    -e 's/(CPU time in (seconds for last procedure|minutes for this job) was).{8}/\1 ##.##  /' \
    "$1"
}

failed=0
compare() {  # compare ACTUAL GOLDEN_NAME
  mask "$1" > "$1.masked"
  if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then
    cp "$1.masked" "$case_dir/$2"
  elif ! cmp -s "$1.masked" "$case_dir/$2"; then
    echo "--- $2 differs:"
    diff -u "$case_dir/$2" "$1.masked" | head -n 80
    failed=1
  fi
}

compare actual.stdout expected.stdout
compare actual.stderr expected.stderr
compare actual.status expected.status
if [ -f run.lst ] || [ -f "$case_dir/expected.lst" ]; then
  [ -f run.lst ] || : > run.lst
  compare run.lst expected.lst
fi
if [ -f "$case_dir/expected.files" ]; then
  while read -r name; do
    [ -n "$name" ] || continue
    [ -f "$name" ] || : > "$name"
    compare "$name" "expected.$name"
  done < "$case_dir/expected.files"
fi
exit $failed
