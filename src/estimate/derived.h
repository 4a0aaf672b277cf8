#pragma once
// Abundance per primary period derived from a fit (the closed-part
// estimator, conditional on capture), for each group of animals:
//   n_i  animals of the group caught at least once in period i (its closed cohorts' sizes),
//   p*_i = 1 - prod_t (1 - p(i,t)),   N_i = n_i / p*_i,
//   Var(N_i) = n_i (1 - p*_i) / p*_i^2 + n_i^2 Var(p*_i) / p*_i^4,
// with Var(p*_i) by the delta method from the covariance of the slots the
// p's are estimated in, and a log-normal 95% interval on N_i - n_i.
//
// For several groups, also all of them together: N_i the sum of the groups'
// N-hats, with the binomial parts of the groups added and the delta-method
// part from the joint covariance of every group's p's,
//   Var(N_i) = sum_g n_g (1 - p*_g) / p*_g^2 + d' V d,
//   d(slot)  = sum_g n_g / p*_g^2 * dp*_g / d(slot),
// so that groups whose p's share slots carry their covariance.

#include <vector>

#include "estimate/fit_report.h"

namespace quorvale {

struct ModelStore;

/// The abundance a fit implies.
struct DerivedAbundance {
  std::vector<PeriodAbundance> by_group;  ///< every period of group 1, then of group 2, ...
  std::vector<PeriodAbundance> total;     ///< all groups together by period; empty for one group
};

/// The abundance of every period of the store's robust design, from the
/// fit's estimates and covariance; empty when the cohorts do not follow the
/// robust-design layout. The standard error is NaN (not available) when the
/// inversion failed or a p of the period lies on a bound; a total is
/// unavailable when a group's N-hat is, and has no standard error when a
/// group's has none.
DerivedAbundance derived_abundance(const ModelStore& m, const FitReport& r);

}  // namespace quorvale
