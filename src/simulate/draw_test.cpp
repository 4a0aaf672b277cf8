#include "simulate/draw.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "model/likelihood.h"
#include "simulate/ran.h"
#include "testing/likelihood_cases.h"

namespace quorvale {
namespace {

/// A store laid out for M periods of kk occasions each, every cell equally likely.
std::unique_ptr<ModelStore> design(int M, int kk) {
  auto m = std::make_unique<ModelStore>();
  m->set_cohorts(RobustLayout(std::vector<int>(static_cast<std::size_t>(M), kk)).cohort_cells());
  for (int j = 1; j <= m->NCOHRT; ++j) {
    m->NREL(j) = 50 + j;
    for (int k = 1; k <= m->NCLASS(j); ++k) m->P(k, j) = 1.0 / m->NCLASS(j);
  }
  return m;
}

/// The layout of M periods of kk occasions each.
RobustLayout layout_of(int M, int kk) { return RobustLayout(std::vector<int>(static_cast<std::size_t>(M), kk)); }

int total(const ModelStore& m, int j) {
  int n = 0;
  for (int k = 1; k <= m.NCLASS(j); ++k) n += m.NOBS(k, j);
  return n;
}

TEST(DrawLayout, ThreePeriods) {
  auto m = design(3, 2);
  const auto layout = draw_layout(*m, layout_of(3, 2));
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(layout->layout.periods(), 3);
  EXPECT_EQ(layout->layout.groups(), 1);
}

TEST(DrawLayout, CohortsOffTheLayoutAreRefused) {
  auto m = design(3, 2);
  m->NCOHRT = 7;  // the layout has 8 cohorts; no number of periods gives 7
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NCLASS(7) = 4;  // would name a fourth period: cohort (4, 2) lies beyond the model
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NCLASS(8) = 1;
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NCLASS(2) = 0;
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NCLASS(2) = MXCLAS + 1;
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NCOHRT = 0;
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
  m = design(3, 2);
  m->NOBS = Mat1<int>(std::vector<int>{4, 4, 4, 4, 4, 3, 3, 2});  // cohort 6 one cell short
  EXPECT_FALSE(draw_layout(*m, layout_of(3, 2)).has_value());
}

TEST(DrawCohort, CellsTakeTheirIntervalsOfTheUniform) {
  const double p[3] = {0.2, 0.3, 0.5};
  std::int32_t seed = 1;
  int counts[3];
  draw_cohort(p, 3, 3, seed, counts);
  // From seed 1 the numbers are 7.8e-06, 0.1315 and 0.7556.
  EXPECT_EQ(counts[0], 2);
  EXPECT_EQ(counts[1], 0);
  EXPECT_EQ(counts[2], 1);
  EXPECT_EQ(seed, 1622650073);
}

TEST(DrawCohort, UniformOfOneCountsInTheLastCell) {
  // The running sum reaches exactly 1.0 and the uniform number is 1.0: no
  // interval holds it, and the animal goes to the last cell.
  const double p[2] = {0.5, 0.5};
  std::int32_t seed = 739806647;
  int counts[2];
  draw_cohort(p, 2, 1, seed, counts);
  EXPECT_EQ(counts[0], 0);
  EXPECT_EQ(counts[1], 1);
}

TEST(DrawCohort, AUniformOnARunningSumBelongsToTheNextCell) {
  // Running sums 0.25, 0.5, 1.0, all exact. The seeds are 2^29 and 2^30
  // stepped back once through the generator, so the uniform drawn is
  // exactly 0.25 or 0.5: the start of cell 2 or of cell 3, not the end of
  // the cell before.
  const double p[3] = {0.25, 0.25, 0.5};
  const struct {
    std::int32_t seed;
    float u;
    int cell;
  } cases[] = {{351919250, 0.25f, 2}, {703838500, 0.5f, 3}};
  for (const auto& c : cases) {
    std::int32_t copy = c.seed;
    ASSERT_EQ(ran(copy), c.u);
    std::int32_t seed = c.seed;
    int counts[3];
    draw_cohort(p, 3, 1, seed, counts);
    for (int k = 1; k <= 3; ++k)
      EXPECT_EQ(counts[k - 1], k == c.cell ? 1 : 0) << "u = " << c.u << ", cell " << k;
  }
}

TEST(DrawCohort, CountsAddUpWhenTheProbabilitiesFallShort) {
  const double p[3] = {0.1, 0.2, 0.3};  // 0.4 of the numbers lie beyond the last sum
  std::int32_t seed = 12345;
  std::int32_t copy = seed;
  int counts[3];
  draw_cohort(p, 3, 1000, seed, counts);
  EXPECT_EQ(counts[0] + counts[1] + counts[2], 1000);
  int beyond = 0;
  for (int a = 0; a < 1000; ++a) beyond += static_cast<double>(ran(copy)) >= 0.6;
  EXPECT_GT(beyond, 300);
  EXPECT_GE(counts[2], beyond);
  EXPECT_EQ(seed, copy);  // one number per animal
}

TEST(DrawCohort, NoAnimalsDrawNothing) {
  const double p[2] = {0.5, 0.5};
  std::int32_t seed = 99;
  int counts[2] = {7, 7};
  draw_cohort(p, 2, 0, seed, counts);
  EXPECT_EQ(counts[0], 0);
  EXPECT_EQ(counts[1], 0);
  EXPECT_EQ(seed, 99);
  draw_cohort(p, 2, -5, seed, counts);
  EXPECT_EQ(seed, 99);
}

TEST(DrawReplicate, ThreePeriodSizesFollowTheOpenPart) {
  auto m = design(3, 2);
  m->NREL(4) = 77;  // closed cohort (3, 1) keeps its size
  m->NREL(7) = 300;
  m->NREL(8) = 200;
  m->NREL(3) = m->NREL(5) = m->NREL(6) = m->NREL(1) = m->NREL(2) = -1;
  const auto layout = draw_layout(*m, layout_of(3, 2));
  ASSERT_TRUE(layout.has_value());
  std::int32_t seed = 4711;
  draw_replicate(*m, *layout, seed);
  EXPECT_EQ(m->NREL(3), m->NOBS(1, 7));
  EXPECT_EQ(m->NREL(5), m->NOBS(2, 7));
  EXPECT_EQ(m->NREL(6), m->NOBS(1, 8));
  EXPECT_EQ(m->NREL(1), 300);
  EXPECT_EQ(m->NREL(2), 200 - m->NOBS(1, 7));
  EXPECT_EQ(m->NREL(4), 77);
  EXPECT_EQ(m->NREL(7), 300);
  EXPECT_EQ(m->NREL(8), 200);
  for (int j = 1; j <= 8; ++j) EXPECT_EQ(total(*m, j), m->NREL(j)) << "cohort " << j;
}

TEST(DrawReplicate, OpenPartIsDrawnFirst) {
  auto m = design(3, 2);
  const auto layout = draw_layout(*m, layout_of(3, 2));
  ASSERT_TRUE(layout.has_value());
  std::int32_t seed = 4711;
  draw_replicate(*m, *layout, seed);
  // The same numbers, drawn cohort by cohort in the order 7, 8, 1, ..., 6.
  auto again = design(3, 2);
  std::int32_t s = 4711;
  int counts[MXCLAS];
  for (int j : {7, 8, 1, 2, 3, 4, 5, 6}) {
    draw_cohort(again->P.column(j), again->NCLASS(j), m->NREL(j), s, counts);
    for (int k = 1; k <= m->NCLASS(j); ++k) EXPECT_EQ(m->NOBS(k, j), counts[k - 1]) << j << "," << k;
  }
  EXPECT_EQ(s, seed);
}

TEST(DrawReplicate, FirstCaughtSizeIsNotNegative) {
  auto m = design(3, 2);
  for (int k = 1; k <= 3; ++k) m->P(k, 7) = k == 1 ? 1.0 : 0.0;  // every animal of cohort 7 back in period 2
  m->NREL(7) = 40;
  m->NREL(8) = 10;  // fewer released after period 2 than recaptured there
  const auto layout = draw_layout(*m, layout_of(3, 2));
  std::int32_t seed = 5;
  draw_replicate(*m, *layout, seed);
  EXPECT_EQ(m->NOBS(1, 7), 40);
  EXPECT_EQ(m->NREL(3), 40);
  EXPECT_EQ(m->NREL(2), 0);
  EXPECT_EQ(total(*m, 2), 0);
}

TEST(DrawReplicate, SameSeedSameReplicate) {
  auto a = design(4, 3);
  auto b = design(4, 3);
  const auto layout = draw_layout(*a, layout_of(4, 3));
  ASSERT_TRUE(layout.has_value());
  std::int32_t sa = 2024;
  std::int32_t sb = 2024;
  draw_replicate(*a, *layout, sa);
  draw_replicate(*b, *layout, sb);
  EXPECT_EQ(sa, sb);
  for (int j = 1; j <= a->NCOHRT; ++j) {
    EXPECT_EQ(a->NREL(j), b->NREL(j));
    for (int k = 1; k <= a->NCLASS(j); ++k) EXPECT_EQ(a->NOBS(k, j), b->NOBS(k, j));
  }
}

/// Two groups of periods of kk occasions with the cell probabilities of
/// the likelihood at `values` (S(1..NPAR) as given, two blocks), open
/// cohorts releasing `released` animals of group 1 and twice that of group 2.
std::unique_ptr<ModelStore> two_groups(const std::vector<int>& kk, const std::vector<double>& values, int released) {
  auto m = testing::plain_store(kk, 2 * testing::needed_npar(kk));
  m->set_cohorts(RobustLayout(kk, 0, 2).cohort_cells());
  m->group_names = {"F", "M"};
  const RobustLayout L(kk, m->NPAR, 2);
  testing::CoreRun core(*m, values);
  EXPECT_EQ(core.r.status, EstStatus::Ok);
  for (int j = 1; j <= m->NCOHRT; ++j) {
    for (int k = 1; k <= m->NCLASS(j); ++k) m->P(k, j) = core.P(k, j);
  }
  for (int g = 1; g <= 2; ++g) {
    for (int i = 1; i < L.periods(); ++i) m->NREL(L.open_cohort(i, g)) = g * released;
    m->NREL(L.closed_cohort(L.periods(), 1, g)) = g * released;
  }
  return m;
}

/// Animals of cohort j in its histories with a capture (every cell but the remainder).
int caught(const ModelStore& m, int j) { return total(m, j) - m.NOBS(m.NCLASS(j), j); }

TEST(DrawReplicate, EachGroupIsDrawnFromItsOwnBlock) {
  const std::vector<int> kk = {2, 2, 2};
  const RobustLayout L(kk, 2 * testing::needed_npar(kk), 2);
  std::vector<double> values(static_cast<std::size_t>(L.npar()), 0.5);
  for (int t = 1; t <= 2; ++t) values[static_cast<std::size_t>(L.p(2, t, 2) - 1)] = 0.0;  // group 2 unseen in period 2
  auto m = two_groups(kk, values, 200);
  const auto layout = draw_layout(*m, L);
  ASSERT_TRUE(layout.has_value());
  std::int32_t seed = 97;
  draw_replicate(*m, *layout, seed);
  for (int g = 1; g <= 2; ++g) {
    // The closed cohorts' sizes come from the group's own open cohorts.
    EXPECT_EQ(m->NREL(L.closed_cohort(2, 2, g)), m->NOBS(1, L.open_cohort(1, g))) << "group " << g;
    EXPECT_EQ(m->NREL(L.closed_cohort(3, 2, g)), m->NOBS(2, L.open_cohort(1, g))) << "group " << g;
    EXPECT_EQ(m->NREL(L.closed_cohort(3, 3, g)), m->NOBS(1, L.open_cohort(2, g))) << "group " << g;
    EXPECT_EQ(m->NREL(L.closed_cohort(1, 1, g)), g * 200) << "group " << g;
    for (int j = 1; j <= L.cohorts_per_group(); ++j) {
      const int c = (g - 1) * L.cohorts_per_group() + j;
      EXPECT_EQ(total(*m, c), m->NREL(c)) << "cohort " << c;
    }
  }
  // Period 2: group 1 is caught there, group 2 never is, neither among the
  // animals released after period 1 nor in the period's own histories.
  EXPECT_GT(m->NOBS(1, L.open_cohort(1, 1)), 0);
  EXPECT_GT(caught(*m, L.closed_cohort(2, 1, 1)) + caught(*m, L.closed_cohort(2, 2, 1)), 0);
  EXPECT_EQ(m->NOBS(1, L.open_cohort(1, 2)), 0);
  EXPECT_EQ(m->NREL(L.closed_cohort(2, 2, 2)), 0);
  EXPECT_EQ(caught(*m, L.closed_cohort(2, 1, 2)), 0);
  EXPECT_GT(caught(*m, L.closed_cohort(3, 1, 2)), 0);  // but in period 3
}

TEST(DrawReplicate, TwoGroupsAreEachGroupDrawnAloneInTurn) {
  // Group 1's cohorts take the first numbers of the stream, group 2's go on
  // from where they left it: the same as drawing each group as a model of
  // its own.
  const std::vector<int> kk = {3, 2, 2, 1};
  const RobustLayout L(kk, 2 * testing::needed_npar(kk), 2);
  std::vector<double> values(static_cast<std::size_t>(L.npar()));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = 0.2 + 0.6 * static_cast<double>((i * 7) % 11) / 10.0;
  auto both = two_groups(kk, values, 150);
  const auto layout = draw_layout(*both, L);
  ASSERT_TRUE(layout.has_value());
  const std::int32_t start = 31337;
  std::int32_t seed = start;
  draw_replicate(*both, *layout, seed);

  const RobustLayout one(kk);
  std::int32_t s = start;
  for (int g = 1; g <= 2; ++g) {
    auto alone = std::make_unique<ModelStore>();
    alone->set_cohorts(one.cohort_cells());
    const int first = (g - 1) * one.cohorts();
    for (int j = 1; j <= one.cohorts(); ++j) {
      alone->NREL(j) = both->NREL(first + j);
      for (int k = 1; k <= alone->NCLASS(j); ++k) alone->P(k, j) = both->P(k, first + j);
    }
    const auto alone_layout = draw_layout(*alone, one);
    ASSERT_TRUE(alone_layout.has_value());
    draw_replicate(*alone, *alone_layout, s);
    for (int j = 1; j <= one.cohorts(); ++j) {
      EXPECT_EQ(alone->NREL(j), both->NREL(first + j)) << "group " << g << " cohort " << j;
      for (int k = 1; k <= alone->NCLASS(j); ++k)
        EXPECT_EQ(alone->NOBS(k, j), both->NOBS(k, first + j)) << "group " << g << " cohort " << j << " cell " << k;
    }
  }
  EXPECT_EQ(s, seed);
}

}  // namespace
}  // namespace quorvale
