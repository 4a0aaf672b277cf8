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

}  // namespace
}  // namespace quorvale
