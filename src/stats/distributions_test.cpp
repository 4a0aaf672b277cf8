// Tests of the chi-square and normal distribution functions and of ln Gamma,
// against closed forms computed independently (erf, erfc, exp, lgamma).

#include "stats/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace quorvale {
namespace {

/// Exact Pr(chi-square_N <= x) from closed forms: the Poisson sum for even N,
/// erf and the downward recurrence P(a+1, y) = P(a, y) - y^a e^-y / Gamma(a+1) for odd N.
double chi_square_exact(double x, int N) {
  const double y = x / 2.0;
  if (N % 2 == 0) {
    double term = 1.0, sum = 0.0;
    for (int k = 0; k < N / 2; ++k) {
      sum += term;
      term *= y / (k + 1);
    }
    return 1.0 - std::exp(-y) * sum;
  }
  double p = std::erf(std::sqrt(y));  // a = 1/2
  for (double a = 0.5; a < N / 2.0; a += 1.0) {
    p -= std::exp(a * std::log(y) - y - std::lgamma(a + 1.0));
  }
  return p;
}

/// Exact standard normal distribution function.
double phi_exact(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

/// cdtr's probability, its flag in ier.
double cdtr_p(double x, int n, int& ier) {
  double p = 0.0;
  cdtr(x, n, p, ier);
  return p;
}

/// ndtr's probability.
double ndtr_p(double x) {
  double p = 0.0;
  ndtr(x, p);
  return p;
}

// The textbook 5% points and the 1-df point at 1.
TEST(ChiSquare, KnownUpperTails) {
  int ier = 99;
  double p = cdtr_p(3.84, 1, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(1.0 - p, 0.0500, 0.00005);
  EXPECT_NEAR(p, 0.949956, 2e-6);  // erf(sqrt(1.92))

  p = cdtr_p(5.99, 2, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(1.0 - p, 0.0500, 0.00005);
  EXPECT_NEAR(p, 1.0 - std::exp(-2.995), 2e-6);

  p = cdtr_p(1.0, 1, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(1.0 - p, 0.3173, 0.00005);
  EXPECT_NEAR(p, 0.682689, 2e-6);
}

TEST(ChiSquare, ZeroDegreesOfFreedomGivesZero) {
  for (double x : {0.0, 0.5, 3.84, 100.0, 1.0e6}) {
    int ier = 99;
    EXPECT_EQ(cdtr_p(x, 0, ier), 0.0) << x;
    EXPECT_EQ(ier, 0);
  }
}

TEST(ChiSquare, ZeroAndNegligibleChiSquareGiveZero) {
  for (int n : {0, 1, 2, 7, 60, 61, 500}) {
    int ier = 99;
    EXPECT_EQ(cdtr_p(0.0, n, ier), 0.0) << n;
    EXPECT_EQ(ier, 0);
    // 1e-15 is lost when added to 100.
    EXPECT_EQ(cdtr_p(1.0e-15, n, ier), 0.0) << n;
    EXPECT_EQ(ier, 0);
  }
}

TEST(ChiSquare, InvalidArguments) {
  for (int n : {0, 1, 5, 61}) {
    int ier = 0;
    EXPECT_EQ(cdtr_p(-1.0, n, ier), -1.0e25);
    EXPECT_EQ(ier, -1);
  }
  int ier = 0;
  EXPECT_EQ(cdtr_p(3.0, -1, ier), -1.0e25);
  EXPECT_EQ(ier, -1);
}

// Above 60 degrees of freedom or above X = 100 the value is the normal
// probability of Fisher's z = sqrt(2X) - sqrt(2N - 1).
TEST(ChiSquare, LargeArgumentsUseFisherApproximation) {
  int ier = 99;
  double p = cdtr_p(61.0, 61, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(p, phi_exact(std::sqrt(122.0) - std::sqrt(121.0)), 2.2e-7);
  EXPECT_NEAR(p, chi_square_exact(61.0, 61), 0.01);  // the approximation itself

  p = cdtr_p(101.0, 3, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(p, phi_exact(std::sqrt(202.0) - std::sqrt(5.0)), 2.2e-7);

  p = cdtr_p(101.0, 80, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(p, phi_exact(std::sqrt(202.0) - std::sqrt(159.0)), 2.2e-7);
  EXPECT_NEAR(p, chi_square_exact(101.0, 80), 0.01);
}

// N = 60 with X = 100 is still in the series range: the series value is far
// closer to the exact probability than Fisher's approximation would be.
TEST(ChiSquare, SixtyDegreesAtHundredUsesSeries) {
  int ier = 99;
  const double p = cdtr_p(100.0, 60, ier);
  EXPECT_EQ(ier, 0);
  const double exact = chi_square_exact(100.0, 60);
  EXPECT_NEAR(p, exact, 1e-6);
  const double fisher = phi_exact(std::sqrt(200.0) - std::sqrt(119.0));
  EXPECT_GT(std::fabs(fisher - exact), 1e-4);
}

// Over the whole series range the result agrees with the closed forms. The
// series stops at a term below 1e-6 (or after 100 terms); the error stays
// below 1e-6 (the largest on this grid is about 6.3e-8).
TEST(ChiSquare, SeriesMatchesClosedForms) {
  double worst = 0.0;
  for (int n = 1; n <= 60; ++n) {
    for (double x = 0.05; x <= 100.0; x += 0.37) {
      int ier = 99;
      const double p = cdtr_p(x, n, ier);
      const double exact = chi_square_exact(x, n);
      if (ier == 0) {
        worst = std::max(worst, std::fabs(p - exact));
        EXPECT_NEAR(p, exact, 1e-6) << "x=" << x << " n=" << n;
      } else {
        // Only a probability within rounding of 1 may come out above 1.
        EXPECT_EQ(ier, 1);
        EXPECT_EQ(p, 1.0e25);
        EXPECT_GT(exact, 1.0 - 1e-9) << "x=" << x << " n=" << n;
      }
    }
  }
  RecordProperty("worst_series_error", testing::PrintToString(worst));
}

// The gamma factor: sqrt(pi)/2 for one degree of freedom, 1 for two. With a
// tiny X the series is 1 + y/(a+1) and P = y^a e^-y L / Gamma(a+1) exactly.
TEST(ChiSquare, GammaFactorForOneAndTwoDegrees) {
  int ier = 99;
  const double x = 1.0e-6;
  const double y = x / 2.0;
  double p = cdtr_p(x, 1, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(p / (std::sqrt(y) * std::exp(-y) * (1.0 + y / 1.5)), 2.0 / std::sqrt(std::numbers::pi), 1e-12);
  p = cdtr_p(x, 2, ier);
  EXPECT_EQ(ier, 0);
  EXPECT_NEAR(p / (y * std::exp(-y) * (1.0 + y / 2.0)), 1.0, 1e-12);
}

// Pr(chi-square_4 <= 80) = 1 - 41 e^-40 is within 1e-16 of 1; the series
// value rounds just above 1 and is reported as out of range.
TEST(ChiSquare, ProbabilityAboveOneIsFlagged) {
  int ier = 0;
  EXPECT_EQ(cdtr_p(80.0, 4, ier), 1.0e25);
  EXPECT_EQ(ier, 1);
}

TEST(ChiSquare, MonotoneInX) {
  for (int n = 1; n <= 70; ++n) {
    double last = 0.0;
    for (double x = 0.1; x < 150.0; x += 0.5) {
      int ier = 0;
      const double p = cdtr_p(x, n, ier);
      if (ier != 0) continue;
      EXPECT_GE(p, last - 1e-6) << "x=" << x << " n=" << n;
      last = p;
    }
  }
}

TEST(ChiSquare, NotANumberDoesNotCrash) {
  int ier = 99;
  const double p = cdtr_p(std::numeric_limits<double>::quiet_NaN(), 3, ier);
  EXPECT_TRUE(std::isnan(p));
  EXPECT_EQ(ier, 0);
}

TEST(Normal, ValueAtZero) {
  // The approximation's error at zero: 0.5 + 1.5e-7.
  EXPECT_NEAR(ndtr_p(0.0), 0.50000015, 1e-9);
}

// Formula 26.2.17 has an error below 7.5e-8; rounding its coefficients to
// seven digits raises that to 1.5e-7 at zero and about 2.1e-7 near |x| = 0.058
// (the largest error on a 1e-5 grid over [-10, 10] is 2.098e-7).
TEST(Normal, AgreesWithErfc) {
  for (double x = -8.0; x <= 8.0; x += 0.01) {
    EXPECT_NEAR(ndtr_p(x), phi_exact(x), 2.2e-7) << x;
  }
}

// The lower tail at -x is built as 1 - (1 - Q(x)), so the symmetry holds to
// the last bit for every x > 0.
TEST(Normal, Symmetry) {
  for (double x = 0.01; x <= 40.0; x += 0.13) {
    EXPECT_EQ(ndtr_p(-x), 1.0 - ndtr_p(x)) << x;
  }
  // At zero both sides are the same value, which is off by 1.5e-7 from 1/2, so
  // ndtr(-0) and 1 - ndtr(0) differ by twice that.
  EXPECT_EQ(ndtr_p(-0.0), ndtr_p(0.0));
  EXPECT_NEAR(ndtr_p(-0.0), 1.0 - ndtr_p(0.0), 3.1e-7);
}

TEST(Normal, FarTailsUseTheTinyConstant) {
  // Beyond |x| = sqrt(1400) the density factor is a fixed tiny number, so the
  // lower tail is positive but below 1e-300 and the upper one is exactly 1.
  const double lo = ndtr_p(-40.0);
  EXPECT_EQ(lo, 0.0);  // 1 - (1 - Q) with Q far below the rounding of 1
  EXPECT_EQ(ndtr_p(40.0), 1.0);
  EXPECT_EQ(ndtr_p(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(ndtr_p(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_NEAR(ndtr_p(-37.0), 0.0, 1e-290);
}

TEST(Normal, Monotone) {
  double last = -1.0;
  for (double x = -10.0; x <= 10.0; x += 0.001) {
    const double p = ndtr_p(x);
    EXPECT_GE(p, last) << x;
    last = p;
  }
}

// ln n! for every count up to a million. The constant ln sqrt(2 pi) is held in
// single precision (0.9189385175704956 against 0.9189385332046727), which
// puts every value about 1.56e-8 low; the single-precision 1/12 adds at most
// 3.6e-10 and rounding of values up to 1.3e7 about 1e-8.
TEST(Lgamma, MatchesStdLgammaForCounts) {
  double worst = 0.0;
  for (int n = 0; n <= 1000000; ++n) {
    const double x = n + 1.0;
    const double want = std::lgamma(x);
    const double got = dlgama(x);
    const double err = std::fabs(got - want);
    worst = std::max(worst, err);
    if (err > 3e-8) {
      ADD_FAILURE() << "n=" << n << " dlgama=" << got << " lgamma=" << want;
      break;
    }
  }
  RecordProperty("worst_lgamma_error", testing::PrintToString(worst));
}

TEST(Lgamma, SmallCountsAreLogFactorials) {
  EXPECT_NEAR(dlgama(1.0), 0.0, 2e-8);
  EXPECT_NEAR(dlgama(2.0), 0.0, 2e-8);
  EXPECT_NEAR(dlgama(3.0), std::log(2.0), 2e-8);
  EXPECT_NEAR(dlgama(11.0), std::log(3628800.0), 2e-8);
  EXPECT_NEAR(dlgama(0.5), std::log(std::sqrt(std::numbers::pi)), 2e-8);
}

TEST(Lgamma, HugeAndInvalidArguments) {
  const double x = 2.0e10;
  EXPECT_DOUBLE_EQ(dlgama(x), x * (std::log(x) - 1.0));
  EXPECT_NEAR(dlgama(x) / std::lgamma(x), 1.0, 1e-10);
  const double cap = 1.0e30 * (69.07755278982137 - 1.0);
  EXPECT_EQ(dlgama(1.0e31), cap);
  EXPECT_EQ(dlgama(std::numeric_limits<double>::quiet_NaN()), cap);
  // Arguments at or below zero are raised to 1e-35: ln Gamma(1e-35) = -ln 1e-35.
  EXPECT_NEAR(dlgama(0.0), -std::log(1.0e-35), 1e-6);
  EXPECT_NEAR(dlgama(-3.0), -std::log(1.0e-35), 1e-6);
}

}  // namespace
}  // namespace quorvale

namespace quorvale {
namespace {

TEST(ModelSelectionStatistics, LogitIntervalAkaikeWeightsAndAiccTerm) {
  // p = 0.8, se = 0.05: logit 1.386294 -/+ 1.96 * 0.05 / 0.16, mapped back
  // (values from a separate Python computation).
  const Interval ci = logit_interval(0.8, 0.05);
  EXPECT_NEAR(ci.lower, 0.6843411181004102, 1e-15);
  EXPECT_NEAR(ci.upper, 0.8806704355024613, 1e-15);
  // An interval near the edge stays inside 0..1, where the Wald one would not.
  const Interval edge = logit_interval(0.02, 0.03);
  EXPECT_GT(edge.lower, 0.0);
  EXPECT_LT(edge.upper, 1.0);

  // Weights of criteria 100, 101, 104: exp(-delta/2) normalised; a value
  // that is not finite gets none and does not move the others.
  const std::vector<double> w = akaike_weights({101.0, 100.0, 104.0, std::numeric_limits<double>::infinity()});
  EXPECT_NEAR(w[1], 0.5740969929676946, 1e-15);
  EXPECT_NEAR(w[0], 0.3482074278837349, 1e-15);
  EXPECT_NEAR(w[2], 0.0776955791485706, 1e-15);
  EXPECT_EQ(w[3], 0.0);

  // 2K(K+1)/(n-K-1): K = 3, n = 20 gives 24/16; n = K + 1 gives infinity.
  EXPECT_DOUBLE_EQ(aicc_correction(3, 20), 1.5);
  EXPECT_TRUE(std::isinf(aicc_correction(3, 4)));
}

TEST(NegativeBinomial, DistributionFunctionAgreesWithItsTerms) {
  // One success: the geometric distribution, Pr(F <= k) = 1 - (1 - p)^(k + 1).
  for (int k = 0; k <= 6; ++k) {
    EXPECT_NEAR(negative_binomial_cdf(k, 1.0, 0.3), 1.0 - std::pow(0.7, k + 1), 1e-14) << k;
  }
  // Two successes at p = 1/2: Pr(F <= 1) = 1/4 + 2/8.
  EXPECT_NEAR(negative_binomial_cdf(1.0, 2.0, 0.5), 0.5, 1e-14);
  EXPECT_NEAR(negative_binomial_cdf(1.9, 2.0, 0.5), 0.5, 1e-14);  // k rounded down
  // Many successes, both sides of the mean 171: the running sum of the
  // terms p^n, then term(k + 1) = term(k) (n + k) / (k + 1) (1 - p).
  const double n = 400.0;
  const double p = 0.7;
  double term = std::pow(p, n);
  double sum = 0.0;
  for (int k = 0; k <= 320; ++k) {
    sum += term;
    if (k % 20 == 0) {
      EXPECT_NEAR(negative_binomial_cdf(k, n, p), sum, 1e-12) << k;
    }
    term *= (n + k) / (k + 1.0) * (1.0 - p);
  }
  // Nothing below 0; no failures without successes to wait for, or when every trial succeeds.
  EXPECT_EQ(negative_binomial_cdf(-1.0, n, p), 0.0);
  EXPECT_EQ(negative_binomial_cdf(0.0, 0.0, p), 1.0);
  EXPECT_EQ(negative_binomial_cdf(0.0, n, 1.0), 1.0);
  EXPECT_TRUE(std::isnan(negative_binomial_cdf(3.0, n, 0.0)));
}

}  // namespace
}  // namespace quorvale
