#!/bin/sh
# The exact gradient against difference gradients on this machine, each
# command file run as it is and with the parameter word gradient=exact:
#  (a) four fits (bench/gradient_designs.h, the fits bench/gradient_bench.cpp
#      times): 10 and 20 primary periods of 5 occasions, counts expected under
#      a model with temporary emigration, under the full structure PHI(T)
#      P(T*O) C(P) GAMMA(MARKOV,T) and the reduced PHI(.) P(T) C(P)
#      GAMMA(RANDOM,.). For each: user seconds of the whole run (the least of
#      REPEATS runs), the evaluations and final function value of the fit, the
#      speed-up, and whether the exact fit reaches the same optimum as the
#      default one (log-likelihood within 1e-6 relative, every estimate within
#      1e-4), from the json= results.
#  (b) the bundled example's 12 models as submodels of one PROC SIMULATE
#      NSIM ... COVERAGE on one thread, drawn from model 12's structure:
#      replicates per user second, and whether the COVERAGE block (its first
#      heading to the end of its tables) reads the same in both listings; a
#      diff of the block when it does not.
#  (c) a planning study of the 10 x 5 design, four submodels, NSIM=PLAN_NSIM
#      (environment, default 100): replicates per user second and, from the
#      COVERAGE block, each submodel's fits that converged and were inverted.
# The command files are written by bench/gradient_designs_main.cpp, compiled
# here against the core library built beside PROGRAM. Exits 1 when an exact
# fit misses the default fit's optimum, a fit rests on an impossible point or
# a run fails.
# Usage: tools/exact-gradient-speed.sh [PROGRAM] [NSIM] [REPEATS]
#        (default build/release/quorvale, 500, 5); DIFF_LINES=N prints N lines of the diff (200)
set -eu
program=${1:-build/release/quorvale}
nsim=${2:-500}
repeats=${3:-5}
plan_nsim=${PLAN_NSIM:-100}
src=$(cd "$(dirname "$0")/.." && pwd)
case $program in
  /*) ;;
  *) program=$PWD/$program ;;
esac
test -x "$program" || { echo "no program $program (make build first)" >&2; exit 2; }
lib=$(dirname "$program")/libquorvale_core.a
test -f "$lib" || { echo "no core library $lib beside the program" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
${CXX:-g++} -std=c++20 -O2 -DNDEBUG -I"$src/src" -I"$src/bench" "$src/bench/gradient_designs_main.cpp" "$lib" \
  -pthread -o "$work/designs"
for periods in 10 20; do
  for structure in full reduced; do
    "$work/designs" fit "$periods" 5 "$structure" > "$work/fit-$periods-$structure.cmd"
  done
done
"$work/designs" simulate "$src/examples/robust-example.cmd" "$nsim" > "$work/simulate.cmd"
# A planning study of the 10 x 5 design: its model drawn from the full
# structure at 0.5, refitted under the full, the reduced and two other structures.
{
  sed '/^PROC ESTIMATE/,$d' "$work/fit-10-full.cmd"
  echo "PROC SIMULATE NSIM=$plan_nsim SEED=11 COVERAGE MAXFN=100000;"
  echo " STRUCTURE PHI(T) P(T*O) C(P) GAMMA(MARKOV,T);"
  n=0
  for st in "PHI(T) P(T*O) C(P) GAMMA(MARKOV,T)" "PHI(.) P(T) C(P) GAMMA(RANDOM,.)" \
            "PHI(T) P(T) C(P) GAMMA(MARKOV,.)" "PHI(.) P(T*O) C(P) GAMMA(RANDOM,T)"; do
    n=$((n + 1))
    echo "PROC ESTIMATE MAXFN=100000 NAME=M$n;"
    echo " STRUCTURE $st;"
  done
  echo "PROC STOP;"
} > "$work/plan.cmd"
python3 - "$program" "$work" "$repeats" "$nsim" "$plan_nsim" <<'PY'
import difflib, json, os, re, resource, subprocess, sys

program, work, repeats, nsim = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
plan_nsim = int(sys.argv[5])
GRADIENTS = ("difference", "exact")
limit = int(os.environ.get("DIFF_LINES", "200"))
MARK = "Gradient and information from exact derivatives"
failed = False


def user_seconds():
    return resource.getrusage(resource.RUSAGE_CHILDREN).ru_utime


def run(name, gradient, words):
    """One run of PROGRAM on NAME.cmd; its user seconds and listing."""
    stem = f"{name}.{gradient}"
    before = user_seconds()
    done = subprocess.run([program, f"i={name}.cmd", f"l={stem}.lst", "notrace", f"gradient={gradient}"] + words,
                          cwd=work, capture_output=True, text=True)
    seconds = user_seconds() - before
    if done.returncode != 0:
        sys.exit(f"{stem}: exit status {done.returncode}\n{done.stderr}")
    with open(os.path.join(work, stem + ".lst"), encoding="latin-1") as f:
        return seconds, f.read()


print(f"Program {program}; user seconds of whole runs, the least of {repeats} each\n")
print(f"{'fit':<16} {'gradient':<10} {'user s':>8} {'evals':>6} {'final function value':>22} {'code':>4}")
for periods in (10, 20):
    for structure in ("full", "reduced"):
        name = f"fit-{periods}-{structure}"
        seconds = {g: float("inf") for g in GRADIENTS}
        fit = {}
        for _ in range(repeats):
            for g in GRADIENTS:  # side by side, so that both see the same load
                s, listing = run(name, g, [f"json={name}.{g}.json"])
                seconds[g] = min(seconds[g], s)
                if (MARK in listing) != (g == "exact"):
                    sys.exit(f"{name}.{g}: the listing does not say which gradient the fit took")
        for g in GRADIENTS:
            with open(os.path.join(work, f"{name}.{g}.json")) as f:
                fit[g] = json.load(f)["fits"][0]
            x = fit[g]
            label = f"{periods}x5 {structure}" if g == "difference" else ""
            print(f"{label:<16} {g:<10} {seconds[g]:8.3f} {x['evaluations']:6d} {x['function_value']:22.10f} "
                  f"{x['optimizer_code']:4d}")
            if x["impossible_cells"] != 0 or not x["sound"]:
                print(f"  {g}: the fit rests on an impossible point ({x['impossible_cells']} cells)")
                failed = True
        a, b = fit["difference"], fit["exact"]
        lnl = abs(a["lnl"] - b["lnl"]) / abs(a["lnl"])
        # A null (not finite) estimate matches only a null one.
        estimate = max((abs(p["estimate"] - q["estimate"]) if p["estimate"] is not None and q["estimate"] is not None
                        else 0.0 if p["estimate"] is q["estimate"] else float("inf"))
                       for p, q in zip(a["parameters"], b["parameters"]))
        se = max((abs(p["se"] - q["se"]) / p["se"] for p, q in zip(a["parameters"], b["parameters"])
                  if not p["fixed"] and p["se"] and q["se"]), default=0.0)
        same = lnl <= 1e-6 and estimate <= 1e-4 and len(a["parameters"]) == len(b["parameters"])
        failed = failed or not same
        speedup = seconds["difference"] / seconds["exact"] if seconds["exact"] > 0 else float("inf")
        print(f"{'':<16} speed-up {speedup:.2f}x; lnL {a['lnl']:.6f} against {b['lnl']:.6f} "
              f"(relative difference {lnl:.1e}), largest estimate difference {estimate:.1e}, "
              f"largest relative SE difference {se:.1e}: {'same optimum' if same else 'DIFFERENT OPTIMUM'}")


def coverage_block(listing):
    """The COVERAGE block: from its first heading to the end of its tables."""
    lines = listing.splitlines()
    first = next((i for i, line in enumerate(lines) if "B I A S   A N D   C O V E R A G E" in line), None)
    if first is None:
        return None
    end = next((i for i in range(first, len(lines)) if "Over the converged fits only" in lines[i]), len(lines))
    while end > first and not lines[end - 1].strip():
        end -= 1
    return lines[first:end]


def submodels(block):
    """The block by submodel: its name, its converged fits and its lines."""
    out = []
    for line in block:
        if "B I A S   A N D   C O V E R A G E" in line:
            out.append(["?", "?", []])
        match = re.search(r"MODEL (.*?) +NSIM = *\d+ +Converged = *(\d+)", line)
        if match:
            out[-1][0], out[-1][1] = match.group(1), match.group(2)
        out[-1][2].append(line)
    return out


def last_digits(p, q):
    """By how many units of its last printed digit a figure of line p differs
    at most from the same figure of line q, and whether anything else differs
    (a count, a NaN, a word)."""
    x, y = p.split(), q.split()
    units, other = 0, len(x) != len(y)
    for u, v in zip(x, y):
        decimals = len(u.partition(".")[2])
        if u == v:
            continue
        if decimals == 0 or decimals != len(v.partition(".")[2]):
            other = True  # a count or a word, not a rounded figure
            continue
        try:
            units = max(units, round(abs(float(u) - float(v)) * 10**decimals))
        except ValueError:
            other = True
    return units, other

print(f"\nSimulation: the bundled example's 12 models, NSIM={nsim}, COVERAGE, threads=1")
blocks = {}
for g in GRADIENTS:
    s, listing = run("simulate", g, ["threads=1"])
    blocks[g] = coverage_block(listing)
    print(f"  {g:<10} {s:8.2f} user s  {nsim / s:8.1f} replicates per second")
    if blocks[g] is None:
        sys.exit(f"simulate.{g}: no COVERAGE block in the listing")
a, b = blocks["difference"], blocks["exact"]
if a == b:
    print(f"  COVERAGE block ({len(a)} lines): identical to its printed precision")
else:
    print(f"  COVERAGE block ({len(a)} and {len(b)} lines): not identical; by submodel, its converged fits and how "
          f"the lines of its figures differ")
    A, B = submodels(a), submodels(b)
    for (name, p_converged, p_lines), (_, q_converged, q_lines) in zip(A, B):
        pairs = [(p, q) for p, q in zip(p_lines, q_lines) if p != q]
        if not pairs and len(p_lines) == len(q_lines):
            verdict = "identical"
        elif p_converged != q_converged:
            verdict = f"{len(pairs)} lines differ (other fits converged)"
        else:
            found = [last_digits(p, q) for p, q in pairs]
            verdict = f"{len(pairs)} lines differ, figures by {max(u for u, _ in found)} in the last printed digit at most"
            if any(other for _, other in found):
                verdict += ", and counts or NaN too"
        print(f"    {name:<22} converged {p_converged:>5} and {q_converged:>5}: {verdict}")
    # Line against line within a submodel whose lines match in number, else a diff of its lines.
    changes = []
    for (name, _, p_lines), (_, _, q_lines) in zip(A, B):
        if len(p_lines) == len(q_lines):
            for p, q in zip(p_lines, q_lines):
                if p != q:
                    changes += ["- " + p, "+ " + q]
        else:
            changes += [line for line in difflib.unified_diff(p_lines, q_lines, lineterm="", n=0)
                        if not line.startswith(("---", "+++", "@@"))]
    print(f"  The lines that differ (- difference, + exact), {min(len(changes), limit)} of {len(changes)} "
          f"(DIFF_LINES=N shows N):")
    for line in changes[:limit]:
        print("  " + line)

print(f"\nPlanning study: 10 periods x 5, four submodels, NSIM={plan_nsim}, COVERAGE, threads=1")
for g in GRADIENTS:
    s, listing = run("plan", g, ["threads=1"])
    block = coverage_block(listing) or []
    converged = re.findall(r"MODEL (\S+) +NSIM = +\d+ +Converged = +(\d+)", "\n".join(block))
    print(f"  {g:<10} {s:8.2f} user s  {plan_nsim / s:8.1f} replicates per second; converged: "
          + ", ".join(f"{name} {count}" for name, count in converged) + " converged and inverted")
sys.exit(1 if failed else 0)
PY
