#!/usr/bin/env python3
"""Fits of model structures on five primary periods (3, 2, 1, 2 and 2
secondary occasions, the data of markov_design.py) against the likelihood
written out from the model's definition in markov_design.py.

Each structure of the case is written here as its own small set of free
values and how they fill p, c, phi, gamma'' and gamma' (from the words of
the structure, not from the program). For each fit the program prints, the
script checks that
  - the log-likelihood printed is the independent one at the printed
    estimates, to printed precision;
  - the printed estimates are the maximum of the independent likelihood
    under the structure: moving any free value by 0.001 either way lowers it.

Usage: structure_fit.py PROGRAM CASE_DIR   (CASE_DIR/run.cmd: the case's file)
Standard library only.
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import markov_design as md  # noqa: E402  (the data and the likelihood)
import run_listing  # noqa: E402

KK = md.OCCASIONS


def by_period(p):
    """P(T) C(P): one probability per period for capture and recapture."""
    return [[p[ip]] * KK[ip] for ip in range(5)], [[p[ip]] * (KK[ip] - 1) for ip in range(5)]


def none_phi_const(v):       # PHI(.) P(T) C(P) GAMMA(NONE): phi, p1..p5
    cap, rec = by_period(v[1:6])
    return cap, rec, [v[0]] * 4, [0.0] * 4, [0.0] * 3


def random_phi_t(v):         # PHI(T) P(T) C(P) GAMMA(RANDOM,.): phi1..4, p1..p5, gamma
    cap, rec = by_period(v[4:9])
    return cap, rec, v[0:4], [v[9]] * 4, [v[9]] * 3


def random_t(v):             # PHI(.) P(T) C(P) GAMMA(RANDOM,T): phi, p1..p5, gamma(2..5)
    cap, rec = by_period(v[1:6])
    return cap, rec, [v[0]] * 4, v[6:10], v[7:10]


def markov_const(v):         # PHI(.) P(T) C(P) GAMMA(MARKOV,.), gamma'(4) fixed 0.5 by a CONSTRAINT
    cap, rec = by_period(v[1:6])
    # gamma'(3) and gamma'(5) one value, gamma'(4) at 0.5
    return cap, rec, [v[0]] * 4, [v[6]] * 4, [v[7], 0.5, v[7]]


def markov_t(v):             # PHI(.) P(T) C(P) GAMMA(MARKOV,T): phi, p1..p5, gamma''(2..5), gamma'(3..5)
    cap, rec = by_period(v[1:6])
    return cap, rec, [v[0]] * 4, v[6:10], v[10:13]


# Fit number: (structure, how many free values), in the order of the case.
FITS = {1: (none_phi_const, 6), 2: (random_phi_t, 10), 3: (random_t, 10), 4: (markov_const, 8), 5: (markov_t, 13)}


def log_likelihood(arrays):
    md.CAPTURE, md.RECAPTURE, md.PHI, md.GAMMA2, md.GAMMA1 = arrays
    return md.reference()["LL"]


def printed_arrays(S):
    """p, c, phi, gamma'', gamma' from the printed S(1..31) (S[0] unused)."""
    cap, rec, k = [], [], 1
    for kk in KK:
        cap.append(S[k:k + kk])
        rec.append(S[k + kk:k + 2 * kk - 1])
        k += 2 * kk - 1
    return cap, rec, S[16:20], S[20:24], S[24:27]


def free_values(fill, n, S):
    """The structure's free values, read back from the printed estimates:
    the values that fill the printed arrays (each free value is found where
    it first appears)."""
    flat = [x for part in printed_arrays(S) for x in (part if not isinstance(part[0], list) else sum(part, []))]
    v = [None] * n
    probe = [float(k + 1) * 1000.0 for k in range(n)]
    filled = fill(probe)
    flat_probe = [x for part in filled for x in (part if not isinstance(part[0], list) else sum(part, []))]
    for x, y in zip(flat_probe, flat):
        k = int(round(x / 1000.0)) - 1
        if 0 <= k < n and abs(x - 1000.0 * (k + 1)) < 1e-9 and v[k] is None:
            v[k] = y
    return v


def listing_fits(listing):
    """(printed S(1..31), log-likelihood text) per fit, in order."""
    out, estimates = [], None
    row = re.compile(r"^\s+(\d+)\s+-?\d+ .{20}(.{12})")
    for line in listing:
        if line.startswith("   I       Parameter            S(I)"):
            estimates = [0.0]
            continue
        if estimates is not None:
            m = row.match(line)
            if m and int(m.group(1)) == len(estimates):
                estimates.append(float(m.group(2)))
        m = re.search(r"Log-likelihood = (\S+)", line)
        if m and estimates is not None:
            out.append((estimates, m.group(1)))
            estimates = None
    return out


def main(program, case_dir):
    with open(os.path.join(case_dir, "run.cmd")) as f:
        listing = run_listing.listing(program, f.read())

    fits = listing_fits(listing)
    c = md.Checker()
    c.equal("fits listed", len(fits), len(FITS))
    for number, (S, ll_text) in enumerate(fits, start=1):
        fill, n = FITS[number]
        c.equal(f"fit {number}: parameters printed", len(S), 32)
        v = free_values(fill, n, S)
        c.equal(f"fit {number}: every free value found", None in v, False)
        if None in v:
            continue
        # The printed estimates follow the structure: filled from its free values
        # they give back every printed p, c, phi, gamma'' and gamma'.
        c.equal(f"fit {number}: estimates follow the structure", fill(v) == printed_arrays(S), True)
        best = log_likelihood(fill(v))
        c.number(f"fit {number}: log-likelihood", ll_text, best, slack=1e-7)
        for k in range(n):
            for step in (-1e-3, 1e-3):
                w = list(v)
                w[k] += step
                if not 0.0 < w[k] < 1.0 or (number == 3 and k == 0 and w[k] > 0.95):
                    continue  # outside the parameter's range or its bound
                moved = log_likelihood(fill(w))
                c.checked += 1
                if moved > best + 1e-7:
                    c.failures += 1
                    print(f"NOT A MAXIMUM fit {number}: free value {k + 1} moved by {step} raises "
                          f"the log-likelihood from {best!r} to {moved!r}")
    print(f"{c.checked} checks, {c.failures} mismatches")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
