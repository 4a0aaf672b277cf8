#!/usr/bin/env python3
"""Independent check of the standard errors adjusted for overdispersion.

Runs the program on end-to-end cases with json= and, for every PROC TEST of
the command file, takes c-hat from its own words (C = value) or, without C,
as G / df of the most general model of the document (the first sound fit of
the comparison with the largest K), at least 1. Then:
  - the comparison's c_hat is that value;
  - with c-hat above 1 every parameter of every fit of this run that the
    comparison ranks has se_adjusted = se * sqrt(c-hat), to 1e-12 relative
    (null where se is null, 0 for a fixed parameter);
  - every other fit has no se_adjusted.
At least one adjusted standard error must have been checked.
Usage: adjusted_se.py PROGRAM CASE_DIR...
"""
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile


def given_chats(command_file):
    """The C = value of each PROC TEST, None when not given, in order."""
    text = re.sub(r"/\*.*?\*/", " ", open(command_file, encoding="latin-1").read(), flags=re.S)
    chats = []
    for statement in re.findall(r"PROC\s+TEST\b([^;]*);", text, flags=re.I):
        m = re.search(r"\bC\s*=\s*([-+\d.eE]+)", statement, flags=re.I)
        chats.append(float(m[1]) if m else None)
    return chats


def check_case(program, case, failures):
    with tempfile.TemporaryDirectory() as work:
        shutil.copytree(case, work, dirs_exist_ok=True)
        # The parameter line: the case's command-line words, or the first line it types.
        words = os.path.join(case, "args")
        args = (open(words).read() if os.path.exists(words) else open(os.path.join(case, "stdin")).readline()).split()
        out = os.path.join(work, "run.json")
        subprocess.run([program, *args, "json=" + out], cwd=work, stdin=subprocess.DEVNULL, capture_output=True)
        doc = json.load(open(out))
    chats = given_chats(os.path.join(case, "run.cmd"))
    if len(chats) != len(doc["tests"]):
        failures.append(f"{case}: {len(chats)} PROC TEST statements, {len(doc['tests'])} comparisons")
        return 0
    fits = {f["name"]: f for f in doc["fits"]}
    adjusted = {}
    for t, (test, given) in enumerate(zip(doc["tests"], chats)):
        own = [m for m in test["models"] if m["source"] == "this_run"]
        if given is not None:
            chat = given
        else:
            sound = [m for m in test["models"] if m["sound"]] or test["models"]
            general = max(sound, key=lambda m: m["npar"])  # max() keeps the first of equal K
            chat = max(1.0, general["g"] / general["ndf"]) if general["ndf"] else 1.0
        if abs(test["c_hat"] - chat) > 1e-12 * chat:
            failures.append(f"{case}: comparison {t + 1} has c-hat {test['c_hat']}, expected {chat}")
        if chat > 1.0:
            for m in own:
                adjusted[m["name"]] = chat
    checked = 0
    for name, fit in fits.items():
        for p in fit["parameters"]:
            shown = p.get("se_adjusted", "absent")
            if name not in adjusted:
                if shown != "absent":
                    failures.append(f"{case}: fit {name} S({p['index']}) has se_adjusted {shown}, compared with c-hat 1")
                continue
            want = None if p["se"] is None else p["se"] * math.sqrt(adjusted[name])
            if (want is None) != (shown is None) or shown == "absent" or (
                    want is not None and abs(shown - want) > 1e-12 * max(abs(want), 1e-300)):
                failures.append(f"{case}: fit {name} S({p['index']}) se_adjusted {shown}, expected {want}")
            checked += 1
    return checked


def main():
    program, cases = os.path.abspath(sys.argv[1]), sys.argv[2:]
    failures = []
    checked = sum(check_case(program, case, failures) for case in cases)
    for f in failures[:40]:
        print(f)
    print(f"{checked} adjusted standard errors checked; {len(failures)} differences")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
