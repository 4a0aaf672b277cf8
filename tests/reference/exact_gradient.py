#!/usr/bin/env python3
"""Fits with exact derivatives (gradient=exact, GRADIENT=EXACT) against the
same fits by differences, and their standard errors against an expected
information computed here on its own.

Each command file below is run twice, as it stands and with the exact
gradient, and the fits of the two runs (from the json= document, at full
precision) must be the same optimum:
  - the bundled example (examples/robust-example.cmd), its twelve models,
    with the parameter word gradient=exact;
  - survival as a trend on the logit scale on the bundled example's data
    (PHI(TREND) P(T) C(P) with GAMMA(NONE) and GAMMA(RANDOM,.)), with
    GRADIENT=EXACT on each PROC ESTIMATE;
  - two groups sharing capture and emigration (tests/e2e/groups_two_fit);
  - two groups with survival as linear forms (tests/e2e/linear_fit).
Same optimum: both fits end alike (the same optimizer code, 0 in every fit
but one; the information inverted), the final function value within 1e-6
relative, every estimate (and coefficient) within 1e-4, every standard
error within 1e-3 relative. The one fit that does not reach code 0 is GT of
linear_fit by differences, PHI(G+T) with NSIG=6: rounding dominates before
its sixth digit (its coefficients' errors are near their size, so a
sixth-digit step changes F by less than its own rounding); with the exact
gradient the last step is known to be within that rounding and the fit ends
converged with the digits it reached. The run with the exact gradient must show that it used it (the
listing's line under the evaluation count, once per fit) and the run
without must not.

The information of the estimated slots, or with linear forms of the
coefficients (the inverse of the covariance the document holds), of the
exact and the difference runs agree to 2e-4 relative, entry by entry against
sqrt(I_aa I_bb): the difference information moves each slot forward by 1e-4
of its value, which leaves errors of about 1e-4 in it.

The standard errors of the groups fit (slots, no linear forms) are then
checked against the expected information written out here: the likelihood
of groups_fit.py (cells from the model's definition), the derivatives of
every cell by the eleven free values taken by central differences (step
1e-5, error about 1e-10), I = sum over cohorts of N sum over cells of
dP_a dP_b / P, its inverse, the square roots of the diagonal. At the exact
run's own estimates its standard errors must be these to 1e-6 relative,
which differences of the cells in the program (forward steps) do not reach;
the difference run's error is printed beside it.

Usage: exact_gradient.py PROGRAM SOURCE_DIR
Standard library only.
"""
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import groups_fit as gf  # noqa: E402  (the two-group likelihood)
import linear_fit  # noqa: E402  (the inverse of a matrix)

EXACT_LINE = "Gradient and information from exact derivatives (GRADIENT=EXACT)"
VALUE_SLACK = 1e-6      # relative, final function value
ESTIMATE_SLACK = 1e-4   # absolute, estimates and coefficients
SE_SLACK = 1e-3         # relative, standard errors
INFORMATION_SLACK = 2e-4  # relative to sqrt(I_aa I_bb)
# The one fit allowed to stop short of NSIG digits by differences.
STOPS_SHORT = {"GT"}
REFERENCE_SE_SLACK = 1e-6  # relative, exact standard errors against the information written here

failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def run(program, commands, words=()):
    """(listing lines, results document) of a run of `commands`."""
    work = tempfile.mkdtemp()
    try:
        with open(os.path.join(work, "run.cmd"), "w") as f:
            f.write(commands)
        args = ["i=run.cmd", "l=run.lst", "json=run.json", "notrace"] + list(words)
        done = subprocess.run([os.path.abspath(program)] + args, cwd=work, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            fail(f"run with {' '.join(words) or 'no extra words'} ended with status {done.returncode}: "
                 + done.stderr.decode(errors="replace")[-500:])
            return [], {"fits": []}
        with open(os.path.join(work, "run.lst"), encoding="latin-1") as f:
            lines = f.read().splitlines()
        with open(os.path.join(work, "run.json")) as f:
            return lines, json.load(f)
    finally:
        shutil.rmtree(work)


def exact_lines(listing):
    return sum(1 for line in listing if line.strip() == EXACT_LINE)


def relative(a, b):
    return abs(a - b) / max(abs(a), abs(b), 1e-300)


def compare_fits(what, default, exact, fits_expected):
    """The fits of the two runs are the same optimum; returns the worst
    differences seen."""
    worst = {"F": 0.0, "estimate": 0.0, "se": 0.0, "information": 0.0}
    if len(default) != fits_expected or len(exact) != fits_expected:
        fail(f"{what}: {len(default)} and {len(exact)} fits, {fits_expected} expected")
        return worst
    for d, e in zip(default, exact):
        name = f"{what} {d['name']}"
        if d["name"] != e["name"]:
            fail(f"{name}: the exact run's fit is named {e['name']}")
            continue
        # By differences the fit stops short; the exact gradient tells that
        # the last step was within F's rounding and ends it converged.
        wants = {"difference": d["optimizer_code"] if d["name"] in STOPS_SHORT else 0, "exact": 0}
        for run_name, fit in (("difference", d), ("exact", e)):
            if fit["optimizer_code"] != wants[run_name] or fit["inversion_code"] != 0:
                fail(f"{name}: the {run_name} fit ended with codes {fit['optimizer_code']}, {fit['inversion_code']}")
        r = relative(d["function_value"], e["function_value"])
        worst["F"] = max(worst["F"], r)
        if not r <= VALUE_SLACK:
            fail(f"{name}: final function value {d['function_value']!r} by differences, {e['function_value']!r} exact")
        pairs = [(f"S({p['index']})", p, q) for p, q in zip(d["parameters"], e["parameters"])]
        pairs += [(b["name"], b, c) for b, c in zip(d.get("betas") or [], e.get("betas") or [])]
        if len(d["parameters"]) != len(e["parameters"]) or len(d.get("betas") or []) != len(e.get("betas") or []):
            fail(f"{name}: the runs list different numbers of parameters or coefficients")
        for label, p, q in pairs:
            diff = abs(p["estimate"] - q["estimate"])
            worst["estimate"] = max(worst["estimate"], diff)
            if not diff <= ESTIMATE_SLACK:
                fail(f"{name} {label}: estimate {p['estimate']!r} by differences, {q['estimate']!r} exact")
            if (p["se"] is None) != (q["se"] is None):
                fail(f"{name} {label}: standard error {p['se']!r} by differences, {q['se']!r} exact")
            elif p["se"] is not None and (p["se"] != 0.0 or q["se"] != 0.0):
                r = relative(p["se"], q["se"])
                worst["se"] = max(worst["se"], r)
                if not r <= SE_SLACK:
                    fail(f"{name} {label}: standard error {p['se']!r} by differences, {q['se']!r} exact")
        # With linear forms the information is taken in the coefficients.
        key = "beta_covariance" if d.get("betas") else "covariance"
        worst["information"] = max(worst["information"], compare_information(name, d[key], e[key]))
    return worst


def compare_information(name, a, b):
    """The inverses of the covariances a and b agree entry by entry within
    INFORMATION_SLACK of sqrt(I_aa I_bb); a covariance with slots left out
    (null entries) must have them in both runs and is not inverted."""
    if len(a) != len(b):
        fail(f"{name}: covariance of order {len(a)} by differences, {len(b)} exact")
        return 0.0
    if any(x is None for row in a + b for x in row):
        if [[x is None for x in row] for row in a] != [[x is None for x in row] for row in b]:
            fail(f"{name}: the runs leave out different slots")
        return 0.0
    ia, ib = linear_fit.inverse(a), linear_fit.inverse(b)
    worst = 0.0
    for i in range(len(a)):
        for j in range(len(a)):
            r = abs(ia[i][j] - ib[i][j]) / math.sqrt(ia[i][i] * ia[j][j])
            worst = max(worst, r)
            if not r <= INFORMATION_SLACK:
                fail(f"{name}: information ({i + 1}, {j + 1}) {ia[i][j]!r} by differences, {ib[i][j]!r} exact")
    return worst


def report(what, worst):
    print(f"{what}: worst differences exact against differences: final value {worst['F']:.1e} relative, "
          f"estimates {worst['estimate']:.1e}, standard errors {worst['se']:.1e} relative, "
          f"information {worst['information']:.1e} relative")


def both_runs(program, what, commands, fits_expected, exact_words=(), default_words=()):
    """Runs `commands` by differences and with the exact gradient (the
    words `exact_words` added, or the command text already asking for it)."""
    dl, dd = run(program, commands, default_words)
    el, ed = run(program, exact_text(commands) if not exact_words else commands, exact_words)
    if exact_lines(dl) != 0:
        fail(f"{what}: the run by differences says {exact_lines(dl)} times that it used exact derivatives")
    if exact_lines(el) != fits_expected:
        fail(f"{what}: the exact run says {exact_lines(el)} times that it used exact derivatives, "
             f"{fits_expected} fits")
    worst = compare_fits(what, dd["fits"], ed["fits"], fits_expected)
    report(what, worst)
    return dd, ed


def exact_text(commands):
    """The command text with GRADIENT=EXACT on each PROC ESTIMATE."""
    return re.sub(r"^PROC ESTIMATE\b", "PROC ESTIMATE GRADIENT=EXACT", commands, flags=re.M)


def trend_commands(example):
    """The bundled example's data with survival as a trend instead of its fits."""
    head = example[:example.index("PROC ESTIMATE")]
    return head + ("PROC ESTIMATE NAME=TREND-NONE;\n STRUCTURE PHI(TREND) P(T) C(P) GAMMA(NONE);\n"
                   "PROC ESTIMATE NAME=TREND-RANDOM;\n STRUCTURE PHI(TREND) P(T) C(P) GAMMA(RANDOM,.);\n"
                   "PROC STOP;\n")


def reference_errors(v, h=1e-5):
    """Standard errors of the eleven free values of the groups fit at v from
    the expected information of the likelihood written in groups_fit.py."""
    at = gf.cohorts(gf.fill(v))
    n = len(v)
    d = []
    for k in range(n):
        up, down = list(v), list(v)
        up[k] += h
        down[k] -= h
        hi, lo = gf.cohorts(gf.fill(up)), gf.cohorts(gf.fill(down))
        d.append([[(a - b) / (2 * h) for a, b in zip(ph, pl)] for (_, ph), (_, pl) in zip(hi, lo)])
    info = [[0.0] * n for _ in range(n)]
    for j, (counts, probs) in enumerate(at):
        size = sum(counts)
        for c, q in enumerate(probs):
            if q <= 0.0:
                continue
            for a in range(n):
                for b in range(n):
                    info[a][b] += size * d[a][j][c] * d[b][j][c] / q
    cov = linear_fit.inverse(info)
    return [math.sqrt(cov[k][k]) for k in range(n)]


def check_groups_errors(default, exact):
    """The groups fit's standard errors against reference_errors at each run's estimates."""
    positions = gf.free_positions()
    worst = {}
    for run_name, doc in (("difference", default), ("exact", exact)):
        if len(doc["fits"]) != 1:
            return
        params = doc["fits"][0]["parameters"]
        v = [params[i - 1]["estimate"] for i in positions]
        ref = reference_errors(v)
        worst[run_name] = max(relative(params[i - 1]["se"], r) for i, r in zip(positions, ref))
        if run_name == "exact":
            for i, r in zip(positions, ref):
                if not relative(params[i - 1]["se"], r) <= REFERENCE_SE_SLACK:
                    fail(f"groups S({i}): exact standard error {params[i - 1]['se']!r}, "
                         f"expected information written here {r!r}")
    print(f"groups: standard errors against the expected information written here: exact "
          f"{worst['exact']:.1e} relative (at most {REFERENCE_SE_SLACK:g}), by differences {worst['difference']:.1e}")


def main(program, source):
    with open(os.path.join(source, "examples", "robust-example.cmd"), encoding="latin-1") as f:
        example = f.read()
    both_runs(program, "bundled example", example, 12, exact_words=("gradient=exact",))
    both_runs(program, "trend", trend_commands(example), 2)
    e2e = os.path.join(source, "tests", "e2e")
    with open(os.path.join(e2e, "groups_two_fit", "run.cmd")) as f:
        groups = f.read()
    dd, ed = both_runs(program, "groups", groups, 1, exact_words=("gradient=exact",))
    check_groups_errors(dd, ed)
    with open(os.path.join(e2e, "linear_fit", "run.cmd")) as f:
        both_runs(program, "linear forms by groups", f.read(), 3)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
