#!/usr/bin/env python3
"""Independent reference values for five primary periods with Markovian
temporary emigration, every parameter fixed.

The periods have 3, 2, 1, 2 and 2 secondary occasions. Survival phi differs
from interval to interval, and the probability of being away after being
away (gamma') differs from that of being away after being present (gamma'')
in every period. The cell probabilities are written out from the model's
definition, not from the program's code:
  - closed part: the history's probability with p up to and including the
    first capture and c after it, divided by the probability p* of being
    caught at least once in the period; the never-caught cell is 0;
  - open part: first recaptured in period j after release in period i is
    phi(i)...phi(j-1) * p*(j) * (sum over every present/away path through
    periods i+1..j-1, ending present in j, of its Markov transition
    probabilities times (1 - p*) for each period the animal was present but
    missed); the last cell is never recaptured.

Usage:
  markov_design.py                    print the reference values
  markov_design.py --command-file     print the case's command file
  markov_design.py PROGRAM CASE_DIR   check CASE_DIR/run.cmd is the command
      file above, run PROGRAM on the case and compare every printed figure
      of the goodness-of-fit pass with the reference, to printed precision
Standard library only.
"""
import itertools
import math
import os
import re
import sys

import run_listing

OCCASIONS = [3, 2, 1, 2, 2]          # secondary occasions of periods 1..5
M = len(OCCASIONS)
# Per period: capture p(t), t = 1..kk, and recapture c(t), t = 2..kk.
CAPTURE = [[0.5, 0.4, 0.3], [0.45, 0.35], [0.75], [0.4, 0.3], [0.35, 0.5]]
RECAPTURE = [[0.6, 0.55], [0.55], [], [0.65], [0.6]]
PHI = [0.9, 0.75, 0.85, 0.7]         # survival i -> i+1, i = 1..4
GAMMA2 = [0.2, 0.35, 0.15, 0.3]      # gamma''(j), j = 2..5: away in j when present in j-1
GAMMA1 = [0.6, 0.45, 0.7]            # gamma'(j), j = 3..5: away in j when away in j-1
THETA = [1.0] * M                    # recapture exponents, unused (no power variant)
NSIG = 5

# Observed counts. Closed part: for each period ip, ip cohorts of 2^kk cells
# (histories with a capture, first occasion most significant, captured before
# missed; the never-caught cell last). Open part: per release period, first
# recaptured in each later period, then never recaptured.
CLOSED_COUNTS = [
    [[4, 3, 5, 2, 6, 3, 7, 0]],
    [[3, 5, 6, 0], [4, 3, 7, 0]],
    [[9, 0], [6, 0], [11, 0]],
    [[2, 6, 5, 0], [4, 4, 7, 0], [3, 5, 4, 0], [2, 7, 6, 0]],
    [[3, 4, 9, 0], [2, 3, 8, 0], [4, 2, 7, 0], [3, 5, 6, 0], [2, 4, 10, 0]],
]
OPEN_COUNTS = [[14, 6, 2, 1, 17], [11, 4, 2, 13], [12, 3, 15], [9, 16]]


def parameters():
    """S(1..NPAR) in the model's order, with a label for each."""
    s = []
    for ip, (p, c) in enumerate(zip(CAPTURE, RECAPTURE), start=1):
        s += [(v, f"p  period {ip} occasion {t}") for t, v in enumerate(p, start=1)]
        s += [(v, f"c  period {ip} occasion {t}") for t, v in enumerate(c, start=2)]
    s += [(v, f"phi  survival {i} to {i + 1}") for i, v in enumerate(PHI, start=1)]
    s += [(v, f"gamma'' away in {j} if present") for j, v in enumerate(GAMMA2, start=2)]
    s += [(v, f"gamma' away in {j} if away") for j, v in enumerate(GAMMA1, start=3)]
    s += [(v, f"theta  period {ip}") for ip, v in enumerate(THETA, start=1)]
    return s


def closed_cells(p, c):
    """Cell probabilities of a closed cohort and p*, history by history."""
    pstar = 1 - math.prod(1 - x for x in p)
    cells = []
    for history in itertools.product("CM", repeat=len(p)):
        if "C" not in history:
            break                          # the never-caught history is the last
        pr, seen = 1.0, False
        for t, h in enumerate(history):
            q = c[t - 1] if seen else p[t]  # c(t) is stored from occasion 2 on
            pr *= q if h == "C" else 1 - q
            seen = seen or h == "C"
        cells.append(pr / pstar)
    return cells + [0.0], pstar


def first_recaptured(i, j, pstar):
    """Probability that an animal released in period i is next caught in j."""
    alive = math.prod(PHI[i - 1:j - 1])
    gamma2 = {m: GAMMA2[m - 2] for m in range(2, M + 1)}
    gamma1 = {m: GAMMA1[m - 3] for m in range(3, M + 1)}
    total = 0.0
    between = list(range(i + 1, j))
    for path in itertools.product((False, True), repeat=len(between)):  # True = away
        away = dict(zip(between, path))
        away[i], away[j] = False, False
        pr = 1.0
        for m in range(i + 1, j + 1):
            if away[m - 1]:
                pr *= gamma1[m] if away[m] else 1 - gamma1[m]
            else:
                pr *= gamma2[m] if away[m] else 1 - gamma2[m]
            if m < j and not away[m]:
                pr *= 1 - pstar[m]         # present but missed in m
        total += pr
    return alive * pstar[j] * total


def cohorts():
    """(size, counts, probabilities, closed) for every cohort in model order."""
    out, pstar = [], {}
    for ip in range(1, M + 1):
        probs, pstar[ip] = closed_cells(CAPTURE[ip - 1], RECAPTURE[ip - 1])
        assert len(CLOSED_COUNTS[ip - 1]) == ip
        for counts in CLOSED_COUNTS[ip - 1]:
            assert len(counts) == len(probs) and counts[-1] == 0
            out.append((sum(counts), counts, probs, True))
    for i in range(1, M):
        probs = [first_recaptured(i, j, pstar) for j in range(i + 1, M + 1)]
        probs.append(1 - sum(probs))
        counts = OPEN_COUNTS[i - 1]
        assert len(counts) == len(probs)
        out.append((sum(counts), counts, probs, False))
    return out


def pool(obs, exp, df):
    """Merges the sparsest cell with a neighbour until every expected count
    is 2 or more, two cells are left, or one degree of freedom; Pearson's
    chi-square of what is left."""
    o, e = list(obs), list(exp)
    while len(e) > 2 and df > 1:
        s = min(range(len(e)), key=lambda k: (e[k], k))
        if e[s] >= 2.0:
            break
        if s == 0:
            t = 1
        elif s == len(e) - 1:
            t = s - 1
        else:
            t = s + 1 if e[s - 1] > e[s + 1] else s - 1
        a, b = min(s, t), max(s, t)
        o[a:b + 1] = [o[a] + o[b]]
        e[a:b + 1] = [e[a] + e[b]]
        df -= 1
    return sum((x - y) ** 2 / y for x, y in zip(o, e) if y > 0), df


def upper_tail(x, df):
    """Pr(chi-square on df degrees of freedom > x), closed form for whole df."""
    if df == 0 or x <= 0:
        return 1.0
    y = x / 2
    if df % 2 == 0:
        return math.exp(-y) * sum(y ** k / math.factorial(k) for k in range(df // 2))
    return math.erfc(math.sqrt(y)) + sum(
        math.exp(-y) * y ** (k - 0.5) / math.gamma(k + 0.5) for k in range(1, (df + 1) // 2))


def reference():
    eps = 10.0 ** -NSIG
    rows, per_cohort = [], []
    F = G = coef = pooled_chi = 0.0
    cells_df = pooled_df = 0
    for j, (n, counts, probs, closed) in enumerate(cohorts(), start=1):
        coef += math.lgamma(n + 1)
        exp = []
        for k, (o, q) in enumerate(zip(counts, probs), start=1):
            coef -= math.lgamma(o + 1)
            F -= o * math.log(max(q, eps))
            e = n * q
            exp.append(e)
            chi = (o - e) ** 2 / e if e > eps else 0.0
            if e > eps and o > 0:
                G += 2 * o * math.log(o / e)
            rows.append((j, k, o, e, chi, closed and k == len(counts)))
        chi, df = pool(counts, exp, len(counts) - 1)
        cells_df += len(counts) - 1
        pooled_chi += chi
        pooled_df += df
        per_cohort.append((j, df, chi, upper_tail(chi, df)))
    LL = coef - F
    return {
        "rows": rows, "cohorts": per_cohort, "F": F, "G": G, "NDF": cells_df,
        "PG": upper_tail(G, cells_df), "pooled_df": pooled_df, "pooled_chi": pooled_chi,
        "pooled_p": upper_tail(pooled_chi, pooled_df), "LL": LL, "AIC": -2 * LL,
    }


def command_file():
    s = parameters()
    lines = ["/* Written by tests/reference/markov_design.py --command-file, which also",
             "   checks the figures this run prints. */",
             "PROC TITLE Five periods, Markovian temporary emigration;",
             f"PROC MODEL NPAR={len(s)} PRIMARY N = {M} SECONDARY = {' '.join(map(str, OCCASIONS))};",
             "LABELS;"]
    lines += [f" S({i})={label};" for i, (_, label) in enumerate(s, start=1)]
    release = 0
    for n, counts, _, closed in cohorts():
        lines.append(f" COHORT={n};")
        if closed:
            # The history, 1 = caught, 0 = missed, occasion by occasion.
            kk = len(counts).bit_length() - 1
            lines += [f"  {o} : caught {format(len(counts) - 1 - k, f'0{kk}b')};"
                      for k, o in enumerate(counts)]
        else:
            release += 1
            lines += [f"  {o} : next caught in {release + k + 1};" for k, o in enumerate(counts[:-1])]
            lines.append(f"  {counts[-1]} : never again;")
    lines += ["PROC ESTIMATE NOVAR NAME=MARKOV;", " CONSTRAINT;"]
    lines += [f"  S({i})={v!r};" for i, (v, _) in enumerate(s, start=1)]
    lines.append("PROC STOP;")
    return "\n".join(lines) + "\n"


class Checker:
    def __init__(self):
        self.failures = 0
        self.checked = 0

    def number(self, what, printed, ref, slack=1e-9):
        """printed (text) must be ref rounded to the decimals printed."""
        self.checked += 1
        text = printed.strip()
        decimals = len(text.split(".")[1]) if "." in text else 0
        tol = 0.5 * 10.0 ** -decimals + slack * max(1.0, abs(ref))
        if not abs(float(text) - ref) <= tol:
            self.failures += 1
            print(f"MISMATCH {what}: printed {text}, reference {ref!r}")

    def equal(self, what, got, want):
        self.checked += 1
        if got != want:
            self.failures += 1
            print(f"MISMATCH {what}: printed {got!r}, reference {want!r}")


def check(program, case_dir):
    c = Checker()
    with open(os.path.join(case_dir, "run.cmd")) as f:
        commands = f.read()
    c.equal("run.cmd of the case", commands, command_file())
    listing = run_listing.listing(program, commands)

    ref = reference()
    cell = re.compile(r"^   ([ \d]{4})    ([ \d]{3}) ([ \d]{9}) (.{11}) (.{10})   (.*?)\s*$")
    cohort = re.compile(r"^   ([ \d]{4}) Cohort df=([ \d]{3}) {16}(.{10})   P = (.{6})$")
    # The table runs from its heading to the line of dashes under it.
    heads = [k for k, line in enumerate(listing) if line.startswith("   Cohort  Cell   Observed")]
    c.equal("one goodness-of-fit table", len(heads), 1)
    table = listing[heads[0] + 2:] if heads else []
    table = table[:next((k for k, line in enumerate(table) if line.startswith("   ---")), len(table))]
    cells = [m for m in map(cell.match, table) if m]
    lines = [m for m in map(cohort.match, table) if m]
    c.equal("lines of the table", len(table), len(cells) + len(lines))
    c.equal("cells in the goodness-of-fit table", len(cells), len(ref["rows"]))
    c.equal("cohort lines", len(lines), len(ref["cohorts"]))
    for m, (j, k, o, e, chi, never) in zip(cells, ref["rows"]):
        where = f"cohort {j} cell {k}"
        c.equal(where, (int(m[1]), int(m[2]), int(m[3])), (j, k, o))
        if never:
            # Zero in theory; the program's 1 - sum is rounding noise of
            # either sign, and the note must follow the sign printed.
            c.number(where + " expected", m[4], 0.0)
            c.equal(where + " note", m[6], "NOT 0 < P < 1" if "-" in m[4] else "0 < P < 1")
        else:
            c.number(where + " expected", m[4], e)
            c.equal(where + " note", m[6], "0 < P < 1")
        c.number(where + " chi-square", m[5], chi)
    for m, (j, df, chi, p) in zip(lines, ref["cohorts"]):
        c.equal(f"cohort {j} line", (int(m[1]), int(m[2])), (j, df))
        c.number(f"cohort {j} chi-square", m[3], chi)
        # The program's series for the chi-square distribution stops at
        # terms below 1e-6.
        c.number(f"cohort {j} P", m[4], p, slack=1e-5)

    text = "\n".join(listing)

    def after(label, pattern=r"\s*(\S+)"):
        found = re.search(re.escape(label) + pattern, text)
        return found.groups() if found else None

    F = after("Final function value")
    c.equal("final function value present", F is not None, True)
    if F:
        c.number("final function value", F[0], ref["F"])
    at = after("@@", r"(.{5})(.{5})(.{5})(.{4}) (.{13})(.{4}) (.{13})(.{13})(.{13})")
    c.equal("@@ line present", at is not None, True)
    if at:
        c.equal("@@ model, error returns, df", [int(x) for x in at[:4]], [1, 0, 0, ref["NDF"]])
        c.number("@@ G", at[4], ref["G"])
        c.equal("@@ pooled df", int(at[5]), ref["pooled_df"])
        c.number("@@ pooled chi-square", at[6], ref["pooled_chi"])
        # ln n! in the program is Stirling's series with single-precision
        # constants: about 2e-8 per term, some 90 terms.
        c.number("@@ log-likelihood", at[7], ref["LL"], slack=2e-6)
        c.number("@@ AIC", at[8], ref["AIC"], slack=4e-6)
    g = after("G Total (Degrees of freedom =", r"\s*(\d+)\)\s+(\S+)\s+Pr\(Larger Chi-square\) = (\S+)")
    c.equal("G total present", g is not None, True)
    if g:
        c.equal("G degrees of freedom", int(g[0]), ref["NDF"])
        c.number("G total", g[1], ref["G"])
        c.number("Pr(G)", g[2], ref["PG"], slack=1e-5)
    pooled = after("With pooling, Degrees of freedom =",
                   r"\s*(\d+)\s+Pearson Chi-square =\s+(\S+)\s+Pr\(Larger Chi-square\) = (\S+)")
    c.equal("pooled test present", pooled is not None, True)
    if pooled:
        c.equal("pooled degrees of freedom", int(pooled[0]), ref["pooled_df"])
        c.number("pooled chi-square", pooled[1], ref["pooled_chi"])
        c.number("Pr(pooled)", pooled[2], ref["pooled_p"], slack=1e-5)
    ll = after("Log-likelihood =", r"\s*(\S+)\s+Akaike Information Criterion =\s*(\S+)")
    c.equal("log-likelihood line present", ll is not None, True)
    if ll:
        c.number("log-likelihood", ll[0], ref["LL"], slack=2e-6)
        c.number("AIC", ll[1], ref["AIC"], slack=4e-6)

    print(f"{c.checked} figures checked, {c.failures} differ from the reference")
    return 1 if c.failures else 0


def show():
    ref = reference()
    print("cell probabilities and expected counts:")
    for n, counts, probs, _ in cohorts():
        print(f"  n={n:3d}", " ".join(f"{q:.10f}" for q in probs))
        print("       ", " ".join(f"{n * q:.3f}" for q in probs), "observed", counts)
    for j, df, chi, p in ref["cohorts"]:
        print(f"  cohort {j:2d} df={df} chi={chi:.3f} P={p:.4f}")
    print(f"F = {ref['F']:.10f}")
    print(f"G = {ref['G']:.6f} on {ref['NDF']} df, Pr = {ref['PG']:.4f}")
    print(f"pooled chi-square = {ref['pooled_chi']:.6f} on {ref['pooled_df']} df, Pr = {ref['pooled_p']:.4f}")
    print(f"log-likelihood = {ref['LL']:.8f}")
    print(f"AIC = {ref['AIC']:.8f}")


if __name__ == "__main__":
    if len(sys.argv) == 1:
        show()
    elif sys.argv[1:] == ["--command-file"]:
        sys.stdout.write(command_file())
    elif len(sys.argv) == 3:
        sys.exit(check(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)
