#include "simulate/totals.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvale {

SimulationTotals::SimulationTotals(int npar, int nmod)
    : npar_(std::max(npar, 1)),
      nconv_(static_cast<std::size_t>(nmod), 0),
      sums_(static_cast<std::size_t>(npar_) * static_cast<std::size_t>(nmod), 0.0),
      sums2_(sums_.size(), 0.0),
      sumse_(sums_.size(), 0.0),
      sumse2_(sums_.size(), 0.0),
      ngof_(static_cast<std::size_t>(nmod), std::array<int, 4>{}),
      nlrt_(static_cast<std::size_t>(nmod) * static_cast<std::size_t>(std::max(nmod - 1, 0)) / 2,
            std::array<int, 5>{}),
      converged_estimates_(sums_.size()),
      converged_errors_(sums_.size()),
      converged_abundance_(static_cast<std::size_t>(nmod)),
      ncovw_(sums_.size(), 0),
      ncovl_(sums_.size(), 0),
      nconverged_(static_cast<std::size_t>(nmod), 0),
      nfail_(static_cast<std::size_t>(nmod), 0),
      estimate_means_(sums_.size()),
      error_means_(sums_.size()),
      coverage_rows_(sums_.size()) {}

namespace {

/// Adds the coefficients of refit `f` of a submodel with linear forms: kept
/// for the planning figures when it converged, summed when it is in the
/// summaries.
void add_coefficients(SimulationTotals& t, const ReplicateFit& f) {
  if (f.coefficients.empty() || f.submodel < 1) return;
  const std::size_t n = static_cast<std::size_t>(f.submodel);
  if (t.coefficient_sums.size() < n) t.coefficient_sums.resize(n);
  std::vector<CoefficientSums>& sums = t.coefficient_sums[n - 1];
  if (sums.size() < f.coefficients.size()) sums.resize(f.coefficients.size());
  for (std::size_t k = 0; k < f.coefficients.size(); ++k) {
    const ReplicateCoefficient& c = f.coefficients[k];
    CoefficientSums& s = sums[k];
    if (f.converged()) {
      s.estimates.push_back(c.estimate);
      s.errors.push_back(c.se);
      if (c.covers) ++s.covered;
    }
    if (f.included) {
      s.sum += c.estimate;
      s.sum2 += c.estimate * c.estimate;
      s.sumse += c.se;
      s.sumse2 += c.se * c.se;
    }
  }
}

}  // namespace

void add_fit(SimulationTotals& t, const ReplicateFit& f) {
  add_coefficients(t, f);
  const int n = f.submodel;
  const int npar = std::min({t.npar(), static_cast<int>(f.estimates.size()), static_cast<int>(f.errors.size())});
  if (f.converged()) {
    ++t.converged(n);
    for (int I = 1; I <= npar; ++I) {
      const std::size_t i = static_cast<std::size_t>(I - 1);
      t.converged_estimates(I, n).push_back(f.estimates[i]);
      t.converged_errors(I, n).push_back(f.errors[i]);
      if (i < f.wald_covers.size() && f.wald_covers[i]) ++t.wald_covered(I, n);
      if (i < f.logit_covers.size() && f.logit_covers[i]) ++t.logit_covered(I, n);
    }
    std::vector<ReplicateAbundance>& abundance = t.converged_abundance(n);
    abundance.insert(abundance.end(), f.abundance.begin(), f.abundance.end());
  } else {
    ++t.NFAIL(n);
  }
  if (!f.included) return;
  t.NCONV(n) += 1;
  for (int I = 1; I <= npar; ++I) {
    const std::size_t i = static_cast<std::size_t>(I - 1);
    const double s = f.estimates[i];
    const double e = f.errors[i];
    t.SUMS(I, n) += s;
    t.SUMS2(I, n) += s * s;
    t.SUMSE(I, n) += e;
    t.SUMSE2(I, n) += e * e;
  }
  count_gof(f.gof_p, t.NGOF(n));
}

void add_pairs(SimulationTotals& t, const std::vector<FitSummary>& fits) {
  int k = 0;
  for (std::size_t I = 0; I + 1 < fits.size(); ++I) {
    for (std::size_t J = I + 1; J < fits.size(); ++J) {
      ++k;
      const PairTest test = pair_test(fits[I], fits[J]);
      if (test.tested) count_lrt(test.probability, t.NLRT(k));
    }
  }
}

void summarise(SimulationTotals& t) {
  t.spread.clear();
  t.abundance_rows.clear();
  for (int n = 1; n <= t.NSUB; ++n) {
    const int c = t.NCONV(n);
    for (int I = 1; I <= t.npar() && c >= 1; ++I) {
      t.estimate_mean(I, n) = mean_row(t.SUMS(I, n), t.SUMS2(I, n), c);
      t.error_mean(I, n) = mean_row(t.SUMSE(I, n), t.SUMSE2(I, n), c);
    }
    if (static_cast<std::size_t>(n) <= t.estimated.size() && t.converged(n) >= 1) {
      const std::vector<bool>& estimated = t.estimated[static_cast<std::size_t>(n - 1)];
      for (std::size_t i = 0; i < estimated.size(); ++i) {
        if (estimated[i]) t.coverage_row(static_cast<int>(i) + 1, n) = coverage_of(t, static_cast<int>(i) + 1, n);
      }
    }
    t.spread.push_back(replicate_spread(t, n));
    t.abundance_rows.push_back(abundance_coverage(t, n));
  }
  t.coefficient_summaries.assign(t.coefficients.size(), {});
  for (std::size_t n = 1; n <= t.coefficients.size(); ++n) {
    for (std::size_t k = 0; k < t.coefficients[n - 1].size(); ++k) {
      t.coefficient_summaries[n - 1].push_back(coefficient_summary(t, static_cast<int>(n), k));
    }
  }
}

double median_of(std::vector<double> values) {
  if (values.empty() || std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); })) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
  return lower + (upper - lower) / 2.0;
}

}  // namespace quorvale
