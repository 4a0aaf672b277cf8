#!/usr/bin/env python3
"""Linear forms on the logit scale in the result files (tests/e2e/linear_outputs):
runs the case as written (json=, csv=, report=) and checks, from the command
file's covariates and labels rather than from the program's own layout:

- every fit's probabilities are the inverse logit of the predictors its
  formula writes in the document's coefficients, PHI(G+WINTER),
  PHI(WINTER), P(G+EFFORT) and C(P+1) (c is p's predictor plus C:1), each
  survival reading the covariate of its interval's first period;
- every estimated survival's standard error is the delta method's from the
  document's covariance of the coefficients, with the predictor's row
  written here: the covariance is in the coefficients' order;
- the covariate effects are the parts and covariates of the formulas, with
  the points the labels say: each group's survival by interval for
  PHI(G+WINTER), one set for all groups (no group named) for PHI(WINTER),
  and for P(G+EFFORT) each group's first capture of each period, at the
  covariate's value there;
- betas.csv holds the document's coefficients, figure for figure, and only
  the fits with linear forms; a fit without them has no coefficient member.

Usage: linear_outputs.py PROGRAM CASE_DIR
"""
import csv
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)


def expit(eta):
    return 1.0 / (1.0 + math.exp(-eta))


def covariates(commands):
    """COVARIATE NAME = v1 ... vM; statements: name -> values by period."""
    return {m[1]: [float(v) for v in m[2].split()]
            for m in re.finditer(r"COVARIATE\s+(\w+)\s*=\s*([^;]*);", commands)}


def labelled(commands):
    """S(I)=GROUP kind(indices) ...: (group, kind, indices) -> I."""
    out = {}
    for m in re.finditer(r"S\((\d+)\)=(\w+) (p|c|phi)\(([\d,]+)\)", commands):
        out[(m[2], m[3], tuple(int(x) for x in m[4].split(",")))] = int(m[1])
    return out


def predictors(fit, cov, at):
    """(index -> (row of the coefficients, predictor)) for every survival,
    capture and recapture the fit's formula writes; `at` maps labels to
    indices. The formulas are those of the case's PROC ESTIMATE statements."""
    names = [b["name"] for b in fit["betas"]]
    beta = {b["name"]: b["estimate"] for b in fit["betas"]}
    out = {}

    def row(terms):
        r = [0.0] * len(names)
        for name, x in terms:
            r[names.index(name)] += x
        return r, sum(beta[name] * x for name, x in terms)

    winter, effort = cov["WINTER"], cov["EFFORT"]
    for g in ("F", "M"):
        for i in (1, 2, 3):
            terms = [("PHI:1", 1.0), ("PHI:WINTER", winter[i - 1])]
            if fit["name"] == "PHI G+WINTER" and g == "M":
                terms.append(("PHI:G[M]", 1.0))
            out[at[(g, "phi", (i,))]] = row(terms)
        if fit["name"] != "EFFORT":
            continue
        for (kind, (ip, t)), I in ((k[1:], I) for k, I in at.items() if k[0] == g and k[1] in ("p", "c")):
            terms = [("P:1", 1.0), ("P:EFFORT", effort[ip - 1])] + ([("P:G[M]", 1.0)] if g == "M" else [])
            if kind == "c":
                terms.append(("C:1", 1.0))
            out[I] = row(terms)
    return out


def main():
    program, case_dir = sys.argv[1:3]
    commands = open(os.path.join(case_dir, "run.cmd")).read()
    cov = covariates(commands)
    at = labelled(commands)
    check(set(cov) == {"WINTER", "EFFORT"} and all(len(v) == 4 for v in cov.values()), f"covariates read {cov}")
    work = tempfile.mkdtemp()
    try:
        shutil.copytree(case_dir, work, dirs_exist_ok=True)
        run = subprocess.run([program], stdin=open(os.path.join(case_dir, "stdin")), cwd=work, capture_output=True)
        if run.returncode != 0:
            print(f"the case ended with status {run.returncode}: {run.stderr[-400:]!r}")
            return 1
        doc = json.load(open(os.path.join(work, "run.json")))
        with open(os.path.join(work, "tables", "betas.csv"), newline="", encoding="utf-8") as f:
            table = list(csv.DictReader(f))
    finally:
        shutil.rmtree(work)

    fits = {f["name"]: f for f in doc["fits"]}
    check(set(fits) == {"PHI G+WINTER", "EFFORT", "PHI G*T"}, f"fits {sorted(fits)}")
    checked = 0
    for name in ("PHI G+WINTER", "EFFORT"):
        fit = fits[name]
        check(fit["inversion_code"] == 0 and fit["beta_covariance"] is not None, f"{name}: no covariance")
        V = fit["beta_covariance"]
        for I, (x, eta) in predictors(fit, cov, at).items():
            p = fit["parameters"][I - 1]
            if p["fixed"]:
                continue
            check(abs(p["estimate"] - expit(eta)) <= 1e-9, f"{name} S({I}): {p['estimate']}, the predictor gives {expit(eta)}")
            if I in {at[(g, "phi", (i,))] for g in ("F", "M") for i in (1, 2, 3)}:
                q = expit(eta)
                var = sum(x[a] * V[a][b] * x[b] for a in range(len(x)) for b in range(len(x)))
                se = q * (1 - q) * math.sqrt(var)
                check(abs(p["se"] - se) <= 1e-6 * se, f"{name} S({I}): SE {p['se']}, the delta method gives {se}")
            checked += 1

    # The covariate effects from the labels.
    phi = lambda g, i: at[(g, "phi", (i,))]
    want = {
        "PHI G+WINTER": [("PHI", "WINTER", [(phi(g, i), g, i, cov["WINTER"][i - 1]) for g in ("F", "M") for i in (1, 2, 3)])],
        "EFFORT": [("P", "EFFORT", [(at[(g, "p", (ip, 1))], g, ip, cov["EFFORT"][ip - 1]) for g in ("F", "M")
                                    for ip in (1, 2, 3, 4)]),
                   ("PHI", "WINTER", [(phi("F", i), None, i, cov["WINTER"][i - 1]) for i in (1, 2, 3)])],
    }
    for name, effects in want.items():
        got = [(e["part"], e["covariate"], [(p["index"], p.get("group"), p["period"], p["value"]) for p in e["points"]])
               for e in fits[name].get("covariate_effects", [])]
        check(got == effects, f"{name}: covariate effects {got}, the labels give {effects}")
        checked += sum(len(e[2]) for e in effects)
    plain = fits["PHI G*T"]
    check(not {"betas", "beta_covariance", "covariate_effects"} & set(plain), "a fit without linear forms has coefficients")

    # betas.csv: the document's coefficients, figure for figure.
    rows = [(f["sequence"], f["name"], b) for f in doc["fits"] for b in f.get("betas", [])]
    check(len(table) == len(rows), f"betas.csv has {len(table)} rows for {len(rows)} coefficients")
    number = lambda text: float(text) if text else None
    for r, (sequence, name, b) in zip(table, rows):
        got = (int(r["fit"]), r["name"], r["coefficient"], r["part"], number(r["estimate"]), number(r["se"]),
               number(r["lower"]), number(r["upper"]), r["estimable"])
        ci = b["ci"] or [None, None]
        wanted = (sequence, name, b["name"], b["part"], b["estimate"], b["se"], ci[0], ci[1],
                  "true" if b["estimable"] else "false")
        check(got == wanted, f"betas.csv row {got}, the document has {wanted}")
        checked += 1
    for message in failures[:40]:
        print(message)
    print(f"{checked} values checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
