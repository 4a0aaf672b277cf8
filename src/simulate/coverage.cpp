// The planning figures of a simulation study: bias, RMSE, standard errors
// and interval coverage over the converged fits, of the parameters and of
// the abundance of every period, and the spread of the estimates over the
// fits kept.

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "simulate/simstats.h"
#include "simulate/totals.h"
#include "stats/distributions.h"

namespace quorvale {

namespace {

/// Bias, RMSE, spread and standard errors of c >= 1 estimates of the value
/// `g` with their standard errors, and the share of them `covered` counts.
struct EstimateFigures {
  double bias = 0.0;
  double mean = 0.0;          ///< g + bias
  double rmse = 0.0;
  double empirical_sd = 0.0;  ///< 0 for one estimate
  double mean_se = 0.0;
  double median_se = 0.0;
  int wide_se = 0;            ///< standard errors above 10 times the empirical SD (0 for one estimate)
  double share = 0.0;         ///< covered / c
};

EstimateFigures figures_of(const std::vector<double>& estimates, const std::vector<double>& errors, double g,
                           int covered) {
  EstimateFigures out;
  const double c = static_cast<double>(estimates.size());
  double sum = 0.0;
  for (double s : estimates) sum += s;
  const double mean = sum / c;
  double squares = 0.0;  // about the mean
  double errors2 = 0.0;  // about the generating value
  for (double s : estimates) {
    squares += (s - mean) * (s - mean);
    errors2 += (s - g) * (s - g);
  }
  out.bias = mean - g;
  out.mean = g + out.bias;
  out.rmse = std::sqrt(errors2 / c);
  out.empirical_sd = estimates.size() > 1 ? std::sqrt(squares / (c - 1.0)) : 0.0;
  double se_sum = 0.0;
  for (double e : errors) se_sum += e;
  out.mean_se = se_sum / c;
  out.median_se = median_of(errors);
  if (estimates.size() > 1) {
    out.wide_se = static_cast<int>(
        std::count_if(errors.begin(), errors.end(), [&out](double e) { return e > 10.0 * out.empirical_sd; }));
  }
  out.share = static_cast<double>(covered) / c;
  return out;
}

}  // namespace

CoverageRow coverage_of(const SimulationTotals& t, int I, int n) {
  CoverageRow row;
  const std::vector<double>& estimates = t.converged_estimates(I, n);
  const double c = static_cast<double>(estimates.size());
  const double g =
      static_cast<std::size_t>(I) <= t.generating.size() ? t.generating[static_cast<std::size_t>(I - 1)] : 0.0;
  const EstimateFigures f = figures_of(estimates, t.converged_errors(I, n), g, t.wald_covered(I, n));
  row.index = I;
  row.generating = g;
  row.bias = f.bias;
  row.mean = f.mean;
  row.relative_bias = g != 0.0 ? row.bias / g : std::numeric_limits<double>::quiet_NaN();
  row.rmse = f.rmse;
  row.empirical_sd = f.empirical_sd;
  row.mean_se = f.mean_se;
  row.median_se = f.median_se;
  row.wide_se = f.wide_se;
  row.wald = f.share;
  row.logit = static_cast<double>(t.logit_covered(I, n)) / c;
  return row;
}

std::vector<CoefficientTruth> coefficient_truths(const LinearDesign& design, const std::vector<int>& point,
                                                 const std::vector<double>& S) {
  const std::size_t slots = static_cast<std::size_t>(std::max(design.slots, 0));
  std::vector<double> values(slots, std::numeric_limits<double>::quiet_NaN());
  std::vector<bool> seen(slots, false);
  for (std::size_t i = 0; i < point.size() && i < S.size(); ++i) {
    const int k = point[i];
    if (k < 1 || static_cast<std::size_t>(k) > slots || seen[static_cast<std::size_t>(k - 1)]) continue;
    seen[static_cast<std::size_t>(k - 1)] = true;  // the lowest parameter of slot k
    values[static_cast<std::size_t>(k - 1)] = S[i];
  }
  const std::vector<double> beta = design.start(values);
  std::vector<CoefficientTruth> out;
  for (std::size_t k = 0; k < beta.size() && k < design.names.size(); ++k) {
    out.push_back(CoefficientTruth{design.names[k], k < design.parts.size() ? design.parts[k] : std::string(), beta[k]});
  }
  return out;
}

CoefficientSummary coefficient_summary(const SimulationTotals& t, int n, std::size_t k) {
  CoefficientSummary out;
  const std::vector<CoefficientTruth>& truths = t.coefficients_of(n);
  if (k >= truths.size()) return out;
  out.truth = truths[k].value;
  const std::size_t i = static_cast<std::size_t>(n - 1);
  if (i >= t.coefficient_sums.size() || k >= t.coefficient_sums[i].size()) return out;
  const CoefficientSums& s = t.coefficient_sums[i][k];
  if (t.NCONV(n) >= 1) {
    out.estimate_mean = mean_row(s.sum, s.sum2, t.NCONV(n));
    out.error_mean = mean_row(s.sumse, s.sumse2, t.NCONV(n));
  }
  if (s.estimates.empty()) return out;
  const EstimateFigures f = figures_of(s.estimates, s.errors, out.truth, s.covered);
  out.planned = true;
  out.mean = f.mean;
  out.bias = f.bias;
  out.rmse = f.rmse;
  out.empirical_sd = f.empirical_sd;
  out.mean_se = f.mean_se;
  out.median_se = f.median_se;
  out.wide_se = f.wide_se;
  out.coverage = f.share;
  return out;
}

std::vector<PeriodCatch> catch_probabilities(const RobustLayout& layout, const std::vector<double>& S) {
  std::vector<PeriodCatch> out;
  for (int g = 1; g <= layout.groups(); ++g) {
    for (int ip = 1; ip <= layout.periods(); ++ip) {
      double miss = 1.0;
      for (int t = 1; t <= layout.occasions(ip); ++t) {
        const std::size_t I = static_cast<std::size_t>(layout.p(ip, t, g));
        miss *= 1.0 - (I >= 1 && I <= S.size() ? S[I - 1] : std::numeric_limits<double>::quiet_NaN());
      }
      out.push_back(PeriodCatch{g, ip, 1.0 - miss});
    }
  }
  return out;
}

double chance_covered(const ReplicateAbundance& a, double p_star) {
  if (!(a.lower <= a.upper)) return 0.0;  // no interval (NaN bounds)
  const double n = a.caught;
  // N = n + F holds from ceil(lower) to floor(upper): F from ceil(lower) - n to floor(upper) - n.
  const double upto = negative_binomial_cdf(std::floor(a.upper) - n, n, p_star);
  const double below = negative_binomial_cdf(std::ceil(a.lower) - n - 1.0, n, p_star);
  return std::max(upto - below, 0.0);
}

std::vector<AbundanceCoverageRow> abundance_coverage(const SimulationTotals& t, int n) {
  // The fits' N-hat by group and period, in fit order.
  std::map<std::pair<int, int>, std::vector<const ReplicateAbundance*>> by_period;
  for (const ReplicateAbundance& a : t.converged_abundance(n)) {
    if (std::isfinite(a.estimate)) by_period[{a.group, a.period}].push_back(&a);
  }
  std::vector<AbundanceCoverageRow> rows;
  for (const PeriodCatch& truth : t.catch_probabilities) {
    const auto found = by_period.find({truth.group, truth.period});
    const double ps = truth.p_star;
    if (found == by_period.end() || !(ps > 0.0 && ps <= 1.0)) continue;
    const std::vector<const ReplicateAbundance*>& fits = found->second;
    const double c = static_cast<double>(fits.size());
    double expected = 0.0;  // sum of n / p*
    double estimates = 0.0;
    double squares = 0.0;   // sum of E (N-hat - N)^2
    double errors = 0.0;
    double covered = 0.0;
    for (const ReplicateAbundance* a : fits) {
      const double mean_n = a->caught / ps;
      expected += mean_n;
      estimates += a->estimate;
      squares += (a->estimate - mean_n) * (a->estimate - mean_n) + a->caught * (1.0 - ps) / (ps * ps);
      errors += a->se;
      covered += chance_covered(*a, ps);
    }
    AbundanceCoverageRow row;
    row.group = truth.group;
    row.period = truth.period;
    row.fits = static_cast<int>(fits.size());
    row.true_n = expected / c;
    row.bias = estimates / c - row.true_n;
    row.relative_bias = row.true_n != 0.0 ? row.bias / row.true_n : std::numeric_limits<double>::quiet_NaN();
    row.rmse = std::sqrt(squares / c);
    row.mean_se = errors / c;
    row.coverage = covered / c;
    rows.push_back(row);
  }
  return rows;
}

namespace {

/// Quantile q of sorted values, interpolated between order statistics.
double quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double h = q * static_cast<double>(sorted.size() - 1);
  const std::size_t k = static_cast<std::size_t>(std::floor(h));
  if (k + 1 >= sorted.size()) return sorted.back();
  return sorted[k] + (h - static_cast<double>(k)) * (sorted[k + 1] - sorted[k]);
}

}  // namespace

std::vector<ReplicateSpread> replicate_spread(const SimulationTotals& t, int n) {
  std::vector<ReplicateSpread> out;
  const std::size_t k = static_cast<std::size_t>(n - 1);
  if (k >= t.estimated.size()) return out;
  for (std::size_t i = 0; i < t.estimated[k].size(); ++i) {
    if (!t.estimated[k][i]) continue;
    std::vector<double> values;
    for (const ReplicateFit& f : t.fits) {
      if (f.submodel == n && f.converged() && i < f.estimates.size() && std::isfinite(f.estimates[i])) {
        values.push_back(f.estimates[i]);
      }
    }
    if (values.empty()) continue;
    ReplicateSpread r;
    r.index = static_cast<int>(i) + 1;
    r.generating = i < t.generating.size() ? t.generating[i] : std::numeric_limits<double>::quiet_NaN();
    r.count = static_cast<int>(values.size());
    double sum = 0.0;
    for (double v : values) sum += v;
    r.mean = sum / r.count;
    std::sort(values.begin(), values.end());
    r.low = quantile(values, 0.025);
    r.high = quantile(values, 0.975);
    out.push_back(r);
  }
  return out;
}

}  // namespace quorvale
