#!/usr/bin/env python3
"""Independent reference values for a tiny robust design with every parameter fixed.

Two primary periods of two secondary occasions: closed cohorts (period 1, 1),
(period 2, 1), (period 2, 2) of four cells each, then one open cohort of two
cells. The cell probabilities are written out from the model's definition
(capture p, recapture c, survival phi, emigration gamma''), not from the
program's code. Prints the values the program's listing must show.
Run: python3 tests/reference/tiny_design.py
"""
from math import lgamma, log

p11, p12, c12 = 0.5, 0.4, 0.6      # period 1: capture occasions 1, 2; recapture occasion 2
p21, p22, c22 = 0.3, 0.5, 0.7      # period 2
phi1, gpp2 = 0.8, 0.25             # survival 1 -> 2; unavailable in 2 when available in 1

def closed(p1, p2, c2):
    """Histories caught-caught, caught-missed, missed-caught, never, given caught at least once."""
    pstar = 1 - (1 - p1) * (1 - p2)
    cells = [p1 * c2, p1 * (1 - c2), (1 - p1) * p2]
    cells = [x / pstar for x in cells]
    return cells + [1 - sum(cells)], pstar

P1, _ = closed(p11, p12, c12)
P2, pstar2 = closed(p21, p22, c22)
open_first = phi1 * pstar2 * (1 - gpp2)      # released after 1, next caught in 2
Popen = [open_first, 1 - open_first]

cohorts = [  # (size, counts, probabilities)
    (85, [30, 20, 35, 0], P1),
    (65, [10, 15, 40, 0], P2),
    (47, [12, 10, 25, 0], P2),
    (100, [35, 65], Popen),
]
eps = 1e-5
F = 0.0
G = 0.0
LL_coef = 0.0
for n, counts, probs in cohorts:
    LL_coef += lgamma(n + 1)
    for o, q in zip(counts, probs):
        F += o * log(max(q, eps))
        LL_coef -= lgamma(o + 1)
        e = n * q
        if e > 1e-5 and o > 0:
            G += 2 * o * log(o / e)
F = -F
LL = LL_coef - F
print("cell probabilities:", [round(x, 10) for x in P1], [round(x, 10) for x in P2], Popen)
print("expected counts:", [[round(n * q, 3) for q in probs] for n, _, probs in cohorts])
print(f"F = {F:.10f}")
print(f"G = {G:.6f}")
print(f"log-likelihood = {LL:.8f}")
print(f"AIC = {-2 * LL:.8f}")
print(f"ln binomial coefficients = {LL_coef:.8f}")
