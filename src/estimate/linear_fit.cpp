#include "estimate/linear_fit.h"

#include <cmath>
#include <limits>

#include "base/packed.h"
#include "estimate/context.h"
#include "estimate/optimizer.h"
#include "estimate/results.h"

namespace quorvale {

namespace {

/// Normal quantile of the 95% intervals (1.96 in single precision), as the parameters' intervals.
constexpr double kZ95 = static_cast<double>(1.96F);

/// J(s, k) = p_s (1 - p_s) X(s, k), slot by slot: the slots' derivatives in the coefficients.
std::vector<double> slopes(const LinearDesign& d, std::span<const double> beta) {
  const int S = d.slots;
  const int K = d.coefficients();
  std::vector<double> p(static_cast<std::size_t>(S));
  d.probabilities(beta, p);
  std::vector<double> J(static_cast<std::size_t>(S) * static_cast<std::size_t>(K));
  for (int s = 1; s <= S; ++s) {
    const double slope = p[static_cast<std::size_t>(s - 1)] * (1.0 - p[static_cast<std::size_t>(s - 1)]);
    for (int k = 0; k < K; ++k) J[static_cast<std::size_t>(s - 1) * K + k] = slope * d.at(s, k);
  }
  return J;
}

/// The cells' derivatives in each coefficient, block by block, from the slots' blocks.
std::vector<double> coefficient_blocks(const LinearDesign& d, const std::vector<double>& J,
                                       const std::vector<double>& dprob, std::size_t cells) {
  const int S = d.slots;
  const int K = d.coefficients();
  std::vector<double> blocks(static_cast<std::size_t>(K) * cells, 0.0);
  for (int k = 0; k < K; ++k) {
    double* block = blocks.data() + static_cast<std::size_t>(k) * cells;
    for (int s = 1; s <= S; ++s) {
      const double j = J[static_cast<std::size_t>(s - 1) * K + k];
      if (j == 0.0) continue;
      const double* from = dprob.data() + static_cast<std::size_t>(s - 1) * cells;
      for (std::size_t c = 0; c < cells; ++c) block[c] += j * from[c];
    }
  }
  return blocks;
}

}  // namespace

std::vector<double> coefficient_scales(FitContext& run, std::span<const double> beta) {
  ModelStore& m = run.model;
  const LinearDesign& d = m.linear->design;
  const int K = d.coefficients();
  const SlotDerivatives sd = slot_derivatives(run);
  const std::vector<double> blocks = coefficient_blocks(d, slopes(d, beta), run.work.DPROB, sd.cells);
  std::vector<double> scale(static_cast<std::size_t>(K), 1.0);
  for (int k = 0; k < K; ++k) {
    const double* block = blocks.data() + static_cast<std::size_t>(k) * sd.cells;
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
    if (std::isfinite(information) && information > 0.0) scale[static_cast<std::size_t>(k)] = std::sqrt(information);
  }
  return scale;
}

SlotMap slot_map(const ModelStore& m) {
  SlotMap map;
  map.nest = m.NEST;
  map.point.assign(static_cast<std::size_t>(m.NPAR) + 1, 0);
  map.unit_bounds.assign(static_cast<std::size_t>(m.NPAR) + 1, true);
  for (int I = 1; I <= m.NPAR; ++I) {
    const int k = m.POINT(I);
    map.point[static_cast<std::size_t>(I)] = k;
    if (k >= 1) {
      map.unit_bounds[static_cast<std::size_t>(I)] =
          m.POINTL(I) == 0 && m.POINTU(I) == 0 && m.PARL(k) == 0.0 && m.PARU(k) == 1.0;
    }
  }
  return map;
}

void set_up_linear(FitContext& run) {
  ModelStore& m = run.model;
  LinearFit& fit = *m.linear;
  if (const auto message = build_linear_design(fit.forms, slot_map(m), fit.design)) run.listing.error(*message);
  std::vector<double> values(static_cast<std::size_t>(m.NEST));
  for (int k = 1; k <= m.NEST; ++k) values[static_cast<std::size_t>(k - 1)] = m.PAR(k);
  fit.start = fit.design.start(values);
}

LinearInformation linear_information(const ModelStore& m, std::span<const double> beta,
                                     const std::vector<double>& dprob, std::size_t cells,
                                     const std::vector<double>& change, double no_change) {
  const LinearDesign& d = m.linear->design;
  const int S = d.slots;
  const int K = d.coefficients();
  LinearInformation out;
  const std::vector<double> J = slopes(d, beta);
  const std::vector<double> blocks = coefficient_blocks(d, J, dprob, cells);
  std::vector<double> info;
  information_matrix(m, blocks, K, info);
  out.beta_undetermined.assign(static_cast<std::size_t>(K), false);
  std::vector<int> keep;
  for (int k = 1; k <= K; ++k) {
    bool moves = false;
    for (int s = 1; s <= S && !moves; ++s) {
      moves = d.at(s, k - 1) != 0.0 && change[static_cast<std::size_t>(s)] > no_change;
    }
    bool zero = true;
    for (int b = 1; b <= K && zero && moves; ++b) zero = info[packed_index(std::max(k, b), std::min(k, b))] == 0.0;
    if (!moves || zero) {
      out.beta_undetermined[static_cast<std::size_t>(k - 1)] = true;
    } else {
      keep.push_back(k);
    }
  }
  const int r = static_cast<int>(keep.size());
  std::vector<double> reduced(static_cast<std::size_t>(r) * (r + 1) / 2, 0.0);
  for (int i = 1; i <= r; ++i) {
    for (int j = 1; j <= i; ++j) reduced[packed_index(i, j)] = info[packed_index(keep[i - 1], keep[j - 1])];
  }
  out.code = r < 1 ? InversionCode::Inverted : matinv(reduced, r);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  out.beta_covariance.assign(static_cast<std::size_t>(K) * (K + 1) / 2, nan);
  for (int i = 1; i <= r; ++i) {
    for (int j = 1; j <= i; ++j) out.beta_covariance[packed_index(keep[i - 1], keep[j - 1])] = reduced[packed_index(i, j)];
  }
  if (out.code == InversionCode::Inverted) {
    for (int k = 1; k <= K; ++k) {
      const double v = out.beta_covariance[packed_index(k, k)];
      if (!(std::isfinite(v) && v > 0.0)) out.beta_undetermined[static_cast<std::size_t>(k - 1)] = true;
    }
  }
  // The slots' covariance J cov(beta) J' over the determined coefficients; a
  // slot an undetermined coefficient reaches is undetermined itself.
  out.slot_undetermined.assign(static_cast<std::size_t>(S) + 1, false);
  out.slot_covariance.assign(static_cast<std::size_t>(S) * (S + 1) / 2, nan);
  for (int s = 1; s <= S; ++s) {
    for (int k = 1; k <= K; ++k) {
      if (d.at(s, k - 1) != 0.0 && out.beta_undetermined[static_cast<std::size_t>(k - 1)]) {
        out.slot_undetermined[static_cast<std::size_t>(s)] = true;
      }
    }
  }
  auto cov = [&](int a, int b) { return out.beta_covariance[packed_index(std::max(a, b), std::min(a, b))]; };
  for (int a = 1; a <= S; ++a) {
    for (int b = 1; b <= a; ++b) {
      if (out.slot_undetermined[static_cast<std::size_t>(a)] || out.slot_undetermined[static_cast<std::size_t>(b)]) {
        continue;
      }
      double v = 0.0;
      for (int k = 1; k <= K; ++k) {
        const double ja = J[static_cast<std::size_t>(a - 1) * K + (k - 1)];
        if (ja == 0.0) continue;
        for (int l = 1; l <= K; ++l) {
          const double jb = J[static_cast<std::size_t>(b - 1) * K + (l - 1)];
          if (jb != 0.0) v += ja * cov(k, l) * jb;
        }
      }
      out.slot_covariance[packed_index(a, b)] = v;
    }
  }
  return out;
}

std::vector<CoefficientEstimate> coefficient_estimates(const LinearDesign& d, std::span<const double> beta,
                                                       const LinearInformation& info) {
  std::vector<CoefficientEstimate> out;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int k = 1; k <= d.coefficients(); ++k) {
    CoefficientEstimate e;
    e.name = d.names[static_cast<std::size_t>(k - 1)];
    e.part = d.parts[static_cast<std::size_t>(k - 1)];
    e.estimate = beta[static_cast<std::size_t>(k - 1)];
    e.estimable = !info.beta_undetermined[static_cast<std::size_t>(k - 1)];
    e.se = e.estimable ? std::sqrt(info.beta_covariance[packed_index(k, k)]) : nan;
    e.ci = Interval{e.estimate - kZ95 * e.se, e.estimate + kZ95 * e.se};
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace quorvale
