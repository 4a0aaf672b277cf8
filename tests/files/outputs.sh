#!/bin/sh
# Outputs that must not be lost or mistaken for something else: a run past
# the file-size limit ends through the error path; a model file named through
# a symbolic link is updated where the link leads; json= through a link to
# /proc/self/fd/1 (as /dev/stdout is) writes into standard output; a read-only results file is refused and kept.
# Usage: outputs.sh PROGRAM SOURCE_DIR
set -u
program=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work" || exit 1
fail=0
check() { # description, condition...
  what=$1; shift
  if ! "$@"; then echo "FAILED: $what"; fail=1; fi
}
cp "$src/examples/example.cmd" run.cmd

# File-size limit: exit 1 with the termination line, not killed by SIGXFSZ.
(ulimit -f 1; "$program" i=run.cmd l=run.lst > /dev/null 2> err.txt) 2> /dev/null; status=$?
check "file-size limit gives exit 1 (got $status)" test "$status" = 1
check "file-size limit ends with the termination line" sh -c 'tail -n 1 err.txt | grep -qx "STOP PELMAR ERROR TERMINATION"'

# The model file through a link: the link stays, the file it leads to gets the models.
mkdir store
sed 's/^PROC TEST.*/PROC TEST AICSAVE = MLINK;/' run.cmd > link.cmd
grep -q "AICSAVE = MLINK" link.cmd || { echo "FAILED: the case has no PROC TEST"; exit 1; }
ln -s store/models.txt MLINK
"$program" i=link.cmd l=link.lst > /dev/null 2>&1
check "link kept as a link" test -L MLINK
check "the model file behind the link written" test -s store/models.txt
check "no temporary file left beside the link's file" test "$(ls store | wc -l)" = 1

# A link to this process's standard output, into a file and into a pipe, as /dev/stdout is (a link of the
# case's own, so that a fault cannot replace the system's): the document
# arrives on standard output, after the listing there, and the link stays.
ln -s /proc/self/fd/1 to_stdout
"$program" i=run.cmd l=out.lst json=to_stdout > stdout.json 2> /dev/null
check "json= through /proc/self/fd/1 writes the document" python3 -c 'import json,sys; json.load(open(sys.argv[1]))' stdout.json
check "the link to standard output stays a link" test -L to_stdout
"$program" i=run.cmd l=out.lst json=to_stdout 2> /dev/null | cat > piped.json
check "json= through /proc/self/fd/1 into a pipe" python3 -c 'import json,sys; json.load(open(sys.argv[1]))' piped.json

# A read-only results file: exit 1, a message naming it, the file as it was.
printf 'keep me\n' > ro.json
chmod 444 ro.json
"$program" i=run.cmd l=ro.lst json=ro.json > /dev/null 2> ro.err; status=$?
check "read-only json gives exit 1 (got $status)" test "$status" = 1
check "read-only json named in the message" grep -q "Results file ro.json is read-only; it is not replaced." ro.err
check "read-only json kept" test "$(cat ro.json)" = "keep me"
exit $fail
