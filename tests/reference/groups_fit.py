#!/usr/bin/env python3
"""A fit of two groups, F and M, on four primary periods (2, 3, 2 and 2
secondary occasions) against the likelihood written out from the model's
definition.

The structure is PHI(G*T) P(T) C(P) GAMMA(RANDOM,.): capture one probability
per period, the same for both groups (recapture equal to capture); survival
one per interval and group; random temporary emigration, one gamma for both
groups; theta fixed at 1. Eleven free values: p(1..4), gamma, phi_F(1..3),
phi_M(1..3). The groups' counts differ (made up from survival about 0.85 for
F and 0.6 for M), so each group's survival is held by its own data while the
capture probabilities and gamma are held by both.

The log-likelihood (without binomial coefficients: NOBINCOF) is the sum over
the groups, each group's cohorts with its own survival and the shared p and
gamma:
  - closed part: the history's probability with p up to and including the
    first capture and c after it, divided by p* of the period, the
    probability of being caught at least once; the never-caught cell is 0;
  - open part: first recaptured in period j after release in period i is
    phi(i)...phi(j-1) * p*(j) * (sum over every present/away path through
    periods i+1..j-1, ending present in j, of its transition probabilities
    gamma or 1 - gamma, times 1 - p* for each period present but missed);
    the last cell is never recaptured.

The script checks that the case's command file is the one written here, that
the printed estimates follow the structure, that the printed log-likelihood
is the independent one at the printed estimates to printed precision, and
that the printed estimates are its maximum: moving any free value by 0.001
either way lowers it.

Usage:
  groups_fit.py --command-file     print the case's command file
  groups_fit.py PROGRAM CASE_DIR   check CASE_DIR/run.cmd and the program's fit
Standard library only.
"""
import itertools
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import markov_design as md  # noqa: E402  (the checker)
import run_listing  # noqa: E402
import structure_fit  # noqa: E402  (the listing's fits)

OCCASIONS = [2, 3, 2, 2]             # secondary occasions of periods 1..4
M = len(OCCASIONS)
GROUPS = ("F", "M")
STRUCTURE = "PHI(G*T) P(T) C(P) GAMMA(RANDOM,.)"

# Per group, as in markov_design.py: the closed cohorts of each period (ip
# cohorts for period ip, 2^kk cells, first occasion most significant, the
# never-caught cell last), then the open cohorts by release period (first
# recaptured in each later period, then never recaptured).
CLOSED_COUNTS = {
    "F": [
        [[14, 14, 17, 0]],
        [[2, 2, 1, 5, 2, 11, 7, 0], [4, 4, 5, 7, 4, 8, 6, 0]],
        [[7, 11, 7, 0], [8, 11, 9, 0], [12, 9, 12, 0]],
        [[5, 7, 8, 0], [5, 7, 12, 0], [3, 16, 8, 0], [7, 10, 14, 0]],
    ],
    "M": [
        [[11, 14, 15, 0]],
        [[2, 2, 4, 5, 4, 5, 4, 0], [2, 4, 3, 8, 7, 3, 6, 0]],
        [[9, 5, 8, 0], [7, 9, 9, 0], [13, 9, 7, 0]],
        [[3, 6, 9, 0], [9, 7, 5, 0], [1, 12, 11, 0], [11, 13, 4, 0]],
    ],
}
OPEN_COUNTS = {
    "F": [[46, 15, 5, 24], [42, 11, 27], [30, 40]],
    "M": [[25, 5, 3, 52], [26, 6, 43], [19, 46]],
}


def block(occasions=OCCASIONS):
    """One group's parameters in the model's order: (key, label)."""
    out = []
    m = len(occasions)
    for ip, kk in enumerate(occasions, start=1):
        out += [(("p", ip, t), f"p({ip},{t}) capture") for t in range(1, kk + 1)]
        out += [(("c", ip, t), f"c({ip},{t}) recapture") for t in range(2, kk + 1)]
    out += [(("phi", i), f"phi({i}) survival") for i in range(1, m)]
    out += [(("gamma2", j), f"gamma''({j}) leave") for j in range(2, m + 1)]
    out += [(("gamma1", j), f"gamma'({j}) stay out") for j in range(3, m + 1)]
    out += [(("theta", ip), f"theta({ip}) exponent") for ip in range(1, m + 1)]
    return out


def parameters(occasions=OCCASIONS):
    """S(1..NPAR): (group, key, label), one block per group."""
    return [(g, key, f"{g} {label}") for g in GROUPS for key, label in block(occasions)]


def values_of(p, phi, gamma, occasions=OCCASIONS):
    """Every parameter's value from capture per period p[0..M-1] (recapture
    the same), survival phi[g][0..M-2] and the one gamma; theta 1."""
    values = {}
    for g in GROUPS:
        for key, _ in block(occasions):
            kind = key[0]
            if kind in ("p", "c"):
                values[g, key] = p[key[1] - 1]
            elif kind == "phi":
                values[g, key] = phi[g][key[1] - 1]
            elif kind in ("gamma2", "gamma1"):
                values[g, key] = gamma
            else:
                values[g, key] = 1.0
    return values


def fill(v):
    """Every parameter's value under the structure from its free values
    v = p(1..4), gamma, phi_F(1..3), phi_M(1..3)."""
    return values_of(v[0:4], {"F": v[5:8], "M": v[8:11]}, v[4])


def first_recaptured(i, j, phi, gamma2, gamma1, pstar):
    """Released in period i, next caught in period j."""
    total = 0.0
    between = list(range(i + 1, j))
    for path in itertools.product((False, True), repeat=len(between)):  # True = away
        away = dict(zip(between, path))
        away[i], away[j] = False, False
        pr = 1.0
        for m in range(i + 1, j + 1):
            leave = gamma1[m] if away[m - 1] else gamma2[m]
            pr *= leave if away[m] else 1 - leave
            if m < j and not away[m]:
                pr *= 1 - pstar[m]
        total += pr
    return math.prod(phi[k] for k in range(i, j)) * pstar[j] * total


def cohorts(values, occasions=OCCASIONS, closed=CLOSED_COUNTS, opened=OPEN_COUNTS):
    """(counts, probabilities) of every cohort, group after group (the groups
    are those the counts are given for, in their order)."""
    out = []
    m = len(occasions)
    for g in closed:
        pstar = {}
        for ip, kk in enumerate(occasions, start=1):
            p = [values[g, ("p", ip, t)] for t in range(1, kk + 1)]
            c = [values[g, ("c", ip, t)] for t in range(2, kk + 1)]
            probs, pstar[ip] = md.closed_cells(p, c)
            assert len(closed[g][ip - 1]) == ip
            for counts in closed[g][ip - 1]:
                assert len(counts) == len(probs) and counts[-1] == 0
                out.append((counts, probs))
        phi = {i: values[g, ("phi", i)] for i in range(1, m)}
        gamma2 = {j: values[g, ("gamma2", j)] for j in range(2, m + 1)}
        gamma1 = {j: values[g, ("gamma1", j)] for j in range(3, m + 1)}
        for i in range(1, m):
            probs = [first_recaptured(i, j, phi, gamma2, gamma1, pstar) for j in range(i + 1, m + 1)]
            probs.append(1 - sum(probs))
            counts = opened[g][i - 1]
            assert len(counts) == len(probs)
            out.append((counts, probs))
    return out


def log_likelihood(values, occasions=OCCASIONS, closed=CLOSED_COUNTS, opened=OPEN_COUNTS):
    """Sum over every cell of count * ln(probability), no binomial coefficients."""
    return sum(o * math.log(q) for counts, probs in cohorts(values, occasions, closed, opened)
               for o, q in zip(counts, probs) if o > 0)


def cohort_lines(g, closed, opened):
    """The COHORT statements of group g: its closed cohorts period by period,
    then its open cohorts by release period."""
    lines = []
    for ip, period in enumerate(closed, start=1):
        for counts in period:
            lines.append(f" COHORT={sum(counts)} /* {g}, period {ip} */;")
            kk = len(counts).bit_length() - 1
            lines += [f"  {o} : caught {format(len(counts) - 1 - k, f'0{kk}b')};" for k, o in enumerate(counts)]
    for i, counts in enumerate(opened, start=1):
        lines.append(f" COHORT={sum(counts)} /* {g}, released in {i} */;")
        lines += [f"  {o} : next caught in {i + k + 1};" for k, o in enumerate(counts[:-1])]
        lines.append(f"  {counts[-1]} : never again;")
    return lines


def command_file():
    s = parameters()
    lines = ["/* Written by tests/reference/groups_fit.py --command-file, which also",
             "   checks the fit this run prints. */",
             "PROC TITLE Two groups on four periods, capture shared;",
             f"PROC MODEL NPAR={len(s)} PRIMARY N = {M} SECONDARY = {' '.join(map(str, OCCASIONS))}",
             f"    GROUPS = {' '.join(GROUPS)};",
             "LABELS;"]
    lines += [f" S({i})={label};" for i, (_, _, label) in enumerate(s, start=1)]
    for g in GROUPS:
        lines += cohort_lines(g, CLOSED_COUNTS[g], OPEN_COUNTS[g])
    lines += ["PROC ESTIMATE NOBINCOF;", f" STRUCTURE {STRUCTURE};", "PROC STOP;"]
    return "\n".join(lines) + "\n"


def free_positions():
    """Where each free value stands in S(1..NPAR): p(ip,1) of group F, F's
    gamma''(2), then each group's phi."""
    at = {(g, key): i for i, (g, key, _) in enumerate(parameters(), start=1)}
    return ([at["F", ("p", ip, 1)] for ip in range(1, M + 1)] + [at["F", ("gamma2", 2)]]
            + [at[g, ("phi", i)] for g in GROUPS for i in range(1, M)])


def check(program, case_dir):
    c = md.Checker()
    with open(os.path.join(case_dir, "run.cmd")) as f:
        commands = f.read()
    c.equal("run.cmd of the case", commands, command_file())
    fits = structure_fit.listing_fits(run_listing.listing(program, commands))
    c.equal("fits printed", len(fits), 1)
    S, ll_text = fits[0] if fits else (None, None)
    c.equal("estimates printed", S is not None and len(S) - 1, len(parameters()))
    c.equal("log-likelihood printed", ll_text is not None, True)
    if c.failures:
        print(f"{c.checked} checks, {c.failures} mismatches")
        return 1

    v = [S[i] for i in free_positions()]
    printed = {(g, key): S[i] for i, (g, key, _) in enumerate(parameters(), start=1)}
    # Filled from the free values, the structure gives back every printed value:
    # the p's of M are those of F, the gamma's one value, theta 1.
    for (g, key), want in fill(v).items():
        c.equal(f"{g} {key} follows the structure", printed[g, key], want)
    best = log_likelihood(fill(v))
    c.number("log-likelihood", ll_text, best, slack=1e-7)
    for k in range(len(v)):
        for step in (-1e-3, 1e-3):
            w = list(v)
            w[k] += step
            moved = log_likelihood(fill(w))
            c.checked += 1
            if moved > best + 1e-7:
                c.failures += 1
                print(f"NOT A MAXIMUM: free value {k + 1} moved by {step} raises "
                      f"the log-likelihood from {best!r} to {moved!r}")
    print(f"{c.checked} checks, {c.failures} mismatches; log-likelihood printed {ll_text}, "
          f"independent {best:.6f}; free values {' '.join(f'{x:g}' for x in v)}")
    return 1 if c.failures else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--command-file"]:
        sys.stdout.write(command_file())
    elif len(sys.argv) == 3:
        sys.exit(check(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)
