// Abundance by period rests on the period's p's being probabilities the
// data estimate: two periods of two occasions, 80 animals caught in period 1
// and 60 + 40 in period 2, every parameter fixed (no covariance needed).
// Two groups whose p's share slots: the abundance of both together carries
// the covariance between the groups' p*.
#include "estimate/derived.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/robust_layout.h"
#include "model/store.h"

namespace quorvale {
namespace {

struct TwoPeriods {
  ModelStore m;
  FitReport r;
  TwoPeriods() {
    const std::vector<int> kk{2, 2};
    m.set_cohorts(RobustLayout(kk).cohort_cells());
    m.NPAR = RobustLayout(kk).needed();
    m.NREL(1) = 80;
    m.NREL(2) = 60;
    m.NREL(3) = 40;
    for (int I = 1; I <= m.NPAR; ++I) {
      ParameterEstimate e;
      e.index = I;
      e.slot = -I;
      e.estimate = 0.5;
      r.parameters.push_back(e);
    }
  }
  /// S(I) of the report.
  ParameterEstimate& S(int I) { return r.parameters[static_cast<std::size_t>(I - 1)]; }
};

TEST(DerivedAbundance, AvailableOnlyFromProbabilitiesAndAPStarInZeroToOne) {
  // Period 1: p = 0.5, 0.5 (S(1), S(2)); period 2: p = 1 and 0.3 (S(4), S(5)).
  TwoPeriods t;
  t.S(4).estimate = 1.0;
  t.S(5).estimate = 0.3;
  std::vector<PeriodAbundance> a = derived_abundance(t.m, t.r).by_group;
  ASSERT_EQ(a.size(), 2U);
  EXPECT_TRUE(derived_abundance(t.m, t.r).total.empty());  // one group: no total
  EXPECT_TRUE(a[0].available());
  EXPECT_DOUBLE_EQ(a[0].estimate, 80.0 / 0.75);
  EXPECT_TRUE(a[1].available());  // p* = 1 is a probability: every animal was caught
  EXPECT_DOUBLE_EQ(a[1].estimate, 100.0);

  // p = -0.5 and 0.5 give p* = 0.25, which looks like a probability; N-hat
  // still rests on a p outside 0..1.
  t.S(1).estimate = -0.5;
  a = derived_abundance(t.m, t.r).by_group;
  EXPECT_FALSE(a[0].available());
  EXPECT_EQ(a[0].unavailable, "S(1) = -0.5 is outside 0 to 1");
  EXPECT_DOUBLE_EQ(a[0].p_star, 0.25);
  EXPECT_TRUE(std::isnan(a[0].estimate) && std::isnan(a[0].ci.lower) && std::isnan(a[0].ci.upper));
  EXPECT_TRUE(a[1].available());

  // No capture possible in period 2: p* = 0.
  t.S(4).estimate = 0.0;
  t.S(5).estimate = 0.0;
  a = derived_abundance(t.m, t.r).by_group;
  EXPECT_EQ(a[1].unavailable, "p* = 0 is not in (0, 1]");
  EXPECT_TRUE(std::isnan(a[1].estimate));
}

TEST(DerivedAbundance, UnavailableWhenAPOfThePeriodIsNotEstimable) {
  TwoPeriods t;
  t.S(2).slot = 1;
  t.S(2).estimable = false;
  t.r.covariance.assign(1, std::nan(""));
  const std::vector<PeriodAbundance> a = derived_abundance(t.m, t.r).by_group;
  EXPECT_EQ(a[0].unavailable, "S(2) is not estimable");
  EXPECT_TRUE(std::isnan(a[0].p_star) && std::isnan(a[0].estimate));
  EXPECT_TRUE(a[1].available());
  EXPECT_DOUBLE_EQ(a[1].estimate, 100.0 / 0.75);
}

/// Two periods of two occasions for two groups (blocks of 10 parameters,
/// cohorts 1-4 of F and 5-8 of M): in period 1, F with 60 animals caught and
/// M with 40; p(1,1) of both groups (S(1), S(11)) estimated in slot 1 at
/// 0.5, p(1,2) (S(2), S(12)) in slot 2 at 0.4, so p* = 1 - 0.5 * 0.6 = 0.7
/// for both; every other parameter fixed at 0.4.
struct TwoGroupsSharingP {
  ModelStore m;
  FitReport r;
  TwoGroupsSharingP() {
    const std::vector<int> kk{2, 2};
    m.group_names = {"F", "M"};
    m.set_cohorts(RobustLayout(kk, 0, 2).cohort_cells());
    m.NPAR = 20;
    m.NREL(1) = 60;
    m.NREL(5) = 40;
    for (int I = 1; I <= m.NPAR; ++I) {
      ParameterEstimate e;
      e.index = I;
      e.slot = I == 1 || I == 11 ? 1 : I == 2 || I == 12 ? 2 : -I;
      e.estimate = I == 1 || I == 11 ? 0.5 : 0.4;
      r.parameters.push_back(e);
    }
    r.nest = 2;
    r.covariance = {0.01, 0.002, 0.02};  // var 0.01 and 0.02, covariance 0.002
  }
};

TEST(DerivedAbundance, AllGroupsTogetherCarryTheCovarianceOfTheGroupsCaptureProbabilities) {
  TwoGroupsSharingP t;
  const DerivedAbundance a = derived_abundance(t.m, t.r);
  ASSERT_EQ(a.by_group.size(), 4U);  // periods 1 and 2 of F, then of M
  ASSERT_EQ(a.total.size(), 2U);
  // Var(p*) = g'Vg with g = (1 - 0.4, 1 - 0.5): 0.36 * 0.01 + 2 * 0.3 * 0.002 + 0.25 * 0.02 = 0.0098.
  const double var_p = 0.0098;
  const PeriodAbundance& male = a.by_group[2];
  EXPECT_EQ(male.group, 2);
  EXPECT_EQ(male.period, 1);
  EXPECT_EQ(male.caught, 40);
  EXPECT_NEAR(male.estimate, 40 / 0.7, 1e-12);
  EXPECT_NEAR(male.se, std::sqrt(40 * 0.3 / 0.49 + 1600 * var_p / 0.2401), 1e-12);
  // Both p* the same: N = 100 / p*, with the variance of one group of 100
  // animals, not the sum of the groups' (40^2 + 60^2 < 100^2).
  const PeriodAbundance& all = a.total[0];
  EXPECT_EQ(all.group, 0);
  EXPECT_EQ(all.caught, 100);
  EXPECT_NEAR(all.estimate, 100 / 0.7, 1e-12);
  EXPECT_NEAR(all.se, std::sqrt(100 * 0.3 / 0.49 + 10000 * var_p / 0.2401), 1e-12);
  EXPECT_TRUE(std::isnan(all.p_star));

  // A group whose N-hat is unavailable leaves the total unavailable.
  t.r.parameters[11].estimable = false;  // S(12), M's p(1,2)
  const DerivedAbundance b = derived_abundance(t.m, t.r);
  EXPECT_TRUE(b.by_group[0].available());
  EXPECT_TRUE(b.total[1].available());
  EXPECT_EQ(b.total[0].unavailable, "N-hat of group M is unavailable");
  EXPECT_TRUE(std::isnan(b.total[0].estimate) && std::isnan(b.total[0].se));
}

}  // namespace
}  // namespace quorvale
