#include "simulate/summaries.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/text.h"
#include "input/fields.h"
#include "listing/layout.h"
#include "listing/listing.h"

namespace quorvale {

namespace {

/// The rows of one table of means: mean, SE and interval of each parameter.
void mean_rows(Listing& lst, const SimulationTotals& totals, int n, bool errors) {
  static const Layout row("(1X,I2,4G15.8,1X,A)");
  const int npar = static_cast<int>(totals.labels.size());
  for (int I = 1; I <= npar; ++I) {
    const MeanRow& v = errors ? totals.error_mean(I, n) : totals.estimate_mean(I, n);
    lst.put(row, {I, v.mean, v.se, v.lower, v.upper, pad(totals.labels[static_cast<std::size_t>(I - 1)], 16)});
}
}

/// The coefficient rows of submodel n in one table of means (`errors`: of
/// the standard errors), after the parameters' rows; none for a submodel
/// without linear forms.
void coefficient_mean_rows(Listing& lst, const SimulationTotals& totals, int n, bool errors) {
  static const Layout heading("(/1X,A)");
  static const Layout row("(2X,4(1X,G15.8),1X,A)");
  const std::vector<CoefficientTruth>& names = totals.coefficients_of(n);
  const std::vector<CoefficientSummary>& rows = totals.coefficient_summaries_of(n);
  if (names.empty() || rows.size() != names.size()) return;
  lst.linchk(static_cast<int>(rows.size()) + 2);
  lst.put(heading, {"Coefficients on the logit scale"});
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const MeanRow& v = errors ? rows[k].error_mean : rows[k].estimate_mean;
    lst.put(row, {v.mean, v.se, v.lower, v.upper, names[k].name});
  }
}

/// Right-aligned in `width` columns.
std::string right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

/// The coefficient rows of submodel n's coverage block; false for a
/// submodel without linear forms.
bool coefficient_rows(Listing& lst, const SimulationTotals& totals, int n) {
  static const Layout text("(A)");
  static const Layout row("(1X,F12.6,5F10.6,I8,F10.3,2X,A)");
  const std::vector<CoefficientTruth>& names = totals.coefficients_of(n);
  const std::vector<CoefficientSummary>& rows = totals.coefficient_summaries_of(n);
  if (names.empty() || rows.size() != names.size()) return false;
  std::string title = " Coefficients on the logit scale";
  title.resize(71, ' ');
  title += right("95%", 10);
  std::string columns = " ";
  columns += right("True", 12);
  for (const char* heading : {"Bias", "RMSE", "Emp. SD", "Mean SE", "Median SE"}) columns += right(heading, 10);
  columns += right("SE>10SD", 8);
  columns += right("Coverage", 10);
  columns += "  Coefficient";
  lst.linchk(static_cast<int>(rows.size()) + 4);
  lst.put(text, {""});
  lst.put(text, {title});
  lst.put(text, {columns});
  std::string rule = " ";
  rule.append(columns.size() - 1, '-');
  lst.put(text, {rule});
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const CoefficientSummary& v = rows[k];
    lst.put(row, {v.truth, v.bias, v.rmse, v.empirical_sd, v.mean_se, v.median_se, v.wide_se, v.coverage,
                  names[k].name});
  }
  return true;
}

/// The N-hat rows of submodel n's coverage block, by group and period.
void abundance_rows(Listing& lst, const SimulationTotals& totals, int n) {
  static const Layout heading(
      "(/1X,25HN-hat by group and period,52X,12H95% coverage/2X,5HGroup,5X,6HPeriod,6X,6HTrue N,6X,4HBias,1X,"
      "9HRel. bias,6X,4HRMSE,3X,7HMean SE,4X,4HFits,2X,10HLog-normal)");
  static const Layout rule("(1X,89(1H-))");
  static const Layout row("(2X,A10,I6,F12.2,F10.2,A10,2F10.2,I8,F12.3)");
  static const Layout ratio("(F10.4)");
  const std::vector<AbundanceCoverageRow>& rows = totals.abundance_rows[static_cast<std::size_t>(n - 1)];
  lst.linchk(static_cast<int>(rows.size()) + 4);
  lst.put(heading, {});
  lst.put(rule, {});
  for (const AbundanceCoverageRow& v : rows) {
    const std::size_t g = static_cast<std::size_t>(v.group);
    const std::string group = g >= 1 && g <= totals.group_names.size() ? totals.group_names[g - 1] : std::to_string(v.group);
    const std::string relative =
        std::isfinite(v.relative_bias) ? ratio.write_internal({v.relative_bias}, 10) : std::string(10, ' ');
    lst.put(row, {pad(group, 10), v.period, v.true_n, v.bias, relative, v.rmse, v.mean_se, v.fits, v.coverage});
  }
}

}  // namespace

void print_summaries(Listing& lst, const SimulationTotals& totals) {
  static const Layout title(
      "(/20X,35HS I M U L A T I O N   R E S U L T S/16X,                6HMODEL ,A,9H   NSIM = ,I4,15H   Converged = ,I4)");
  static const Layout mean_heading("(//8X,4HMEAN,13X,2HSE,16X,9H95% C. I.)");
  static const Layout mean_columns("(2X,1HI,3X,2(8HS(I)-Hat,8X),5HLower,9X,5HUpper)");
  static const Layout rule("(1X,78(1H-)/)");
  static const Layout se_heading("(//9X,4HMEAN,12X,2HSE,17X,9H95% C. I.)");
  static const Layout se_columns("(2X,1HI,2X,2(12HSE(S(I)-Hat),3X),3X,5HLower,10X,5HUpper)");
  static const Layout gof("(//21X,33HResults of Goodness of Fit Tests ,                 /23X,4(3H  <,F4.2)/22X,30(1H-)/23X,4I7)");
  static const Layout lrt_title(
      "(//26X,                                          29HLikelihood Ratio Test Results///37X,                           5(3H  <,F4.2)/11X,62(1H-))");
  static const Layout pair_row("(12X,A10,5H VS. ,A10,5I7)");
  lst.headng();
  for (int n = 1; n <= totals.NSUB; ++n) {
    const int c = totals.NCONV(n);
    lst.linchk(static_cast<int>(totals.labels.size()) + 9);
    lst.put(title, {totals.name(n), totals.NSIM, c});
    lst.put(mean_heading, {});
    lst.put(mean_columns, {});
    lst.put(rule, {});
    if (c < 1) {
      lst.warn("Too few successful simulations to summarize.");
      continue;
    }
    mean_rows(lst, totals, n, false);
    coefficient_mean_rows(lst, totals, n, false);
    lst.linchk(static_cast<int>(totals.labels.size()) + 6);
    lst.put(se_heading, {});
    lst.put(se_columns, {});
    lst.put(rule, {});
    mean_rows(lst, totals, n, true);
    coefficient_mean_rows(lst, totals, n, true);
    lst.linchk(6);
    const std::array<int, 4>& g = totals.NGOF(n);
    lst.put(gof, {kTestLevels[0], kTestLevels[1], kTestLevels[2], kTestLevels[3], g[0], g[1], g[2], g[3]});
  }
  if (totals.NSUB > 1) {
    lst.headng();
    lst.linchk(8);
    lst.put(lrt_title, {kTestLevels[0], kTestLevels[1], kTestLevels[2], kTestLevels[3], kTestLevels[4]});
    int k = 0;
    for (int I = 1; I <= totals.NSUB - 1; ++I) {
      for (int J = I + 1; J <= totals.NSUB; ++J) {
        ++k;
        const std::array<int, 5>& v = totals.NLRT(k);
        lst.linchk(1);
        lst.put(pair_row, {totals.name(I), totals.name(J), v[0], v[1], v[2], v[3], v[4]});
      }
    }
  }
  if (totals.coverage) print_coverage(lst, totals);
}

void print_coverage(Listing& lst, const SimulationTotals& totals) {
  static const Layout title(
      "(/21X,33HB I A S   A N D   C O V E R A G E/16X,6HMODEL ,A,9H   NSIM = ,I4,15H   Converged = ,I4/16X,"
      "34HNot converged or not inverted   = ,I4,A)");
  static const Layout heading("(/86X,12H95% coverage/2X,1HI,3X,10HGenerating,6X,4HBias,1X,9HRel. bias,6X,"
                              "4HRMSE,3X,7HEmp. SD,3X,7HMean SE,1X,9HMedian SE,1X,7HSE>10SD,3X,4HWald,2X,5HLogit)");
  static const Layout rule("(1X,97(1H-))");
  static const Layout row("(1X,I2,F13.6,F10.6,A10,4F10.6,I8,2F7.3)");
  static const Layout ratio("(F10.4)");
  static const Layout note("(/5X,A/5X,A/5X,A/5X,A/5X,A)");
  bool abundance = false;
  bool coefficients = false;
  lst.headng();
  for (int n = 1; n <= totals.NSUB; ++n) {
    const int c = totals.converged(n);
    const std::vector<bool>& estimated = totals.estimated[static_cast<std::size_t>(n - 1)];
    const int rows = static_cast<int>(std::count(estimated.begin(), estimated.end(), true));
    lst.linchk(rows + 9);
    lst.put(title, {totals.name(n), totals.NSIM, c, totals.NFAIL(n), ", left out of the figures"});
    if (c < 1) {
      lst.warn("Too few successful simulations to summarize.");
      continue;
    }
    lst.put(heading, {});
    lst.put(rule, {});
    for (std::size_t i = 0; i < estimated.size(); ++i) {
      if (!estimated[i]) continue;
      const CoverageRow& v = totals.coverage_row(static_cast<int>(i) + 1, n);
      const std::string relative =
          std::isfinite(v.relative_bias) ? ratio.write_internal({v.relative_bias}, 10) : std::string(10, ' ');
      lst.put(row, {v.index, v.generating, v.bias, relative, v.rmse, v.empirical_sd, v.mean_se, v.median_se,
                    v.wide_se, v.wald, v.logit});
    }
    if (coefficient_rows(lst, totals, n)) coefficients = true;
    if (static_cast<std::size_t>(n) <= totals.abundance_rows.size() &&
        !totals.abundance_rows[static_cast<std::size_t>(n - 1)].empty()) {
      abundance_rows(lst, totals, n);
      abundance = true;
    }
}
  lst.linchk(6);
  lst.put(note, {"Over the converged fits only (optimizer and inversion codes 0): bias and RMSE",
                 "about the generating value, Emp. SD of the estimates, Mean SE and Median SE of",
                 "their estimated standard errors, SE>10SD the fits whose SE exceeds 10 times",
                 "Emp. SD. Coverage: share of those fits whose 95% interval holds the generating",
                 "value, as printed (estimate -+ 1.96 SE) and on the logit scale."});
  if (coefficients) {
    lst.linchk(6);
    lst.put(note, {"Coefficients: over the same fits, on the logit scale. True is the projection of",
                   "the generating values on the submodel's design (least squares on the logit scale",
                   "of the generating value of each estimated slot's lowest parameter), exact when",
                   "the generating model lies within the submodel. Coverage: share of the fits",
                   "whose interval estimate -+ 1.96 SE holds it."});
  }
  if (abundance) {
    lst.linchk(6);
    lst.put(note, {"N-hat: over the converged fits that give one. The true N of a period is the n",
                   "animals a replicate puts there (caught at least once) and those present but",
                   "missed on every occasion, each animal present being caught with the generating",
                   "p*. True N is the mean of n / p*; RMSE and the coverage of the log-normal",
                   "interval are expectations over the animals missed."});
  }
}

}  // namespace quorvale
