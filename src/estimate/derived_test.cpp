// Abundance by period rests on the period's p's being probabilities the
// data estimate: two periods of two occasions, 80 animals caught in period 1
// and 60 + 40 in period 2, every parameter fixed (no covariance needed).
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
  std::vector<PeriodAbundance> a = derived_abundance(t.m, t.r);
  ASSERT_EQ(a.size(), 2U);
  EXPECT_TRUE(a[0].available());
  EXPECT_DOUBLE_EQ(a[0].estimate, 80.0 / 0.75);
  EXPECT_TRUE(a[1].available());  // p* = 1 is a probability: every animal was caught
  EXPECT_DOUBLE_EQ(a[1].estimate, 100.0);

  // p = -0.5 and 0.5 give p* = 0.25, which looks like a probability; N-hat
  // still rests on a p outside 0..1.
  t.S(1).estimate = -0.5;
  a = derived_abundance(t.m, t.r);
  EXPECT_FALSE(a[0].available());
  EXPECT_EQ(a[0].unavailable, "S(1) = -0.5 is outside 0 to 1");
  EXPECT_DOUBLE_EQ(a[0].p_star, 0.25);
  EXPECT_TRUE(std::isnan(a[0].estimate) && std::isnan(a[0].ci.lower) && std::isnan(a[0].ci.upper));
  EXPECT_TRUE(a[1].available());

  // No capture possible in period 2: p* = 0.
  t.S(4).estimate = 0.0;
  t.S(5).estimate = 0.0;
  a = derived_abundance(t.m, t.r);
  EXPECT_EQ(a[1].unavailable, "p* = 0 is not in (0, 1]");
  EXPECT_TRUE(std::isnan(a[1].estimate));
}

TEST(DerivedAbundance, UnavailableWhenAPOfThePeriodIsNotEstimable) {
  TwoPeriods t;
  t.S(2).slot = 1;
  t.S(2).estimable = false;
  t.r.covariance.assign(1, std::nan(""));
  const std::vector<PeriodAbundance> a = derived_abundance(t.m, t.r);
  EXPECT_EQ(a[0].unavailable, "S(2) is not estimable");
  EXPECT_TRUE(std::isnan(a[0].p_star) && std::isnan(a[0].estimate));
  EXPECT_TRUE(a[1].available());
  EXPECT_DOUBLE_EQ(a[1].estimate, 100.0 / 0.75);
}

}  // namespace
}  // namespace quorvale
