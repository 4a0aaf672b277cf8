// Blocks of cell values held only on the cohorts where they are not all zeros.

#include "estimate/cell_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quorvale {
namespace {

/// Equal to the bit, or both NaN (whose payload an operation may choose).
bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

/// A dense block written out again from the sparse one: the same cells,
/// where a zero of either sign reads back as +0 when its cohort is all zeros.
void expect_same_cells(const CellBlocks& sparse, const std::vector<double>& dense, const std::string& what) {
  const std::vector<double> back = sparse.dense();
  ASSERT_EQ(back.size(), dense.size()) << what;
  for (std::size_t i = 0; i < back.size(); ++i) {
    ASSERT_TRUE(same(back[i], dense[i]) || (back[i] == 0.0 && dense[i] == 0.0))
        << what << ", cell " << i << ": " << back[i] << " vs " << dense[i];
  }
}

TEST(CellBlocks, HoldEachBlockOnlyOnItsCohortsWithAValueOtherThanZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Cohorts of 2, 3, 0 and 2 cells; three blocks of 7 cells.
  const std::vector<int> cells = {2, 3, 0, 2};
  const std::vector<double> dense = {
      0.0, 0.0, 1.5, -0.0, 2.0, 0.0, 0.0,    // cohort 2 only
      -0.0, -0.0, 0.0, 0.0, 0.0, nan, 0.0,   // -0 is a zero; the NaN keeps cohort 4
      0.25, 0.0, 0.0, 0.0, 0.0, 0.0, -1e-300  // cohorts 1 and 4
  };
  const CellBlocks b = CellBlocks::from_dense(cells, dense, 3);
  ASSERT_EQ(b.blocks(), 3);
  EXPECT_EQ(b.total_cells(), 7U);
  auto cohorts = [&](int block) {
    std::vector<int> out;
    for (const CellBlocks::Cohort& c : b.present(block)) out.push_back(c.cohort);
    return out;
  };
  EXPECT_EQ(cohorts(0), std::vector<int>({2}));
  EXPECT_EQ(cohorts(1), std::vector<int>({4}));
  EXPECT_EQ(cohorts(2), std::vector<int>({1, 4}));
  EXPECT_EQ(b.stored(), 3U + 2U + 4U);
  EXPECT_EQ(b.find(0, 1), nullptr);
  ASSERT_NE(b.find(0, 2), nullptr);
  EXPECT_EQ(b.find(0, 2)[0], 1.5);
  EXPECT_TRUE(std::signbit(b.find(0, 2)[1]));  // a zero inside a present cohort keeps its sign
  EXPECT_EQ(b.find(2, 3), nullptr);
  EXPECT_EQ(b.find(2, 4)[1], -1e-300);
  expect_same_cells(b, dense, "round trip");
  // An absent cohort reads back as +0.
  EXPECT_FALSE(std::signbit(b.dense()[7]));
}

}  // namespace
}  // namespace quorvale
