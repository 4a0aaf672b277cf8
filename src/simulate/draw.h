#pragma once
// Drawing the data of one simulation replicate from the generating model's
// cell probabilities: the open part of the robust design first, whose counts
// give the sizes of the closed-part cohorts, then the closed part. A model of
// several groups of animals is drawn group after group, each group's open
// part then its closed part, from the one random stream: group 1's cohorts
// take the first numbers of a replicate, then group 2's, and so on.
//
// A replicate depends only on the cell probabilities, the cohort sizes that
// PROC MODEL gave the open part and the last period's first cohort, and the
// seed; never on a fit. The replicates of one run can therefore be drawn in
// sequence ahead of fitting them.

#include <cstdint>
#include <optional>

#include "model/robust_layout.h"
#include "model/store.h"

namespace quorvale {

/// The robust design a replicate is drawn in: every cohort number the draw
/// uses is the layout's, for each group.
struct DrawLayout {
  RobustLayout layout;  ///< the model's layout, all its groups
};

/// The draw's view of `layout`, the design of the model, or nothing when the
/// store does not hold exactly its cohorts (cohort count, the cells of each,
/// counts and probabilities for every cell), in which case the cohort sizes
/// cannot be derived without touching cohorts outside 1..NCOHRT.
std::optional<DrawLayout> draw_layout(const ModelStore& m, const RobustLayout& layout);

/// Draws `animals` animals into counts[0..n-1] with cell probabilities
/// p[0..n-1], one uniform number each: cell c takes the numbers u with
/// cum(c-1) <= u < cum(c) of the running sums; a number at or beyond the last
/// running sum counts in the last cell, so that the counts add up to the
/// animals drawn. n must be at least 1.
void draw_cohort(const double* p, int n, int animals, std::int32_t& seed, int* counts);

/// Draws one replicate into the store from P: NOBS of every cohort, and the
/// sizes NREL of the closed-part cohorts except the last period's first,
/// derived from the open part of the same group. `layout` must be
/// draw_layout of the store.
void draw_replicate(ModelStore& m, const DrawLayout& layout, std::int32_t& seed);

}  // namespace quorvale
