#!/usr/bin/env python3
"""Two groups with equal data against one group.

The two-group case gives the bundled example's cohorts twice, as groups F
and M; the one-group case gives them once. Without binomial coefficients
(NOBINCOF) the log-likelihood of the two groups is the sum of theirs, so:
  - with every part shared (PHI(T) P(T) C(P) GAMMA(RANDOM,.)) the maximum is
    twice the one-group maximum, at the one-group estimates for both groups,
    with the same number of free values; the information doubles, so every
    standard error is the one-group one divided by sqrt(2);
  - with every part by group (PHI(G*T) P(G*T) C(P) GAMMA(RANDOM,G)) each
    group is fitted on its own: twice the one-group maximum, each group's
    estimates and standard errors the one-group ones, twice the free values.
The script also checks that the two-group data are the one-group data twice,
and that each fit is named after its structure with its group terms.

Usage: groups_identity.py PROGRAM TWO_GROUP_CASE ONE_GROUP_CASE
Standard library only.
"""
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

SHARED = "PHI(T)P(T)C(P)GAM(RANDOM,.)"
BY_GROUP = "PHI(G*T)P(G*T)C(P)GAM(RANDOM,G)"


def document(program, case):
    """The JSON document of the case's run."""
    with tempfile.TemporaryDirectory() as work:
        shutil.copytree(case, work, dirs_exist_ok=True)
        out = os.path.join(work, "run.json")
        subprocess.run([program, "i=run.cmd", "l=run.lst", "notrace", "json=" + out], cwd=work,
                       stdin=subprocess.DEVNULL, capture_output=True, check=True)
        with open(out) as f:
            return json.load(f)


def main(program, two_case, one_case):
    two = document(program, two_case)
    one = document(program, one_case)
    failures = []
    checked = 0

    def close(what, mine, theirs, tol):
        nonlocal checked
        checked += 1
        if theirs is None or mine is None or abs(mine - theirs) > tol:
            failures.append(f"{what}: expected {mine!r}, program {theirs!r}")

    def same(what, expected, actual):
        nonlocal checked
        checked += 1
        if expected != actual:
            failures.append(f"{what}: expected {expected!r}, program {actual!r}")

    cohorts = [(c["size"], c["counts"]) for c in one["data"]["cohorts"]]
    same("two-group cohorts are the one-group cohorts twice",
         cohorts * 2, [(c["size"], c["counts"]) for c in two["data"]["cohorts"]])
    same("one fit of one group", len(one["fits"]), 1)
    same("two fits of two groups", [f["name"] for f in two["fits"]], [SHARED, BY_GROUP])
    if failures:
        print("\n".join(failures))
        return 1

    base = one["fits"][0]
    npar = len(base["parameters"])
    for fit, k, se_factor in ((two["fits"][0], base["k"], 1 / math.sqrt(2)), (two["fits"][1], 2 * base["k"], 1.0)):
        name = fit["name"]
        close(f"{name}: lnL", 2 * base["lnl"], fit["lnl"], 1e-6)
        same(f"{name}: free values", k, fit["k"])
        same(f"{name}: parameters", 2 * npar, len(fit["parameters"]))
        for g, group in enumerate(("F", "M")):
            for i, p in enumerate(base["parameters"]):
                q = fit["parameters"][g * npar + i]
                what = f"{name}: {group} S({g * npar + i + 1})"
                close(f"{what} estimate", p["estimate"], q["estimate"], 1e-6)
                se = None if p["se"] is None else p["se"] * se_factor
                close(f"{what} standard error", se, q["se"], 1e-5 * (se or 0.0) + 1e-12)
    if failures:
        print("\n".join(failures))
        return 1
    print(f"{checked} checks passed; lnL one group {base['lnl']!r}, two groups "
          f"{two['fits'][0]['lnl']!r} and {two['fits'][1]['lnl']!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
