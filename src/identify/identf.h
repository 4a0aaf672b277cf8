#pragma once
// PROC IDENTIFIABLE: without fitting anything, moves the estimated
// coordinates two at a time in opposite directions (once by adding and
// subtracting a constant, once by multiplying and dividing by one) and
// reports the pair whose moves change the expected cell probabilities
// least. A change near zero means that only a combination of the two
// parameters reaches the cells. A fit with linear forms (STRUCTURE parts
// written as formulas) is scanned in its coefficients on the logit scale,
// by adding and subtracting only.

#include <span>

#include "identify/scan.h"
#include "model/arrays.h"

namespace quorvale {

class Listing;
struct ModelStore;
struct FitContext;

/// How a pair scan moves the two coordinates of a pair.
enum class PairMove {
  Add,       ///< x(i) + constant, x(j) - constant
  Multiply,  ///< x(i) * constant, x(j) / constant
};

/// Largest |P0(k,c) - P(k,c)| over the cells of every cohort of the store; NaN differences are passed over.
double largest_change(const ModelStore& m, const Mat1<double>& P0, const Mat1<double>& P);

/// Moves every pair i < j of the coordinates x(1..n) = x[0..n-1] as `move` says,
/// asks change_at(x) for the change it causes, puts both values back exactly,
/// and keeps the smallest change (the first pair wins a tie).
template <typename ChangeAt>
PairScan scan_pairs(std::span<double> x, PairMove move, double constant, ChangeAt&& change_at) {
  PairScan best;
  const int n = static_cast<int>(x.size());
  for (int i = 1; i < n; ++i) {
    for (int j = i + 1; j <= n; ++j) {
      double& xi = x[static_cast<std::size_t>(i - 1)];
      double& xj = x[static_cast<std::size_t>(j - 1)];
      const double old_i = xi;
      const double old_j = xj;
      if (move == PairMove::Add) {
        xi += constant;
        xj -= constant;
      } else {
        xi *= constant;
        xj /= constant;
      }
      const double change = change_at(std::span<const double>(x));
      xi = old_i;
      xj = old_j;
      if (best.change > change) best = {change, i, j};
    }
  }
  return best;
}

/// Writes the verdict line of one scan: its smallest change and the pair.
void print_verdict(Listing& listing, const PairScan& scan);

/// PROC IDENTIFIABLE, entered with its PROC statement current; returns with
/// the next PROC statement current. Gives the scans' results.
IdentifiabilityScan identf(FitContext& run);

}  // namespace quorvale
