#pragma once
// Robust designs of M primary periods of kk secondary occasions each, laid
// out as the likelihood expects, for the benchmarks.

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/likelihood.h"
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

/// Where the counts of a cohort put what rounding leaves over.
enum class Remainder {
  LastCell,     ///< in the last cell, whatever its probability (the counts the fit benchmarks were timed on)
  LikeliestCell ///< in the cell of the largest probability: every count on a cell the model can reach
};

/// The COHORT statements of M periods of kk occasions, each cohort's size
/// drawn around 400 and its counts those expected under capture drawn from
/// 0.3..0.6 on every occasion, recapture equal to capture, survival 0.8,
/// gamma'' 0.2, gamma' 0.3 and theta 1, rounded.
inline std::string cohort_statements(int M, int kk, Remainder remainder = Remainder::LastCell) {
  auto store = std::make_unique<ModelStore>();
  ModelStore& m = *store;
  const RobustLayout L = robust_design(m, M, kk);
  m.NEST = 0;
  m.NSIG = 5;
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> u(0.3, 0.6);
  for (int i = 1; i <= m.NPAR; ++i) {
    m.POINT(i) = -i;
    m.PAR(i) = u(rng);
  }
  // Recapture equal to capture on each occasion (no behavioural response).
  for (int ip = 1; ip <= M; ++ip)
    for (int t = 2; t <= kk; ++t) m.PAR(L.c(ip, t)) = m.PAR(L.p(ip, t));
  for (int i = 1; i < M; ++i) m.PAR(L.phi(i)) = 0.8;
  for (int j = 2; j <= M; ++j) m.PAR(L.gamma2(j)) = 0.2;
  for (int j = 3; j <= M; ++j) m.PAR(L.gamma1(j)) = 0.3;
  for (int ip = 1; ip <= M; ++ip) m.PAR(L.theta(ip)) = 1.0;
  Mat1<double> P(L.cohort_cells());
  est_core(m, {}, ParameterScale::Working, P);

  std::string text;
  std::poisson_distribution<int> size(400);
  for (int cc = 1; cc <= m.NCOHRT; ++cc) {
    const int n = size(rng);
    text += " COHORT=" + std::to_string(n) + ";\n";
    if (remainder == Remainder::LikeliestCell) {
      std::vector<int> counts(static_cast<std::size_t>(m.NCLASS(cc)));
      int left = n;
      int likeliest = 1;
      for (int k = 1; k <= m.NCLASS(cc); ++k) {
        counts[static_cast<std::size_t>(k - 1)] = static_cast<int>(std::lround(n * std::max(P(k, cc), 0.0)));
        left -= counts[static_cast<std::size_t>(k - 1)];
        if (P(k, cc) > P(likeliest, cc)) likeliest = k;
      }
      counts[static_cast<std::size_t>(likeliest - 1)] += left;  // a few animals either way
      for (int count : counts) text += "  " + std::to_string(count) + " : x;\n";
      continue;
    }
    int left = n;
    for (int k = 1; k <= m.NCLASS(cc); ++k) {
      int count = k < m.NCLASS(cc) ? static_cast<int>(std::lround(n * std::max(P(k, cc), 0.0))) : left;
      count = std::min(std::max(count, 0), left);
      left -= count;
      text += "  " + std::to_string(count) + " : x;\n";
    }
  }
  return text;
}

/// PROC MODEL of M periods of kk occasions with the primary periods,
/// secondary occasions and intervals STRUCTURE needs, and the cohorts of
/// cohort_statements with what rounding leaves over on each cohort's
/// likeliest cell.
inline std::string structured_model(int M, int kk) {
  std::string text = "PROC MODEL NPAR=";
  text += std::to_string(robust_layout(M, kk).npar());
  text += " PRIMARY PERIODS = ";
  text += std::to_string(M);
  text += "\n SECONDARY =";
  for (int ip = 1; ip <= M; ++ip) {
    text += ' ';
    text += std::to_string(kk);
  }
  text += "\n INTERVALS =";
  for (int i = 1; i < M; ++i) text += " 1";
  text += ";\n";
  text += cohort_statements(M, kk, Remainder::LikeliestCell);
  return text;
}

}  // namespace quorvale::bench
