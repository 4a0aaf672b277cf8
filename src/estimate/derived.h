#pragma once
// Abundance per primary period derived from a fit (the closed-part
// estimator, conditional on capture):
//   n_i  animals caught at least once in period i (its closed cohorts' sizes),
//   p*_i = 1 - prod_t (1 - p(i,t)),   N_i = n_i / p*_i,
//   Var(N_i) = n_i (1 - p*_i) / p*_i^2 + n_i^2 Var(p*_i) / p*_i^4,
// with Var(p*_i) by the delta method from the covariance of the slots the
// p's are estimated in, and a log-normal 95% interval on N_i - n_i.

#include <vector>

#include "estimate/fit_report.h"

namespace quorvale {

struct ModelStore;

/// The abundance of every period of the store's robust design, from the
/// fit's estimates and covariance; empty when the cohorts do not follow the
/// robust-design layout. The standard error is NaN (not available) when the
/// inversion failed or a p of the period lies on a bound.
std::vector<PeriodAbundance> derived_abundance(const ModelStore& m, const FitReport& r);

}  // namespace quorvale
