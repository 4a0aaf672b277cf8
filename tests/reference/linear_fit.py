#!/usr/bin/env python3
"""Fits on the logit scale (survival written as a linear formula) against a
fit of the same models computed here on its own.

Two groups, F and M, on five primary periods (2, 3, 2, 2 and 3 secondary
occasions). The data are the expected counts, rounded after a small fixed
disturbance, of a robust design with capture equal to recapture, one capture
probability per period for both groups, random temporary emigration and a
survival that is not additive on the logit scale in group and interval (so
no fitted formula below is the true model, and the slots' own likelihood is
not at its maximum at the fitted coefficients).

Each fit is written here by hand as its coefficients and how they fill every
parameter (not parsed from the program's formula):
  GT       PHI(G+T)      logit phi_g(i) = PHI:1 + PHI:G[M] [g = M] + PHI:T[i] [i > 1]
  TREND    PHI(TREND)    logit phi(i) = PHI:1 + PHI:TREND * i  (i = 1..4, the interval)
  GWINTER  PHI(G+WINTER) logit phi_g(i) = PHI:1 + PHI:G[M] [g = M] + PHI:WINTER * WINTER(i)
           (the covariate's value of the interval's first period)
and in every fit P(T) C(P) GAMMA(RANDOM,.): one coefficient per period on
the logit scale of capture (recapture the same), one for gamma'' = gamma',
theta fixed at 1.

The likelihood is that of groups_fit.py (closed cells conditional on being
caught in the period, open cells by the period of the next capture through
every present/away path), evaluated without binomial coefficients
(NOBINCOF). Its maximum in the coefficients is found by Fisher scoring; the
cells' derivatives in the coefficients are central differences of the cell
probabilities, the information is the expected one
(sum over cohorts of N * sum over cells of dpi_a dpi_b / pi), the
coefficients' covariance its inverse, and each parameter's standard error
the delta method with the parameter's gradient in the coefficients again
taken by central differences.

The script checks that the case's command file is the one written here and,
for each fit, that the program prints the same coefficient names, the
log-likelihood to 1e-6 relative, every coefficient's estimate and every
parameter's estimate to the six significant digits printed, and their
standard errors to those digits and 1e-4 relative (see SE_SLACK).

Usage:
  linear_fit.py --command-file     print the case's command file
  linear_fit.py PROGRAM CASE_DIR   check CASE_DIR/run.cmd and the program's fits
Standard library only.
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import groups_fit as gf  # noqa: E402  (the likelihood of two groups)
import markov_design as md  # noqa: E402  (closed cells, the checker)
import run_listing  # noqa: E402

OCCASIONS = [2, 3, 2, 2, 3]          # secondary occasions of periods 1..5
M = len(OCCASIONS)
GROUPS = ("F", "M")
WINTER = [0.2, 0.9, 0.4, 0.7, 0.1]  # the covariate, one value per period
NSIG = 6
# The program takes the cells' derivatives as forward differences, each slot
# moved by 1e-4 of its value on the probability scale, for every fit (with or
# without linear forms): its standard errors carry a relative error of a few
# 1e-5 against the exact expected information used here (about 2.9e-5 on
# these data, the same for PHI(G*T) fitted without a formula). They are
# compared to 1e-4 relative beyond the printed digits; estimates and the
# log-likelihood need no such allowance.
SE_SLACK = 1e-4
# The optimizer stops once the estimates hold NSIG digits: a coefficient near
# 0 (the sixth printed digit far below 1e-6) is compared to 1e-6 absolute.
ESTIMATE_SLACK = 1e-6

# The values the counts are drawn from.
TRUE_P = [0.45, 0.35, 0.5, 0.4, 0.3]
TRUE_PHI = {"F": [0.85, 0.72, 0.8, 0.7], "M": [0.7, 0.62, 0.55, 0.6]}
TRUE_GAMMA = 0.2
CLOSED_SIZES = {g: [[30 + 7 * jp + 3 * ip + 5 * k for jp in range(1, ip + 1)] for ip in range(1, M + 1)]
                for k, g in enumerate(GROUPS)}
OPEN_SIZES = {"F": [100, 90, 85, 80], "M": [95, 85, 80, 70]}


def expit(x):
    return 1.0 / (1.0 + math.exp(-x))


def logit(p):
    return math.log(p / (1.0 - p))


def block():
    return gf.block(OCCASIONS)


def parameters():
    """S(1..NPAR): (group, key, label), one block per group."""
    return gf.parameters(OCCASIONS)


def fill(p, phi, gamma):
    """Every parameter's value from capture per period p[0..M-1] (recapture
    the same), survival phi[g][0..M-2] and the one gamma."""
    return gf.values_of(p, phi, gamma, OCCASIONS)


def disturbance():
    """A fixed sequence in [-1.5, 1.5): a linear congruential generator."""
    state = 12345
    while True:
        state = (1103515245 * state + 12345) % 2**31
        yield 3.0 * state / 2**31 - 1.5


def make_counts():
    """(closed, open) counts of each group: each cohort's expected counts,
    disturbed and rounded; the closed cohorts' never-caught cell 0."""
    truth = fill(TRUE_P, TRUE_PHI, TRUE_GAMMA)
    zero_closed = {g: [[[0] * (2 ** kk) for _ in range(ip)] for ip, kk in enumerate(OCCASIONS, start=1)]
                   for g in GROUPS}
    zero_open = {g: [[0] * (M - i + 1) for i in range(1, M)] for g in GROUPS}
    probs = [q for _, q in gf.cohorts(truth, OCCASIONS, zero_closed, zero_open)]
    noise = disturbance()
    closed, opened, k = {}, {}, 0
    for g in GROUPS:
        closed[g] = []
        for ip in range(1, M + 1):
            period = []
            for size in CLOSED_SIZES[g][ip - 1]:
                q = probs[k]
                k += 1
                period.append([max(0, round(size * x + next(noise))) for x in q[:-1]] + [0])
            closed[g].append(period)
        opened[g] = []
        for i in range(1, M):
            q = probs[k]
            k += 1
            opened[g].append([max(0, round(OPEN_SIZES[g][i - 1] * x + next(noise))) for x in q])
    return closed, opened


CLOSED_COUNTS, OPEN_COUNTS = make_counts()


def lowest(key):
    """S index of group F's parameter key: the lowest parameter of a shared slot."""
    return 1 + [k for k, _ in block()].index(key)


def common_names():
    """Names of the coefficients of P(T) C(P) GAMMA(RANDOM,.): one per slot,
    named by the slot's lowest parameter."""
    return ([f"P:S({lowest(('p', ip, 1))})" for ip in range(1, M + 1)]
            + [f"GAMMA'':S({lowest(('gamma2', 2))})"])


def common_fill(phi, b):
    """Every parameter from survival phi and the common coefficients b."""
    return fill([expit(x) for x in b[0:M]], phi, expit(b[M]))


def fit_gt(beta):
    one, male, t = beta[0], beta[1], [0.0] + beta[2:5]
    phi = {g: [expit(one + (male if g == "M" else 0.0) + t[i - 1]) for i in range(1, M)] for g in GROUPS}
    return common_fill(phi, beta[5:])


def fit_trend(beta):
    phi = {g: [expit(beta[0] + beta[1] * i) for i in range(1, M)] for g in GROUPS}
    return common_fill(phi, beta[2:])


def fit_gwinter(beta):
    phi = {g: [expit(beta[0] + (beta[1] if g == "M" else 0.0) + beta[2] * WINTER[i - 1]) for i in range(1, M)]
           for g in GROUPS}
    return common_fill(phi, beta[3:])


# Name, structure, coefficient names, the fill from the coefficients.
FITS = [
    ("GT", "PHI(G+T) P(T) C(P) GAMMA(RANDOM,.)",
     ["PHI:1", "PHI:G[M]", "PHI:T[2]", "PHI:T[3]", "PHI:T[4]"], fit_gt),
    ("TREND", "PHI(TREND) P(T) C(P) GAMMA(RANDOM,.)", ["PHI:1", "PHI:TREND"], fit_trend),
    ("GWINTER", "PHI(G+WINTER) P(T) C(P) GAMMA(RANDOM,.)", ["PHI:1", "PHI:G[M]", "PHI:WINTER"], fit_gwinter),
]


def cells(values):
    """(size, counts, probabilities) of every cohort."""
    return [(sum(counts), counts, probs)
            for counts, probs in gf.cohorts(values, OCCASIONS, CLOSED_COUNTS, OPEN_COUNTS)]


def log_likelihood(values):
    return gf.log_likelihood(values, OCCASIONS, CLOSED_COUNTS, OPEN_COUNTS)


def cell_derivatives(model, beta, h=1e-5):
    """d(cell probability)/d(beta_k), cohort by cohort, by central differences."""
    out = []
    for k in range(len(beta)):
        up, down = list(beta), list(beta)
        up[k] += h
        down[k] -= h
        hi, lo = cells(model(up)), cells(model(down))
        out.append([[(a - b) / (2 * h) for a, b in zip(ph, pl)] for (_, _, ph), (_, _, pl) in zip(hi, lo)])
    return out


def score_and_information(model, beta):
    """The score and the expected information in the coefficients."""
    at = cells(model(beta))
    d = cell_derivatives(model, beta)
    n = len(beta)
    score = [0.0] * n
    info = [[0.0] * n for _ in range(n)]
    for j, (size, counts, probs) in enumerate(at):
        for c, (o, q) in enumerate(zip(counts, probs)):
            if q <= 0.0:
                continue
            for a in range(n):
                score[a] += o / q * d[a][j][c]
                for b in range(a + 1):
                    info[a][b] += size * d[a][j][c] * d[b][j][c] / q
    for a in range(n):
        for b in range(a):
            info[b][a] = info[a][b]
    return score, info


def inverse(a):
    """Gauss-Jordan inverse with partial pivoting."""
    n = len(a)
    w = [list(row) + [1.0 if i == j else 0.0 for j in range(n)] for i, row in enumerate(a)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(w[r][col]))
        if abs(w[pivot][col]) < 1e-300:
            raise ZeroDivisionError("singular information")
        w[col], w[pivot] = w[pivot], w[col]
        f = w[col][col]
        w[col] = [x / f for x in w[col]]
        for r in range(n):
            if r != col and w[r][col] != 0.0:
                g = w[r][col]
                w[r] = [x - g * y for x, y in zip(w[r], w[col])]
    return [row[n:] for row in w]


def maximise(model, n):
    """Fisher scoring from all coefficients 0, halving a step that lowers the
    log-likelihood. Gives (beta, log-likelihood, covariance of beta)."""
    beta = [0.0] * n
    best = log_likelihood(model(beta))
    for _ in range(200):
        score, info = score_and_information(model, beta)
        cov = inverse(info)
        step = [sum(cov[a][b] * score[b] for b in range(n)) for a in range(n)]
        scale = 1.0
        while True:
            trial = [x + scale * s for x, s in zip(beta, step)]
            value = log_likelihood(model(trial))
            if value >= best - 1e-12 or scale < 1e-6:
                break
            scale /= 2
        beta, best = trial, value
        if max(abs(s) for s in step) * scale < 1e-10:
            break
    _, info = score_and_information(model, beta)
    return beta, best, inverse(info)


def parameter_errors(model, beta, cov, h=1e-6):
    """Each parameter's standard error by the delta method, its gradient in
    the coefficients taken by central differences."""
    keys = [(g, key) for g, key, _ in parameters()]
    grads = []
    for k in range(len(beta)):
        up, down = list(beta), list(beta)
        up[k] += h
        down[k] -= h
        hi, lo = model(up), model(down)
        grads.append([(hi[x] - lo[x]) / (2 * h) for x in keys])
    out = []
    for i in range(len(keys)):
        v = sum(grads[a][i] * cov[a][b] * grads[b][i] for a in range(len(beta)) for b in range(len(beta)))
        out.append(math.sqrt(max(v, 0.0)))
    return out


def reference(fit):
    """The fit's coefficient names, estimates and standard errors, log-likelihood,
    and every parameter's estimate and standard error."""
    _, _, names, phi_part = fit
    names = names + common_names()
    beta, ll, cov = maximise(phi_part, len(names))
    values = phi_part(beta)
    return {"names": names, "beta": beta, "se": [math.sqrt(cov[k][k]) for k in range(len(beta))], "LL": ll,
            "S": [values[g, key] for g, key, _ in parameters()], "S_se": parameter_errors(phi_part, beta, cov)}


def command_file():
    s = parameters()
    lines = ["/* Written by tests/reference/linear_fit.py --command-file, which also",
             "   fits these models itself and checks what this run prints. */",
             "PROC TITLE Survival on the logit scale, two groups on five periods;",
             f"PROC MODEL NPAR={len(s)} PRIMARY N = {M} SECONDARY = {' '.join(map(str, OCCASIONS))}",
             f"    GROUPS = {' '.join(GROUPS)};",
             f"COVARIATE WINTER = {' '.join(f'{x:g}' for x in WINTER)};",
             "LABELS;"]
    lines += [f" S({i})={label};" for i, (_, _, label) in enumerate(s, start=1)]
    for g in GROUPS:
        lines += gf.cohort_lines(g, CLOSED_COUNTS[g], OPEN_COUNTS[g])
    for name, structure, _, _ in FITS:
        lines += [f"PROC ESTIMATE NSIG={NSIG} NOBINCOF NAME={name};", f" STRUCTURE {structure};"]
    lines.append("PROC STOP;")
    return "\n".join(lines) + "\n"


def printed_fits(listing):
    """Per model name, as printed: its coefficient rows {name: (estimate,
    se, lower, upper)}, its parameter rows [(estimate, se)] (S(1..NPAR)),
    each parameter's slot (the number beside I; 0 or less: not estimated),
    its log-likelihood and AIC."""
    fits, name, where = {}, None, None
    coefficient = re.compile(r"^\s+\d+\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s*$")
    parameter = re.compile(r"^\s+(\d+)\s+(-?\d+) .{20}(.*)$")
    for line in listing:
        m = re.search(r"(Coefficients on the logit scale|Results) for model (\S+)", line)
        if m:
            name = m.group(2)
            fits.setdefault(name, {"coefficients": {}, "S": [], "slot": [], "LL": None, "AIC": None})
            where = "coefficients" if m.group(1).startswith("Coeff") else "S"
            continue
        if name is None:
            continue
        m = re.search(r"Log-likelihood = (\S+)\s+Akaike Information Criterion =\s*(\S+)", line)
        if m:
            fits[name]["LL"], fits[name]["AIC"] = m.group(1), m.group(2)
            name = None
            continue
        if where == "coefficients":
            m = coefficient.match(line)
            if m:
                fits[name]["coefficients"][m.group(1)] = m.group(2, 3, 4, 5)
        else:
            m = parameter.match(line)
            if m and int(m.group(1)) == len(fits[name]["S"]) + 1:
                fields = m.group(3).split()
                fits[name]["S"].append((fields[0], fields[1]))
                fits[name]["slot"].append(int(m.group(2)))
    return fits


def digits_agree(c, what, text, ref, slack=ESTIMATE_SLACK):
    """text, printed with six significant digits, is ref to those digits:
    within half a unit of the sixth digit, plus slack times |ref| (and at
    least slack)."""
    c.checked += 1
    x = float(text)
    unit = 10.0 ** (math.floor(math.log10(abs(x))) - 5) if x != 0.0 else 1e-5
    tol = 0.5 * unit * (1 + 1e-9) + slack * max(1.0, abs(ref))
    worst = abs(x - ref) / abs(ref) if ref != 0.0 else abs(x)
    if not abs(x - ref) <= tol:
        c.failures += 1
        print(f"MISMATCH {what}: printed {text}, reference {ref!r}")
    return worst


def check(program, case_dir):
    c = md.Checker()
    with open(os.path.join(case_dir, "run.cmd")) as f:
        commands = f.read()
    c.equal("run.cmd of the case", commands, command_file())
    fits = printed_fits(run_listing.listing(program, commands))
    c.equal("models printed", sorted(fits), sorted(f[0] for f in FITS))
    for fit in FITS:
        name = fit[0]
        printed = fits.get(name)
        if printed is None:
            continue
        ref = reference(fit)
        before = c.failures
        c.equal(f"{name}: coefficient names", sorted(printed["coefficients"]), sorted(ref["names"]))
        c.equal(f"{name}: parameters printed", len(printed["S"]), len(parameters()))
        c.equal(f"{name}: log-likelihood printed", printed["LL"] is not None, True)
        if c.failures > before:
            continue
        ll = float(printed["LL"])
        c.checked += 1
        if not abs(ll - ref["LL"]) <= 1e-6 * abs(ref["LL"]):
            c.failures += 1
            print(f"MISMATCH {name}: log-likelihood printed {printed['LL']}, reference {ref['LL']!r}")
        worst = {"beta": 0.0, "se": 0.0, "S": 0.0, "S_se": 0.0}
        for k, coefficient in enumerate(ref["names"]):
            est, se = printed["coefficients"][coefficient][:2]
            worst["beta"] = max(worst["beta"], digits_agree(c, f"{name} {coefficient}", est, ref["beta"][k]))
            worst["se"] = max(worst["se"], digits_agree(c, f"{name} {coefficient} SE", se, ref["se"][k], SE_SLACK))
        for i, (est, se) in enumerate(printed["S"]):
            worst["S"] = max(worst["S"], digits_agree(c, f"{name} S({i + 1})", est, ref["S"][i]))
            if ref["S_se"][i] > 0.0:
                worst["S_se"] = max(worst["S_se"], digits_agree(c, f"{name} S({i + 1}) SE", se, ref["S_se"][i],
                                                                SE_SLACK))
            else:
                c.equal(f"{name} S({i + 1}) SE", float(se), 0.0)
        print(f"{name}: log-likelihood printed {printed['LL']}, independent {ref['LL']:.8f} "
              f"(relative difference {abs(ll - ref['LL']) / abs(ref['LL']):.2e}); worst relative differences: "
              + ", ".join(f"{k} {v:.2e}" for k, v in worst.items()))
    print(f"{c.checked} checks, {c.failures} mismatches")
    return 1 if c.failures else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--command-file"]:
        sys.stdout.write(command_file())
    elif len(sys.argv) == 3:
        sys.exit(check(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)
