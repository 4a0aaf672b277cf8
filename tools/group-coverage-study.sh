#!/bin/sh
# Coverage of the 95% intervals of survival and abundance in a study of two
# groups of animals with survival by group: quorvale-inp --plan writes 4
# primary periods of 3 occasions, 500 (group F) and 400 (group M) animals
# newly marked per period, phi 0.8 and 0.6, p = c 0.4 and no temporary
# emigration; PROC SIMULATE refits the true model (no emigration, survival
# and capture by group and period) to 200 replicates. Prints, for every phi,
# the coverage of the logit-scale interval and of the interval as printed,
# and for every N-hat its bias, RMSE, mean SE and the coverage of its
# log-normal interval, from the JSON results.
# Usage: tools/group-coverage-study.sh [BUILD_DIR] [REPLICATES] [THREADS]
#        (default build/release, 200, 2)
set -eu
build=${1:-build/release}
nsim=${2:-200}
threads=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
"$build/quorvale-inp" --plan --secondary 3,3,3,3 --groups F,M --marked 500/400 --phi 0.8/0.6 --p 0.4 \
  --nsim "$nsim" --seed 2027 --submodels 2 > "$work/plan.cmd"
grep -q 'STRUCTURE PHI(G\*T) P(G\*T) C(P) GAMMA(NONE);' "$work/plan.cmd" || { echo "model 2 is not the true model"; exit 1; }
start=$(date +%s)
(cd "$work" && "$OLDPWD/$build/quorvale" i=plan.cmd l=plan.lst json=plan.json notrace threads="$threads" 2>/dev/null)
echo "$nsim replicates in $(( $(date +%s) - start )) s"
python3 - "$work/plan.json" <<'PY'
import json, sys
sim = json.load(open(sys.argv[1]))["simulations"][0]
block = sim["coverage"][0]
groups = sim["group_names"]
print(f"submodel {sim['submodels'][0]}: {block['converged']} converged fits, {block['not_converged']} not converged")
for row in block["parameters"]:
    label = sim["labels"][row["index"] - 1]
    if label.startswith("phi"):
        print(f"S({row['index']}) {label}: generating {row['generating']:.4f} bias {row['bias']:+.4f} "
              f"RMSE {row['rmse']:.4f} mean SE {row['mean_se']:.4f} "
              f"coverage logit {100 * row['coverage_logit']:.1f}% as printed {100 * row['coverage_wald']:.1f}%")
for row in block["abundance"]:
    print(f"N-hat group {groups[row['group'] - 1]} period {row['period']}: true N {row['true_n']:.1f} "
          f"bias {row['bias']:+.2f} ({100 * row['relative_bias']:+.2f}%) RMSE {row['rmse']:.2f} "
          f"mean SE {row['mean_se']:.2f} over {row['fits']} fits, coverage {100 * row['coverage']:.1f}%")
PY
