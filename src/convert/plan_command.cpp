// The command file of a planned study: the cohorts expected under the
// truth, PROC SIMULATE with the truth as its generating model, and the
// chosen models as its submodels.

#include <string>
#include <vector>

#include "convert/command.h"
#include "convert/command_writing.h"
#include "convert/plan.h"

namespace quorvale::convert {

using namespace writing;

namespace {

/// The survival of the truth with its terms, in words, for each group.
std::string survival_truth(const Design& d, const std::vector<Truth>& truths, const SurvivalTerms& terms) {
  std::string law = "Survival in the truth moves on the logit scale: logit phi(i) = logit phi(1)";
  if (terms.trend) law += " + B (i - 1)";
  for (const Covariate& c : terms.covariates) law += " + E(" + c.name + ") (" + c.name + "(i) - " + c.name + "(1))";
  law += " for interval i = 1.." + std::to_string(d.periods() - 1) + " (from period i to i+1";
  if (!terms.covariates.empty()) law += ", a covariate taking its value in period i";
  law += ")";
  for (int g = 1; g <= d.groups(); ++g) {
    const Truth& t = truths[static_cast<std::size_t>(g - 1)];
    law += ". ";
    if (d.named_groups()) law += "Group " + d.group_name(g) + ": ";
    std::vector<std::string> values;
    if (terms.trend) values.push_back("B = " + value_text(t.phi_trend));
    for (std::size_t c = 0; c < terms.covariates.size() && c < t.phi_effects.size(); ++c) {
      values.push_back("E(" + terms.covariates[c].name + ") = " + value_text(t.phi_effects[c]));
    }
    for (std::size_t k = 0; k < values.size(); ++k) law += (k == 0 ? "" : ", ") + values[k];
    law += ", so phi(1.." + std::to_string(d.periods() - 1) + ") =";
    for (std::size_t i = 0; i < t.phi.size(); ++i) law += (i == 0 ? " " : ", ") + value_text(t.phi[i]);
  }
  law += ". The models with survival linear on the logit scale estimate";
  if (terms.trend) {
    law += " B as PHI:TREND (TREND is the interval number, so PHI:1 is logit phi(1) - B";
    law += terms.covariates.empty() ? ")" : " less the effects at the first period)";
  }
  for (std::size_t c = 0; c < terms.covariates.size(); ++c) {
    const std::string& name = terms.covariates[c].name;
    law += (terms.trend || c > 0 ? (c + 1 == terms.covariates.size() ? " and " : ", ") : " ");
    law += "E(" + name + ") as PHI:" + name;
  }
  law += ". The COVERAGE block compares each coefficient with the projection of these values on its model's "
         "design, which is the truth itself for a model whose formula holds it.";
  return law;
}

}  // namespace

std::string plan_command_file(const Design& d, const std::vector<Truth>& truths, const PlanOptions& options) {
  const std::vector<Cohort> cohorts = expected_cohorts(d, truths);
  const std::vector<double> values = truth_values(d, truths);
  const int M = d.periods();
  std::string out;
  // The title names the occasions of every period while the line fits,
  // else only how many there are.
  std::string title = "PROC TITLE Planned study: " + std::to_string(M) + " periods of " + occasions_text(d) + " occasions;";
  if (title.size() > kLineWidth) {
    int occasions = 0;
    for (int ip = 1; ip <= M; ++ip) occasions += d.occasions(ip);
    title = "PROC TITLE Planned study: " + std::to_string(M) + " periods, " + std::to_string(occasions) +
            " secondary occasions in all;";
  }
  out += title + "\n";
  std::string who;
  const bool super = truths.front().marked.empty();
  if (!d.named_groups()) {
    const Truth& truth = truths.front();
    who = super ? "a super-population of " + value_text(truth.superpopulation) +
                      " animals present and available in period 1"
                : "newly marked animals per period";
    for (std::size_t i = 0; i < truth.marked.size(); ++i) who += (i == 0 ? " " : ", ") + value_text(truth.marked[i]);
  } else {
    who = super ? "a super-population of animals present and available in period 1,"
                : "newly marked animals per period,";
    for (int g = 1; g <= d.groups(); ++g) {
      const Truth& truth = truths[static_cast<std::size_t>(g - 1)];
      who += g == 1 ? " " : g == d.groups() ? " and " : ", ";
      if (super) {
        who += value_text(truth.superpopulation) + " in group " + d.group_name(g);
      } else {
        who += "in group " + d.group_name(g);
        for (std::size_t i = 0; i < truth.marked.size(); ++i) who += (i == 0 ? " " : ", ") + value_text(truth.marked[i]);
      }
    }
  }
  put_comment(out, "Written by quorvale-inp --plan for a study of " + std::to_string(M) + " primary periods of " +
                       occasions_text(d) + " secondary occasions and " + who +
                       ". The cohorts hold the numbers expected under the truth given (rounded to whole "
                       "animals): PROC SIMULATE takes the sizes of the open cohorts and of the last period's "
                       "first cohort from them.");
  put_model(out, d, cohorts, options.survival.covariates);
  put_comment(out, "The truth as the generating model: every value as INITIAL, theta and the values within 0.01 "
                   "of 0 or 1 fixed (an INITIAL value that close to a bound would be moved inside). COVERAGE "
                   "prints bias, RMSE and interval coverage after the summaries.");
  if (options.survival.any()) put_comment(out, survival_truth(d, truths, options.survival));
  out += "PROC SIMULATE NSIM=" + std::to_string(options.nsim) + " SEED=" + std::to_string(options.seed) +
         " COVERAGE NAME=TRUTH;\n";
  ParameterMap fixed(d.npar());
  std::vector<std::string> initial;
  for (int I = 1; I <= d.npar(); ++I) {
    const double v = values[static_cast<std::size_t>(I)];
    if (v < 0.01 || v > 0.99) {
      fixed.fix(I, v);
    } else {
      initial.push_back(S(I) + "=" + value_text(v) + ";");
    }
  }
  std::string constraints = constraint_block(fixed);
  out += constraints;
  put_items(out, " INITIAL;", initial);
  std::vector<LinearVariant> variants;
  if (options.survival.any()) {
    std::vector<std::string> omitted;
    variants = linear_variants(d, standard_models(d, omitted), options.submodels, options.survival, values,
                               options.survival.covariates.empty() ? "phi-trend" : "phi-effect");
  }
  put_models(out, d, options.submodels, false, variants);
  out += "PROC STOP;\n";
  return out;
}

}  // namespace quorvale::convert
