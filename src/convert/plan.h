#pragma once
// Planning a study without data: the expected cohorts of a robust design
// under a chosen truth, from which quorvale-inp --plan writes a command file
// whose PROC SIMULATE draws replicates of that study.

#include <string>
#include <vector>

#include "convert/design.h"
#include "convert/templates.h"
#include "model/linear_form.h"

namespace quorvale::convert {

/// The truth of one group of animals a planned study is simulated from.
/// Lists are by period, index 0 first.
struct Truth {
  std::vector<double> marked;  ///< animals newly marked in periods 1..M (empty with a super-population)
  double superpopulation = 0;  ///< animals present and available in period 1, none entering later
  std::vector<double> phi;     ///< survival from period i to i + 1, i = 1..M-1
  std::vector<double> gamma2;  ///< gamma'' of periods 2..M
  std::vector<double> gamma1;  ///< gamma' of periods 3..M
  std::vector<double> p;       ///< capture probability of periods 1..M (every occasion)
  std::vector<double> c;       ///< recapture probability of periods 1..M
  double phi_trend = 0.0;      ///< change of logit phi per interval (survival_terms)
  std::vector<double> phi_effects;  ///< effect on logit phi of each covariate of the plan, in their order
};

/// What moves survival on the logit scale in a planned study: a trend over
/// the intervals and covariates of the periods, each with its effect.
struct SurvivalTerms {
  bool trend = false;                 ///< --phi-trend was given
  std::vector<Covariate> covariates;  ///< --covariate, in the order given; each has an effect (--phi-effect)
  /// True when survival has terms: the plan then adds the linear models.
  bool any() const { return trend || !covariates.empty(); }
  /// The formula of those terms, such as "TREND+WINTER"; with `by_group`
  /// each term crossed with the group ("G*TREND+G*WINTER").
  std::string formula(bool by_group) const;
};

/// Survival of intervals i = 1..M-1 of one group with a trend and covariate
/// effects: logit phi(i) = logit base(i) + trend (i - 1) + sum over the
/// covariates of effect (x(i) - x(1)), x(i) the covariate's value in period
/// i, the first of the interval. So interval 1 keeps the survival given,
/// and the others move from it. Each value is kept to six significant
/// digits, as the command file writes it. `base` must lie inside 0..1.
std::vector<double> survival_with_terms(const std::vector<double>& base, double trend,
                                        const std::vector<Covariate>& covariates, const std::vector<double>& effects);

/// A submodel a plan adds when survival has terms: one of the chosen model
/// templates with its survival written as the terms' formula (PHI(TREND),
/// PHI(G*WINTER)), so that PROC SIMULATE's coverage block shows the
/// coefficients of the trend and effects.
struct LinearVariant {
  int of = 0;                      ///< the number of the model template it follows
  std::string structure;           ///< the words of its STRUCTURE statement
  /// Equalities its structure does not make itself, "S(a)=S(b);" each: the
  /// last period's gamma's that the model with survival by interval ties,
  /// so that the variant is that model with survival restricted to the
  /// formula (and nested in it).
  std::vector<std::string> equalities;
  /// Its start, "S(I)=v;" each: the truth of each parameter it estimates
  /// whose value lies within 0.01 and 0.99. A fit over coefficients
  /// started at 0.5 for every probability can stop short of the maximum
  /// with Markovian temporary emigration (a local maximum with survival
  /// near 1, or no convergence), more often than from the truth.
  std::vector<std::string> starts;
  std::vector<std::string> name;   ///< the words of its NAME
  std::string description;         ///< what it is, as a sentence without its full stop
};

/// The linear variants of the model templates `models` numbered in
/// `chosen` (all when empty), starting from the values `truth` (S(I) at I,
/// index 0 unused), in their order, each once: a template
/// differing from an earlier one only in survival (PHI(.) or PHI(T)) gives
/// the same variant. Survival shared by the groups gets the formula of
/// `terms`, survival by group the formula crossed with G. A variant is
/// written only when the template with survival by interval is
/// identifiable; one whose formula the design cannot carry (a trend over
/// one interval, a covariate constant over the intervals, terms that repeat
/// each other) throws ConvertError (line 0) naming `option`.
std::vector<LinearVariant> linear_variants(const Design& design, const std::vector<ModelTemplate>& models,
                                           const std::vector<int>& chosen, const SurvivalTerms& terms,
                                           const std::vector<double>& truth, const std::string& option);

// The truths are one per group of the design, group 1 first.

/// The values S(1..NPAR) of the truths under the design's numbering (theta 1).
std::vector<double> truth_values(const Design& design, const std::vector<Truth>& truths);

/// The expected cohorts of the study under the truths, in the likelihood's
/// order, sizes and cells rounded to whole animals: for every group,
/// first-caught cohorts of the newly marked, cohorts of animals released
/// after period jp - 1 and next caught in ip, and the open cohorts of every
/// release. Every animal caught is released again.
std::vector<Cohort> expected_cohorts(const Design& design, const std::vector<Truth>& truths);

/// The same sizes unrounded, in cohort order: for every group its closed
/// cohorts (ip, jp) in order, then its open cohorts i = 1..M-1.
std::vector<double> expected_sizes(const Design& design, const std::vector<Truth>& truths);

}  // namespace quorvale::convert
