#pragma once
// What one fit of the model yields: the optimizer's outcome, the estimates
// with their standard errors and covariance, the goodness of fit cohort by
// cohort and the model criteria. The listing, the simulation's summaries and
// PROC TEST all read this value; nothing of it is passed through the store.

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "estimate/fit_codes.h"
#include "stats/interval.h"

namespace quorvale {

/// One parameter S(I) after the fit.
struct ParameterEstimate {
  int index = 0;          ///< I, 1..NPAR
  int group = 1;          ///< the group of animals whose block of parameters holds it (1 without groups)
  int slot = 0;           ///< POINT(I): the estimated slot, or -k when fixed at PAR(k)
  double estimate = 0.0;  ///< S(I) on the natural scale
  double se = 0.0;        ///< standard error; 0 when the parameter is fixed, NaN when not estimable
  /// False when the data hold no information on the parameter: its row of
  /// the information matrix is zero, or the inversion leaves its variance
  /// undetermined. Its estimate is then only the start value.
  bool estimable = true;
  double lower = 0.0;     ///< estimate - 1.96 se, as printed
  double upper = 0.0;     ///< estimate + 1.96 se, as printed
  double lower_bound = 0.0;  ///< the bound below it at the estimates
  double upper_bound = 1.0;  ///< the bound above it at the estimates
  int lower_by = 0;  ///< POINTL: slot of the parameter that bounds it from below; 0 for a constant bound
  int upper_by = 0;  ///< POINTU: slot of the parameter that bounds it from above; 0 for a constant bound
  std::string label;         ///< its label without trailing blanks
  /// An estimated parameter within 1e-6 of the bounds' range from one of them.
  bool on_bound = false;
  /// The 95% interval on the logit scale, mapped back: the estimate itself
  /// when fixed; none when the estimate is not strictly inside 0..1 or the
  /// standard error is not finite.
  std::optional<Interval> logit_ci;
  bool fixed() const { return slot < 1; }
};

/// One coefficient of a fit with linear forms on the logit scale.
struct CoefficientEstimate {
  std::string name;       ///< "PHI:G[M]", "PHI:WINTER", "P:S(3)"
  std::string part;       ///< the part it belongs to: PHI, P, C, GAMMA, GAMMA'', GAMMA', THETA
  double estimate = 0.0;  ///< on the logit scale
  double se = 0.0;        ///< NaN when the data hold no information on it
  bool estimable = true;  ///< false: the data hold no information on it
  Interval ci;            ///< estimate -+ 1.96 se; NaN when not estimable
};

/// One parameter of a part whose formula holds a covariate of the periods,
/// at the value the covariate takes for it.
struct CovariatePoint {
  int period = 0;      ///< the period whose value it reads: the interval's first period for survival
  int group = 1;       ///< the group of animals (1..groups); 0 when the point stands for every group
  double value = 0.0;  ///< the covariate's value in that period
  int parameter = 0;   ///< S(I), 1..NPAR: its fitted probability and interval are those of the parameter
};

/// The fitted probabilities of one part against one covariate its formula
/// holds: one point per estimated parameter of the part that has a
/// predictor of its own (a parameter whose predictor repeats that of one
/// before it in the same period and group is left out, as are the other
/// groups' when no group's predictor differs from the first group's).
struct CovariateEffect {
  std::string part;       ///< PHI, P, C, GAMMA, GAMMA'', GAMMA'
  std::string covariate;  ///< its name, as in the coefficients' names
  std::vector<CovariatePoint> points;  ///< by group, then period, then parameter
};

/// One cell of the goodness-of-fit table.
struct CellFit {
  int observed = 0;       ///< NOBS
  double expected = 0.0;  ///< NREL times the cell probability
  double chi = 0.0;       ///< Pearson term; 0 when the expected count is at or below 10^-NSIG
  bool outside = false;   ///< the cell probability lies outside 0..1
  bool impossible = false;  ///< animals in a cell whose probability is at or below 10^-NSIG
};

/// One cohort of the goodness-of-fit table with its pooled test.
struct CohortFit {
  int group = 1;  ///< the group of animals the cohort belongs to
  std::vector<CellFit> cells;
  int pooled_df = 0;         ///< degrees of freedom left after pooling
  double pooled_chi = 0.0;   ///< Pearson chi-square of the pooled cells
  double probability = 0.0;  ///< Pr(larger chi-square) of the pooled test
};

/// A chi-square statistic with its degrees of freedom and upper probability.
struct ChiSquareTest {
  double statistic = 0.0;
  int df = 0;
  double probability = 0.0;  ///< Pr(larger chi-square)
  bool error = false;        ///< the chi-square routine reported an error
};

/// The abundance of one primary period derived from a fit, for one group
/// of animals or for all groups together.
struct PeriodAbundance {
  int period = 0;
  int group = 1;            ///< the group of animals (1..groups); 0 for all groups together
  int caught = 0;           ///< n: animals caught at least once in the period
  double p_star = 0.0;      ///< probability of being caught at least once; NaN for all groups together
  double p_star_se = 0.0;   ///< its standard error by the delta method; NaN when not available
  double estimate = 0.0;    ///< N-hat = n / p*; NaN when unavailable
  double se = 0.0;          ///< NaN when not available
  Interval ci;              ///< log-normal 95% interval, never below n; NaN when N-hat is unavailable
  /// Why N-hat is unavailable (a p outside 0..1 or not estimable, p* not in
  /// (0, 1]); empty when it is available.
  std::string unavailable;
  /// The 95% interval of p* on the logit scale from its own standard error;
  /// none when p* is not strictly inside 0..1 or its standard error is not finite.
  std::optional<Interval> p_star_ci;
  bool available() const { return unavailable.empty(); }
};

/// The whole result of one fit.
struct FitReport {
  std::string name;       ///< the model's name as kept in the saved-model table (20 characters)
  std::string full_name;  ///< the name as typed, never cut
  int sequence = 0;  ///< its row in the saved-model table
  int npar = 0;      ///< NPAR
  int nest = 0;      ///< K: the parameters estimated (the coefficients, in a fit with linear forms)
  int slots = 0;     ///< NEST: the estimated slots, the order of the covariance below
  OptimizerCode optimizer = OptimizerCode::Converged;
  InversionCode inversion = InversionCode::Inverted;
  double function_value = 0.0;  ///< the minimised negative log-likelihood kernel
  int significant_digits = 0;
  int evaluations = 0;
  bool exact_gradient = false;  ///< GRADIENT=EXACT: gradients and information from exact derivatives
  std::vector<ParameterEstimate> parameters;  ///< S(1..NPAR), in order
  /// Packed lower triangle of the covariance of slots 1..NEST (meaningful
  /// only when the inversion succeeded).
  std::vector<double> covariance;
  /// Packed lower triangle of the correlation of slots 1..NEST, from the
  /// covariance: cov(a, b) / sqrt(var(a) var(b)), 0 unless both variances
  /// are positive (meaningful, as the covariance, only when the inversion
  /// succeeded).
  std::vector<double> correlation;
  /// The coefficients of a fit with linear forms, in the order of the
  /// design's columns; empty for a fit of the parameters themselves.
  std::vector<CoefficientEstimate> betas;
  /// Packed lower triangle of the coefficients' covariance (with `betas`).
  std::vector<double> beta_covariance;
  /// The design of the coefficients (with `betas`): row by estimated slot
  /// 1..slots, one column per coefficient; slot k's logit is row k times beta.
  std::vector<double> beta_design;
  /// Each part whose formula holds a covariate, against that covariate;
  /// empty for a fit without covariates in its formulas.
  std::vector<CovariateEffect> covariate_effects;
  std::vector<CohortFit> cohorts;  ///< cohorts 1..NCOHRT, in order
  ChiSquareTest G;                 ///< G against the saturated model; df = NDF
  ChiSquareTest pooled;            ///< pooled Pearson test; tested only when df > 0
  double lnL = 0.0;                ///< log-likelihood
  double aic = 0.0;                ///< Akaike information criterion
  double aicc = 0.0;               ///< AIC with the small-sample term for K estimated and n animals
  int sample_size = 0;             ///< n: the animals of all cohorts
  std::vector<std::string> warnings;  ///< texts of the warnings written for this fit
  /// Names of the model's groups of animals, in the order of their cohorts;
  /// empty for a model without groups.
  std::vector<std::string> groups;
  /// By primary period, group after group; empty off the robust-design layout.
  std::vector<PeriodAbundance> abundance;
  /// All groups together by primary period (group 0): the sum of the groups'
  /// N-hat; empty unless the model has two groups or more.
  std::vector<PeriodAbundance> total_abundance;
  bool show_derived = false;               ///< DERIVED given: the listing shows the abundance
  /// Cells holding animals whose probability at the estimates is at or
  /// below the likelihood's floor 10^-NSIG: the maximum found is not one of
  /// the true likelihood.
  int impossible_cells = 0;
  double cell_floor = 0.0;  ///< that floor, 10^-NSIG
  int cells_outside = 0;  ///< cells whose probability lies outside 0..1 by more than rounding
  /// Parameters (1-based) that enter the cells as probabilities (p, c, phi,
  /// gamma'', gamma') whose values lie outside 0..1, estimated or fixed.
  std::vector<int> parameters_outside;

  /// The fit rests on a possible point: no impossible cell, every cell and
  /// every probability within 0..1 and a finite log-likelihood not above 0.
  /// A fit that is not sound is ranked last, left out of averaging and of
  /// the model file.
  bool sound() const {
    return impossible_cells == 0 && cells_outside == 0 && parameters_outside.empty() && std::isfinite(lnL) &&
           lnL <= 0.0;
  }

  /// The name of group g (1..groups); empty for a model without groups (and for group 0, all of them).
  const std::string& group_name(int g) const {
    static const std::string none;
    return g >= 1 && static_cast<std::size_t>(g) <= groups.size() ? groups[static_cast<std::size_t>(g - 1)] : none;
  }
  /// Covariance of parameters i and j (1-based); 0 unless both are estimated.
  double parameter_covariance(int i, int j) const;
  /// Correlation of parameters i and j (1-based): that of their slots; 0 unless both are estimated.
  double parameter_correlation(int i, int j) const;
  /// The covariance and correlation of slots 1..K are both at hand.
  bool has_covariance() const {
    const std::size_t k = static_cast<std::size_t>(slots);
    return inversion == InversionCode::Inverted && covariance.size() >= k * (k + 1) / 2 &&
           correlation.size() >= k * (k + 1) / 2;
  }
};

}  // namespace quorvale
