// The planning figures of a simulation study: bias, RMSE, standard errors
// and interval coverage over the converged fits, and the spread of the
// estimates over the fits kept.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "simulate/totals.h"

namespace quorvale {

CoverageRow coverage_of(const SimulationTotals& t, int I, int n) {
  CoverageRow row;
  const std::vector<double>& estimates = t.converged_estimates(I, n);
  const std::vector<double>& errors = t.converged_errors(I, n);
  const double c = static_cast<double>(estimates.size());
  const double g =
      static_cast<std::size_t>(I) <= t.generating.size() ? t.generating[static_cast<std::size_t>(I - 1)] : 0.0;
  row.index = I;
  row.generating = g;
  double sum = 0.0;
  for (double s : estimates) sum += s;
  const double mean = sum / c;
  double squares = 0.0;  // about the mean
  double errors2 = 0.0;  // about the generating value
  for (double s : estimates) {
    squares += (s - mean) * (s - mean);
    errors2 += (s - g) * (s - g);
  }
  row.bias = mean - g;
  row.mean = row.generating + row.bias;
  row.relative_bias = g != 0.0 ? row.bias / g : std::numeric_limits<double>::quiet_NaN();
  row.rmse = std::sqrt(errors2 / c);
  row.empirical_sd = estimates.size() > 1 ? std::sqrt(squares / (c - 1.0)) : 0.0;
  double se_sum = 0.0;
  for (double e : errors) se_sum += e;
  row.mean_se = se_sum / c;
  row.median_se = median_of(errors);
  if (estimates.size() > 1) {
    row.wide_se = static_cast<int>(
        std::count_if(errors.begin(), errors.end(), [&row](double e) { return e > 10.0 * row.empirical_sd; }));
  }
  row.wald = static_cast<double>(t.wald_covered(I, n)) / c;
  row.logit = static_cast<double>(t.logit_covered(I, n)) / c;
  return row;
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
