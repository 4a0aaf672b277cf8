#include "estimate/results.h"

#include <algorithm>
#include <iterator>
#include <cmath>
#include <vector>

#include "stats/distributions.h"
#include "estimate/context.h"
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

/// Fills the derivative blocks: for each slot, the difference quotient of
/// every cell probability between a moved estimate and the estimate.
void derivative_blocks(FitContext& run, const std::vector<std::size_t>& offset, std::size_t cells) {
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
      for (int k = 1; k <= m.NCLASS(j); ++k) cell[k - 1] = (m.P(k, j) - cell[k - 1]) / (x - moved);
    }
    w.WORK(s) = x;
  }
  evaluate_at_work(run);
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
double covariance(const std::vector<double>& VC, int a, int b) {
  return VC[packed_index(std::max(a, b), std::min(a, b))];
}

/// Prints the results table; under PROC SIMULATE keeps the standard errors in WORK.
void results_table(FitContext& run) {
  static const Layout title("(/30X,17HResults for model,1X,A)");
  static const Layout interval("(///57X,23H95% Confidence Interval)");
  static const Layout heading(
      "(1X,35H  I       Parameter            S(I),                      5x,14hStandard Error,4X,5HLower,9X,5HUpper)");
  static const Layout rule("(2X,3(1H-),2X,20(1H-),4(1X,12H------------))");
  static const Layout row("(2i4,1x,a20,G12.6,3(1X,G12.6))");
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  const bool print = run.status.IPRINT == 1;
  if (print) {
    run.listing.linchk(m.NPAR + 8);
    run.listing.put(title, {run.saved.NAMSAV(run.saved.NMOD)});
    run.listing.put(interval, {});
    run.listing.put(heading, {});
    run.listing.put(rule, {});
  }
  for (int I = 1; I <= m.NPAR; ++I) {
    const int p = m.POINT(I);
    const double se = p >= 1 ? std::sqrt(w.VC[packed_index(p, p)]) : 0.0;
    const double s = ss(m, run.listing, I);
    if (print) {
      run.listing.put(row, {I, p, m.LABEL(I), s, se, s - kZ95 * se, s + kZ95 * se});
    }
    if (run.status.ISIMUL == 1) w.WORK(I) = se;
  }
}

/// Prints the variance-covariance matrix (on and below the diagonal) and the
/// correlations (above it), by parameter.
void covariance_display(FitContext& run) {
  static const Layout title("(///6X,A//14X,A)");
  static const Layout numbers("(31(/4X,1H|,I5,5I12))");
  static const Layout dashes("(5H ---+,6(A))");
  static const Layout row("(4X,1H|/1X,I3,1H|,6G12.5,30(/4X,1H|,       6G12.5))");
  const ModelStore& m = run.model;
  const std::vector<double>& VC = run.work.VC;
  const int n = m.NPAR;
  Listing& lst = run.listing;
  lst.linchk(5);
  lst.put(title, {"Variance-Covariance matrix of estimates on diagonal and below,",
                  "Correlation matrix of estimates above diagonal."});
  std::vector<double> D(static_cast<std::size_t>(n) * n, 0.0);
  auto at = [&D, n](int r, int c) -> double& {
    return D[static_cast<std::size_t>(r - 1) * n + static_cast<std::size_t>(c - 1)];
  };
  for (int r = 1; r <= n; ++r) {
    for (int c = 1; c <= r; ++c) {
      const int pr = m.POINT(r);
      const int pc = m.POINT(c);
      at(r, c) = (pr >= 1 && pc >= 1) ? covariance(VC, pr, pc) : 0.0;
    }
  }
  for (int r = 1; r <= n; ++r) {
    for (int c = r + 1; c <= n; ++c) {
      at(r, c) = (at(r, r) > 0.0 && at(c, c) > 0.0) ? at(c, r) / std::sqrt(at(r, r) * at(c, c)) : 0.0;
    }
  }
  lst.linchk(n / 6 + 3);
  std::vector<Item> items;
  for (int i = 1; i <= n; ++i) items.emplace_back(i);
  lst.put(numbers, items);
  items.assign(static_cast<std::size_t>(std::min(n, 6)), Item("------------"));
  lst.put(dashes, items);
  for (int r = 1; r <= n; ++r) {
    lst.linchk(n / 6 + 2);
    items.clear();
    items.emplace_back(r);
    for (int c = 1; c <= n; ++c) items.emplace_back(at(r, c));
    lst.put(row, items);
  }
}

/// The single-precision value of 10^-NSIG: expected counts at or below it
/// are left out of G and of the Pearson terms.
double expected_floor(int nsig) {
  float power = 1.0F;
  for (int i = 0; i < std::abs(nsig) && i < 60; ++i) power *= 10.0F;
  return static_cast<double>(nsig >= 0 ? 1.0F / power : power);
}

/// The goodness-of-fit pass: the table, the pooled tests, G, the "@@" line,
/// and the log-likelihood with AIC; completes the model's row.
void goodness_of_fit(FitContext& run) {
  static const Layout heading(
      "(///54H   Cohort  Cell   Observed  Expected  Chi-square  Note/    50H   ------  ----   --------  --------  ----------  ,13(1H-))");
  static const Layout cell_line("(3X,I4,4X,I3,1X,I9,1X,F11.3,1X,F10.3,         3X,A)");
  static const Layout cohort_line("(3X,I4,1X,A,I3,16X,F10.3,3X,A,F6.4)");
  static const Layout rule("(3X,60(1H-))");
  static const Layout summary("(2H@@,3I5,2(I4,1X,G13.6),2G13.6)");
  static const Layout g_total("(3X,29HG Total (Degrees of freedom =,I4,      1H),1X,F11.3)");
  static const Layout larger("(3X,24HPr(Larger Chi-square) = ,F6.4)");
  static const Layout pooled_line(
      "(3X,'With pooling, Degrees of freedom ='          ,I4,'  Pearson Chi-square =',F11.3)");
  static const Layout likelihood_line(
      "(//3X,'Log-likelihood = ',G14.8,4X,      'Akaike Information Criterion = ',G14.8)");
  ModelStore& m = run.model;
  SavedModels& t = run.saved;
  Listing& lst = run.listing;
  const bool print = run.status.IPRINT == 1;
  const int nmod = t.NMOD;
  if (print) {
    lst.linchk(5);
    lst.put(heading, {});
  }
  const double floor = expected_floor(m.NSIG);
  double G = 0.0;
  int df_total = 0;
  double pooled_chi = 0.0;
  int pooled_df = 0;
  double LL = -run.work.F;
  double O[MXCLAS];
  double E[MXCLAS];
  for (int j = 1; j <= m.NCOHRT; ++j) {
    const int n = m.NCLASS(j);
    if (m.NOBIN == 0) LL += dlgama(static_cast<double>(m.NREL(j)) + 1.0);
    if (print) lst.linchk(n + 1);
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
      if (print) {
        const bool outside = m.P(k, j) < 0.0 || m.P(k, j) > 1.0;
        lst.put(cell_line, {j, k, m.NOBS(k, j), E[k - 1], c, outside ? "NOT 0 < P < 1  " : "0 < P < 1      "});
      }
      G += g;
    }
    int df = n - 1;
    df_total += df;
    const double chi = cspool(std::span<double>(O, static_cast<std::size_t>(std::max(n, 0))),
                              std::span<double>(E, static_cast<std::size_t>(std::max(n, 0))), df, n);
    pooled_chi += chi;
    pooled_df += df;
    if (print) {
      double p = 0.0;
      int ier = 0;
      cdtr(chi, df, p, ier);
      lst.put(cohort_line, {j, "Cohort df=", df, chi, "P = ", 1.0 - p});
    }
  }
  if (print) lst.put(rule, {});

  t.K(nmod) = m.NEST;
  const int NDF = df_total - m.NEST;
  t.NDF(nmod) = NDF;
  double p = 0.0;
  int ier = 0;
  cdtr(G, NDF, p, ier);
  if (ier != 0) lst.warn("ERROR with chi-square probability.");
  t.PG(nmod) = 1.0 - p;
  pooled_df -= m.NEST;
  const double AIC = -2.0 * LL + 2.0 * m.NEST;
  lst.put(summary, {nmod, m.IEROPT, m.IERINV, NDF, G, pooled_df, pooled_chi, LL, AIC});
  if (print) {
    lst.linchk(8);
    lst.put(g_total, {NDF, G});
    lst.put(larger, {t.PG(nmod)});
  }
  t.G(nmod) = G;
  t.DFC(nmod) = NDF;
  if (pooled_df > 0) {
    cdtr(pooled_chi, pooled_df, p, ier);
    if (ier != 0) lst.warn("ERROR with chi-square probability.");
    if (print) {
      lst.put(pooled_line, {pooled_df, pooled_chi});
      lst.put(larger, {1.0 - p});
    }
  }
  if (print) lst.put(likelihood_line, {LL, AIC});
  t.lnL(nmod) = LL;
}

}  // namespace

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

void report_results(FitContext& run) {
  static const char* const kMatrixWarning = "Variance-covariance matrix not positive-definite for Model ";
  ModelStore& m = run.model;
  EstimationWork& w = run.work;
  std::size_t cells = 0;
  const std::vector<std::size_t> offset = cell_offsets(m, cells);
  derivative_blocks(run, offset, cells);
  information_matrix(m, w.DPROB, m.NEST, w.VC);
  if (m.NEST >= 1) {
    std::vector<double> unused(static_cast<std::size_t>(m.NEST), 0.0);
    m.IERINV = ier_number(matinv(w.VC, unused, 1, m.NEST));
    if (m.IERINV != 0) numerr(run.listing, m.IERINV, "MATINV");
  } else {
    m.IERINV = 0;
  }
  if (m.IERINV == 130) {
    run.listing.warn(kMatrixWarning + run.saved.NAMSAV(run.saved.NMOD));
    run.listing.warn("Ignore standard errors and V-C matrix.");
    run.listing.warn("Check to be sure the parameters are identifiable, but the problem may just be ill-conditioned.");
  }
  results_table(run);
  if (run.status.IPRINT == 1 && m.NOVAR == 0) covariance_display(run);
  goodness_of_fit(run);
  if (run.status.ISIMUL == 1) return;
  if (run.saved.NMOD == 1) run.estimates.recreate();
  std::vector<double> estimates(static_cast<std::size_t>(m.NPAR));
  for (int I = 1; I <= m.NPAR; ++I) estimates[static_cast<std::size_t>(I - 1)] = ss(m, run.listing, I);
  run.estimates.write(run.saved.NMOD, estimates);
}

}  // namespace quorvale
