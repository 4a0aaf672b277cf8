// The listing of a fit's results: the inversion's error line, the results
// table, the derived abundance, the variance-covariance display, the
// goodness-of-fit table with the "@@" line, and the warnings, in that order.
// Everything shown is read from the completed FitReport.

#include "estimate/results_listing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "estimate/numerr.h"
#include "listing/layout.h"
#include "listing/listing.h"
#include "model/store.h"

namespace quorvale {

namespace {

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

/// The coefficients of a fit with linear forms: estimates on the logit
/// scale, standard errors and 95% intervals; nothing for other fits.
void print_coefficients(Listing& lst, const FitReport& r) {
  if (r.betas.empty()) return;
  static const Layout title("(/30X,A,1X,A)");
  static const Layout interval("(//59X,23H95% Confidence Interval)");
  static const Layout heading("(1X,A)");
  static const Layout rule("(1X,4(1H-),2X,24(1H-),4(1X,12(1H-)))");
  static const Layout row("(1X,I4,2X,A,1X,G12.6,3(1X,G12.6))");
  static const Layout not_estimable("(1X,I4,2X,A,1X,G12.6,3(1X,A12))");
  lst.linchk(static_cast<int>(r.betas.size()) + 7);
  lst.put(title, {"Coefficients on the logit scale for model", r.name});
  lst.put(interval, {});
  lst.put(heading, {"   K  Coefficient               Estimate    Standard Error Lower        Upper"});
  lst.put(rule, {});
  int k = 0;
  for (const CoefficientEstimate& b : r.betas) {
    ++k;
    // Names are left-aligned in 24 columns; a longer one pushes the numbers along.
    std::string name = b.name;
    if (name.size() < 24) name.resize(24, ' ');
    if (b.estimable) {
      lst.put(row, {k, name, b.estimate, b.se, b.ci.lower, b.ci.upper});
    } else {
      lst.put(not_estimable, {k, name, b.estimate, "unavailable", "", ""});
    }
  }
}

/// The abundance by primary period (option DERIVED); for a model with
/// groups, each group's under its name, then all groups together.
void print_derived(Listing& lst, const FitReport& r) {
  static const Layout title("(//30X,A)");
  static const Layout text("(/3X,A)");
  static const Layout heading("(3X,A)");
  static const Layout row("(3X,I6,2X,I8,2X,F10.6,1X,4(1X,G12.6))");
  static const Layout no_error("(3X,I6,2X,I8,2X,F10.6,1X,1X,G12.6,1X,A)");
  static const Layout no_estimate("(3X,I6,2X,I8,2X,F10.6,1X,1X,A)");
  static const Layout nothing("(3X,I6,2X,I8,2X,A10,1X,1X,A)");
  const bool grouped = !r.groups.empty();
  const int headings = grouped ? static_cast<int>(r.groups.size()) + (r.total_abundance.empty() ? 0 : 1) : 0;
  lst.linchk(static_cast<int>(r.abundance.size() + r.total_abundance.size()) + headings + 7);
  lst.put(title, {"Derived estimates"});
  if (r.abundance.empty()) {
    lst.put(text, {"No abundance: the cohorts do not follow the robust-design layout."});
    return;
  }
  lst.put(text, {"Abundance by primary period: N-hat = n / p*, p* = 1 - product over occasions of (1 - p)"});
  lst.put(heading, {"Period  Caught (n)      p*          N-hat     Standard Error    Lower        Upper"});
  lst.put(heading, {"------  ----------  ----------  ------------ ------------ ------------ ------------"});
  int group = 0;
  for (const PeriodAbundance& a : r.abundance) {
    if (grouped && a.group != group) {
      group = a.group;
      lst.put(heading, {"Group " + r.group_name(group)});
    }
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
  if (r.total_abundance.empty()) return;
  static const Layout total("(3X,I6,2X,I8,2X,10X,1X,4(1X,G12.6))");
  static const Layout total_no_error("(3X,I6,2X,I8,2X,10X,1X,1X,G12.6,1X,A)");
  static const Layout total_nothing("(3X,I6,2X,I8,2X,10X,1X,1X,A)");
  lst.put(heading, {"All groups: N-hat summed over the groups, standard error from their joint covariance"});
  for (const PeriodAbundance& a : r.total_abundance) {
    if (!a.available()) {
      lst.put(total_nothing, {a.period, a.caught, "unavailable: " + a.unavailable});
    } else if (std::isfinite(a.se)) {
      lst.put(total, {a.period, a.caught, a.estimate, a.se, a.ci.lower, a.ci.upper});
    } else {
      lst.put(total_no_error, {a.period, a.caught, a.estimate, "unavailable (inversion failed or a p on a bound)"});
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
    for (int j = i + 1; j <= n; ++j) at(i, j) = r.parameter_correlation(i, j);
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

/// Warns when cell probabilities fall outside 0..1 by more than rounding,
/// naming the parameters whose values lie outside 0..1.
void warn_cells_outside(Listing& lst, const FitReport& r) {
  const int cells = r.cells_outside;
  const std::vector<int>& named = r.parameters_outside;
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
void warn_impossible_point(Listing& lst, const FitReport& r) {
  if (r.impossible_cells > 0) {
    std::string where;
    int animals = 0;
    for (std::size_t j = 0; j < r.cohorts.size(); ++j) {
      std::string cells;
      int in_cohort = 0;
      for (std::size_t k = 0; k < r.cohorts[j].cells.size(); ++k) {
        const CellFit& cell = r.cohorts[j].cells[k];
        if (!cell.impossible) continue;
        if (!cells.empty()) cells += ' ';
        cells += std::to_string(k + 1);
        in_cohort += cell.observed;
      }
      if (cells.empty()) continue;
      animals += in_cohort;
      if (!where.empty()) where += "; ";
      where += "cohort " + std::to_string(j + 1) + " cell" + (cells.find(' ') == std::string::npos ? " " : "s ") +
               cells + " (" + std::to_string(in_cohort) + (in_cohort == 1 ? " animal)" : " animals)");
    }
    char floor[32];
    std::snprintf(floor, sizeof floor, "%.0e", r.cell_floor);
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
  std::string coefficients;
  for (const CoefficientEstimate& b : r.betas) {
    if (!b.estimable) coefficients += (coefficients.empty() ? "" : ", ") + b.name;
  }
  if (!coefficients.empty()) {
    lst.warn("Not estimable, the data hold no information on the coefficients " + coefficients +
             "; their standard errors are unavailable.");
  }
  if (names.empty()) return;
  lst.warn(count == 1 ? "Not estimable, the data hold no information on it: " + names +
                           "; its standard error and the values derived from it are unavailable."
                     : "Not estimable, the data hold no information on them: " + names +
                           "; their standard errors and the values derived from them are unavailable.");
}

}  // namespace

void print_results(Listing& lst, const ModelStore& m, const FitReport& report, ReportDetail detail) {
  const bool print = detail == ReportDetail::Full;
  print_inversion(lst, report);
  warn_not_estimable(lst, report);
  if (print) print_coefficients(lst, report);
  if (print) print_results_table(lst, m, report);
  if (print && report.show_derived) print_derived(lst, report);
  if (print && m.NOVAR == 0) print_covariance(lst, report);
  print_goodness_of_fit(lst, report, print);
  warn_cells_outside(lst, report);
  warn_impossible_point(lst, report);
}

}  // namespace quorvale
