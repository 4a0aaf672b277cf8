#!/bin/sh
# Coverage of the 95% intervals for survival on a well-identified design:
# quorvale-inp --plan writes a study of 4 primary periods of 3 occasions,
# 300 animals newly marked per period, phi 0.75, p = c 0.4 and no temporary
# emigration; PROC SIMULATE refits the true model (no emigration, survival
# and capture by period) to 1,000 replicates. Prints, for every phi, the
# coverage of the logit-scale interval and of the interval as printed, with
# bias, RMSE, empirical SD, mean and median SE from the JSON results.
# Usage: tools/coverage-study.sh [BUILD_DIR] [REPLICATES]   (default build/release, 1000)
set -eu
build=${1:-build/release}
nsim=${2:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
"$build/quorvale-inp" --plan --secondary 3,3,3,3 --marked 300 --phi 0.75 --p 0.4 \
  --nsim "$nsim" --seed 2027 --submodels 4 > "$work/plan.cmd"
grep -q 'PROC ESTIMATE NAME=NO-EMIG PHI(T)P(T);' "$work/plan.cmd" || { echo "model 4 is not the true model"; exit 1; }
start=$(date +%s)
(cd "$work" && "$OLDPWD/$build/quorvale" i=plan.cmd l=plan.lst json=plan.json notrace 2>/dev/null)
echo "$nsim replicates in $(( $(date +%s) - start )) s"
python3 - "$work/plan.json" <<'PY'
import json, sys
sim = json.load(open(sys.argv[1]))["simulations"][0]
block = sim["coverage"][0]
print(f"submodel {sim['submodels'][0]}: {block['converged']} converged fits, {block['not_converged']} not converged")
for row in block["parameters"]:
    label = sim["labels"][row["index"] - 1]
    if label.startswith("phi"):
        print(f"S({row['index']}) {label.split()[0]}: generating {row['generating']:.4f} bias {row['bias']:+.4f} "
              f"RMSE {row['rmse']:.4f} emp. SD {row['empirical_sd']:.4f} mean SE {row['mean_se']:.4f} "
              f"median SE {row['median_se']:.4f} SE>10SD {row['se_over_10_sd']} "
              f"coverage logit {100 * row['coverage_logit']:.1f}% as printed {100 * row['coverage_wald']:.1f}%")
PY
