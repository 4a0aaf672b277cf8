// Models of several groups of animals: the layout repeated per group, the
// likelihood as the sum of the groups' own, and cohort lists that do not
// make whole groups.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "testing/likelihood_cases.h"

namespace quorvale {
namespace {

using testing::bits;

TEST(GroupLayout, EachGroupRepeatsTheDesignInItsOwnBlock) {
  // Periods of 2, 3 and 2 occasions: 3 + 5 + 3 = 11 closed parameters and
  // 8 open ones, 19 per group; NPAR 44 leaves a gap of 3 in each block.
  const std::vector<int> kk = {2, 3, 2};
  const RobustLayout L(kk, 44, 2);
  EXPECT_EQ(L.block(), 22);
  EXPECT_EQ(L.needed(), 38);
  EXPECT_EQ(L.cohorts(), 16);  // 6 closed + 2 open per group
  EXPECT_EQ(L.p(1, 1, 2), 23);
  EXPECT_EQ(L.c(2, 3, 2), 22 + 3 + 3 + 2);
  EXPECT_EQ(L.phi(1, 1), 22 - 12 + 5);  // the open part counted back from the block's end
  EXPECT_EQ(L.phi(1, 2), 44 - 12 + 5);
  EXPECT_EQ(L.theta(3, 2), 44);
  EXPECT_EQ(L.open_cohort(1, 2), 8 + 7);
  EXPECT_EQ(L.closed_cohort(3, 1, 2), 8 + 4);
  EXPECT_EQ(L.group_of(22), 1);
  EXPECT_EQ(L.group_of(23), 2);
  const std::vector<int> cells = L.cohort_cells();
  ASSERT_EQ(cells.size(), 16u);
  EXPECT_EQ(std::vector<int>(cells.begin(), cells.begin() + 8), std::vector<int>(cells.begin() + 8, cells.end()));
}

/// A store of `groups` copies of the design of kk with counts from `rng`.
std::unique_ptr<ModelStore> grouped_store(const std::vector<int>& kk, int groups, std::mt19937_64& rng) {
  auto m = testing::plain_store(kk, groups * testing::needed_npar(kk));
  m->set_cohorts(RobustLayout(kk, 0, groups).cohort_cells());
  for (int c = 1; c <= m->NCOHRT; ++c)
    for (int h = 1; h <= m->NCLASS(c); ++h) m->NOBS(h, c) = static_cast<int>(rng() % 40);
  for (int g = 1; g <= groups; ++g) m->group_names.push_back(g == 1 ? "F" : "M");
  return m;
}

TEST(GroupLikelihood, IsTheSumOfEachGroupFittedAlone) {
  std::mt19937_64 rng(26);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  const std::vector<int> kk = {2, 3, 1, 2};
  auto two = grouped_store(kk, 2, rng);
  std::vector<double> x(static_cast<std::size_t>(two->NEST));
  for (double& v : x) v = u(rng);
  testing::CoreRun both(*two, x);
  ASSERT_EQ(both.r.status, EstStatus::Ok);

  // Each group alone: its own cohorts and its own block of values.
  const int n = testing::needed_npar(kk);
  const int per_group = RobustLayout(kk).cohorts();
  double sum = 0.0;
  for (int g = 1; g <= 2; ++g) {
    auto one = testing::plain_store(kk);
    for (int c = 1; c <= per_group; ++c)
      for (int h = 1; h <= one->NCLASS(c); ++h) one->NOBS(h, c) = two->NOBS(h, (g - 1) * per_group + c);
    const std::vector<double> xg(x.begin() + (g - 1) * n, x.begin() + g * n);
    testing::CoreRun alone(*one, xg);
    ASSERT_EQ(alone.r.status, EstStatus::Ok);
    sum += alone.r.F;
    for (int c = 1; c <= per_group; ++c)
      for (int h = 1; h <= one->NCLASS(c); ++h)
        ASSERT_EQ(bits(alone.P(h, c)), bits(both.P(h, (g - 1) * per_group + c))) << "group " << g << " cohort " << c;
  }
  EXPECT_NEAR(both.r.F, sum, 1e-12 * std::abs(sum));
}

TEST(GroupLikelihood, CohortListsThatDoNotMakeWholeGroupsAreNamed) {
  std::mt19937_64 rng(7);
  const std::vector<int> kk = {2, 2, 3};
  auto m = grouped_store(kk, 2, rng);

  // One cohort short: 15 cohorts cannot be two groups.
  ModelStore shorter = *m;
  shorter.NCOHRT -= 1;
  RdDesign d = rd_design(shorter);
  EXPECT_EQ(d.status, EstStatus::GroupCohorts);
  EXPECT_NE(rd_design_message(d, shorter).find("group M ending at cohort 14, cohort 15 is left over"),
            std::string::npos)
      << rd_design_message(d, shorter);

  // Group 2's second period with three occasions' cells instead of two.
  ModelStore wider = *m;
  wider.NCLASS(8 + RobustLayout::closed_cohort(2, 2)) = 8;
  d = rd_design(wider);
  EXPECT_EQ(d.status, EstStatus::ClosedCells);
  EXPECT_EQ(d.group, 2);
  EXPECT_EQ(d.cohort, 11);
  EXPECT_NE(rd_design_message(d, wider).find("cohort 11 (group M, period 2) has 8 cells, 4 expected."),
            std::string::npos);

  // NPAR that is not two equal blocks.
  ModelStore odd = *m;
  odd.NPAR += 1;
  odd.size_parameters();
  EXPECT_EQ(rd_design(odd).status, EstStatus::GroupBlocks);
}

}  // namespace
}  // namespace quorvale
