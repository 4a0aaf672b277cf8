#pragma once
// Robust designs of M primary periods of kk secondary occasions each, laid
// out as the likelihood expects, for the benchmarks.

#include <random>
#include <vector>

#include "model/robust_layout.h"
#include "model/store.h"

namespace quorvale::bench {

/// The layout of M periods of kk occasions, numbered for the fewest parameters.
inline RobustLayout robust_layout(int M, int kk) { return RobustLayout(std::vector<int>(static_cast<std::size_t>(M), kk)); }

/// Sets the cohorts of the design (2^kk cells per closed cohort, M - i + 1
/// per open cohort) and NPAR = M(2kk - 1) + 4M - 4, the parameter arrays sized to it.
inline RobustLayout robust_design(ModelStore& m, int M, int kk) {
  const RobustLayout layout = robust_layout(M, kk);
  m.set_cohorts(layout.cohort_cells());
  m.NPAR = layout.npar();
  m.size_parameters();
  return layout;
}

/// Gives every cell a count drawn from 0..49.
inline void random_counts(ModelStore& m, std::mt19937_64& rng) {
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) m.NOBS(h, c) = static_cast<int>(rng() % 50);
}

}  // namespace quorvale::bench
