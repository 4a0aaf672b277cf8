#include "estimate/linear_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "base/packed.h"
#include "estimate/context.h"
#include "estimate/optimizer.h"
#include "estimate/results.h"
#include "model/information.h"
#include "model/likelihood.h"

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
CellBlocks blocks_from_slopes(const LinearDesign& d, const std::vector<double>& J, const CellBlocks& dprob) {
  const int S = d.slots;
  const int K = d.coefficients();
  CellBlocks blocks(dprob.cell_counts());
  std::vector<bool> reached;
  std::vector<double*> cohort;
  for (int k = 0; k < K; ++k) {
    // The cohorts of every slot the coefficient reaches. A slot absent from
    // a cohort is all zeros there, and J(s, k) times a zero is a zero that
    // leaves a cell's sum as it is (the sum starts at +0 and is -0 only when
    // both terms are); but a J(s, k) not finite makes it NaN, so such a slot
    // reaches every cohort.
    reached.assign(static_cast<std::size_t>(dprob.cohorts()) + 1, false);
    for (int s = 1; s <= S; ++s) {
      const double j = J[static_cast<std::size_t>(s - 1) * K + k];
      if (j == 0.0) continue;
      if (!std::isfinite(j)) {
        std::fill(reached.begin(), reached.end(), true);
        break;
      }
      for (const CellBlocks::Cohort& c : dprob.present(s - 1)) reached[static_cast<std::size_t>(c.cohort)] = true;
    }
    blocks.start_block();
    for (int c = 1; c <= dprob.cohorts(); ++c) {
      if (reached[static_cast<std::size_t>(c)]) blocks.append(c);
    }
    cohort.assign(static_cast<std::size_t>(dprob.cohorts()) + 1, nullptr);
    for (const CellBlocks::Cohort& c : blocks.present(k)) cohort[static_cast<std::size_t>(c.cohort)] = blocks.values(c);
    // Every cell takes its terms in slot order, as a sum over all cells would.
    for (int s = 1; s <= S; ++s) {
      const double j = J[static_cast<std::size_t>(s - 1) * K + k];
      if (j == 0.0) continue;
      if (std::isfinite(j)) {
        for (const CellBlocks::Cohort& c : dprob.present(s - 1)) {
          double* block = cohort[static_cast<std::size_t>(c.cohort)];
          const double* from = dprob.values(c);
          for (int h = 0; h < dprob.cells(c.cohort); ++h) block[h] += j * from[h];
        }
      } else {
        for (int c = 1; c <= dprob.cohorts(); ++c) {
          double* block = cohort[static_cast<std::size_t>(c)];
          const double* from = dprob.find(s - 1, c);
          for (int h = 0; h < dprob.cells(c); ++h) block[h] += j * (from != nullptr ? from[h] : 0.0);
        }
      }
    }
  }
  return blocks;
}

/// The covariates among the factors of column `name` ("PHI:G[M]:WINTER"):
/// the words after the part that name one of `covariates`.
std::vector<std::string> covariates_in(const std::string& name, const std::vector<Covariate>& covariates) {
  std::vector<std::string> out;
  std::size_t at = name.find(':');
  while (at != std::string::npos) {
    const std::size_t next = name.find(':', at + 1);
    const std::string factor = name.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    for (const Covariate& c : covariates) {
      if (c.name == factor) out.push_back(c.name);
    }
    at = next;
  }
  return out;
}

}  // namespace

CellBlocks coefficient_blocks(const LinearDesign& d, std::span<const double> beta, const CellBlocks& dprob) {
  return blocks_from_slopes(d, slopes(d, beta), dprob);
}

std::vector<double> coefficient_scales(FitContext& run, std::span<const double> beta) {
  ModelStore& m = run.model;
  const LinearDesign& d = m.linear->design;
  const int K = d.coefficients();
  slot_derivatives(run);
  const CellBlocks blocks = blocks_from_slopes(d, slopes(d, beta), run.work.DPROB);
  std::vector<double> scale(static_cast<std::size_t>(K), 1.0);
  for (int k = 0; k < K; ++k) {
    // A cohort the block is absent from adds NREL times +0: no bit of the sum changes.
    double information = 0.0;
    for (const CellBlocks::Cohort& c : blocks.present(k)) {
      const int j = c.cohort;
      const double* block = blocks.values(c);
      const double* p = m.P.column(j);
      double cohort = 0.0;
      for (int h = 0; h < blocks.cells(j); ++h) {
        if (p[h] > 0.0) cohort += block[h] * block[h] / p[h];
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

namespace {

/// The rest of the information in the coefficients once `out.information`
/// holds it: a coefficient that reaches only slots moving no cell (`change`
/// by slot, 1-based, at or below `no_change`) or whose row is zero is left
/// out of the inversion; the slots' covariance J cov(beta) J' follows.
void invert_coefficient_information(const LinearDesign& d, const std::vector<double>& J,
                                    const std::vector<double>& change, double no_change, LinearInformation& out) {
  const int S = d.slots;
  const int K = d.coefficients();
  const std::vector<double>& info = out.information;
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
}

}  // namespace

LinearInformation linear_information(const ModelStore& m, std::span<const double> beta,
                                     const CellBlocks& dprob, const std::vector<double>& change,
                                     double no_change) {
  const LinearDesign& d = m.linear->design;
  LinearInformation out;
  const std::vector<double> J = slopes(d, beta);
  information_matrix(m, blocks_from_slopes(d, J, dprob), out.information);
  invert_coefficient_information(d, J, change, no_change, out);
  return out;
}

namespace {

/// J' I J, packed (order K): the information in the coefficients from the
/// slots' information I (packed, order NEST), J = d slot / d beta.
std::vector<double> coefficient_information(const LinearDesign& d, const std::vector<double>& J,
                                            const std::vector<double>& slot_information) {
  const int S = d.slots;
  const int K = d.coefficients();
  const auto I = [&slot_information](int a, int b) {
    return slot_information[packed_index(std::max(a, b), std::min(a, b))];
  };
  // J' I J as (I J) first: S x K, then K x K.
  std::vector<double> IJ(static_cast<std::size_t>(S) * static_cast<std::size_t>(K), 0.0);
  for (int a = 1; a <= S; ++a) {
    for (int b = 1; b <= S; ++b) {
      const double iab = I(a, b);
      if (iab == 0.0) continue;
      for (int k = 0; k < K; ++k) {
        IJ[static_cast<std::size_t>(a - 1) * K + k] += iab * J[static_cast<std::size_t>(b - 1) * K + k];
      }
    }
  }
  std::vector<double> information(static_cast<std::size_t>(K) * (K + 1) / 2, 0.0);
  for (int k = 1; k <= K; ++k) {
    for (int l = 1; l <= k; ++l) {
      double v = 0.0;
      for (int a = 1; a <= S; ++a) {
        v += J[static_cast<std::size_t>(a - 1) * K + (k - 1)] * IJ[static_cast<std::size_t>(a - 1) * K + (l - 1)];
      }
      information[packed_index(k, l)] = v;
    }
  }
  return information;
}

}  // namespace

LinearInformation linear_information_from_slots(const ModelStore& m, std::span<const double> beta,
                                                const std::vector<double>& slot_information) {
  const LinearDesign& d = m.linear->design;
  const int S = d.slots;
  LinearInformation out;
  const std::vector<double> J = slopes(d, beta);
  out.information = coefficient_information(d, J, slot_information);
  // Exact derivatives: a slot that moves no cell has a zero row, no rounding to tell apart.
  const std::vector<double> change(static_cast<std::size_t>(S) + 1, std::numeric_limits<double>::infinity());
  invert_coefficient_information(d, J, change, 0.0, out);
  return out;
}

std::vector<double> exact_coefficient_information(FitContext& run, std::span<const double> beta) {
  ModelStore& m = run.model;
  const LinearDesign& d = m.linear->design;
  std::vector<double> slots(static_cast<std::size_t>(d.slots));
  d.probabilities(beta, slots);
  std::optional<RdDesign> read;
  const RdDesign& design = evaluation_design(m, read);
  std::vector<double> slot_information;
  exact_information(m, design, slots, ParameterScale::Natural, m.P, slot_information);
  return coefficient_information(d, slopes(d, beta), slot_information);
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

std::vector<CovariateEffect> covariate_effects(const ModelStore& m) {
  std::vector<CovariateEffect> out;
  if (!m.linear || m.covariates.empty()) return out;
  const RdDesign laid = laid_out(m);
  if (laid.status != EstStatus::Ok) return out;
  const RobustLayout& L = laid.layout;
  const LinearForms& forms = m.linear->forms;
  const LinearDesign& design = m.linear->design;
  // The period whose covariate value each parameter reads, and its group.
  const std::size_t npar = static_cast<std::size_t>(std::max(m.NPAR, 0)) + 1;
  std::vector<int> period(npar, 0);
  std::vector<int> group(npar, 1);
  auto at = [&](int I, int ip, int g) {
    if (I < 1 || static_cast<std::size_t>(I) >= npar) return;
    period[static_cast<std::size_t>(I)] = ip;
    group[static_cast<std::size_t>(I)] = g;
  };
  const int M = L.periods();
  for (int g = 1; g <= L.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int t = 1; t <= L.occasions(ip); ++t) at(L.p(ip, t, g), ip, g);
      for (int t = 2; t <= L.occasions(ip); ++t) at(L.c(ip, t, g), ip, g);
    }
    for (int i = 1; i <= M - 1; ++i) at(L.phi(i, g), i, g);
    for (int j = 2; j <= M; ++j) at(L.gamma2(j, g), j, g);
    for (int j = 3; j <= M; ++j) at(L.gamma1(j, g), j, g);
  }
  // Each part and covariate once, in the order of the columns.
  for (std::size_t k = 0; k < forms.names.size(); ++k) {
    for (const std::string& name : covariates_in(forms.names[k], m.covariates)) {
      const bool known = std::any_of(out.begin(), out.end(), [&](const CovariateEffect& e) {
        return e.part == forms.parts[k] && e.covariate == name;
      });
      if (!known) out.push_back(CovariateEffect{forms.parts[k], name, {}});
    }
  }
  // A slot's row of the design is its whole predictor: two parameters with
  // equal rows have one probability.
  auto row = [&](int I) {
    const int s = m.POINT(I);
    std::vector<double> r(static_cast<std::size_t>(design.coefficients()));
    for (int k = 0; k < design.coefficients(); ++k) r[static_cast<std::size_t>(k)] = design.at(s, k);
    return r;
  };
  for (CovariateEffect& effect : out) {
    const Covariate& covariate =
        *std::find_if(m.covariates.begin(), m.covariates.end(), [&](const Covariate& c) { return c.name == effect.covariate; });
    struct Candidate {
      CovariatePoint point;
      std::vector<double> row;
    };
    std::vector<Candidate> candidates;
    for (int I = 1; I <= m.NPAR; ++I) {
      const std::size_t i = static_cast<std::size_t>(I);
      if (i >= forms.formula.size() || !forms.formula[i] || forms.part[i] != effect.part || m.POINT(I) < 1 ||
          m.POINT(I) > design.slots || period[i] < 1 || static_cast<std::size_t>(period[i]) > covariate.values.size()) {
        continue;
      }
      candidates.push_back({{period[i], group[i], covariate.values[static_cast<std::size_t>(period[i] - 1)], I}, row(I)});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
      return a.point.group != b.point.group ? a.point.group < b.point.group : a.point.period < b.point.period;
    });
    auto repeats = [&](const Candidate& c, int in_group) {
      return std::any_of(candidates.begin(), candidates.end(), [&](const Candidate& other) {
        return &other != &c && other.point.group == in_group && other.point.period == c.point.period &&
               other.row == c.row && (in_group != c.point.group || other.point.parameter < c.point.parameter);
      });
    };
    // Every group's predictors those of the first group: one set of points for all groups.
    const bool shared = L.groups() > 1 && std::all_of(candidates.begin(), candidates.end(), [&](const Candidate& c) {
      return c.point.group == 1 || repeats(c, 1);
    });
    for (const Candidate& c : candidates) {
      if ((shared && c.point.group != 1) || repeats(c, c.point.group)) continue;
      effect.points.push_back(c.point);
      if (shared) effect.points.back().group = 0;
    }
  }
  return out;
}

}  // namespace quorvale
