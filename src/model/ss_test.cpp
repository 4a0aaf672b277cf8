// Tests of the parameter values S(I): map, transforms, bounds, the fatal error.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

// The store comes after the test framework: it drops the NSIG macro of
// <signal.h>, which the framework pulls in, to free its field of that name.

#include "estimate/consrt.h"
#include "model/ss.h"
#include "testing/likelihood_reference.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

/// A store with npar parameters at their defaults before any constraint.
void set_defaults(ModelStore& m, int npar) {
  m.NPAR = npar;
  default_map(m);
  m.ISINE = 1;
  m.NOTRAN = 0;
}

/// S(I) of the store through the pure variant.
double value(const ModelStore& m, int I) { return ss_value(m, m.PAR.base(), I, transform_scale(m)); }

TEST(SsSine, DefaultBoundsMapZeroAndQuarterTurns) {
  ModelStore m;
  set_defaults(m, 3);
  m.PAR(1) = 0.0;
  m.PAR(2) = std::numbers::pi / 2;
  m.PAR(3) = -std::numbers::pi / 2;
  EXPECT_EQ(value(m, 1), 0.5);
  EXPECT_EQ(value(m, 2), 1.0);
  EXPECT_EQ(value(m, 3), 0.0);
}

TEST(SsSine, EveryRealStaysInUnitInterval) {
  ModelStore m;
  set_defaults(m, 1);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> wide(-1e6, 1e6);
  for (int n = 0; n < 20000; ++n) {
    m.PAR(1) = n % 2 == 0 ? wide(rng) : wide(rng) * 1e-6;
    const double s = value(m, 1);
    ASSERT_GE(s, 0.0);
    ASSERT_LE(s, 1.0);
  }
}

TEST(SsSine, ConstantBoundsScaleTheUnitValue) {
  ModelStore m;
  set_defaults(m, 1);
  m.PARL(1) = 0.2;
  m.PARU(1) = 0.6;
  m.PAR(1) = 0.0;
  EXPECT_EQ(value(m, 1), 0.2 + (0.6 - 0.2) * 0.5);
  m.PAR(1) = std::numbers::pi / 2;
  EXPECT_EQ(value(m, 1), 0.2 + (0.6 - 0.2) * 1.0);
}

TEST(SsMap, EqualParametersShareTheirValue) {
  ModelStore m;
  set_defaults(m, 3);
  m.PAR(1) = 0.37;
  m.POINT(3) = 1;  // S(3) set equal to S(1)
  m.PARL(1) = 0.1;
  m.PARU(1) = 0.8;
  for (int mode = 0; mode < 3; ++mode) {
    m.ISINE = mode == 0 ? 1 : 0;
    m.NOTRAN = mode == 2 ? 1 : 0;
    EXPECT_EQ(value(m, 3), value(m, 1)) << "mode " << mode;
  }
}

TEST(SsMap, FixedParameterIsItsConstantInEveryMode) {
  ModelStore m;
  set_defaults(m, 4);
  m.NEST = 1;
  m.PAR(2) = 1.75;   // outside [0, 1]
  m.PAR(3) = -2.5;   // negative
  m.PAR(4) = 0.125;
  m.POINT(2) = -2;
  m.POINT(3) = -3;
  m.POINT(4) = -4;
  m.PARL(2) = 0.4;   // bounds of a fixed slot play no part
  m.PARU(2) = 0.5;
  m.POINTL(2) = 1;
  for (int mode = 0; mode < 3; ++mode) {
    m.ISINE = mode == 0 ? 1 : 0;
    m.NOTRAN = mode == 2 ? 1 : 0;
    EXPECT_EQ(value(m, 2), 1.75);
    EXPECT_EQ(value(m, 3), -2.5);
    EXPECT_EQ(value(m, 4), 0.125);
  }
}

TEST(SsMap, TheScaleAskedForDecidesHowParIsRead) {
  // TRANSFORM=NO chooses the scale of a fit; a value is read on the scale
  // the caller names, whatever the option. A fixed constant is itself on both.
  ModelStore m;
  set_defaults(m, 2);
  m.PAR(1) = -3.25;
  m.PAR(2) = 0.75;
  m.POINT(2) = -2;
  for (int notran : {0, 1}) {
    m.NOTRAN = notran;
    EXPECT_EQ(ss_value(m, m.PAR.base(), 1, ParameterScale::Natural), -3.25);
    EXPECT_EQ(ss_value(m, m.PAR.base(), 1, ParameterScale::Working), 0.5 * std::sin(-3.25) + 0.5);
    EXPECT_EQ(ss_value(m, m.PAR.base(), 2, ParameterScale::Working), 0.75);
    EXPECT_EQ(ss_value(m, m.PAR.base(), 2, ParameterScale::Natural), 0.75);
    EXPECT_EQ(transform_scale(m), notran == 1 ? ParameterScale::Natural : ParameterScale::Working);
  }
}

TEST(SsAbs, FractionalPartOfAbsoluteValue) {
  ModelStore m;
  set_defaults(m, 2);
  m.ISINE = 0;
  m.PARL(1) = m.PARL(2) = 0.2;
  m.PARU(1) = m.PARU(2) = 0.6;
  m.PAR(1) = 2.25;
  m.PAR(2) = -0.25;
  const double want = 0.2 + 0.25 * (0.6 - 0.2);
  EXPECT_EQ(value(m, 1), want);
  EXPECT_EQ(value(m, 2), want);
}

TEST(SsAbs, HugeWorkingValuesKeepTheirExactFraction) {
  // At 2^31 and beyond the integer part no longer fits an int; the map keeps
  // the exact fractional part, which is 0 once every double is an integer.
  EXPECT_EQ(unit_map(2147483648.5, false), 0.5);
  EXPECT_EQ(unit_map(-2147483648.75, false), 0.75);
  EXPECT_EQ(unit_map(1099511627776.25, false), 0.25);  // 2^40 + 1/4
  EXPECT_EQ(unit_map(-8589934591.5, false), 0.5);      // -(2^33 - 1/2)
  EXPECT_EQ(unit_map(4503599627370497.0, false), 0.0);  // 2^52 + 1
  EXPECT_EQ(unit_map(1e300, false), 0.0);
  EXPECT_EQ(unit_map(-0.0, false), 0.0);
  EXPECT_TRUE(std::isnan(unit_map(std::numeric_limits<double>::infinity(), false)));
  EXPECT_TRUE(std::isnan(unit_map(std::numeric_limits<double>::infinity(), true)));
}

TEST(SsBounds, BoundFromAnotherParameterIsItsUnitValue) {
  ModelStore m;
  set_defaults(m, 3);
  m.PAR(1) = 0.3;
  m.PAR(2) = -0.4;
  m.PAR(3) = 1.1;
  m.PARL(1) = 0.5;  // the bounding slot's own bounds are not applied
  m.PARU(1) = 0.9;
  m.POINTL(3) = 2;
  m.POINTU(3) = 1;
  const double lo = 0.5 * std::sin(-0.4) + 0.5;
  const double hi = 0.5 * std::sin(0.3) + 0.5;
  EXPECT_EQ(value(m, 3), lo + (hi - lo) * (0.5 * std::sin(1.1) + 0.5));
  // With default bounds the bound equals that parameter's S value.
  EXPECT_EQ(lo, value(m, 2));
}

TEST(SsMap, AgreesWithTheLiteralRuleOnRandomMaps) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u01(0.0, 1.0), wide(-5.0, 5.0);
  for (int round = 0; round < 200; ++round) {
    ModelStore m;
    const int npar = 1 + static_cast<int>(rng() % 40);
    set_defaults(m, npar);
    m.ISINE = static_cast<int>(rng() % 2);
    m.NOTRAN = rng() % 5 == 0 ? 1 : 0;
    for (int k = 1; k <= npar; ++k) {
      m.PAR(k) = wide(rng);
      m.PARL(k) = 0.5 * u01(rng);
      m.PARU(k) = 0.5 + 0.5 * u01(rng);
    }
    for (int i = 1; i <= npar; ++i) {
      const auto pick = [&] { return 1 + static_cast<int>(rng() % static_cast<unsigned>(npar)); };
      switch (rng() % 5) {
        case 0: m.POINT(i) = -pick(); break;
        case 1: m.POINT(i) = pick(); break;
        case 2: m.POINTL(i) = pick(); break;
        case 3: m.POINTU(i) = pick(); break;
        default: break;
      }
    }
    for (int i = 1; i <= npar; ++i) {
      const double a = value(m, i), b = reference::ss(m, i);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b)) << i;
    }
  }
}

TEST(SsFatal, ParameterBeyondNparWritesTheLineAndEndsTheRun) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_defaults(m, 10);
  EXPECT_EQ(ss(m, r.run.listing, 10, ParameterScale::Working), 0.5 * std::sin(0.5) + 0.5);
  const std::string err = testing::expect_fatal(r, [&] { ss(m, r.run.listing, 11, ParameterScale::Working); });
  EXPECT_NE(err.find("S(I) IN CELL PROBABILITY WITH I > NPAR"), std::string::npos) << err;
  const std::string listing = r.listing();
  EXPECT_NE(listing.find("\n           I=        11NPAR=        10\n"), std::string::npos)
      << listing;
  EXPECT_NE(listing.find(" S(I) IN CELL PROBABILITY WITH I > NPAR\n"), std::string::npos);
}

}  // namespace
}  // namespace quorvale
