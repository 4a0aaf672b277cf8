#include "estimate/results.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "stats/distributions.h"
#include "base/text.h"
#include "estimate/context.h"
#include "estimate/derived.h"
#include "estimate/numerr.h"
#include "estimate/optimizer.h"
#include "estimate/setup.h"
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

/// Position of the first cell of every cohort in a block of all cells.
std::vector<std::size_t> cell_offsets(const ModelStore& m, std::size_t& cells) {
  std::vector<std::size_t> offset(static_cast<std::size_t>(m.NCOHRT) + 2, 0);
  cells = 0;
  for (int j = 1; j <= m.NCOHRT; ++j) {
    offset[static_cast<std::size_t>(j)] = cells;
    cells += static_cast<std::size_t>(std::max(m.NCLASS(j), 0));
  }
  return offset;
}

/// Largest change of a cell probability, when a slot is moved for the
/// derivatives, that is still rounding: the products of a cell round at
/// about 1e-16 each, so a slot that moves no cell by more than this moves
/// none at all and the data hold no information on it.
constexpr double kNoChange = 1e-13;

/// Fills the derivative blocks: for each slot, the difference quotient of
/// every cell probability between a moved estimate and the estimate. Gives,
/// by slot (1-based), the largest change of a cell probability.
std::vector<double> derivative_blocks(FitContext& run, const std::vector<std::size_t>& offset, std::size_t cells) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const int n = m.NEST;
  w.DPROB.assign(static_cast<std::size_t>(n) * cells, 0.0);
  for (int b = 0; b < n; ++b) {
    double* block = w.DPROB.data() + static_cast<std::size_t>(b) * cells;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      std::copy_n(m.P.column(j), m.NCLASS(j), block + offset[static_cast<std::size_t>(j)]);
    }
  }
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
    evaluate_at_work(run);
    double* block = w.DPROB.data() + static_cast<std::size_t>(s - 1) * cells;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      double* cell = block + offset[static_cast<std::size_t>(j)];
      for (int k = 1; k <= m.NCLASS(j); ++k) {
        const double moved_by = m.P(k, j) - cell[k - 1];
        // NaN counts as a change: it is no sign of a slot without effect.
        if (!(std::fabs(moved_by) <= change[static_cast<std::size_t>(s)])) {
          change[static_cast<std::size_t>(s)] = std::isnan(moved_by) ? kNoChange * 2.0 : std::fabs(moved_by);
        }
        cell[k - 1] = moved_by / (x - moved);
      }
    }
    w.WORK(s) = x;
  }
  evaluate_at_work(run);
  return change;
}

}  // namespace

void information_matrix(const ModelStore& m, std::span<const double> dprob, int n, std::vector<double>& VC) {
  std::size_t cells = 0;
  const std::vector<std::size_t> offset = cell_offsets(m, cells);
  VC.assign(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  // A slot moves the cells of only some cohorts (its own period's, and the
  // open part's). A cohort where either slot moves nothing adds exactly +0
  // to the element, so only the cohorts both slots move are visited, in
  // cohort order as before: the sums are the same to the last bit.
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
}

namespace {

/// Covariance of slots a and b (both 1..NEST) from the packed VC.
double packed_covariance(const std::vector<double>& VC, int a, int b) {
  return VC[packed_index(std::max(a, b), std::min(a, b))];
}

/// The single-precision value of 10^-NSIG: expected counts at or below it
/// are left out of G and of the Pearson terms.
double expected_floor(int nsig) {
  float power = 1.0F;
  for (int i = 0; i < std::abs(nsig) && i < 60; ++i) power *= 10.0F;
  return static_cast<double>(nsig >= 0 ? 1.0F / power : power);
}

/// The inversion of the expected information matrix at the estimates
/// (WORK(1..NEST)): the covariance of the estimated slots is left in VC.
/// A slot that moves no cell probability beyond rounding, or whose row of
/// the information matrix is zero, carries no information: it is left out
/// of the inversion, its row and column of the covariance are NaN, and it is
/// marked in `undetermined` (by slot, 1-based), as is a slot whose variance
/// the inversion leaves not finite or not positive.
InversionCode invert_information(FitContext& run, std::vector<bool>& undetermined) {
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  std::size_t cells = 0;
  const std::vector<std::size_t> offset = cell_offsets(m, cells);
  const std::vector<double> change = derivative_blocks(run, offset, cells);
  information_matrix(m, w.DPROB, m.NEST, w.VC);
  const int n = m.NEST;
  undetermined.assign(static_cast<std::size_t>(std::max(n, 0)) + 1, false);
  if (n < 1) return InversionCode::Inverted;
  std::vector<int> keep;
  for (int a = 1; a <= n; ++a) {
    // No cell moves with the slot, or its row of the information is zero.
    bool zero = change[static_cast<std::size_t>(a)] <= kNoChange;
    if (!zero) {
      zero = true;
      for (int b = 1; b <= n && zero; ++b) zero = packed_covariance(w.VC, a, b) == 0.0;
    }
    if (zero) {
      undetermined[static_cast<std::size_t>(a)] = true;
    } else {
      keep.push_back(a);
    }
  }
  InversionCode code;
  if (static_cast<int>(keep.size()) == n) {
    code = inversion_code(matinv(w.VC, n));
  } else {
    const int r = static_cast<int>(keep.size());
    std::vector<double> reduced(static_cast<std::size_t>(r) * (r + 1) / 2, 0.0);
    for (int i = 1; i <= r; ++i) {
      for (int j = 1; j <= i; ++j) reduced[packed_index(i, j)] = packed_covariance(w.VC, keep[i - 1], keep[j - 1]);
    }
    code = r < 1 ? InversionCode::Inverted : inversion_code(matinv(reduced, r));
    std::fill(w.VC.begin(), w.VC.end(), std::numeric_limits<double>::quiet_NaN());
    for (int i = 1; i <= r; ++i) {
      for (int j = 1; j <= i; ++j) {
        w.VC[packed_index(std::max(keep[i - 1], keep[j - 1]), std::min(keep[i - 1], keep[j - 1]))] =
            reduced[packed_index(i, j)];
      }
    }
  }
  if (code == InversionCode::Inverted) {
    for (int a = 1; a <= n; ++a) {
      const double v = packed_covariance(w.VC, a, a);
      if (!(std::isfinite(v) && v > 0.0)) undetermined[static_cast<std::size_t>(a)] = true;
    }
  }
  return code;
}

/// The estimates S(1..NPAR) with their standard errors from VC; a
/// parameter estimated in an undetermined slot is not estimable and has
/// no standard error nor interval.
std::vector<ParameterEstimate> parameter_estimates(const ModelStore& m, Listing& lst, const std::vector<double>& VC,
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
    e.estimate = ss(m, lst, I);
    e.lower = e.estimate - kZ95 * e.se;
    e.upper = e.estimate + kZ95 * e.se;
    const int k = std::abs(e.slot);
    e.lower_bound = m.POINTL(I) > 0 ? m.PAR(m.POINTL(I)) : m.PARL(k);
    e.upper_bound = m.POINTU(I) > 0 ? m.PAR(m.POINTU(I)) : m.PARU(k);
    e.lower_by = std::max(m.POINTL(I), 0);
    e.upper_by = std::max(m.POINTU(I), 0);
    const std::string& label = m.LABEL(I);
    e.label = trimmed(label);
  }
  return out;
}

/// The goodness of fit of the cell probabilities in P: cells, pooled tests,
/// G, the log-likelihood (from the kernel F) and AIC.
void goodness_of_fit(const ModelStore& m, double F, FitReport& r) {
  const double floor = expected_floor(m.NSIG);
  const double eps = probability_floor(m.NSIG);
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

  const int NDF = df_total - m.NEST;
  double p = 0.0;
  int ier = 0;
  cdtr(G, NDF, p, ier);
  r.G = ChiSquareTest{G, NDF, 1.0 - p, ier != 0};
  pooled_df -= m.NEST;
  r.pooled = ChiSquareTest{pooled_chi, pooled_df, 0.0, false};
  if (pooled_df > 0) {
    cdtr(pooled_chi, pooled_df, p, ier);
    r.pooled.probability = 1.0 - p;
    r.pooled.error = ier != 0;
  }
  r.lnL = LL;
  r.aic = -2.0 * LL + 2.0 * m.NEST;
  r.aicc = r.aic + aicc_correction(r.nest, r.sample_size);
}

/// The inversion's error line and warnings.
void print_inversion(Listing& lst, const FitReport& r) {
  if (r.inversion == InversionCode::Inverted) return;
  numerr(lst, code_number(r.inversion), "MATINV");
  if (r.inversion == InversionCode::NotPositiveDefinite) {
    lst.warn("Variance-covariance matrix not positive-definite for Model " + r.name);
    lst.warn("Ignore standard errors and V-C matrix.");
    lst.warn("Check to be sure the parameters are identifiable, but the problem may just be ill-conditioned.");
  }
}

/// The results table: estimates, standard errors and 95% intervals.
void print_results_table(Listing& lst, const ModelStore& m, const FitReport& r) {
  static const Layout title("(/30X,17HResults for model,1X,A)");
  static const Layout interval("(///57X,23H95% Confidence Interval)");
  static const Layout heading(
      "(1X,35H  I       Parameter            S(I),                      5x,14hStandard Error,4X,5HLower,9X,5HUpper)");
  static const Layout rule("(2X,3(1H-),2X,20(1H-),4(1X,12H------------))");
  static const Layout row("(2i4,1x,a20,G12.6,3(1X,G12.6))");
  static const Layout not_estimable("(2i4,1x,a20,G12.6,3(1X,A12))");
  lst.linchk(r.npar + 8);
  lst.put(title, {r.name});
  lst.put(interval, {});
  lst.put(heading, {});
  lst.put(rule, {});
  for (const ParameterEstimate& e : r.parameters) {
    if (e.estimable) {
      lst.put(row, {e.index, e.slot, m.LABEL(e.index), e.estimate, e.se, e.lower, e.upper});
    } else {
      lst.put(not_estimable, {e.index, e.slot, m.LABEL(e.index), e.estimate, "unavailable", "", ""});
    }
  }
}

/// The abundance by primary period (option DERIVED).
void print_derived(Listing& lst, const FitReport& r) {
  static const Layout title("(//30X,A)");
  static const Layout text("(/3X,A)");
  static const Layout heading("(3X,A)");
  static const Layout row("(3X,I6,2X,I8,2X,F10.6,1X,4(1X,G12.6))");
  static const Layout no_error("(3X,I6,2X,I8,2X,F10.6,1X,1X,G12.6,1X,A)");
  static const Layout no_estimate("(3X,I6,2X,I8,2X,F10.6,1X,1X,A)");
  static const Layout nothing("(3X,I6,2X,I8,2X,A10,1X,1X,A)");
  lst.linchk(static_cast<int>(r.abundance.size()) + 7);
  lst.put(title, {"Derived estimates"});
  if (r.abundance.empty()) {
    lst.put(text, {"No abundance: the cohorts do not follow the robust-design layout."});
    return;
  }
  lst.put(text, {"Abundance by primary period: N-hat = n / p*, p* = 1 - product over occasions of (1 - p)"});
  lst.put(heading, {"Period  Caught (n)      p*          N-hat     Standard Error    Lower        Upper"});
  lst.put(heading, {"------  ----------  ----------  ------------ ------------ ------------ ------------"});
  for (const PeriodAbundance& a : r.abundance) {
    if (!a.available()) {
      const std::string why = "unavailable: " + a.unavailable;
      if (std::isfinite(a.p_star)) {
        lst.put(no_estimate, {a.period, a.caught, a.p_star, why});
      } else {
        lst.put(nothing, {a.period, a.caught, "n/a", why});
      }
    } else if (std::isfinite(a.se)) {
      lst.put(row, {a.period, a.caught, a.p_star, a.estimate, a.se, a.ci.lower, a.ci.upper});
    } else {
      lst.put(no_error, {a.period, a.caught, a.p_star, a.estimate, "unavailable (inversion failed or a p on a bound)"});
    }
  }
}

/// The variance-covariance matrix (on and below the diagonal) and the
/// correlations (above it), by parameter.
void print_covariance(Listing& lst, const FitReport& r) {
  static const Layout title("(///6X,A//14X,A)");
  static const Layout numbers("(31(/4X,1H|,I5,5I12))");
  static const Layout dashes("(5H ---+,6(A))");
  static const Layout row("(4X,1H|/1X,I3,1H|,6G12.5,30(/4X,1H|,       6G12.5))");
  const int n = r.npar;
  lst.linchk(5);
  lst.put(title, {"Variance-Covariance matrix of estimates on diagonal and below,",
                  "Correlation matrix of estimates above diagonal."});
  std::vector<double> D(static_cast<std::size_t>(n) * n, 0.0);
  auto at = [&D, n](int row, int col) -> double& {
    return D[static_cast<std::size_t>(row - 1) * n + static_cast<std::size_t>(col - 1)];
  };
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= i; ++j) at(i, j) = r.parameter_covariance(i, j);
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = i + 1; j <= n; ++j) {
      at(i, j) = (at(i, i) > 0.0 && at(j, j) > 0.0) ? at(j, i) / std::sqrt(at(i, i) * at(j, j)) : 0.0;
    }
  }
  lst.linchk(n / 6 + 3);
  std::vector<Item> items;
  for (int i = 1; i <= n; ++i) items.emplace_back(i);
  lst.put(numbers, items);
  items.assign(static_cast<std::size_t>(std::min(n, 6)), Item("------------"));
  lst.put(dashes, items);
  for (int i = 1; i <= n; ++i) {
    lst.linchk(n / 6 + 2);
    items.clear();
    items.emplace_back(i);
    for (int j = 1; j <= n; ++j) items.emplace_back(at(i, j));
    lst.put(row, items);
  }
}

/// The "@@" line, read by scripts: "(2H@@,3I5,2(I4,1X,G13.6),2G13.6)" when
/// every value leaves a blank before it. A value that fills its field gets
/// one blank before it, and an integer too wide for its field a field just
/// wide enough, so that the fields never run together.
void put_summary(Listing& lst, const FitReport& r) {
  static const Layout real_field("(G13.6)");
  std::string format = "(2H@@";
  auto integer = [&format](int v, int w) {
    const int need = static_cast<int>(std::to_string(v).size());
    format += need < w ? ",I" + std::to_string(w) : ",1X,I" + std::to_string(need);
  };
  auto real = [&format](double v) {
    const std::string text = real_field.write_internal({v}, 13);
    format += text.empty() || text[0] != ' ' ? ",1X,G13.6" : ",G13.6";
  };
  integer(r.sequence, 5);
  integer(code_number(r.optimizer), 5);
  integer(code_number(r.inversion), 5);
  integer(r.G.df, 4);
  format += ",1X,G13.6";
  integer(r.pooled.df, 4);
  format += ",1X,G13.6";
  real(r.lnL);
  real(r.aic);
  format += ")";
  lst.put(Layout(format), {r.sequence, code_number(r.optimizer), code_number(r.inversion), r.G.df, r.G.statistic,
                           r.pooled.df, r.pooled.statistic, r.lnL, r.aic});
}

/// The goodness-of-fit table with the pooled tests, G, the "@@" line and the
/// log-likelihood with AIC. A quiet fit writes only the "@@" line and the
/// chi-square warnings.
void print_goodness_of_fit(Listing& lst, const FitReport& r, bool print) {
  static const Layout heading(
      "(///54H   Cohort  Cell   Observed  Expected  Chi-square  Note/    50H   ------  ----   --------  --------  ----------  ,13(1H-))");
  static const Layout cell_line("(3X,I4,4X,I3,1X,I9,1X,F11.3,1X,F10.3,         3X,A)");
  static const Layout cohort_line("(3X,I4,1X,A,I3,16X,F10.3,3X,A,F6.4)");
  static const Layout rule("(3X,60(1H-))");
  static const Layout g_total("(3X,29HG Total (Degrees of freedom =,I4,      1H),1X,F11.3)");
  static const Layout larger("(3X,24HPr(Larger Chi-square) = ,F6.4)");
  static const Layout pooled_line(
      "(3X,'With pooling, Degrees of freedom ='          ,I4,'  Pearson Chi-square =',F11.3)");
  static const Layout likelihood_line(
      "(//3X,'Log-likelihood = ',G14.8,4X,      'Akaike Information Criterion = ',G14.8)");
  if (print) {
    lst.linchk(5);
    lst.put(heading, {});
    int j = 0;
    for (const CohortFit& cohort : r.cohorts) {
      ++j;
      lst.linchk(static_cast<int>(cohort.cells.size()) + 1);
      int k = 0;
      for (const CellFit& cell : cohort.cells) {
        ++k;
        const char* note = cell.outside ? "NOT 0 < P < 1  " : cell.impossible ? "P = 0, OBSERVED" : "0 < P < 1      ";
        lst.put(cell_line, {j, k, cell.observed, cell.expected, cell.chi, note});
      }
      lst.put(cohort_line, {j, "Cohort df=", cohort.pooled_df, cohort.pooled_chi, "P = ", cohort.probability});
    }
    lst.put(rule, {});
  }
  if (r.G.error) lst.warn("ERROR with chi-square probability.");
  put_summary(lst, r);
  if (print) {
    lst.linchk(8);
    lst.put(g_total, {r.G.df, r.G.statistic});
    lst.put(larger, {r.G.probability});
  }
  if (r.pooled.df > 0) {
    if (r.pooled.error) lst.warn("ERROR with chi-square probability.");
    if (print) {
      lst.put(pooled_line, {r.pooled.df, r.pooled.statistic});
      lst.put(larger, {r.pooled.probability});
    }
  }
  if (print) lst.put(likelihood_line, {r.lnL, r.aic});
}

}  // namespace

bool ParameterEstimate::on_bound() const {
  if (fixed()) return false;
  const double tolerance = 1e-6 * std::fabs(upper_bound - lower_bound);
  return std::fabs(estimate - lower_bound) <= tolerance || std::fabs(upper_bound - estimate) <= tolerance;
}

std::optional<Interval> ParameterEstimate::logit_ci() const {
  if (fixed()) return Interval{estimate, estimate};
  if (!(estimate > 0.0 && estimate < 1.0) || !std::isfinite(se)) return std::nullopt;
  return logit_interval(estimate, se);
}

double FitReport::parameter_covariance(int i, int j) const {
  const int a = parameters[static_cast<std::size_t>(i - 1)].slot;
  const int b = parameters[static_cast<std::size_t>(j - 1)].slot;
  return (a >= 1 && b >= 1) ? packed_covariance(covariance, a, b) : 0.0;
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
  const RdDesign d = rd_design(m);
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

/// Warns when cell probabilities fall outside 0..1 by more than rounding,
/// naming the parameters whose values lie outside 0..1.
void warn_cells_outside(Listing& lst, const ModelStore& m, const FitReport& r) {
  const int cells = r.cells_outside;
  const std::vector<int> named = parameters_outside(m, r);
  if (cells == 0 && named.empty()) return;
  // Probabilities outside 0..1 whose cells stay inside (p* takes them in)
  // are named all the same.
  std::string text = cells == 0 ? "No cell probability outside 0 to 1"
                                : "Cell probabilities outside 0 to 1 in " + std::to_string(cells) +
                                      (cells == 1 ? " cell" : " cells");
  if (!named.empty()) {
    text += "; parameters outside 0 to 1:";
    for (const int I : named) {
      const ParameterEstimate& e = r.parameters[static_cast<std::size_t>(I - 1)];
      char value[32];
      std::snprintf(value, sizeof value, "%.6g", e.estimate);
      text += " S(" + std::to_string(I) + ")=" + value;
      if (!e.label.empty()) text += " (" + e.label + ")";
    }
  }
  lst.warn(text + ".");
}

/// A G below 0 by more than this is no rounding of a G of 0.
constexpr double kNegativeG = 1e-6;

/// Warns of the cells that hold animals at a probability at or below the
/// likelihood's floor, cohort by cohort with the animals in them, and of a
/// log-likelihood above 0; either makes G no test of the fit.
void warn_impossible_point(Listing& lst, const ModelStore& m, const FitReport& r) {
  if (r.impossible_cells > 0) {
    std::string where;
    int animals = 0;
    for (std::size_t j = 0; j < r.cohorts.size(); ++j) {
      std::string cells;
      int in_cohort = 0;
      for (std::size_t k = 0; k < r.cohorts[j].cells.size(); ++k) {
        const CellFit& cell = r.cohorts[j].cells[k];
        if (!cell.impossible) continue;
        cells += (cells.empty() ? "" : " ") + std::to_string(k + 1);
        in_cohort += cell.observed;
      }
      if (cells.empty()) continue;
      animals += in_cohort;
      if (!where.empty()) where += "; ";
      where += "cohort " + std::to_string(j + 1) + " cell" + (cells.find(' ') == std::string::npos ? " " : "s ") +
               cells + " (" + std::to_string(in_cohort) + (in_cohort == 1 ? " animal)" : " animals)");
    }
    char floor[32];
    std::snprintf(floor, sizeof floor, "%.0e", probability_floor(m.NSIG));
    lst.warn("Cells holding animals have probability 0 (at or below the floor " + std::string(floor) +
             ") for Model " + trimmed(r.full_name) + ": " + std::to_string(r.impossible_cells) +
             (r.impossible_cells == 1 ? " cell, " : " cells, ") + std::to_string(animals) +
             (animals == 1 ? " animal: " : " animals: ") + where + ".");
  }
  if (std::isfinite(r.lnL) && r.lnL > 0.0) {
    lst.warn("Log-likelihood above 0 for Model " + trimmed(r.full_name) + ": no multinomial gives it.");
  }
  if (r.sound() && r.G.statistic < -kNegativeG) {
    // Out of reach of a sound fit but for rounding; never shown as a test without a word.
    lst.warn("G below 0 for Model " + trimmed(r.full_name) + ": it is no test of the fit.");
  }
  if (!r.sound()) {
    lst.warn("Model " + trimmed(r.full_name) + " rests on an impossible point: its G, log-likelihood and criteria are no "
             "test of it; PROC TEST ranks it last, leaves it out of averaging and of the model file.");
  }
}

/// Warns of the parameters the data cannot estimate.
void warn_not_estimable(Listing& lst, const FitReport& r) {
  std::string names;
  int count = 0;
  for (const ParameterEstimate& e : r.parameters) {
    if (e.estimable) continue;
    ++count;
    if (!names.empty()) names += ", ";
    names += "S(" + std::to_string(e.index) + ")";
    if (!e.label.empty()) names += " (" + e.label + ")";
  }
  if (names.empty()) return;
  lst.warn(count == 1 ? "Not estimable, the data hold no information on it: " + names +
                           "; its standard error and the values derived from it are unavailable."
                     : "Not estimable, the data hold no information on them: " + names +
                           "; their standard errors and the values derived from them are unavailable.");
}

}  // namespace

void report_results(FitContext& run, FitReport& report, ReportDetail detail) {
  ModelStore& m = run.model;
  const bool print = detail == ReportDetail::Full;
  report.npar = m.NPAR;
  report.nest = m.NEST;
  std::int64_t n = 0;
  for (int c = 1; c <= m.NCOHRT; ++c) n += m.NREL(c);
  report.sample_size = static_cast<int>(static_cast<std::uint32_t>(n));
  std::vector<bool> undetermined;
  report.inversion = invert_information(run, undetermined);
  m.IERINV = code_number(report.inversion);
  print_inversion(run.listing, report);
  report.parameters = parameter_estimates(m, run.listing, run.work.VC, undetermined);
  warn_not_estimable(run.listing, report);
  report.covariance = run.work.VC;
  if (report.inversion == InversionCode::Inverted) report.correlation = packed_correlation(report.covariance, report.nest);
  report.abundance = derived_abundance(m, report);
  if (print) print_results_table(run.listing, m, report);
  if (print && report.show_derived) print_derived(run.listing, report);
  if (print && m.NOVAR == 0) print_covariance(run.listing, report);
  goodness_of_fit(m, run.work.F, report);
  report.cells_outside = count_cells_outside(m);
  report.parameters_outside = static_cast<int>(parameters_outside(m, report).size());
  print_goodness_of_fit(run.listing, report, print);
  warn_cells_outside(run.listing, m, report);
  warn_impossible_point(run.listing, m, report);
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
