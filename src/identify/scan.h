#pragma once
// What PROC IDENTIFIABLE yields, as values: for each way of moving pairs of
// coordinates, the pair that changes the cell probabilities least.

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
};

}  // namespace quorvale
