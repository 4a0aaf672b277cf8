#pragma once
// The derivative blocks of the cells as the fit once formed them, dense: one
// block per slot over every cell of every cohort, and the information and
// the coefficients' blocks built from them cell by cell. The tests hold the
// sparse blocks (estimate/cell_blocks.h), and everything the fit computes from
// them, to these bit for bit.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <span>
#include <vector>

#include "base/packed.h"
#include "estimate/context.h"
#include "estimate/setup.h"
#include "model/linear_form.h"
#include "model/store.h"

namespace quorvale::testing {

/// Cells of every cohort together: the length of a dense block.
inline std::size_t dense_cells(const ModelStore& m) {
  std::size_t cells = 0;
  for (int j = 1; j <= m.NCOHRT; ++j) cells += static_cast<std::size_t>(std::max(m.NCLASS(j), 0));
  return cells;
}

/// For each estimated slot, the difference quotient of every cell
/// probability between the slot moved (by the factor 0.9999, or to +-1e-4
/// at or below 5e-5, both in single precision) and the estimates in
/// WORK(1..NEST), NEST blocks of dense_cells(m) cells cohort by cohort. P
/// holds the cells at the estimates afterwards.
inline std::vector<double> dense_derivative_blocks(FitContext& run) {
  constexpr double kRelativeStepFrom = static_cast<double>(5.0E-5F);
  constexpr double kStepFactor = static_cast<double>(0.9999F);
  constexpr double kSmallStep = static_cast<double>(1.0E-4F);
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const int n = m.NEST;
  const std::size_t cells = dense_cells(m);
  evaluate_at_work(run, ParameterScale::Natural);
  std::vector<double> at;
  for (int j = 1; j <= m.NCOHRT; ++j) at.insert(at.end(), m.P.column(j), m.P.column(j) + std::max(m.NCLASS(j), 0));
  std::vector<double> blocks(static_cast<std::size_t>(std::max(n, 0)) * cells, 0.0);
  for (int s = 1; s <= n; ++s) {
    const double x = w.WORK(s);
    const double moved = x > kRelativeStepFrom ? kStepFactor * x : (std::signbit(x) ? -kSmallStep : kSmallStep);
    w.WORK(s) = moved;
    evaluate_at_work(run, ParameterScale::Natural);
    double* block = blocks.data() + static_cast<std::size_t>(s - 1) * cells;
    std::size_t o = 0;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      for (int k = 1; k <= m.NCLASS(j); ++k, ++o) block[o] = (m.P(k, j) - at[o]) / (x - moved);
    }
    w.WORK(s) = x;
  }
  evaluate_at_work(run, ParameterScale::Natural);
  return blocks;
}

/// The information matrix of `n` dense blocks, packed: element (a, b) the
/// sum over the cohorts both blocks move (a cell with |D| > 0), in cohort
/// order, of NREL times the sum over the cohort's cells, in cell order, of
/// D_a D_b / P for P > 0 and both derivatives non-zero.
inline std::vector<double> dense_information_matrix(const ModelStore& m, std::span<const double> dprob, int n) {
  const std::size_t cells = dense_cells(m);
  std::vector<std::size_t> offset(static_cast<std::size_t>(m.NCOHRT) + 2, 0);
  for (int j = 1; j <= m.NCOHRT; ++j) {
    offset[static_cast<std::size_t>(j + 1)] = offset[static_cast<std::size_t>(j)] + std::max(m.NCLASS(j), 0);
  }
  std::vector<double> VC(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  std::vector<std::vector<int>> moved(static_cast<std::size_t>(n));
  for (int a = 1; a <= n; ++a) {
    const double* da = dprob.data() + static_cast<std::size_t>(a - 1) * cells;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      const std::size_t o = offset[static_cast<std::size_t>(j)];
      for (int k = 0; k < m.NCLASS(j); ++k) {
        if (std::fabs(da[o + k]) > 0.0) {
          moved[static_cast<std::size_t>(a - 1)].push_back(j);
          break;
        }
      }
    }
  }
  std::vector<int> both;
  for (int a = 1; a <= n; ++a) {
    const double* da = dprob.data() + static_cast<std::size_t>(a - 1) * cells;
    const std::vector<int>& ma = moved[static_cast<std::size_t>(a - 1)];
    for (int b = 1; b <= a; ++b) {
      const double* db = dprob.data() + static_cast<std::size_t>(b - 1) * cells;
      const std::vector<int>& mb = moved[static_cast<std::size_t>(b - 1)];
      both.clear();
      std::set_intersection(ma.begin(), ma.end(), mb.begin(), mb.end(), std::back_inserter(both));
      double total = 0.0;
      for (int j : both) {
        const std::size_t o = offset[static_cast<std::size_t>(j)];
        const double* p = m.P.column(j);
        double cohort = 0.0;
        for (int k = 0; k < m.NCLASS(j); ++k) {
          const double x = da[o + k];
          const double y = db[o + k];
          if (p[k] > 0.0 && std::fabs(x) > 0.0 && std::fabs(y) > 0.0) cohort += x * y / p[k];
        }
        total += static_cast<double>(m.NREL(j)) * cohort;
      }
      VC[packed_index(a, b)] = total;
    }
  }
  return VC;
}

/// The cells' derivatives in each coefficient of `d` at `beta`, dense: block
/// k is, cell by cell, the sum in slot order of J(s, k) times slot s's block,
/// J(s, k) = p_s (1 - p_s) X(s, k), slots with J(s, k) == 0 left out.
inline std::vector<double> dense_coefficient_blocks(const LinearDesign& d, std::span<const double> beta,
                                                    std::span<const double> dprob, std::size_t cells) {
  const int S = d.slots;
  const int K = d.coefficients();
  std::vector<double> p(static_cast<std::size_t>(S));
  d.probabilities(beta, p);
  std::vector<double> blocks(static_cast<std::size_t>(K) * cells, 0.0);
  for (int k = 0; k < K; ++k) {
    double* block = blocks.data() + static_cast<std::size_t>(k) * cells;
    for (int s = 1; s <= S; ++s) {
      const double ps = p[static_cast<std::size_t>(s - 1)];
      const double j = ps * (1.0 - ps) * d.at(s, k);
      if (j == 0.0) continue;
      const double* from = dprob.data() + static_cast<std::size_t>(s - 1) * cells;
      for (std::size_t c = 0; c < cells; ++c) block[c] += j * from[c];
    }
  }
  return blocks;
}

/// The expected information of each of `K` dense coefficient blocks, its
/// diagonal: the sum over every cohort of NREL times the sum over its cells
/// with P > 0 of D^2 / P.
inline std::vector<double> dense_coefficient_information(const ModelStore& m, std::span<const double> blocks, int K) {
  const std::size_t cells = dense_cells(m);
  std::vector<double> out(static_cast<std::size_t>(K), 0.0);
  for (int k = 0; k < K; ++k) {
    const double* block = blocks.data() + static_cast<std::size_t>(k) * cells;
    double information = 0.0;
    std::size_t at = 0;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      const double* p = m.P.column(j);
      double cohort = 0.0;
      for (int c = 0; c < m.NCLASS(j); ++c, ++at) {
        if (p[c] > 0.0) cohort += block[at] * block[at] / p[c];
      }
      information += static_cast<double>(m.NREL(j)) * cohort;
    }
    out[static_cast<std::size_t>(k)] = information;
  }
  return out;
}

}  // namespace quorvale::testing
