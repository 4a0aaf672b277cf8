#pragma once
// Robust designs of M primary periods of kk secondary occasions each, laid
// out as the likelihood expects, for the benchmarks.

#include <random>

#include "model/store.h"

namespace quorvale::bench {

/// Sets the cohorts of the design (2^kk cells per closed cohort, M - i + 1
/// per open cohort) and NPAR = M(2kk - 1) + 4M - 4.
inline void robust_design(ModelStore& m, int M, int kk) {
  int c = 0;
  for (int ip = 1; ip <= M; ++ip)
    for (int jp = 1; jp <= ip; ++jp) m.NCLASS(++c) = 1 << kk;
  for (int i = 1; i < M; ++i) m.NCLASS(++c) = M - i + 1;
  m.NCOHRT = c;
  m.NPAR = M * (2 * kk - 1) + 4 * M - 4;
}

/// Gives every cell a count drawn from 0..49.
inline void random_counts(ModelStore& m, std::mt19937_64& rng) {
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) m.NOBS(h, c) = static_cast<int>(rng() % 50);
}

}  // namespace quorvale::bench
