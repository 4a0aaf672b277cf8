"""Shards that were edited by hand or damaged, shards of another study, and
outputs that name a shard: the merge refuses each with a message naming the shard and what is wrong,
exit 1, never a crash, and leaves every file as it was.

Usage: shards_damaged.py PROGRAM MERGE_PROGRAM RUN_SCRIPT
RUN_SCRIPT is the shell test whose here-document holds the command file."""
import copy
import json
import os
import re
import subprocess
import sys
import tempfile

program, merge, script = sys.argv[1:4]
commands = re.search(r"cat > run.cmd <<'CMD'\n(.*?)\nCMD\n", open(script).read(), re.S).group(1)

work = tempfile.mkdtemp()
os.chdir(work)
with open("run.cmd", "w") as f:
    f.write(commands + "\n")
shards = []
for k in (1, 2, 3):
    os.mkdir(f"s{k}")
    subprocess.run([program, "i=../run.cmd", "l=run.lst", "json=results.json", f"shard={k}/3"],
                   cwd=f"s{k}", check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shards.append(f"s{k}/results.json")
docs = [json.load(open(s)) for s in shards]

failed = 0


def expect_refused(what, args, pattern, keep=()):
    global failed
    before = {f: open(f, "rb").read() for f in keep}
    r = subprocess.run([merge] + args, capture_output=True, text=True)
    if r.returncode != 1 or not re.search(pattern, r.stderr):
        print(f"FAILED {what}: exit {r.returncode}, stderr {r.stderr.strip()!r}")
        failed = 1
    for f, text in before.items():
        if open(f, "rb").read() != text:
            print(f"FAILED {what}: {f} was changed")
            failed = 1


def damaged(name, edit):
    doc = copy.deepcopy(docs[1])
    edit(doc["simulations"][0])
    path = f"{name}.json"
    with open(path, "w") as f:
        json.dump(doc, f)
    return path


fits = lambda sim: sim["fits"]
cases = [
    ("a fit duplicated", lambda s: fits(s).insert(1, copy.deepcopy(fits(s)[0])), r"fits holds 10 fits"),
    ("fits deleted", lambda s: fits(s).__delitem__(slice(2, 5)), r"fits holds 6 fits"),
    ("a replicate out of range", lambda s: fits(s)[0].__setitem__("replicate", 99), r"fits\[0\]\.replicate is 99"),
    ("a submodel out of range", lambda s: fits(s)[3].__setitem__("submodel", 7), r"fits\[3\]\.submodel is 7"),
    ("an se array short", lambda s: fits(s)[2].__setitem__("se", fits(s)[2]["se"][:4]), r"fits\[2\]\.se has 4 entries, 10 expected"),
    ("an estimate not a number", lambda s: fits(s)[2]["estimates"].__setitem__(1, "x"), r"estimates\[1\] is not a number"),
    ("labels missing", lambda s: s.pop("labels"), r"labels is missing"),
    ("an N-hat of a group the model lacks", lambda s: fits(s)[1]["abundance"][0].__setitem__("group", 2),
     r"fits\[1\]\.abundance\[0\]\.group is 2, outside 1 to 1"),
    ("an N-hat bound not a number", lambda s: fits(s)[0]["abundance"][1].__setitem__("upper", "x"),
     r"fits\[0\]\.abundance\[1\]\.upper is not a number"),
    ("p* missing", lambda s: s.pop("generating_p_star"), r"generating_p_star is missing"),
    ("a shard range past the replicates", lambda s: s["shard"].__setitem__("last", 400), r"shard\.last is 400"),
]
for what, edit, pattern in cases:
    bad = damaged(what.replace(" ", "_"), edit)
    expect_refused(what, [shards[0], bad, shards[2], "json=merged.json"], re.escape(bad) + ".*" + pattern)
if os.path.exists("merged.json"):
    print("FAILED: a refused merge wrote its output")
    failed = 1



def shard_of(name, text, k=2):
    """Shard k of 3 of the command file `text`, run with the same parameter words."""
    os.makedirs(f"{name}/s{k}")
    with open(f"{name}/run.cmd", "w") as f:
        f.write(text + "\n")
    subprocess.run([program, "i=../run.cmd", "l=run.lst", "json=results.json", f"shard={k}/3"],
                   cwd=f"{name}/s{k}", check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return f"{name}/s{k}/results.json"


# Shards of another study: the same seed, models and replicates, on other data
# (the first cohort's counts), or from a command file that differs only in a
# submodel's MAXFN. Each is refused naming the shard and the field.
first_cohort = " COHORT = 100; 30 : a; 20 : b; 25 : c;"
assert commands.count(first_cohort) == 1 and commands.count("MAXFN=4") == 1
other_data = shard_of("other_data", commands.replace(first_cohort, " COHORT = 100; 36 : a; 14 : b; 25 : c;"))
other_commands = shard_of("other_commands", commands.replace("MAXFN=4", "MAXFN=5"))
expect_refused("a shard of other data", [shards[0], other_data, shards[2], "json=merged.json"],
               re.escape(other_data) + r': "shard\.data" differs from shard 1\'s .*on other data')
expect_refused("a shard of another command file", [shards[2], shards[0], other_commands],
               re.escape(other_commands) + r': "shard\.commands" differs from shard 1\'s .*from another command file')
if os.path.exists("merged.json"):
    print("FAILED: a refused merge wrote its output")
    failed = 1
# The digest a shard records is the FNV-1a (64 bits) of its command file's bytes.
h = 14695981039346656037
for byte in open("run.cmd", "rb").read():
    h = ((h ^ byte) * 1099511628211) % 2**64
recorded = docs[1]["simulations"][0]["shard"].get("commands")
if recorded != f"fnv1a64:{h:016x}":
    print(f"FAILED: the shard records the digest {recorded!r}, fnv1a64:{h:016x} expected")
    failed = 1
# The data it records: cohorts, total released and FNV-1a (32 bits) of each
# cohort's size, number of cells and counts, from the data of the document.
h = 2166136261
cohorts = docs[1]["data"]["cohorts"]
for v in [len(cohorts)] + [x for c in cohorts for x in [c["size"], len(c["counts"])] + c["counts"]]:
    for b in range(4):
        h = ((h ^ ((v >> (8 * b)) & 0xFF)) * 16777619) % 2**32
expected = f"data {len(cohorts)} {sum(c['size'] for c in cohorts)} {h:08x}"
if docs[1]["simulations"][0]["shard"].get("data") != expected:
    print(f"FAILED: the shard records the data {docs[1]['simulations'][0]['shard'].get('data')!r}, {expected!r} expected")
    failed = 1
# The shard of the run itself, run again in another folder, still merges.
again = shard_of("again", commands)
r = subprocess.run([merge, shards[0], again, shards[2]], capture_output=True, text=True)
if r.returncode != 0:
    print(f"FAILED the shard run again: exit {r.returncode}, stderr {r.stderr.strip()!r}")
    failed = 1

os.mkdir("folder")
expect_refused("a directory as a shard", [shards[0], "folder", shards[2]], r"folder is a directory")
expect_refused("json= naming a shard", ["json=" + shards[0]] + shards, r"names the shard s1/results\.json", keep=shards)
expect_refused("l= naming a shard", ["l=./" + shards[1]] + shards, r"names the shard s2/results\.json", keep=shards)
expect_refused("json= and l= one file", ["json=out.json", "l=out.json"] + shards, r"json= and l= name one file")

if failed == 0:
    print("damaged shards and outputs over shards refused")
sys.exit(failed)
