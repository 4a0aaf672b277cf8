#!/usr/bin/env python3
"""Models written once as existing levels and once as formulas on the logit
scale fit alike; a behavioural effect fitted to data without one is 0.

The data are those of linear_fit.py (two groups, F and M, on five periods,
recapture equal to capture in the values the counts come from). Every fit
asks NSIG=8 so that the optimizer's stopping stays below the printed digits.

  (a) PHIT    PHI(T)   P(T) C(P) GAMMA(RANDOM,.)   existing levels
      PHI1T   PHI(1+T) ...                          a constant and T's levels after the first
      PHIT1   PHI(T+1) ...                          the same, the terms in the other order
  (b) PGT     PHI(T) P(G*T) C(P) GAMMA(RANDOM,.)    existing levels
      PTG     PHI(T) P(T*G) ...                     T*G = T + G + T:G
      PGTGT   PHI(T) P(G+T+G*T) ...                 the terms of G*T given twice
  (c) CP1     PHI(G+T) P(T) C(P+1) GAMMA(RANDOM,.)  recapture = capture plus C:1

For each formula fit of (a) and (b) against the fit of the existing levels:
  - the log-likelihood is the same to 1e-6 relative;
  - every parameter's estimate and standard error is the same to the six
    significant digits printed (one unit of the sixth digit apart at most:
    both are rounded; the standard errors of (b) to 1e-4 relative, see PAIRS);
  - AIC is -2 lnL + 2K with K the number of coefficients of the formula fit
    and the number of estimated slots of the other, K is the same, and so is AIC;
  - each coefficient is what its coding makes of the existing fit's
    estimates: the constant is the logit of the first level, a level's
    coefficient the difference of logits from the first level, the
    interaction G[M]:T[k] the difference of those differences, and a part
    of existing levels (P:S(k), PHI:S(k), GAMMA'':S(k)) the logit of its slot.
The two formula fits of a pair also print the same coefficients.
For (c): C:1 is near 0 (below 0.25 in size) and its interval covers 0; every
printed recapture is logit^-1(logit(capture on the same occasion) + C:1);
and C(P+1), which holds C(P), has a log-likelihood at least that of
PHI(G+T) P(T) C(P) as linear_fit.py maximises it.

Usage:
  linear_identity.py --command-file     print the case's command file
  linear_identity.py PROGRAM CASE_DIR   check CASE_DIR/run.cmd and the program's fits
Standard library only.
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import linear_fit as lf  # noqa: E402  (the data and the listing's reader)
import markov_design as md  # noqa: E402  (the checker)
import run_listing  # noqa: E402

NSIG = 8
COMMON = "C(P) GAMMA(RANDOM,.)"
FITS = [
    ("PHIT", f"PHI(T) P(T) {COMMON}"),
    ("PHI1T", f"PHI(1+T) P(T) {COMMON}"),
    ("PHIT1", f"PHI(T+1) P(T) {COMMON}"),
    ("PGT", f"PHI(T) P(G*T) {COMMON}"),
    ("PTG", f"PHI(T) P(T*G) {COMMON}"),
    ("PGTGT", f"PHI(T) P(G+T+G*T) {COMMON}"),
    ("CP1", "PHI(G+T) P(T) C(P+1) GAMMA(RANDOM,.)"),
]
# The standard errors of P(G*T) and of its formula differ beyond the printed
# digits, by up to 6.5e-5 relative on these data: the program's cells'
# derivatives are forward differences (each slot moved by 1e-4 of its value),
# and a formula part gives every parameter its own slot (p(1,1), p(1,2) and
# c(1,2) are three slots under P(T*G) with C(P), one under P(G*T)), so the
# formula fit's derivative in a coefficient is a sum of one-sided differences
# where the other fit takes one joint difference; they differ at second
# order. Each is within 4e-5 of the standard error of the exact expected
# information (linear_fit.py computes that for its fits). Where the slots are
# the same, as in (a), the standard errors agree to the printed digits.
# (existing levels, formula fit, the formula part, relative allowance of the
# standard errors beyond the printed digits).
PAIRS = [("PHIT", "PHI1T", "PHI", 0.0), ("PHIT", "PHIT1", "PHI", 0.0),
         ("PGT", "PTG", "P", lf.SE_SLACK), ("PGT", "PGTGT", "P", lf.SE_SLACK)]
M = lf.M


def command_file():
    text = lf.command_file()
    head = text[:text.index("PROC ESTIMATE")]
    head = head.replace("/* Written by tests/reference/linear_fit.py --command-file, which also\n"
                        "   fits these models itself and checks what this run prints. */",
                        "/* Written by tests/reference/linear_identity.py --command-file, which also\n"
                        "   checks that the fits of each identity agree. */")
    lines = []
    for name, structure in FITS:
        lines += [f"PROC ESTIMATE NSIG={NSIG} NOBINCOF NAME={name};", f" STRUCTURE {structure};"]
    return head + "\n".join(lines) + "\nPROC STOP;\n"


def unit(text):
    """One unit of the sixth significant digit of a printed value."""
    x = float(text)
    return 10.0 ** (math.floor(math.log10(abs(x))) - 5) if x != 0.0 else 1e-5


def logit_of(text):
    """The logit of a printed probability and how far rounding can move it."""
    p = float(text)
    return lf.logit(p), 0.5 * unit(text) / (p * (1.0 - p))


def same_printed(c, what, a, b, slack=0.0, absolute=0.0):
    """Two printed values of one quantity: one unit of the sixth digit apart
    at most (plus slack relative and `absolute`)."""
    c.checked += 1
    gap = abs(float(a) - float(b))
    if not gap <= max(unit(a), unit(b)) * (1 + 1e-9) + slack * abs(float(a)) + absolute:
        c.failures += 1
        print(f"DIFFERS {what}: {a} against {b}")
    return gap / max(abs(float(a)), abs(float(b)), 1e-300)


def near(c, what, printed, want, tol):
    """A printed value against a value derived from other printed values,
    within its own rounding and the derived value's (tol)."""
    c.checked += 1
    if not abs(float(printed) - want) <= 0.5 * unit(printed) + tol + 1e-12:
        c.failures += 1
        print(f"MISMATCH {what}: printed {printed}, from the other fit {want!r} (within {tol:.2g})")


def factors(coefficient):
    """A coefficient's part and the set of its factor levels: P:T[3]:G[M] ->
    ('P', {'T[3]', 'G[M]'}); the constant has none."""
    part, _, rest = coefficient.partition(":")
    levels = frozenset(x for x in rest.split(":") if x != "1")
    return part, levels


def index_of(fit_key):
    """Where (group, key) stands in the printed rows (S(1) at 0)."""
    keys = [(g, key) for g, key, _ in lf.parameters()]
    return keys.index(fit_key)


def coded_value(part, levels, S):
    """What the coefficient of `levels` in `part` (PHI by interval, or P by
    period with capture on the first occasion) is from the printed estimates
    S of the fit of existing levels, and how far their rounding can move it:
    the logit of group F's first level, a level's difference of logits from
    the first, G[M]:T[k] the difference of the groups' differences."""
    def at(g, k):
        key = ("phi", k) if part == "PHI" else ("p", k, 1)
        return logit_of(S[index_of((g, key))][0])

    last = M - 1 if part == "PHI" else M
    periods = {f"T[{k}]": k for k in range(2, last + 1)}
    terms = sorted(levels)
    if not terms:
        pieces = [(1, "F", 1)]
    elif terms == ["G[M]"]:
        pieces = [(1, "M", 1), (-1, "F", 1)]
    elif len(terms) == 1 and terms[0] in periods:
        k = periods[terms[0]]
        pieces = [(1, "F", k), (-1, "F", 1)]
    elif len(terms) == 2 and terms[0] == "G[M]" and terms[1] in periods:
        k = periods[terms[1]]
        pieces = [(1, "M", k), (-1, "M", 1), (-1, "F", k), (1, "F", 1)]
    else:
        return None
    values = [(sign, at(g, k)) for sign, g, k in pieces]
    return sum(sign * v for sign, (v, _) in values), sum(t for _, (_, t) in values)


def slot_logit(coefficient, S):
    """A part of existing levels: P:S(k) is the logit of S(k)."""
    m = re.fullmatch(r"[A-Z']+:S\((\d+)\)", coefficient)
    return logit_of(S[int(m.group(1)) - 1][0]) if m else None


def estimated_slots(fit):
    return len({s for s in fit["slot"] if s > 0})


def check_aic(c, name, fit, k):
    c.checked += 1
    want = -2.0 * float(fit["LL"]) + 2.0 * k
    if not abs(float(fit["AIC"]) - want) <= 1e-6 * abs(want):
        c.failures += 1
        print(f"MISMATCH {name}: AIC printed {fit['AIC']}, -2 lnL + 2K with K = {k} is {want!r}")


def check_pair(c, fits, base, formula, part, se_slack):
    a, b = fits[base], fits[formula]
    ll_a, ll_b = float(a["LL"]), float(b["LL"])
    rel = abs(ll_a - ll_b) / abs(ll_a)
    c.checked += 1
    if not rel <= 1e-6:
        c.failures += 1
        print(f"DIFFERS {formula} against {base}: log-likelihood {b['LL']} against {a['LL']}")
    worst_est = worst_se = 0.0
    for i, ((ea, sa), (eb, sb)) in enumerate(zip(a["S"], b["S"]), start=1):
        worst_est = max(worst_est, same_printed(c, f"{formula} against {base}: S({i})", eb, ea))
        worst_se = max(worst_se, same_printed(c, f"{formula} against {base}: S({i}) SE", sb, sa, se_slack))
    k_base, k_formula = estimated_slots(a), len(b["coefficients"])
    c.equal(f"{formula} against {base}: K", k_formula, k_base)
    check_aic(c, base, a, k_base)
    check_aic(c, formula, b, k_formula)
    c.checked += 1
    if not abs(float(a["AIC"]) - float(b["AIC"])) <= 1e-6 * abs(float(a["AIC"])):
        c.failures += 1
        print(f"DIFFERS {formula} against {base}: AIC {b['AIC']} against {a['AIC']}")
    # The formula part's coefficients: a constant, one per level after the
    # first (and per pair of them), as the coding makes them of the estimates.
    want_levels = {frozenset()} | {frozenset([f"T[{k}]"]) for k in range(2, M if part == "PHI" else M + 1)}
    if part == "P":
        want_levels |= {frozenset(["G[M]"])} | {frozenset(["G[M]", f"T[{k}]"]) for k in range(2, M + 1)}
    got_levels = [factors(n)[1] for n in b["coefficients"] if factors(n)[0] == part and ":S(" not in n]
    c.equal(f"{formula}: the {part} coefficients", sorted(map(sorted, got_levels)), sorted(map(sorted, want_levels)))
    for coefficient, row in b["coefficients"].items():
        derived = slot_logit(coefficient, a["S"])
        if derived is None:
            derived = coded_value(*factors(coefficient), a["S"])
        if derived is None:
            c.failures += 1
            print(f"UNEXPECTED coefficient {coefficient} in {formula}")
            continue
        near(c, f"{formula} {coefficient}", row[0], *derived)
    print(f"{formula} against {base}: log-likelihood {b['LL']} and {a['LL']} (relative difference {rel:.1e}), "
          f"K {k_formula} and {k_base}, AIC {b['AIC']} and {a['AIC']}; worst relative difference of the "
          f"estimates {worst_est:.1e}, of their standard errors {worst_se:.1e}")


def check_same_coefficients(c, fits, one, other):
    """Two formula fits of one model print the same coefficients. A
    coefficient is known by its part and its set of factor levels: its name
    gives the levels in the order the formula writes the factors (T*G gives
    P:T[2]:G[M], G*T gives P:G[M]:T[2])."""
    def known(n):
        part, levels = factors(n)
        return part, tuple(sorted(levels))
    a = {known(n): row for n, row in fits[one]["coefficients"].items()}
    b = {known(n): row for n, row in fits[other]["coefficients"].items()}
    c.equal(f"{other} against {one}: coefficients", sorted(b), sorted(a))
    worst = 0.0
    for key in set(a) & set(b):
        # The optimizer stops once the estimates hold NSIG digits (it reaches
        # 5 or 6 here), each coefficient measured in units of its standard
        # error at the start: two fits of one model reached by different
        # paths agree to 1e-6 absolute or 1e-4 of the standard error.
        slack = max(lf.ESTIMATE_SLACK, 1e-4 * abs(float(a[key][1])))
        same_printed(c, f"{other} against {one}: {key}", b[key][0], a[key][0], absolute=slack)
        worst = max(worst, same_printed(c, f"{other} against {one}: {key} SE", b[key][1], a[key][1]))
    return worst


def check_behaviour(c, fits):
    """(c): C(P+1) on data whose recapture equals capture."""
    fit = fits["CP1"]
    row = fit["coefficients"].get("C:1")
    c.equal("CP1: a coefficient C:1", row is not None, True)
    if row is None:
        return
    estimate, _, lower, upper = map(float, row)
    c.equal("CP1: C:1 near 0", abs(estimate) < 0.25, True)
    c.equal("CP1: the interval of C:1 covers 0", lower <= 0.0 <= upper, True)
    for g in lf.GROUPS:
        for ip, kk in enumerate(lf.OCCASIONS, start=1):
            for t in range(2, kk + 1):
                p, tol = logit_of(fit["S"][index_of((g, ("p", ip, t)))][0])
                want = lf.expit(p + estimate)
                slope = want * (1 - want)
                near(c, f"CP1 {g} c({ip},{t}) = logit^-1(logit p + C:1)", fit["S"][index_of((g, ("c", ip, t)))][0],
                     want, slope * (tol + 0.5 * unit(row[0])))
    # C(P+1) holds C(P): its maximum is at least that of PHI(G+T) P(T) C(P),
    # computed independently by linear_fit.py.
    plain = lf.reference(lf.FITS[0])["LL"]
    c.checked += 1
    if not float(fit["LL"]) >= plain - 1e-6 * abs(plain):
        c.failures += 1
        print(f"MISMATCH: C(P+1) log-likelihood {fit['LL']} below that of C(P), {plain!r}")
    print(f"CP1: C:1 = {row[0]} (SE {row[1]}, interval {row[2]} to {row[3]}); log-likelihood {fit['LL']} "
          f"against {plain:.6f} with C(P)")


def check(program, case_dir):
    c = md.Checker()
    with open(os.path.join(case_dir, "run.cmd")) as f:
        commands = f.read()
    c.equal("run.cmd of the case", commands, command_file())
    fits = lf.printed_fits(run_listing.listing(program, commands))
    c.equal("models printed", sorted(fits), sorted(name for name, _ in FITS))
    complete = all(name in fits and fits[name]["LL"] is not None
                   and len(fits[name]["S"]) == len(lf.parameters()) for name, _ in FITS)
    c.equal("every fit printed whole", complete, True)
    if complete:
        for pair in PAIRS:
            check_pair(c, fits, *pair)
        for one, other in (("PHI1T", "PHIT1"), ("PTG", "PGTGT")):
            worst = check_same_coefficients(c, fits, one, other)
            print(f"{other} against {one}: worst relative difference of the coefficients' standard errors "
                  f"{worst:.1e}")
        check_behaviour(c, fits)
    # With exact derivatives a joint step and a sum of one-sided ones are the
    # same derivative: the formulas' standard errors are the level's to the
    # printed digits.
    exact = lf.printed_fits(run_listing.listing(program, commands, "gradient=exact"))
    if all(name in exact and exact[name]["LL"] is not None for name, _ in FITS):
        for base, formula, part, _ in PAIRS:
            check_pair(c, exact, base, formula, part, 0.0)
    else:
        c.failures += 1
        print("MISMATCH: a fit with gradient=exact printed no results")
    print(f"{c.checked} checks, {c.failures} mismatches")
    return 1 if c.failures else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--command-file"]:
        sys.stdout.write(command_file())
    elif len(sys.argv) == 3:
        sys.exit(check(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)
