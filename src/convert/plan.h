#pragma once
// Planning a study without data: the expected cohorts of a robust design
// under a chosen truth, from which quorvale-inp --plan writes a command file
// whose PROC SIMULATE draws replicates of that study.

#include <string>
#include <vector>

#include "convert/design.h"

namespace quorvale::convert {

/// The truth of one group of animals a planned study is simulated from.
/// Lists are by period, index 0 first.
struct Truth {
  std::vector<double> marked;  ///< animals newly marked in periods 1..M (empty with a super-population)
  double superpopulation = 0;  ///< animals present and available in period 1, none entering later
  std::vector<double> phi;     ///< survival from period i to i + 1, i = 1..M-1
  std::vector<double> gamma2;  ///< gamma'' of periods 2..M
  std::vector<double> gamma1;  ///< gamma' of periods 3..M
  std::vector<double> p;       ///< capture probability of periods 1..M (every occasion)
  std::vector<double> c;       ///< recapture probability of periods 1..M
};

// The truths are one per group of the design, group 1 first.

/// The values S(1..NPAR) of the truths under the design's numbering (theta 1).
std::vector<double> truth_values(const Design& design, const std::vector<Truth>& truths);

/// The expected cohorts of the study under the truths, in the likelihood's
/// order, sizes and cells rounded to whole animals: for every group,
/// first-caught cohorts of the newly marked, cohorts of animals released
/// after period jp - 1 and next caught in ip, and the open cohorts of every
/// release. Every animal caught is released again.
std::vector<Cohort> expected_cohorts(const Design& design, const std::vector<Truth>& truths);

/// The same sizes unrounded, in cohort order: for every group its closed
/// cohorts (ip, jp) in order, then its open cohorts i = 1..M-1.
std::vector<double> expected_sizes(const Design& design, const std::vector<Truth>& truths);

}  // namespace quorvale::convert
