#!/usr/bin/env python3
"""Independent check of the derived abundance per period.

Runs the program on the bundled example with json= and, for the fit with the
smallest AICc, recomputes every period's N-hat, its standard error and its
interval from the document's estimates and covariance alone:
  n_i   the sizes of period i's closed-part cohorts (ip(ip-1)/2 + jp, jp = 1..ip),
  p_i,t S(off_i + t) with off_i the sum of 2k - 1 over the earlier periods,
  p*_i  1 - prod (1 - p_i,t),   N_i = n_i / p*_i,
  Var(p*_i) = g' V g with g the derivatives by estimated slot (delta method),
  Var(N_i)  = n_i (1 - p*) / p*^2 + n_i^2 Var(p*) / p*^4,
  interval  n + (N - n) / C .. n + (N - n) C, C = exp(1.96 sqrt(ln(1 + Var / (N - n)^2))).
Every value must agree to 1e-6 relative.  Usage: abundance.py PROGRAM SOURCE_DIR
"""
import json
import math
import os
import subprocess
import sys
import tempfile


def main():
    program, source = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as work:
        cmd = os.path.join(source, "examples", "robust-example.cmd")
        out = os.path.join(work, "run.json")
        subprocess.run([program, "i=" + cmd, "l=" + os.path.join(work, "run.lst"), "notrace", "json=" + out],
                       check=True, capture_output=True)
        doc = json.load(open(out))
    occasions = doc["data"]["occasions"]
    if occasions != [2, 2, 4, 5, 2]:
        print(f"the document gives occasions {occasions}, the bundled design has 2, 2, 4, 5, 2")
        return 1
    cohorts = doc["data"]["cohorts"]
    fit = min(doc["fits"], key=lambda f: f["aicc"])
    params = fit["parameters"]
    k = fit["k"]
    cov = fit["covariance"]
    failures = []

    def agree(what, mine, theirs):
        if theirs is None or abs(mine - theirs) > 1e-6 * max(abs(mine), 1e-300):
            failures.append(f"{what}: independent {mine!r}, program {theirs!r}")

    off = 0
    for ip, kk in enumerate(occasions, start=1):
        n = sum(cohorts[ip * (ip - 1) // 2 + jp - 1]["size"] for jp in range(1, ip + 1))
        ps = [params[off + t - 1] for t in range(1, kk + 1)]
        miss = 1.0
        for p in ps:
            miss *= 1.0 - p["estimate"]
        pstar = 1.0 - miss
        grad = [0.0] * (k + 1)
        for t, p in enumerate(ps):
            if p["fixed"]:
                continue
            others = 1.0
            for s, q in enumerate(ps):
                if s != t:
                    others *= 1.0 - q["estimate"]
            grad[p["slot"]] += others
        var_p = sum(grad[a] * grad[b] * cov[a - 1][b - 1] for a in range(1, k + 1) for b in range(1, k + 1))
        N = n / pstar
        var_n = n * (1 - pstar) / pstar ** 2 + n * n * var_p / pstar ** 4
        C = math.exp(1.96 * math.sqrt(math.log(1 + var_n / (N - n) ** 2)))
        got = fit["derived"]["abundance"][ip - 1]
        if got["caught"] != n:
            failures.append(f"period {ip}: caught {got['caught']} against {n}")
        agree(f"period {ip} p*", pstar, got["p_star"])
        agree(f"period {ip} N-hat", N, got["estimate"])
        agree(f"period {ip} SE", math.sqrt(var_n), got["se"])
        agree(f"period {ip} lower", n + (N - n) / C, got["ci"][0])
        agree(f"period {ip} upper", n + (N - n) * C, got["ci"][1])
        off += 2 * kk - 1
    for f in failures:
        print(f)
    print(f"best model {fit['name']}: {len(occasions)} periods checked, {len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
