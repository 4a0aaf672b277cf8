#pragma once
// What PROC SIMULATE yields, as values: every refit kept, the sums and
// rejection counts over the replicates, and the summaries computed from them
// once the last replicate is in (means and standard errors, the planning
// figures, the spread of the estimates). The listing's summaries and the
// result files render these.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "estimate/fit_codes.h"

namespace quorvale {

/// The test levels 0.01, 0.05, 0.10, 0.5 and 1.0 as single-precision values,
/// widened: the goodness-of-fit tables use the first four, the
/// likelihood-ratio tables all five.
inline constexpr std::array<double, 5> kTestLevels = {
    static_cast<double>(0.01F), static_cast<double>(0.05F), static_cast<double>(0.10F),
    static_cast<double>(0.5F), static_cast<double>(1.0F)};

/// Mean, standard error of the mean and 95% interval of c values from their
/// sum and sum of squares.
struct MeanRow {
  double mean = 0.0;
  double se = 0.0;
  double lower = 0.0;
  double upper = 0.0;
};

/// The abundance N-hat of one period of one group of animals as a refit
/// derives it, beside the animals the replicate put in that period.
struct ReplicateAbundance {
  int group = 1;
  int period = 0;
  int caught = 0;         ///< n: the animals of the period's closed-part cohorts, caught there at least once
  double estimate = 0.0;  ///< N-hat; NaN when the fit gives none
  double se = 0.0;        ///< its standard error; NaN when not available
  double lower = 0.0;     ///< its log-normal 95% interval
  double upper = 0.0;
};

/// The generating model's probability that an animal present in a period is
/// caught there at least once, p* = 1 - prod_t (1 - p(t)), by group.
struct PeriodCatch {
  int group = 1;
  int period = 0;
  double p_star = 0.0;
};

/// One coefficient on the logit scale of a refit of a submodel with linear
/// forms, as the fit reports it.
struct ReplicateCoefficient {
  double estimate = 0.0;  ///< on the logit scale
  double se = 0.0;        ///< its standard error; NaN when the data hold no information on it
  double lower = 0.0;     ///< the 95% interval estimate -+ 1.96 se; NaN without se
  double upper = 0.0;
  bool covers = false;    ///< the interval holds the coefficient's true value
};

/// One coefficient of a submodel with linear forms and its true value.
///
/// The true value is the projection of the generating model's values on the
/// submodel's design: for each estimated slot the generating value of its
/// lowest parameter, then the least-squares coefficients of those values on
/// the logit scale (each kept 0.001 inside 0..1), as the fit finds its start.
/// When the generating values lie within what the submodel can hold (a
/// survival whose logit changes by the same amount every interval, for
/// PHI(TREND)), the projection is exact: the coefficients that give them.
struct CoefficientTruth {
  std::string name;    ///< "PHI:TREND", "P:S(4)"
  std::string part;    ///< the part it belongs to: PHI, P, C, GAMMA, GAMMA'', GAMMA', THETA, S
  double value = 0.0;  ///< the true value, on the logit scale
};

/// What the refits of one submodel add up of one of its coefficients, fit
/// by fit (simulate/totals.h).
struct CoefficientSums {
  double sum = 0.0;     ///< of the estimates of the fits in the summaries (as SUMS)
  double sum2 = 0.0;    ///< of their squares
  double sumse = 0.0;   ///< of their standard errors
  double sumse2 = 0.0;  ///< of their squares
  std::vector<double> estimates;  ///< of the converged fits, in fit order
  std::vector<double> errors;     ///< their standard errors
  int covered = 0;                ///< converged fits whose 95% interval holds the true value
};

/// The summaries of one coefficient of one submodel with linear forms: its
/// mean and standard error over the fits in the summaries, and its planning
/// figures over the converged fits, as for the parameters.
struct CoefficientSummary {
  MeanRow estimate_mean;      ///< of the estimates; set when a fit is in the summaries
  MeanRow error_mean;         ///< of their standard errors
  bool planned = false;       ///< the figures below are set: one converged fit or more
  double truth = 0.0;         ///< the true value (CoefficientTruth)
  double mean = 0.0;          ///< mean estimate of the converged fits, as truth + bias
  double bias = 0.0;          ///< mean estimate - true value
  double rmse = 0.0;          ///< root mean squared error about the true value
  double empirical_sd = 0.0;  ///< standard deviation of the estimates (divisor c - 1; 0 for one fit)
  double mean_se = 0.0;       ///< mean of the estimated standard errors
  double median_se = 0.0;     ///< their median; NaN when one of them is NaN
  int wide_se = 0;            ///< fits whose SE exceeds 10 times the empirical SD (0 for one fit)
  double coverage = 0.0;      ///< share of the fits whose 95% interval holds the true value
};

/// One refit of one submodel to one replicate.
struct ReplicateFit {
  int replicate = 0;
  int submodel = 0;
  OptimizerCode optimizer = OptimizerCode::Converged;
  InversionCode inversion = InversionCode::Inverted;
  bool included = true;  ///< false when ERROR TEST left the fit out of the summaries
  double lnL = 0.0;
  double aic = 0.0;
  int ndf = 0;                    ///< degrees of freedom of G; -1 when left out
  double gof_p = 0.0;             ///< probability of a larger G
  std::vector<double> estimates;  ///< S(1..NPAR)
  std::vector<double> errors;     ///< their standard errors
  /// Whether the 95% interval as printed (estimate -+ 1.96 SE) holds the generating value, by parameter.
  std::vector<bool> wald_covers;
  /// Whether the logit-scale interval holds it; false where that interval is not defined.
  std::vector<bool> logit_covers;
  std::vector<ReplicateAbundance> abundance;  ///< N-hat by group and period, in that order
  /// The coefficients of a submodel with linear forms, in the order of its
  /// design's columns; empty for a submodel without them.
  std::vector<ReplicateCoefficient> coefficients;
  /// Whether the fit converged and its information matrix was inverted.
  bool converged() const { return optimizer == OptimizerCode::Converged && inversion == InversionCode::Inverted; }
};

/// The planning figures of one parameter of one submodel over the converged
/// fits (optimizer and inversion codes 0), whatever ERROR TEST says.
struct CoverageRow {
  int index = 0;              ///< I
  double generating = 0.0;    ///< the generating value
  double bias = 0.0;          ///< mean estimate - generating value
  /// The mean estimate as the generating value plus the bias, so that it and
  /// the generating value, shown side by side, differ by the bias shown.
  double mean = 0.0;
  double relative_bias = 0.0; ///< bias / generating value; NaN when that is 0
  double rmse = 0.0;          ///< root mean squared error about the generating value
  double empirical_sd = 0.0;  ///< standard deviation of the estimates (divisor c - 1; 0 for one fit)
  double mean_se = 0.0;       ///< mean of the estimated standard errors
  double median_se = 0.0;     ///< their median; NaN when one of them is NaN
  int wide_se = 0;            ///< fits whose SE exceeds 10 times the empirical SD (0 for one fit)
  double wald = 0.0;          ///< share of fits whose interval as printed holds the generating value
  double logit = 0.0;         ///< the same for the logit-scale interval
};

/// The planning figures of N-hat of one period of one group of animals for
/// one submodel, over its converged fits that give an N-hat.
///
/// The true N of a period in a replicate is the n animals the replicate puts
/// there (those caught at least once: the sizes of the period's closed-part
/// cohorts) and the animals present but missed on every occasion. The draw
/// gives n (the design's releases fix it, but in the last period, where it
/// draws the recaptures); of the animals present each is caught with the
/// generating p*, so, given n catches, the missed ones are the failures
/// before the n-th success (negative binomial), with mean
/// n (1 - p*) / p* and variance n (1 - p*) / p*^2. Against a truth of n / p*
/// alone the interval, which also allows for that binomial sampling of n,
/// would cover more often than it says; with the missed animals it covers as
/// in a study of a fixed N. The figures take the expectation over the missed
/// animals exactly rather than drawing them, so that the draws of the
/// replicates stay as they are.
struct AbundanceCoverageRow {
  int group = 1;
  int period = 0;
  int fits = 0;               ///< converged fits with an N-hat: those the figures are over
  double true_n = 0.0;        ///< mean over them of the expected true N, n / p*
  double bias = 0.0;          ///< mean N-hat - true_n
  double relative_bias = 0.0; ///< bias / true_n; NaN when that is 0
  /// Root of the mean of E (N-hat - N)^2 = (N-hat - n / p*)^2 + n (1 - p*) / p*^2.
  double rmse = 0.0;
  double mean_se = 0.0;       ///< mean of the estimated standard errors
  /// Mean over the fits of the probability that the log-normal 95% interval holds N.
  double coverage = 0.0;
};

/// How the estimates of one parameter spread over the replicates of one submodel.
struct ReplicateSpread {
  int index = 0;            ///< S(index)
  double generating = 0.0;  ///< the generating value
  int count = 0;            ///< replicate fits counted (the converged ones)
  double mean = 0.0;        ///< mean of the estimates
  double low = 0.0;         ///< 2.5% quantile of the estimates
  double high = 0.0;        ///< 97.5% quantile
};

/// What identifies the study a PROC SIMULATE belongs to: the shards of one
/// run agree in all of it, so that a merge can tell shards of another study.
struct StudyIdentity {
  std::string data;        ///< the data PROC MODEL read (data_identity)
  std::string commands;    ///< digest of the command input (text_digest)
  std::string parameters;  ///< the parameter words but shard=, blank-separated
  std::vector<int> generating_map;              ///< POINT(1..NPAR) of the generating model
  std::vector<std::vector<int>> submodel_maps;  ///< POINT(1..NPAR) of submodels 1..NSUB
};

/// What PROC SIMULATE accumulated, by parameter I (1..NPAR) and submodel n
/// (1..NSUB), and by pair k of submodels (1..NSUB(NSUB-1)/2), with the
/// summaries of it. The sums and counts grow fit by fit (simulate/totals.h,
/// which also computes the summaries once the last fit is in).
class SimulationTotals {
 public:
  SimulationTotals() = default;
  /// Zeroed totals for `npar` parameters and `nmod` submodels.
  SimulationTotals(int npar, int nmod);

  int NSUB = 0;   ///< submodels read
  int NSIM = 0;   ///< replicates asked for
  std::int32_t seed = 0;  ///< the seed after the last draw
  std::int32_t first_seed = 0;  ///< the seed the first draw started from
  std::vector<std::string> names;   ///< names of submodels 1..NSUB
  std::vector<std::string> labels;  ///< labels of S(1..NPAR), trailing blanks removed
  std::vector<double> generating;   ///< the generating values S(1..NPAR)
  std::vector<std::string> group_names;  ///< names of the groups of animals; empty when the model has none
  /// p* of every period of every group under the generating model, group by group.
  std::vector<PeriodCatch> catch_probabilities;
  std::vector<ReplicateFit> fits;   ///< every refit, in order, when asked to keep them
  bool coverage = false;            ///< PROC SIMULATE was given COVERAGE: print the planning block
  /// Parameters each submodel estimates (POINT(I) > 0), by submodel 1..NSUB at n - 1.
  std::vector<std::vector<bool>> estimated;
  int first = 1;  ///< first replicate refitted
  int last = 0;   ///< last replicate refitted (NSIM unless a shard)
  int shard = 0;  ///< K of shard=K/N; 0 when not a shard
  int shards = 0; ///< N of shard=K/N
  StudyIdentity study;  ///< what identifies the study (written with a shard's results)
  /// The spread of every parameter submodel n estimates over the converged
  /// fits kept, at n - 1 (1..NSUB); empty for a submodel with none kept.
  std::vector<std::vector<ReplicateSpread>> spread;
  /// The N-hat planning rows of submodel n at n - 1 (1..NSUB), by group and
  /// period; empty for a submodel without converged fits giving an N-hat.
  std::vector<std::vector<AbundanceCoverageRow>> abundance_rows;
  /// The coefficients of submodel n at n - 1 with their true values, in the
  /// order of its design's columns; empty for a submodel without linear
  /// forms, and all empty until the generating values are known.
  std::vector<std::vector<CoefficientTruth>> coefficients;
  /// What the fits of submodel n add up of each of its coefficients, at
  /// n - 1 and then in the order of `coefficients`.
  std::vector<std::vector<CoefficientSums>> coefficient_sums;
  /// The summaries of each coefficient of submodel n, at n - 1 and then in
  /// the order of `coefficients`.
  std::vector<std::vector<CoefficientSummary>> coefficient_summaries;
  /// Some submodel has linear forms: the results carry their coefficients.
  bool has_coefficients() const {
    for (const std::vector<CoefficientTruth>& c : coefficients) {
      if (!c.empty()) return true;
    }
    return false;
  }
  /// The coefficients of submodel n (1..NSUB); empty without linear forms.
  const std::vector<CoefficientTruth>& coefficients_of(int n) const {
    static const std::vector<CoefficientTruth> none;
    return n >= 1 && static_cast<std::size_t>(n) <= coefficients.size() ? coefficients[idx(n)] : none;
  }
  /// Their summaries (as many, once summarised).
  const std::vector<CoefficientSummary>& coefficient_summaries_of(int n) const {
    static const std::vector<CoefficientSummary> none;
    return n >= 1 && static_cast<std::size_t>(n) <= coefficient_summaries.size() ? coefficient_summaries[idx(n)]
                                                                                  : none;
  }

  int npar() const { return npar_; }
  int NCONV(int n) const { return nconv_[idx(n)]; }
  double SUMS(int I, int n) const { return sums_[at(I, n)]; }
  double SUMS2(int I, int n) const { return sums2_[at(I, n)]; }
  double SUMSE(int I, int n) const { return sumse_[at(I, n)]; }
  double SUMSE2(int I, int n) const { return sumse2_[at(I, n)]; }
  const std::array<int, 4>& NGOF(int n) const { return ngof_[idx(n)]; }
  const std::array<int, 5>& NLRT(int k) const { return nlrt_[idx(k)]; }
  /// Converged fits of submodel n (optimizer and inversion codes 0): those the planning figures are over.
  int converged(int n) const { return nconverged_[idx(n)]; }
  /// Fits of submodel n that did not converge or whose information matrix was not inverted, kept or not.
  int NFAIL(int n) const { return nfail_[idx(n)]; }
  /// Estimates of S(I) by the converged fits of submodel n, in fit order.
  const std::vector<double>& converged_estimates(int I, int n) const { return converged_estimates_[at(I, n)]; }
  /// Their standard errors.
  const std::vector<double>& converged_errors(int I, int n) const { return converged_errors_[at(I, n)]; }
  /// N-hat of every group and period by the converged fits of submodel n, in fit order.
  const std::vector<ReplicateAbundance>& converged_abundance(int n) const { return converged_abundance_[idx(n)]; }
  /// Converged fits of submodel n whose interval of S(I) as printed holds the generating value.
  int wald_covered(int I, int n) const { return ncovw_[at(I, n)]; }
  /// Those whose logit-scale interval holds it.
  int logit_covered(int I, int n) const { return ncovl_[at(I, n)]; }
  /// Mean and standard error of the estimates S(I) of submodel n over its NCONV(n) fits (NCONV(n) >= 1).
  const MeanRow& estimate_mean(int I, int n) const { return estimate_means_[at(I, n)]; }
  /// The same of their standard errors.
  const MeanRow& error_mean(int I, int n) const { return error_means_[at(I, n)]; }
  /// The planning row of S(I) of submodel n over its converged fits, for an
  /// estimated parameter of a submodel with one converged fit or more.
  const CoverageRow& coverage_row(int I, int n) const { return coverage_rows_[at(I, n)]; }
  /// The name of submodel n as the saved-model table holds it (20 characters).
  const std::string& name(int n) const { return names[idx(n)]; }

  /// Fits of submodel n accumulated ("Converged").
  int& NCONV(int n) { return nconv_[idx(n)]; }
  /// Sum of the estimates S(I) of submodel n.
  double& SUMS(int I, int n) { return sums_[at(I, n)]; }
  /// Sum of their squares.
  double& SUMS2(int I, int n) { return sums2_[at(I, n)]; }
  /// Sum of the standard errors of S(I) of submodel n.
  double& SUMSE(int I, int n) { return sumse_[at(I, n)]; }
  /// Sum of their squares.
  double& SUMSE2(int I, int n) { return sumse2_[at(I, n)]; }
  /// Goodness-of-fit rejections of submodel n at the levels 0.01, 0.05, 0.10, 0.5.
  std::array<int, 4>& NGOF(int n) { return ngof_[idx(n)]; }
  /// Likelihood-ratio rejections of pair k at the levels 0.01, 0.05, 0.10, 0.5, 1.0.
  std::array<int, 5>& NLRT(int k) { return nlrt_[idx(k)]; }
  int& converged(int n) { return nconverged_[idx(n)]; }
  int& NFAIL(int n) { return nfail_[idx(n)]; }
  std::vector<double>& converged_estimates(int I, int n) { return converged_estimates_[at(I, n)]; }
  std::vector<double>& converged_errors(int I, int n) { return converged_errors_[at(I, n)]; }
  std::vector<ReplicateAbundance>& converged_abundance(int n) { return converged_abundance_[idx(n)]; }
  int& wald_covered(int I, int n) { return ncovw_[at(I, n)]; }
  int& logit_covered(int I, int n) { return ncovl_[at(I, n)]; }
  MeanRow& estimate_mean(int I, int n) { return estimate_means_[at(I, n)]; }
  MeanRow& error_mean(int I, int n) { return error_means_[at(I, n)]; }
  CoverageRow& coverage_row(int I, int n) { return coverage_rows_[at(I, n)]; }

 private:
  int npar_ = 0;                                        ///< parameters per submodel
  std::vector<int> nconv_;                              ///< NCONV by submodel
  std::vector<double> sums_, sums2_, sumse_, sumse2_;  ///< the sums, parameter fastest
  std::vector<std::array<int, 4>> ngof_;                ///< NGOF by submodel
  std::vector<std::array<int, 5>> nlrt_;                ///< NLRT by pair
  /// Estimates and standard errors of the converged fits, in fit order, parameter fastest.
  std::vector<std::vector<double>> converged_estimates_, converged_errors_;
  std::vector<std::vector<ReplicateAbundance>> converged_abundance_;  ///< by submodel
  /// Converged fits whose interval as printed, and whose logit-scale interval, holds the generating value.
  std::vector<int> ncovw_, ncovl_;
  std::vector<int> nconverged_;                         ///< converged fits by submodel
  std::vector<int> nfail_;                              ///< NFAIL by submodel
  std::vector<MeanRow> estimate_means_, error_means_;  ///< the summaries' means, parameter fastest
  std::vector<CoverageRow> coverage_rows_;              ///< the planning rows, parameter fastest
  /// Position of submodel or pair n.
  static std::size_t idx(int n) { return static_cast<std::size_t>(n - 1); }
  /// Position of parameter I of submodel n.
  std::size_t at(int I, int n) const {
    return static_cast<std::size_t>(n - 1) * static_cast<std::size_t>(npar_) + static_cast<std::size_t>(I - 1);
  }
};

}  // namespace quorvale
