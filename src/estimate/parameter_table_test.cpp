#include "estimate/parameter_table.h"

#include <gtest/gtest.h>

#include "model/store.h"

namespace quorvale {
namespace {

TEST(ParameterTable, BoundTextPadsTheSlotToItsDigitsAndRightAlignsIn8Columns) {
  EXPECT_EQ(bound_text(7, 0.0, 3), "  S(007)");
  EXPECT_EQ(bound_text(7, 0.0, 2), "   S(07)");
  EXPECT_EQ(bound_text(123, 0.0, 2), "  S(123)");
  EXPECT_EQ(bound_text(0, 0.25, 3), "   0.250");
  EXPECT_EQ(bound_text(-4, 1.0, 2), "   1.000");
}

TEST(ParameterTable, BoundsComeFromTheBoundingSlotElseTheOwnSlotsConstants) {
  ModelStore m;
  m.NPAR = 3;
  m.size_parameters();
  m.PAR(1) = 0.2;
  m.PAR(2) = 0.7;
  m.PARL(2) = 0.1;
  m.PARU(2) = 0.9;
  m.POINT(1) = 1;
  m.POINT(2) = -2;  // fixed at PAR(2): its constants are those of slot 2
  m.POINT(3) = 2;
  m.POINTL(3) = 1;  // bounded below by slot 1's value
  const ParameterBounds fixed = parameter_bounds(m, 2);
  EXPECT_EQ(fixed.lower, 0.1);
  EXPECT_EQ(fixed.upper, 0.9);
  const ParameterBounds by_slot = parameter_bounds(m, 3);
  EXPECT_EQ(by_slot.lower, 0.2);
  EXPECT_EQ(by_slot.upper, 0.9);
}

}  // namespace
}  // namespace quorvale
