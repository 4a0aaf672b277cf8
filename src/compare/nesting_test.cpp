#include "compare/nesting.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvale {
namespace {

/// A free parameter on `slot` within [lo, hi].
ParameterEstimate free_on(int slot, double lo = 0.0, double hi = 1.0) {
  ParameterEstimate p;
  p.slot = slot;
  p.estimate = 0.5;
  p.lower_bound = lo;
  p.upper_bound = hi;
  return p;
}

/// A parameter fixed at `value` (its constant in slot `k`).
ParameterEstimate fixed_at(double value, int k) {
  ParameterEstimate p;
  p.slot = -k;
  p.estimate = value;
  p.lower_bound = value;
  p.upper_bound = value;
  return p;
}

using Map = std::vector<ParameterEstimate>;

TEST(Nesting, EqualitiesAndFixedValuesOfTheGeneralModelMustHoldInTheReducedOne) {
  const Map general = {free_on(1), free_on(2), free_on(2), fixed_at(1.0, 4)};  // S(3) = S(2), S(4) = 1
  // Every parameter equal: S(3) = S(2) still holds.
  EXPECT_TRUE(nested_in(Map{free_on(1), free_on(1), free_on(1), fixed_at(1.0, 4)}, general));
  // S(2) and S(3) both fixed at 0: equal, inside 0..1.
  EXPECT_TRUE(nested_in(Map{free_on(1), fixed_at(0.0, 3), fixed_at(0.0, 4), fixed_at(1.0, 2)}, general));
  // S(2) and S(3) fixed at different values: the equality is broken.
  EXPECT_FALSE(nested_in(Map{free_on(1), fixed_at(0.0, 3), fixed_at(0.2, 4), fixed_at(1.0, 2)}, general));
  // S(3) free of S(2): a parameter the general model lacks.
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(2), free_on(3), fixed_at(1.0, 4)}, general));
  // S(4) fixed at another value, or free.
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(2), free_on(2), fixed_at(0.5, 4)}, general));
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(2), free_on(2), free_on(3)}, general));
  // Neither way round when each has a restriction the other lacks.
  const Map no_emigration = {free_on(1), fixed_at(0.0, 3), fixed_at(0.0, 4), fixed_at(1.0, 2)};
  const Map constant_p = {free_on(1), free_on(1), free_on(2), fixed_at(1.0, 4)};
  EXPECT_FALSE(nested_in(no_emigration, constant_p));
  EXPECT_FALSE(nested_in(constant_p, no_emigration));
  // Maps of different models.
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(1), free_on(1)}, general));
}

TEST(Nesting, ConstantBoundsOfTheGeneralModelMustContainTheReducedOnesRange) {
  const Map general = {free_on(1, 0.0, 0.95), free_on(2)};  // S(1) < 0.95
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(2)}, general));
  EXPECT_TRUE(nested_in(Map{free_on(1, 0.1, 0.9), free_on(2)}, general));
  EXPECT_TRUE(nested_in(Map{fixed_at(0.95, 2), free_on(1)}, general));
  EXPECT_FALSE(nested_in(Map{fixed_at(0.96, 2), free_on(1)}, general));
  // A reduced model bounded by another parameter stays within that one's range.
  ParameterEstimate below = free_on(1, 0.0, 0.0);
  below.upper_by = 2;
  EXPECT_TRUE(nested_in(Map{below, free_on(2, 0.0, 0.5)}, general));
  EXPECT_FALSE(nested_in(Map{below, free_on(2, 0.0, 1.0)}, general));
}

TEST(Nesting, ABoundByAnotherParameterHoldsWhenKeptOrWhenBothAreEqualOrFixedInOrder) {
  ParameterEstimate first = free_on(1);
  first.upper_by = 2;  // S(1) < S(2)
  const Map general = {first, free_on(2)};
  EXPECT_TRUE(nested_in(general, general));
  EXPECT_TRUE(nested_in(Map{free_on(1), free_on(1)}, general));
  EXPECT_TRUE(nested_in(Map{fixed_at(0.2, 1), fixed_at(0.4, 2)}, general));
  EXPECT_FALSE(nested_in(Map{fixed_at(0.4, 1), fixed_at(0.2, 2)}, general));
  EXPECT_FALSE(nested_in(Map{free_on(1), free_on(2)}, general));
}

/// A fit of the parameters in `map` without linear forms: NEST slots.
FitReport fit_of(Map map, int slots) {
  FitReport f;
  f.parameters = std::move(map);
  f.slots = slots;
  f.nest = slots;
  return f;
}

/// A fit with linear forms: `rows` the design by slot, each of `k` columns.
FitReport linear_fit(Map map, const std::vector<std::vector<double>>& rows) {
  FitReport f = fit_of(std::move(map), static_cast<int>(rows.size()));
  f.betas.resize(rows.front().size());
  f.nest = static_cast<int>(f.betas.size());
  for (const auto& row : rows) f.beta_design.insert(f.beta_design.end(), row.begin(), row.end());
  return f;
}

TEST(Nesting, LinearFormsAreNestedWhenTheirPredictorsLieInTheGeneralModelsSpan) {
  // Three survival probabilities, each its own slot in the general models.
  const Map own = {free_on(1), free_on(2), free_on(3)};
  const FitReport by_interval = fit_of(own, 3);                                  // phi(t)
  const FitReport trend = linear_fit(own, {{1, 1}, {1, 2}, {1, 3}});             // logit phi = a + b i
  const FitReport constant = fit_of({free_on(1), free_on(1), free_on(1)}, 1);    // phi(.)
  const FitReport one = linear_fit({free_on(1), free_on(1), free_on(1)}, {{1}});  // phi(1) as a formula
  // phi(.) < trend < phi(t), and not the other way.
  EXPECT_TRUE(nested_in(constant, trend));
  EXPECT_TRUE(nested_in(one, trend));
  EXPECT_TRUE(nested_in(trend, by_interval));
  EXPECT_FALSE(nested_in(by_interval, trend));
  EXPECT_FALSE(nested_in(trend, constant));
  // A covariate's values in the second column: neither holds the other.
  const FitReport winter = linear_fit(own, {{1, 0.2}, {1, 0.8}, {1, 0.1}});
  EXPECT_FALSE(nested_in(winter, trend));
  EXPECT_FALSE(nested_in(trend, winter));
  // The same span written with other columns is nested both ways.
  const FitReport centred = linear_fit(own, {{1, -1}, {1, 0}, {1, 1}});
  EXPECT_TRUE(nested_in(centred, trend));
  EXPECT_TRUE(nested_in(trend, centred));
  // Fixed values: 0.5 everywhere is logit 0, inside every span; values
  // whose logits do not lie on a line are outside the trend's.
  EXPECT_TRUE(nested_in(fit_of({fixed_at(0.5, 1), fixed_at(0.5, 2), fixed_at(0.5, 3)}, 0), trend));
  EXPECT_FALSE(nested_in(fit_of({fixed_at(0.5, 1), fixed_at(0.6, 2), fixed_at(0.9, 3)}, 0), trend));
  EXPECT_TRUE(nested_in(fit_of({fixed_at(0.5, 1), fixed_at(0.6, 2), fixed_at(0.9, 3)}, 0), by_interval));
  // A probability fixed at 0 is reached only where the general model moves it alone.
  const FitReport first_zero = fit_of({fixed_at(0.0, 1), free_on(1), free_on(2)}, 2);
  EXPECT_FALSE(nested_in(first_zero, trend));
  EXPECT_TRUE(nested_in(linear_fit({fixed_at(0.0, 1), free_on(1), free_on(2)}, {{1, 2}, {1, 3}}), by_interval));
  // A parameter fixed in the general model must be fixed at that value.
  const FitReport general_fixed = linear_fit({free_on(1), free_on(2), fixed_at(0.3, 3)}, {{1, 1}, {1, 2}});
  EXPECT_FALSE(nested_in(trend, general_fixed));
  EXPECT_TRUE(nested_in(fit_of({free_on(1), free_on(1), fixed_at(0.3, 3)}, 1), general_fixed));
  // Bounds other than 0 and 1 are not compared with forms: never claimed nested.
  EXPECT_FALSE(nested_in(fit_of({free_on(1, 0.0, 0.5), free_on(1, 0.0, 0.5), free_on(1, 0.0, 0.5)}, 1), trend));
}

}  // namespace
}  // namespace quorvale
