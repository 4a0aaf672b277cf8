#include "simulate/simstats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quorvale {
namespace {

TEST(TestLevels, HeldInSinglePrecision) {
  EXPECT_EQ(kTestLevels[0], 0.009999999776482582);
  EXPECT_EQ(kTestLevels[1], 0.05000000074505806);
  EXPECT_EQ(kTestLevels[2], 0.10000000149011612);
  EXPECT_EQ(kTestLevels[3], 0.5);
  EXPECT_EQ(kTestLevels[4], 1.0);
}

TEST(RejectionCounts, GoodnessOfFitIsStrict) {
  std::array<int, 4> counts{};
  count_gof(0.05000000074505806, counts);
  EXPECT_EQ(counts, (std::array<int, 4>{0, 0, 1, 1}));
  count_gof(0.03, counts);
  EXPECT_EQ(counts, (std::array<int, 4>{0, 1, 2, 2}));
  count_gof(0.5, counts);  // 0.5 is below none of the four levels
  EXPECT_EQ(counts, (std::array<int, 4>{0, 1, 2, 2}));
  count_gof(0.0, counts);
  EXPECT_EQ(counts, (std::array<int, 4>{1, 2, 3, 3}));
}

TEST(RejectionCounts, LikelihoodRatioIsInclusive) {
  std::array<int, 5> counts{};
  count_lrt(0.05000000074505806, counts);
  EXPECT_EQ(counts, (std::array<int, 5>{0, 1, 1, 1, 1}));
  count_lrt(0.03, counts);
  EXPECT_EQ(counts, (std::array<int, 5>{0, 2, 2, 2, 2}));
  count_lrt(1.0, counts);  // the last level counts every tested pair
  EXPECT_EQ(counts, (std::array<int, 5>{0, 2, 2, 2, 3}));
  count_lrt(0.05, counts);  // the double 0.05 lies below the level as held
  EXPECT_EQ(counts, (std::array<int, 5>{0, 3, 3, 3, 4}));
}

TEST(PairTest, SmallerNdfIsTheGeneralModel) {
  const PairTest t = pair_test({-100.0, 5}, {-103.0, 7});
  ASSERT_TRUE(t.tested);
  EXPECT_TRUE(t.first_general);
  EXPECT_DOUBLE_EQ(t.chi, 6.0);
  EXPECT_EQ(t.df, 2);
  EXPECT_NEAR(t.probability, std::exp(-3.0), 1e-6);  // chi-square on 2 df: upper tail e^(-x/2)
  EXPECT_FALSE(t.cdtr_error);

  const PairTest u = pair_test({-103.0, 7}, {-100.0, 5});
  ASSERT_TRUE(u.tested);
  EXPECT_FALSE(u.first_general);
  EXPECT_DOUBLE_EQ(u.chi, 6.0);
  EXPECT_EQ(u.df, 2);
}

TEST(PairTest, SkippedAndDegeneratePairs) {
  EXPECT_FALSE(pair_test({-100.0, -1}, {-103.0, 7}).tested);
  EXPECT_FALSE(pair_test({-100.0, 5}, {-103.0, -1}).tested);
  EXPECT_FALSE(pair_test({-100.0, 5}, {-103.0, 5}).tested);
  // A reduced model fitting better than the general one: chi-square 0, probability 1.
  const PairTest t = pair_test({-100.0, 5}, {-99.0, 6});
  ASSERT_TRUE(t.tested);
  EXPECT_EQ(t.chi, 0.0);
  EXPECT_EQ(t.probability, 1.0);
  EXPECT_EQ(t.df, 1);
}

TEST(MeanRow, TwoValues) {
  // S(1) = 0.4 and 0.6: mean 0.5, SE 0.1, interval 0.5 -+ 1.96 * 0.1.
  const MeanRow r = mean_row(0.4 + 0.6, 0.4 * 0.4 + 0.6 * 0.6, 2);
  EXPECT_DOUBLE_EQ(r.mean, 0.5);
  EXPECT_NEAR(r.se, 0.1, 1e-15);
  EXPECT_NEAR(r.lower, 0.5 - 0.196, 1e-7);
  EXPECT_NEAR(r.upper, 0.5 + 0.196, 1e-7);
  EXPECT_DOUBLE_EQ(r.upper - r.mean, static_cast<double>(1.96F) * r.se);
}

TEST(MeanRow, OneValueHasNoSpread) {
  const MeanRow r = mean_row(0.3, 0.09, 1);
  EXPECT_EQ(r.mean, 0.3);
  EXPECT_EQ(r.se, 0.0);
  EXPECT_EQ(r.lower, 0.3);
  EXPECT_EQ(r.upper, 0.3);
}

TEST(MeanRow, EqualValuesGiveZeroNotNan) {
  // Three fits of a parameter fixed at 0.1: the sums leave a tiny negative
  // sum of squared deviations, whose square root would not be a number.
  double sum = 0.0;
  double sum2 = 0.0;
  for (int i = 0; i < 3; ++i) {
    sum += 0.1;
    sum2 += 0.1 * 0.1;
  }
  ASSERT_LT(sum2 - sum * sum / 3, 0.0);
  const MeanRow r = mean_row(sum, sum2, 3);
  EXPECT_EQ(r.se, 0.0);
  EXPECT_NEAR(r.mean, 0.1, 1e-16);
}

TEST(EstimateRecords, TenParametersMakeTwoRecordsEach) {
  std::vector<double> s(10), e(10);
  for (int i = 0; i < 10; ++i) {
    s[static_cast<std::size_t>(i)] = 0.05 * (i + 1);
    e[static_cast<std::size_t>(i)] = 0.001 * (i + 1);
  }
  const std::string text = estimate_records(12, 3, 345.25, s, e);
  EXPECT_EQ(text,
            "        12         3   345.25000    \n"
            "  0.500000E-01  0.100000E+00  0.150000E+00  0.200000E+00  0.250000E+00  0.300000E+00  0.350000E+00  0.400000E+00\n"
            "  0.450000E+00  0.500000E+00\n"
            "  0.100000E-02  0.200000E-02  0.300000E-02  0.400000E-02  0.500000E-02  0.600000E-02  0.700000E-02  0.800000E-02\n"
            "  0.900000E-02  0.100000E-01\n");
}

TEST(EstimateRecords, EightParametersFillOneRecordEach) {
  std::vector<double> s(8, 0.5), e(8, 0.25);
  const std::string text = estimate_records(1, 1, -2.5, s, e);
  int lines = 0;
  for (char ch : text) lines += ch == '\n';
  EXPECT_EQ(lines, 3);
}

}  // namespace
}  // namespace quorvale
