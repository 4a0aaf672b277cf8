// The robust layout against numbers worked out by hand for periods of 2, 2,
// 4, 5 and 2 secondary occasions, and the period count read back from the
// number of cohorts.

#include "model/robust_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvale {
namespace {

TEST(RobustLayout, FivePeriodsOfTwoTwoFourFiveTwoOccasions) {
  const std::vector<int> kk{2, 2, 4, 5, 2};
  const RobustLayout L(kk);
  EXPECT_EQ(L.periods(), 5);
  for (int ip = 1; ip <= 5; ++ip) EXPECT_EQ(L.occasions(ip), kk[static_cast<std::size_t>(ip - 1)]) << ip;

  // Cohorts: (1,1); (2,1) (2,2); (3,1..3) = 4..6; (4,1..4) = 7..10;
  // (5,1..5) = 11..15; then the open cohorts 16..19.
  EXPECT_EQ(L.cohorts(), 19);
  EXPECT_EQ(RobustLayout::closed_cohort(1, 1), 1);
  EXPECT_EQ(RobustLayout::closed_cohort(2, 2), 3);
  EXPECT_EQ(RobustLayout::closed_cohort(3, 1), 4);
  EXPECT_EQ(RobustLayout::closed_cohort(4, 4), 10);
  EXPECT_EQ(RobustLayout::closed_cohort(5, 1), 11);
  EXPECT_EQ(RobustLayout::closed_cohort(5, 5), 15);
  EXPECT_EQ(L.open_cohort(1), 16);
  EXPECT_EQ(L.open_cohort(4), 19);
  EXPECT_EQ(L.cohort_cells(),
            (std::vector<int>{4, 4, 4, 16, 16, 16, 32, 32, 32, 32, 4, 4, 4, 4, 4, 5, 4, 3, 2}));

  // Parameters: 3 + 3 + 7 + 9 + 3 = 25 for the closed part, 4 * 5 - 4 = 16
  // for the open part, so NPAR 41 (the example data set's).
  EXPECT_EQ(L.closed_parameters(), 25);
  EXPECT_EQ(L.needed(), 41);
  EXPECT_EQ(L.npar(), 41);
  EXPECT_EQ(L.p(1, 1), 1);
  EXPECT_EQ(L.p(1, 2), 2);
  EXPECT_EQ(L.c(1, 2), 3);
  EXPECT_EQ(L.p(2, 1), 4);
  EXPECT_EQ(L.c(2, 2), 6);
  EXPECT_EQ(L.p(3, 1), 7);
  EXPECT_EQ(L.p(3, 4), 10);
  EXPECT_EQ(L.c(3, 2), 11);
  EXPECT_EQ(L.c(3, 4), 13);
  EXPECT_EQ(L.p(4, 1), 14);
  EXPECT_EQ(L.p(4, 5), 18);
  EXPECT_EQ(L.c(4, 2), 19);
  EXPECT_EQ(L.c(4, 5), 22);
  EXPECT_EQ(L.p(5, 1), 23);
  EXPECT_EQ(L.p(5, 2), 24);
  EXPECT_EQ(L.c(5, 2), 25);
  EXPECT_EQ(L.phi(1), 26);
  EXPECT_EQ(L.phi(4), 29);
  EXPECT_EQ(L.gamma2(2), 30);
  EXPECT_EQ(L.gamma2(5), 33);
  EXPECT_EQ(L.gamma1(3), 34);
  EXPECT_EQ(L.gamma1(5), 36);
  EXPECT_EQ(L.theta(1), 37);
  EXPECT_EQ(L.theta(5), 41);

  // A model with 4 more parameters than needed: the closed part stays, the
  // open part moves to the end, S(26..29) unused.
  const RobustLayout wide(kk, 45);
  EXPECT_EQ(wide.npar(), 45);
  EXPECT_EQ(wide.needed(), 41);
  EXPECT_EQ(wide.c(5, 2), 25);
  EXPECT_EQ(wide.phi(1), 30);
  EXPECT_EQ(wide.gamma2(2), 34);
  EXPECT_EQ(wide.gamma1(3), 38);
  EXPECT_EQ(wide.theta(5), 45);
}

TEST(RobustLayout, PeriodsFromTheCohortCount) {
  EXPECT_EQ(RobustLayout::cohorts_for(1), 1);
  EXPECT_EQ(RobustLayout::cohorts_for(2), 4);
  EXPECT_EQ(RobustLayout::cohorts_for(3), 8);
  EXPECT_EQ(RobustLayout::cohorts_for(28), 433);
  for (int M = 1; M <= 1001; ++M) EXPECT_EQ(RobustLayout::periods_for(RobustLayout::cohorts_for(M)), M) << M;
  for (int n : {-3, 0, 2, 3, 5, 7, 9, 432, 434}) EXPECT_EQ(RobustLayout::periods_for(n), 0) << n;
  EXPECT_EQ(RobustLayout::periods_for(8), 3);
  EXPECT_EQ(RobustLayout().periods(), 0);
}

}  // namespace
}  // namespace quorvale
