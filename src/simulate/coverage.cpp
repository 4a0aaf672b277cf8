// The planning figures of a simulation study: bias, RMSE, standard errors
// and interval coverage over the converged fits.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "listing/layout.h"
#include "listing/listing.h"
#include "simulate/summaries.h"
#include "simulate/totals.h"

namespace quorvale {

CoverageRow SimulationTotals::coverage_row(int I, int n) const {
  CoverageRow row;
  const std::vector<double>& estimates = converged_estimates_[at(I, n)];
  const std::vector<double>& errors = converged_errors_[at(I, n)];
  const double c = static_cast<double>(estimates.size());
  const double g = static_cast<std::size_t>(I) <= generating.size() ? generating[static_cast<std::size_t>(I - 1)] : 0.0;
  row.index = I;
  row.generating = g;
  double sum = 0.0;
  for (double s : estimates) sum += s;
  const double mean = sum / c;
  double squares = 0.0;  // about the mean
  double errors2 = 0.0;  // about the generating value
  for (double s : estimates) {
    squares += (s - mean) * (s - mean);
    errors2 += (s - g) * (s - g);
  }
  row.bias = mean - g;
  row.relative_bias = g != 0.0 ? row.bias / g : std::numeric_limits<double>::quiet_NaN();
  row.rmse = std::sqrt(errors2 / c);
  row.empirical_sd = estimates.size() > 1 ? std::sqrt(squares / (c - 1.0)) : 0.0;
  double se_sum = 0.0;
  for (double e : errors) se_sum += e;
  row.mean_se = se_sum / c;
  row.median_se = median_of(errors);
  if (estimates.size() > 1) {
    row.wide_se = static_cast<int>(
        std::count_if(errors.begin(), errors.end(), [&row](double e) { return e > 10.0 * row.empirical_sd; }));
  }
  row.wald = static_cast<double>(ncovw_[at(I, n)]) / c;
  row.logit = static_cast<double>(ncovl_[at(I, n)]) / c;
  return row;
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
      const CoverageRow v = totals.coverage_row(static_cast<int>(i) + 1, n);
      const std::string relative =
          std::isfinite(v.relative_bias) ? ratio.write_internal({v.relative_bias}, 10) : std::string(10, ' ');
      lst.put(row, {v.index, v.generating, v.bias, relative, v.rmse, v.empirical_sd, v.mean_se, v.median_se,
                    v.wide_se, v.wald, v.logit});
    }
}
  lst.linchk(6);
  lst.put(note, {"Over the converged fits only (optimizer and inversion codes 0): bias and RMSE",
                 "about the generating value, Emp. SD of the estimates, Mean SE and Median SE of",
                 "their estimated standard errors, SE>10SD the fits whose SE exceeds 10 times",
                 "Emp. SD. Coverage: share of those fits whose 95% interval holds the generating",
                 "value, as printed (estimate -+ 1.96 SE) and on the logit scale."});
}

}  // namespace quorvale
