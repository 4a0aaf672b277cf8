#pragma once
// What PROC IDENTIFIABLE yields, as values: for each way of moving pairs of
// coordinates, the pair that changes the cell probabilities least.

#include <string>
#include <vector>

namespace quorvale {

/// Outcome of one pair scan.
struct PairScan {
  double change = 1.0;  ///< smallest largest change over the pairs; stays 1.0 unless a pair changes less
  int i = 0;            ///< first coordinate of the first pair with that change; 0 when none
  int j = 0;            ///< second coordinate of that pair; 0 when none
};

/// What PROC IDENTIFIABLE found: the pair of each scan that changes the cells least.
struct IdentifiabilityScan {
  PairScan additive;        ///< moves by adding and subtracting ADD
  PairScan multiplicative;  ///< moves by multiplying and dividing by MULTIPLY
  /// Names of the coordinates scanned, by number from 1: the coefficients of
  /// a fit with linear forms; empty when the coordinates are the estimated slots.
  std::vector<std::string> coordinates;
  /// The name of coordinate i (1-based): its coefficient's, or "S(i)".
  std::string coordinate_name(int i) const {
    if (i >= 1 && static_cast<std::size_t>(i) <= coordinates.size()) return coordinates[static_cast<std::size_t>(i - 1)];
    std::string name = "S(";
    name += std::to_string(i);
    return name + ")";
  }
};

}  // namespace quorvale
