#!/usr/bin/env python3
"""Coverage of the 95% abundance intervals on simulated populations.

Each replicate simulates a population over three primary periods of three
secondary occasions: N_1 animals in period 1; between periods each survives
with probability phi and new animals join so that period i holds N_i; no
temporary emigration; every animal present is caught on each occasion of
period i with probability p_i (recapture equal to capture). The encounter
histories go through quorvale-inp --models, the program fits the model
NO-EMIG PHI(T)P(T) (capture constant within a period, c = p), and the check
is whether each period's interval from fits[].derived.abundance covers N_i.

Usage: abundance-coverage.py BUILD_DIR [REPLICATES] [SEED]
Prints the coverage per period and over all periods.
"""
import json
import os
import random
import subprocess
import sys
import tempfile

N = [600, 550, 700]
P = [0.35, 0.45, 0.30]
PHI = 0.8
K = 3


def simulate(rng):
    histories = {}
    alive = [[] for _ in range(len(N))]
    next_id = 0
    population = []
    for i, n in enumerate(N):
        if i > 0:
            population = [a for a in population if rng.random() < PHI]
        while len(population) < n:
            population.append(next_id)
            next_id += 1
        alive[i] = list(population)
    caught = {}
    for i in range(len(N)):
        for a in alive[i]:
            h = caught.setdefault(a, ["0"] * (K * len(N)))
            for t in range(K):
                if rng.random() < P[i]:
                    h[i * K + t] = "1"
    for h in caught.values():
        s = "".join(h)
        if "1" in s:
            histories[s] = histories.get(s, 0) + 1
    return histories


def main():
    build = sys.argv[1]
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 20261207)
    covered = [0] * len(N)
    done = 0
    with tempfile.TemporaryDirectory() as work:
        for r in range(reps):
            inp = os.path.join(work, "data.inp")
            with open(inp, "w") as f:
                for h, n in sorted(simulate(rng).items()):
                    f.write(f"{h} {n} ;\n")
            cmd = subprocess.run([os.path.join(build, "quorvale-inp"), "--secondary", ",".join([str(K)] * len(N)),
                                  "--models", inp], capture_output=True, text=True, check=True).stdout
            with open(os.path.join(work, "run.cmd"), "w") as f:
                f.write(cmd)
            out = os.path.join(work, "run.json")
            subprocess.run([os.path.join(build, "quorvale"), "i=" + os.path.join(work, "run.cmd"),
                            "l=" + os.path.join(work, "run.lst"), "notrace", "json=" + out],
                           capture_output=True, check=True)
            fits = [f for f in json.load(open(out))["fits"] if f["name"] == "NO-EMIG PHI(T)P(T)"]
            if not fits or fits[0]["optimizer_code"] != 0:
                continue
            done += 1
            for a in fits[0]["derived"]["abundance"]:
                lo, hi = a["ci"]
                if lo is not None and lo <= N[a["period"] - 1] <= hi:
                    covered[a["period"] - 1] += 1
    per = ", ".join(f"period {i + 1} (N={N[i]}, p={P[i]}): {100 * c / done:.1f}%" for i, c in enumerate(covered))
    print(f"{done} of {reps} replicates converged; coverage {per}; all periods {100 * sum(covered) / (done * len(N)):.1f}%")


if __name__ == "__main__":
    main()
