#!/bin/sh
# Coverage of the 95% interval of a trend in survival: quorvale-inp --plan
# writes the bundled design (5 primary periods of 2, 2, 4, 5 and 2
# occasions), 300 animals newly marked per period, survival 0.8 in the first
# interval falling by 0.3 per interval on the logit scale, p = c 0.4 and no
# temporary emigration; PROC SIMULATE refits survival by interval (model 4,
# NO-EMIG PHI(T)P(T)) and its linear variant PHI(TREND) P(T) C(P)
# GAMMA(NONE) to each replicate. Prints, from the JSON results, each
# coefficient of the survival formula (mean estimate, bias, RMSE, mean SE
# against the SD of the estimates, coverage of estimate -+ 1.96 SE against
# its true value) and the logit-scale coverage of every phi of model 4.
# Usage: tools/trend-coverage-study.sh [BUILD_DIR] [REPLICATES] [THREADS]
#        (default build/release, 200, 2)
set -eu
build=${1:-build/release}
nsim=${2:-200}
threads=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
"$build/quorvale-inp" --plan --secondary 2,2,4,5,2 --marked 300 --phi 0.8 --phi-trend -0.3 --p 0.4 \
  --nsim "$nsim" --seed 2029 --submodels 4 > "$work/plan.cmd"
grep -q 'STRUCTURE PHI(TREND) P(T) C(P) GAMMA(NONE);' "$work/plan.cmd" || { echo "no PHI(TREND) submodel"; exit 1; }
start=$(date +%s)
(cd "$work" && "$OLDPWD/$build/quorvale" i=plan.cmd l=plan.lst json=plan.json notrace threads="$threads" 2>/dev/null)
echo "$nsim replicates in $(( $(date +%s) - start )) s"
python3 - "$work/plan.json" <<'PY'
import json, sys
sim = json.load(open(sys.argv[1]))["simulations"][0]
for n, name in enumerate(sim["submodels"]):
    block = sim["coverage"][n]
    print(f"submodel {name}: {block['converged']} converged fits, {block['not_converged']} not converged")
    for row in block.get("coefficients", []):
        if not row["name"].startswith("PHI:"):
            continue
        print(f"  {row['name']}: true {row['true_value']:+.4f} mean {row['mean']:+.4f} bias {row['bias']:+.4f} "
              f"RMSE {row['rmse']:.4f} mean SE {row['mean_se']:.4f} SD {row['empirical_sd']:.4f} "
              f"coverage {100 * row['coverage']:.1f}%")
    if "coefficients" not in block:
        for row in block["parameters"]:
            label = sim["labels"][row["index"] - 1]
            if label.startswith("phi"):
                print(f"  S({row['index']}) {label}: generating {row['generating']:.4f} bias {row['bias']:+.4f} "
                      f"coverage logit {100 * row['coverage_logit']:.1f}% as printed {100 * row['coverage_wald']:.1f}%")
PY
