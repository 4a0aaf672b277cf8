#include "simulate/simstats.h"

#include <cmath>
#include <vector>

#include "stats/distributions.h"
#include "listing/layout.h"

namespace quorvale {

namespace {

/// Normal quantile of the 95% intervals (1.96 in single precision).
constexpr double kZ95 = static_cast<double>(1.96F);

}  // namespace

void count_gof(double probability, std::span<int, 4> counts) {
  for (std::size_t m = 0; m < counts.size(); ++m) {
    if (probability < kTestLevels[m]) ++counts[m];
  }
}

void count_lrt(double probability, std::span<int, 5> counts) {
  for (std::size_t m = 0; m < counts.size(); ++m) {
    if (probability <= kTestLevels[m]) ++counts[m];
  }
}

PairTest pair_test(const FitSummary& a, const FitSummary& b) {
  PairTest t;
  if (a.NDF == -1 || b.NDF == -1 || a.NDF == b.NDF) return t;
  t.tested = true;
  t.first_general = a.NDF < b.NDF;
  const FitSummary& general = t.first_general ? a : b;
  const FitSummary& reduced = t.first_general ? b : a;
  t.chi = -2.0 * (reduced.lnL - general.lnL);
  t.df = reduced.NDF - general.NDF;
  if (t.chi <= 0.0 || t.df < 1) {
    t.chi = 0.0;
    t.probability = 1.0;
    return t;
  }
  double P = 0.0;
  int ier = 0;
  cdtr(t.chi, t.df, P, ier);
  t.cdtr_error = ier != 0;
  t.probability = 1.0 - P;
  return t;
}

MeanRow mean_row(double sum, double sum2, int c) {
  MeanRow row;
  row.mean = sum / c;
  if (c >= 2) {
    const double deviations = sum2 - sum * sum / c;
    row.se = deviations < 0.0 ? 0.0 : std::sqrt((deviations / (c - 1)) / c);
  }
  row.lower = row.mean - kZ95 * row.se;
  row.upper = row.mean + kZ95 * row.se;
  return row;
}

std::string estimate_records(int replicate, int submodel, double aic, std::span<const double> estimates,
                             std::span<const double> errors) {
  static const Layout head("(2I10,G16.8)");
  static const Layout values("(8e14.6)");
  std::string out;
  head.write(out, {replicate, submodel, aic});
  std::vector<Item> items;
  items.reserve(estimates.size());
  for (double v : estimates) items.emplace_back(v);
  values.write(out, items);
  items.clear();
  for (double v : errors) items.emplace_back(v);
  values.write(out, items);
  return out;
}

}  // namespace quorvale
