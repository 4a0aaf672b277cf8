#include "estimate/results.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "stats/distributions.h"
#include "base/text.h"
#include "estimate/context.h"
#include "estimate/derived.h"
#include "estimate/linear_fit.h"
#include "estimate/optimizer.h"
#include "estimate/parameter_table.h"
#include "estimate/setup.h"
#include "model/information.h"
#include "model/likelihood.h"
#include "model/ss.h"

namespace quorvale {

namespace {

/// Estimates above this are moved by the factor 0.9999 for the derivatives (single precision).
constexpr double kRelativeStepFrom = static_cast<double>(5.0E-5F);
/// Factor of the moved estimate (0.9999 in single precision).
constexpr double kStepFactor = static_cast<double>(0.9999F);
/// The moved value of an estimate near zero (1.0E-4 in single precision).
constexpr double kSmallStep = static_cast<double>(1.0E-4F);
/// Normal quantile of the 95% intervals (1.96 in single precision).
constexpr double kZ95 = static_cast<double>(1.96F);

/// Cells of every cohort (1..NCOHRT at 0..NCOHRT-1): the shape of a derivative block.
std::vector<int> cohort_cells(const ModelStore& m) {
  std::vector<int> cells(static_cast<std::size_t>(std::max(m.NCOHRT, 0)), 0);
  for (int j = 1; j <= m.NCOHRT; ++j) cells[static_cast<std::size_t>(j - 1)] = std::max(m.NCLASS(j), 0);
  return cells;
}

/// Largest change of a cell probability, when a slot is moved for the
/// derivatives, that is still rounding: the products of a cell round at
/// about 1e-16 each, so a slot that moves no cell by more than this moves
/// none at all and the data hold no information on it.
constexpr double kNoChange = 1e-13;

/// What the derivative blocks leave besides the blocks themselves.
struct Derivatives {
  /// By slot (1-based), the largest change of a cell probability.
  std::vector<double> change;
  /// The likelihood kernel at the estimates, from the evaluation that ends
  /// the blocks and leaves the cells at the estimates in P.
  double F = 0.0;
};

/// Fills the derivative blocks: for each slot, the difference quotient of
/// every cell probability between a moved estimate and the estimate, kept
/// on the cohorts where it is not all zeros. The cells at the estimates come
/// from an evaluation there first.
Derivatives derivative_blocks(FitContext& run) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const int n = m.NEST;
  evaluate_at_work(run, ParameterScale::Natural);
  w.DPROB.reset(cohort_cells(m));
  // The cells at the estimates, cohort after cohort.
  std::vector<double> at;
  at.reserve(w.DPROB.total_cells());
  for (int j = 1; j <= m.NCOHRT; ++j) at.insert(at.end(), m.P.column(j), m.P.column(j) + w.DPROB.cells(j));
  std::vector<double> quotient;
  std::vector<double> change(static_cast<std::size_t>(n) + 1, 0.0);
  for (int s = 1; s <= n; ++s) {
    const double x = w.WORK(s);
    double moved;
    if (x > kRelativeStepFrom) {
      moved = kStepFactor * x;
    } else {
      moved = std::signbit(x) ? -kSmallStep : kSmallStep;
    }
    w.WORK(s) = moved;
    evaluate_at_work(run, ParameterScale::Natural);
    w.DPROB.start_block();
    const double* cell = at.data();
    for (int j = 1; j <= m.NCOHRT; ++j) {
      quotient.resize(static_cast<std::size_t>(w.DPROB.cells(j)));
      for (int k = 1; k <= w.DPROB.cells(j); ++k) {
        const double moved_by = m.P(k, j) - cell[k - 1];
        // NaN counts as a change: it is no sign of a slot without effect.
        if (!(std::fabs(moved_by) <= change[static_cast<std::size_t>(s)])) {
          change[static_cast<std::size_t>(s)] = std::isnan(moved_by) ? kNoChange * 2.0 : std::fabs(moved_by);
        }
        quotient[static_cast<std::size_t>(k - 1)] = moved_by / (x - moved);
      }
      w.DPROB.append_unless_zero(j, quotient.data());
      cell += w.DPROB.cells(j);
    }
    w.WORK(s) = x;
  }
  const double F = evaluate_at_work(run, ParameterScale::Natural);
  return Derivatives{std::move(change), F};
}

}  // namespace

SlotDerivatives slot_derivatives(FitContext& run) {
  Derivatives d = derivative_blocks(run);
  return SlotDerivatives{std::move(d.change), kNoChange};
}

void information_matrix(const ModelStore& m, const CellBlocks& d, std::vector<double>& VC) {
  const int n = d.blocks();
  VC.assign(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  // Only the cohorts both blocks are present on are visited, in cohort
  // order. On any other cohort one of the two is all zeros (+0 or -0), so
  // every cell fails the test |D| > 0 and the cohort's sum is +0; NREL times
  // that is +0 or -0, and adding a zero to a total that starts at +0 changes
  // no bit of it (a sum of doubles is -0 only when both terms are). A cohort
  // present in a block with only zeros and NaN in it likewise adds +0. The
  // elements are the sums over every cohort and cell to the last bit.
  for (int a = 1; a <= n; ++a) {
    const std::span<const CellBlocks::Cohort> ma = d.present(a - 1);
    for (int b = 1; b <= a; ++b) {
      const std::span<const CellBlocks::Cohort> mb = d.present(b - 1);
      double total = 0.0;
      auto ia = ma.begin();
      auto ib = mb.begin();
      while (ia != ma.end() && ib != mb.end()) {
        if (ia->cohort < ib->cohort) {
          ++ia;
        } else if (ib->cohort < ia->cohort) {
          ++ib;
        } else {
          const int j = ia->cohort;
          const double* da = d.values(*ia);
          const double* db = d.values(*ib);
          const double* p = m.P.column(j);
          double cohort = 0.0;
          for (int k = 0; k < d.cells(j); ++k) {
            const double x = da[k];
            const double y = db[k];
            if (p[k] > 0.0 && std::fabs(x) > 0.0 && std::fabs(y) > 0.0) cohort += x * y / p[k];
          }
          total += static_cast<double>(m.NREL(j)) * cohort;
          ++ia;
          ++ib;
        }
      }
      VC[packed_index(a, b)] = total;
    }
  }
}

void information_matrix(const ModelStore& m, std::span<const double> dprob, int n, std::vector<double>& VC) {
  information_matrix(m, CellBlocks::from_dense(cohort_cells(m), dprob, n), VC);
}

namespace {

/// Element (a, b) of a packed symmetric matrix of slots (both 1..NEST): the covariance or the correlation.
double packed_element(const std::vector<double>& VC, int a, int b) {
  return VC[packed_index(std::max(a, b), std::min(a, b))];
}

/// The single-precision value of 10^-NSIG: expected counts at or below it
/// are left out of G and of the Pearson terms.
double expected_floor(int nsig) {
  float power = 1.0F;
  for (int i = 0; i < std::abs(nsig) && i < 60; ++i) power *= 10.0F;
  return static_cast<double>(nsig >= 0 ? 1.0F / power : power);
}

/// The outcome of the inversion of the information matrix.
struct Inversion {
  InversionCode code = InversionCode::Inverted;
  std::vector<bool> undetermined;  ///< by slot (1-based): no information on it
  double F = 0.0;                  ///< the likelihood kernel at the estimates
  /// A fit with linear forms: the information in its coefficients.
  std::optional<LinearInformation> linear;
};

/// The outcome of a fit with linear forms, whose information is taken in
/// its coefficients: its code, the slots' covariance (by the delta method)
/// into VC and the slots an undetermined coefficient reaches.
void take_linear(LinearInformation info, std::vector<double>& VC, Inversion& out) {
  out.linear = std::move(info);
  out.code = out.linear->code;
  VC = out.linear->slot_covariance;
  out.undetermined = out.linear->slot_undetermined;
}

/// The slots' covariance from their information in VC (order n), in place:
/// a slot with no information (its largest cell change, `change` by slot,
/// at or below kNoChange, or its row of VC zero) is left out of the
/// inversion, its row and column NaN and marked undetermined, as is a slot
/// whose variance the inversion leaves not finite or not positive.
void invert_slot_information(std::vector<double>& VC, const std::vector<double>& change, int n, Inversion& out) {
  std::vector<bool>& undetermined = out.undetermined;
  undetermined.assign(static_cast<std::size_t>(std::max(n, 0)) + 1, false);
  if (n < 1) return;
  std::vector<int> keep;
  for (int a = 1; a <= n; ++a) {
    // No cell moves with the slot, or its row of the information is zero.
    bool zero = change[static_cast<std::size_t>(a)] <= kNoChange;
    if (!zero) {
      zero = true;
      for (int b = 1; b <= n && zero; ++b) zero = packed_element(VC, a, b) == 0.0;
    }
    if (zero) {
      undetermined[static_cast<std::size_t>(a)] = true;
    } else {
      keep.push_back(a);
    }
  }
  if (static_cast<int>(keep.size()) == n) {
    out.code = matinv(VC, n);
  } else {
    const int r = static_cast<int>(keep.size());
    std::vector<double> reduced(static_cast<std::size_t>(r) * (r + 1) / 2, 0.0);
    for (int i = 1; i <= r; ++i) {
      for (int j = 1; j <= i; ++j) reduced[packed_index(i, j)] = packed_element(VC, keep[i - 1], keep[j - 1]);
    }
    out.code = r < 1 ? InversionCode::Inverted : matinv(reduced, r);
    std::fill(VC.begin(), VC.end(), std::numeric_limits<double>::quiet_NaN());
    for (int i = 1; i <= r; ++i) {
      for (int j = 1; j <= i; ++j) {
        VC[packed_index(std::max(keep[i - 1], keep[j - 1]), std::min(keep[i - 1], keep[j - 1]))] =
            reduced[packed_index(i, j)];
      }
    }
  }
  if (out.code == InversionCode::Inverted) {
    for (int a = 1; a <= n; ++a) {
      const double v = packed_element(VC, a, a);
      if (!(std::isfinite(v) && v > 0.0)) undetermined[static_cast<std::size_t>(a)] = true;
    }
  }
}

/// The inversion of the information from exact cell derivatives
/// (GRADIENT=EXACT) at the estimates WORK(1..NEST): one evaluation with
/// derivatives, which leaves the cells at the estimates in P. A slot whose
/// row of the information is zero moves no cell.
Inversion invert_exact_information(FitContext& run) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const int n = m.NEST;
  const std::span<const double> x(w.WORK.base() + 1, static_cast<std::size_t>(std::max(n, 0)));
  for (int k = 1; k <= n; ++k) m.PAR(k) = w.WORK(k);
  std::optional<RdDesign> read;
  const RdDesign& d = evaluation_design(m, read);
  const EstResult r = exact_information(m, d, x, ParameterScale::Natural, m.P, w.VC);
  report_evaluation(m, run.listing, d, r, ParameterScale::Natural);
  Inversion out;
  out.F = r.F;
  if (m.linear) {
    // The information in the coefficients; the slots' covariance by the delta method.
    take_linear(linear_information_from_slots(m, w.beta, w.VC), w.VC, out);
    return out;
  }
  const std::vector<double> change(static_cast<std::size_t>(std::max(n, 0)) + 1, std::numeric_limits<double>::infinity());
  invert_slot_information(w.VC, change, n, out);
  return out;
}

/// The inversion of the expected information matrix at the estimates
/// (WORK(1..NEST)): the covariance of the estimated slots is left in VC.
/// A slot that moves no cell probability beyond rounding, or whose row of
/// the information matrix is zero, carries no information: it is left out
/// of the inversion, its row and column of the covariance are NaN, and it is
/// marked in `undetermined` (by slot, 1-based), as is a slot whose variance
/// the inversion leaves not finite or not positive. P holds the cells at the
/// estimates afterwards.
Inversion invert_information(FitContext& run) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  if (m.exact_gradient) return invert_exact_information(run);
  const Derivatives derivatives = derivative_blocks(run);
  const std::vector<double>& change = derivatives.change;
  Inversion out;
  out.F = derivatives.F;
  if (m.linear) {
    // The information is taken in the coefficients; the slots' covariance follows by the delta method.
    take_linear(linear_information(m, w.beta, w.DPROB, change, kNoChange), w.VC, out);
    return out;
  }
  information_matrix(m, w.DPROB, w.VC);
  invert_slot_information(w.VC, change, m.NEST, out);
  return out;
}

/// The 95% interval on the logit scale, mapped back: the estimate itself
/// when fixed; none when the estimate is not strictly inside 0..1 or the
/// standard error is not finite.
std::optional<Interval> logit_ci(const ParameterEstimate& e) {
  if (e.fixed()) return Interval{e.estimate, e.estimate};
  if (!(e.estimate > 0.0 && e.estimate < 1.0) || !std::isfinite(e.se)) return std::nullopt;
  return logit_interval(e.estimate, e.se);
}

/// The estimates S(1..NPAR) with their standard errors from VC; a
/// parameter estimated in an undetermined slot is not estimable and has
/// no standard error nor interval.
std::vector<ParameterEstimate> parameter_estimates(const ModelStore& m, const std::vector<double>& VC,
                                                   const std::vector<bool>& undetermined) {
  std::vector<ParameterEstimate> out(static_cast<std::size_t>(std::max(m.NPAR, 0)));
  for (int I = 1; I <= m.NPAR; ++I) {
    ParameterEstimate& e = out[static_cast<std::size_t>(I - 1)];
    e.index = I;
    e.slot = m.POINT(I);
    e.estimable = !(e.slot >= 1 && static_cast<std::size_t>(e.slot) < undetermined.size() &&
                    undetermined[static_cast<std::size_t>(e.slot)]);
    e.se = e.slot >= 1 ? std::sqrt(VC[packed_index(e.slot, e.slot)]) : 0.0;
    if (!e.estimable) e.se = std::numeric_limits<double>::quiet_NaN();
    e.estimate = ss_value(m, m.PAR.base(), I, ParameterScale::Natural);
    e.lower = e.estimate - kZ95 * e.se;
    e.upper = e.estimate + kZ95 * e.se;
    const ParameterBounds bounds = parameter_bounds(m, I);
    e.lower_bound = bounds.lower;
    e.upper_bound = bounds.upper;
    e.lower_by = std::max(m.POINTL(I), 0);
    e.upper_by = std::max(m.POINTU(I), 0);
    const std::string& label = m.LABEL(I);
    e.label = trimmed(label);
    e.on_bound = reaches_bound(e);
    e.logit_ci = logit_ci(e);
  }
  return out;
}

/// The goodness of fit of the cell probabilities in P: cells, pooled tests,
/// G, the log-likelihood (from the kernel F) and AIC.
void goodness_of_fit(const ModelStore& m, double F, FitReport& r) {
  const double floor = expected_floor(m.NSIG);
  const double eps = probability_floor(m.NSIG);
  r.cell_floor = eps;
  r.impossible_cells = 0;
  double G = 0.0;
  int df_total = 0;
  double pooled_chi = 0.0;
  int pooled_df = 0;
  double LL = -F;
  std::vector<double> O;
  std::vector<double> E;
  r.cohorts.assign(static_cast<std::size_t>(std::max(m.NCOHRT, 0)), CohortFit{});
  for (int j = 1; j <= m.NCOHRT; ++j) {
    CohortFit& cohort = r.cohorts[static_cast<std::size_t>(j - 1)];
    const int n = m.NCLASS(j);
    const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
    O.assign(size, 0.0);
    E.assign(size, 0.0);
    cohort.cells.resize(size);
    if (m.NOBIN == 0) LL += dlgama(static_cast<double>(m.NREL(j)) + 1.0);
    for (int k = 1; k <= n; ++k) {
      if (m.NOBIN == 0) LL -= dlgama(static_cast<double>(m.NOBS(k, j)) + 1.0);
      E[k - 1] = static_cast<double>(m.NREL(j)) * m.P(k, j);
      O[k - 1] = static_cast<double>(m.NOBS(k, j));
      double g = 0.0;
      double c = 0.0;
      if (E[k - 1] > floor) {
        if (O[k - 1] > 0.0) g = 2.0 * O[k - 1] * std::log(O[k - 1] / E[k - 1]);
        c = (O[k - 1] - E[k - 1]) * (O[k - 1] - E[k - 1]) / E[k - 1];
      }
      // The likelihood reads such a cell at the floor: the animals in it
      // are where the model gives them no probability.
      const bool impossible = m.NOBS(k, j) > 0 && !(m.P(k, j) > eps);
      if (impossible) ++r.impossible_cells;
      cohort.cells[static_cast<std::size_t>(k - 1)] =
          CellFit{m.NOBS(k, j), E[k - 1], c, m.P(k, j) < 0.0 || m.P(k, j) > 1.0, impossible};
      G += g;
    }
    int df = n - 1;
    df_total += df;
    const double chi = cspool(O, E, df, n);
    pooled_chi += chi;
    pooled_df += df;
    double p = 0.0;
    int ier = 0;
    cdtr(chi, df, p, ier);
    cohort.pooled_df = df;
    cohort.pooled_chi = chi;
    cohort.probability = 1.0 - p;
  }

  const int NDF = df_total - r.nest;
  double p = 0.0;
  int ier = 0;
  cdtr(G, NDF, p, ier);
  r.G = ChiSquareTest{G, NDF, 1.0 - p, ier != 0};
  pooled_df -= r.nest;
  r.pooled = ChiSquareTest{pooled_chi, pooled_df, 0.0, false};
  if (pooled_df > 0) {
    cdtr(pooled_chi, pooled_df, p, ier);
    r.pooled.probability = 1.0 - p;
    r.pooled.error = ier != 0;
  }
  r.lnL = LL;
  r.aic = -2.0 * LL + 2.0 * r.nest;
  r.aicc = r.aic + aicc_correction(r.nest, r.sample_size);
}

}  // namespace

double FitReport::parameter_covariance(int i, int j) const {
  const int a = parameters[static_cast<std::size_t>(i - 1)].slot;
  const int b = parameters[static_cast<std::size_t>(j - 1)].slot;
  return (a >= 1 && b >= 1) ? packed_element(covariance, a, b) : 0.0;
}

double FitReport::parameter_correlation(int i, int j) const {
  const int a = parameters[static_cast<std::size_t>(i - 1)].slot;
  const int b = parameters[static_cast<std::size_t>(j - 1)].slot;
  return (a >= 1 && b >= 1) ? packed_element(correlation, a, b) : 0.0;
}

double cspool(std::span<double> O, std::span<double> E, int& df, int n) {
  int m = n;
  if (m <= 0) return 0.0;
  while (m > 1) {
    int s = 0;
    for (int i = 1; i < m; ++i) {
      if (E[static_cast<std::size_t>(i)] < E[static_cast<std::size_t>(s)]) s = i;
    }
    if (m == 2 || E[static_cast<std::size_t>(s)] >= 2.0 || df <= 1) break;
    // Merge cell s (0-based) with a neighbour; the pair takes the lower position.
    int low;
    if (s == 0) {
      low = 0;
    } else if (s == m - 1) {
      low = m - 2;
    } else {
      low = E[static_cast<std::size_t>(s - 1)] > E[static_cast<std::size_t>(s + 1)] ? s : s - 1;
    }
    O[static_cast<std::size_t>(low)] += O[static_cast<std::size_t>(low + 1)];
    E[static_cast<std::size_t>(low)] += E[static_cast<std::size_t>(low + 1)];
    for (int i = low + 1; i < m - 1; ++i) {
      O[static_cast<std::size_t>(i)] = O[static_cast<std::size_t>(i + 1)];
      E[static_cast<std::size_t>(i)] = E[static_cast<std::size_t>(i + 1)];
    }
    --m;
    --df;
  }
  double chi = 0.0;
  for (int i = 0; i < m; ++i) {
    const double e = E[static_cast<std::size_t>(i)];
    if (e > 0.0) chi += (O[static_cast<std::size_t>(i)] - e) * (O[static_cast<std::size_t>(i)] - e) / e;
  }
  return chi;
}

/// Beyond this distance from 0..1 a cell probability is outside by more than
/// the rounding of its sums (which reaches 2.2e-16 at a cell of 0).
constexpr double kOutsideTolerance = 1e-9;

namespace {

/// The parameters (1-based) that enter the cells as probabilities and whose
/// values in `r` lie outside 0..1: every p, c (unless the power variant reads
/// none), phi, gamma'' and gamma' of the model's design.
std::vector<int> parameters_outside(const ModelStore& m, const FitReport& r) {
  std::vector<int> out;
  const RdDesign d = laid_out(m);
  if (d.status != EstStatus::Ok) return out;
  const RobustLayout& L = d.layout;
  const int M = L.periods();
  auto value = [&](int I) { return r.parameters[static_cast<std::size_t>(I - 1)].estimate; };
  // The power variant reads no c and turns the first into its switch.
  const bool power = M >= 1 && L.occasions(1) >= 2 && value(L.occasions(1) + 1) < 0.0;
  std::vector<int> probabilities;
  for (int ip = 1; ip <= M; ++ip) {
    for (int t = 1; t <= L.occasions(ip); ++t) probabilities.push_back(L.p(ip, t));
    if (!power) {
      for (int t = 2; t <= L.occasions(ip); ++t) probabilities.push_back(L.c(ip, t));
    }
  }
  for (int i = 1; i <= M; ++i) {
    for (const int I : {L.phi(i), L.gamma2(i), L.gamma1(i)}) probabilities.push_back(I);
  }
  std::sort(probabilities.begin(), probabilities.end());
  probabilities.erase(std::unique(probabilities.begin(), probabilities.end()), probabilities.end());
  for (const int I : probabilities) {
    if (I < 1 || I > m.NPAR) continue;
    if (value(I) < 0.0 || value(I) > 1.0) out.push_back(I);
  }
  return out;
}

/// Counts the cells whose probability lies outside 0..1 by more than rounding.
int count_cells_outside(const ModelStore& m) {
  int cells = 0;
  for (int j = 1; j <= m.NCOHRT; ++j) {
    for (int k = 1; k <= m.NCLASS(j); ++k) {
      if (m.P(k, j) < -kOutsideTolerance || m.P(k, j) > 1.0 + kOutsideTolerance) ++cells;
    }
  }
  return cells;
}

}  // namespace

std::vector<double> packed_correlation(const std::vector<double>& vc, int k) {
  const std::size_t K = static_cast<std::size_t>(k < 0 ? 0 : k);
  if (vc.size() < K * (K + 1) / 2) return {};
  std::vector<double> r(K * (K + 1) / 2, 0.0);
  for (int a = 1; a <= k; ++a) {
    for (int b = 1; b <= a; ++b) {
      const double va = vc[packed_index(a, a)];
      const double vb = vc[packed_index(b, b)];
      r[packed_index(a, b)] = (va > 0.0 && vb > 0.0) ? vc[packed_index(a, b)] / std::sqrt(va * vb) : 0.0;
    }
  }
  return r;
}

bool reaches_bound(const ParameterEstimate& e) {
  if (e.fixed()) return false;
  const double tolerance = 1e-6 * std::fabs(e.upper_bound - e.lower_bound);
  return std::fabs(e.estimate - e.lower_bound) <= tolerance || std::fabs(e.upper_bound - e.estimate) <= tolerance;
}

void complete_report(FitContext& run, FitReport& report) {
  ModelStore& m = run.model;
  report.npar = m.NPAR;
  report.nest = m.linear ? m.linear->design.coefficients() : m.NEST;
  report.slots = m.NEST;
  std::int64_t n = 0;
  for (int c = 1; c <= m.NCOHRT; ++c) n += m.NREL(c);
  report.sample_size = static_cast<int>(static_cast<std::uint32_t>(n));
  const Inversion inversion = invert_information(run);
  report.inversion = inversion.code;
  m.IERINV = code_number(report.inversion);
  report.parameters = parameter_estimates(m, run.work.VC, inversion.undetermined);
  report.covariance = run.work.VC;
  // Also after a failed inversion: the listing shows what the inversion left.
  report.correlation = packed_correlation(report.covariance, report.slots);
  if (inversion.linear) {
    report.betas = coefficient_estimates(m.linear->design, run.work.beta, *inversion.linear);
    report.beta_covariance = inversion.linear->beta_covariance;
    report.beta_design = m.linear->design.X;
    report.covariate_effects = covariate_effects(m);
  }
  DerivedAbundance derived = derived_abundance(m, report);
  report.abundance = std::move(derived.by_group);
  report.total_abundance = std::move(derived.total);
  goodness_of_fit(m, inversion.F, report);
  // Each parameter and cohort with its group of animals.
  report.groups = m.group_names;
  if (m.groups() > 1) {
    const RdDesign design = laid_out(m);
    if (design.status == EstStatus::Ok) {
      const RobustLayout& L = design.layout;
      for (ParameterEstimate& e : report.parameters) e.group = L.group_of(e.index);
      for (std::size_t c = 0; c < report.cohorts.size(); ++c) {
        report.cohorts[c].group = L.group_of_cohort(static_cast<int>(c) + 1);
      }
    }
  }
  report.cells_outside = count_cells_outside(m);
  report.parameters_outside = parameters_outside(m, report);
}

void save_row(SavedModels& t, const FitReport& r) {
  const int row = r.sequence;
  t.K(row) = r.nest;
  t.NDF(row) = r.G.df;
  t.PG(row) = r.G.probability;
  t.G(row) = r.G.statistic;
  t.DFC(row) = r.G.df;
  t.lnL(row) = r.lnL;
  t.full_name(row) = r.full_name;
  t.unsound(row) = r.sound() ? 0 : 1;
}

}  // namespace quorvale