#!/usr/bin/env python3
"""quorvale-inp --plan for 3-period designs: the cohort sizes it writes are the
numbers expected under the truth, computed here by walking every path of
survival, availability (Markovian temporary emigration) and capture, not by
the program's recursion; survival with a trend and a covariate effect is
computed here too, with the linear models that go with it; the command file
runs through PROC SIMULATE; a faulty option is named.

Usage: plan_expected.py QUORVALE_INP QUORVALE
"""
import math
import os
import re
import subprocess
import sys
import tempfile

inp, program = sys.argv[1:3]
failures = []


def expected_sizes(k, p, phi, g2, g1, marked=None, superpop=None):
    """Closed cohorts (ip, jp) in order, then the open cohorts; lists by period from 1."""
    M = len(k)
    pstar = {j: 1 - (1 - p[j - 1]) ** k[j - 1] for j in range(1, M + 1)}

    def next_caught(i):
        """Pr(first caught again in period j) for an animal released after period i."""
        probs = {j: 0.0 for j in range(i + 1, M + 1)}

        def walk(j, available_before, weight):
            if j > M:
                return
            alive = weight * phi[j - 2]
            for available in (True, False):
                if available_before:
                    pa = (1 - g2[j]) if available else g2[j]
                else:
                    pa = (1 - g1[j]) if available else g1[j]
                w = alive * pa
                if available:
                    probs[j] += w * pstar[j]
                    walk(j + 1, True, w * (1 - pstar[j]))
                else:
                    walk(j + 1, False, w)

        walk(i + 1, True, 1.0)
        return probs

    nxt = {i: next_caught(i) for i in range(1, M)}
    if marked is not None:
        E = {i: marked[i - 1] for i in range(1, M + 1)}
    else:
        E = {1: superpop * pstar[1]}
        for j in range(2, M + 1):
            E[j] = superpop * (1 - pstar[1]) * nxt[1][j]
    R = {}
    for i in range(1, M):
        R[i] = E[i] + sum(R[j] * nxt[j][i] for j in range(1, i))
    sizes = []
    for ip in range(1, M + 1):
        sizes.append(E[ip])
        for jp in range(2, ip + 1):
            sizes.append(R[jp - 1] * nxt[jp - 1][ip])
    sizes += [R[i] for i in range(1, M)]
    return sizes


def run_plan(args):
    return subprocess.run([inp, "--plan"] + args, capture_output=True, text=True)


cases = [
    # secondary, truth options, keyword truth for the computation here
    ("2,3,2", ["--marked", "100,80,60", "--phi", "0.8,0.7", "--p", "0.4,0.3,0.5", "--c", "0.5",
               "--gamma2", "0.2,0.3", "--gamma1", "0.6"],
     dict(k=[2, 3, 2], p=[0.4, 0.3, 0.5], phi=[0.8, 0.7], g2={2: 0.2, 3: 0.3}, g1={3: 0.6}, marked=[100, 80, 60])),
    ("3,2,4", ["--superpopulation", "1000", "--phi", "0.75", "--p", "0.25", "--gamma2", "0.35", "--gamma1", "0.5"],
     dict(k=[3, 2, 4], p=[0.25] * 3, phi=[0.75, 0.75], g2={2: 0.35, 3: 0.35}, g1={3: 0.5}, superpop=1000)),
]
work = tempfile.mkdtemp()
for n, (secondary, options, truth) in enumerate(cases, 1):
    run = run_plan(["--secondary", secondary, "--nsim", "3", "--submodels", "1,5"] + options)
    if run.returncode != 0:
        failures.append(f"case {n}: --plan failed: {run.stderr}")
        continue
    written = [int(x) for x in re.findall(r"^ COHORT = (\d+)", run.stdout, re.M)]
    g1 = truth.pop("g1")
    g2 = truth.pop("g2")
    g1.setdefault(2, 0.0)
    sizes = expected_sizes(g2=g2, g1=g1, **truth)
    if len(written) != len(sizes):
        failures.append(f"case {n}: {len(written)} cohorts written, {len(sizes)} expected")
    for c, (w, e) in enumerate(zip(written, sizes), 1):
        if abs(w - e) > 0.5 + 1e-9:
            failures.append(f"case {n}: cohort {c} has {w} animals, {e:.4f} expected")
    # Each cohort's cells add up to no more than its animals.
    for m in re.finditer(r"^ COHORT = (\d+).*\n((?:\s+\d+ :.*\n(?:\s{14}.*\n)*)+)", run.stdout, re.M):
        cells = sum(int(x) for x in re.findall(r"^\s+(\d+) :", m.group(2), re.M))
        if cells > int(m.group(1)):
            failures.append(f"case {n}: a cohort of {m.group(1)} has {cells} animals in its cells")
    path = os.path.join(work, f"plan{n}.cmd")
    with open(path, "w") as f:
        f.write(run.stdout)
    sim = subprocess.run([program, f"i={path}", f"l={path}.lst", "notrace"], capture_output=True, text=True,
                         cwd=work)
    listing = open(f"{path}.lst").read() if os.path.exists(f"{path}.lst") else ""
    if sim.returncode != 0 or "B I A S   A N D   C O V E R A G E" not in listing or listing.count("\n@@") != 6:
        failures.append(f"case {n}: the plan did not run through PROC SIMULATE: {sim.stderr[-300:]}")

# Two groups, each with its own truth: the cohorts of group 1, then those of
# group 2, each as expected under its own values.
grouped = ["--secondary", "2,3,2", "--groups", "F,M", "--marked", "100,80,60/50", "--phi", "0.8,0.7/0.6",
           "--p", "0.4,0.3,0.5/0.25", "--gamma2", "0.2/0.3,0.1", "--gamma1", "0.6/0.4", "--nsim", "3"]
run = run_plan(grouped)
if run.returncode != 0:
    failures.append(f"grouped plan: --plan failed: {run.stderr}")
else:
    written = [int(x) for x in re.findall(r"^ COHORT = (\d+)", run.stdout, re.M)]
    sizes = (expected_sizes(k=[2, 3, 2], p=[0.4, 0.3, 0.5], phi=[0.8, 0.7], g2={2: 0.2, 3: 0.2},
                            g1={2: 0.0, 3: 0.6}, marked=[100, 80, 60])
             + expected_sizes(k=[2, 3, 2], p=[0.25] * 3, phi=[0.6, 0.6], g2={2: 0.3, 3: 0.1},
                              g1={2: 0.0, 3: 0.4}, marked=[50] * 3))
    if len(written) != len(sizes):
        failures.append(f"grouped plan: {len(written)} cohorts written, {len(sizes)} expected")
    for c, (w, e) in enumerate(zip(written, sizes), 1):
        if abs(w - e) > 0.5 + 1e-9:
            failures.append(f"grouped plan: cohort {c} has {w} animals, {e:.4f} expected")
    if "PROC MODEL NPAR=38 " not in run.stdout or "GROUPS = F M;" not in run.stdout:
        failures.append("grouped plan: PROC MODEL does not lay out the groups F and M")

# Survival with a trend and a covariate effect, per group: the phi of every
# interval is logit^-1(logit phi + B (i - 1) + E (x(i) - x(1))), computed
# here; the command file gives them as the generating values, the cohorts
# are those expected under them, the covariate is in PROC MODEL and every
# chosen model is followed by its linear variant, which the program fits.
def logistic(eta):
    return 1.0 / (1.0 + math.exp(-eta))


def logit(p):
    return math.log(p / (1.0 - p))


winter = [0.2, 0.8, 0.1, 0.5]
trend_plan = ["--secondary", "2,3,2,2", "--groups", "F,M", "--marked", "120/90", "--phi", "0.8/0.75,0.7,0.72",
              "--phi-trend", "-0.3/0.2", "--covariate", "winter=" + ",".join(map(str, winter)),
              "--phi-effect", "WINTER=0.6", "--p", "0.35", "--nsim", "3", "--submodels", "1,2"]
run = run_plan(trend_plan)
if run.returncode != 0:
    failures.append(f"trend plan: --plan failed: {run.stderr}")
else:
    generating = run.stdout.split("PROC SIMULATE NSIM=")[1].split("/* Competing")[0]
    values = {int(i): float(v) for i, v in re.findall(r"S\((\d+)\)=([0-9.]+);", generating)}
    sizes = []
    # Each group's block of 26: 14 capture and recapture parameters (2, 3, 2 and 2 occasions), then phi.
    for g, (base, b, first) in enumerate([([0.8] * 3, -0.3, 15), ([0.75, 0.7, 0.72], 0.2, 41)]):
        phi = [logistic(logit(base[i]) + b * i + 0.6 * (winter[i] - winter[0])) for i in range(3)]
        written = [values.get(first + i) for i in range(3)]
        if any(w is None or abs(w - e) > 5e-6 for w, e in zip(written, phi)):
            failures.append(f"trend plan: group {g + 1} phi written {written}, {phi} expected")
        sizes += expected_sizes(k=[2, 3, 2, 2], p=[0.35] * 4, phi=phi, g2={j: 0.0 for j in range(2, 5)},
                                g1={j: 0.0 for j in range(2, 5)}, marked=[[120] * 4, [90] * 4][g])
    written = [int(x) for x in re.findall(r"^ COHORT = (\d+)", run.stdout, re.M)]
    if len(written) != len(sizes) or any(abs(w - e) > 0.5 + 1e-9 for w, e in zip(written, sizes)):
        failures.append(f"trend plan: cohorts {written}, {[round(e, 2) for e in sizes]} expected")
    if "COVARIATE WINTER = 0.2 0.8 0.1 0.5;" not in run.stdout:
        failures.append("trend plan: no COVARIATE statement in PROC MODEL")
    structures = re.findall(r"^ STRUCTURE (.*);$", run.stdout, re.M)
    want = ["PHI(T) P(G*T) C(P) GAMMA(NONE)", "PHI(TREND+WINTER) P(G*T) C(P) GAMMA(NONE)",
            "PHI(G*T) P(G*T) C(P) GAMMA(NONE)", "PHI(G*TREND+G*WINTER) P(G*T) C(P) GAMMA(NONE)"]
    if structures != want:
        failures.append(f"trend plan: models {structures}, {want} expected")
    path = os.path.join(work, "trend.cmd")
    with open(path, "w") as f:
        f.write(run.stdout)
    sim = subprocess.run([program, f"i={path}", f"l={path}.lst", "notrace"], capture_output=True, text=True, cwd=work)
    listing = open(f"{path}.lst").read() if os.path.exists(f"{path}.lst") else ""
    if sim.returncode != 0 or listing.count(" PHI:G[M]:WINTER") < 3 or listing.count("\n@@") != 12:
        failures.append(f"trend plan: the plan did not run through PROC SIMULATE: {sim.stderr[-300:]}")

for args, option in [
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8,0.7,0.6", "--p", "0.4"], "--phi"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "1.4"], "--p"),
    (["--secondary", "2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--gamma1", "0.3"], "--gamma1"),
    (["--secondary", "2,2,2", "--phi", "0.8", "--p", "0.4"], "--marked"),
    (["--secondary", "2,2,2", "--marked", "50", "--p", "0.4"], "--phi"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--submodels", "99"], "--submodels"),
    (["--secondary", "2,2,2", "--marked", "50/40", "--phi", "0.8/0.7/0.6", "--p", "0.4"], "--phi"),
    (["--secondary", "2,2,2", "--groups", "F,M", "--marked", "50", "--phi", "0.8", "--p", "0.4/1.4"],
     "--p (group M)"),
    (["--secondary", "2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--phi-trend", "-0.3"], "--phi-trend"),
    (["--secondary", "2,2,2", "--groups", "F,M", "--marked", "50", "--phi", "0.8", "--p", "0.4",
      "--phi-trend", "-0.3/x"], "--phi-trend (group M)"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--covariate", "R=1,2,3"],
     "--covariate R"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--phi-effect", "R=1"], "--phi-effect R"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--covariate", "R=2,2,3",
      "--phi-effect", "R=1"], "--covariate R"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0.8", "--p", "0.4", "--phi-trend", "0.1",
      "--covariate", "R=2,4,3", "--phi-effect", "R=1"], "--phi-effect"),
    (["--secondary", "2,2,2", "--marked", "50", "--phi", "0,0.5", "--p", "0.4", "--phi-trend", "0.1"], "--phi"),
]:
    run = run_plan(args)
    if run.returncode != 1 or option not in run.stderr or run.stdout:
        failures.append(f"{' '.join(args)}: expected a fault naming {option}, got {run.returncode} {run.stderr!r}")

for f in failures:
    print(f)
print(f"{len(cases) + 2} plans checked against the expected cohort sizes, {len(failures)} faults")
sys.exit(1 if failures else 0)
