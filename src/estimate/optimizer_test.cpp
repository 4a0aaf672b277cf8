// Tests of the minimiser: minima that functions were built around, the
// evaluation limit, the significant-digits rule and objectives that are
// not a number on the way.

#include "estimate/optimizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quorvale {
namespace {

/// A vector or a packed matrix.
using Vec = std::vector<double>;

// ---------------------------------------------------------------- optmiz

/// Everything one optmiz run gives back, plus the evaluations it made.
struct Outcome {
  OptimizerCode ier = OptimizerCode::Converged;
  Vec x, h, g, w;
  double f = 0.0;
  long calls = 0;
  std::vector<Vec> points;  // every point evaluated, in order (when recorded)
};

/// Runs optmiz on `fn` from x0, counting (and optionally recording) evaluations.
template <class Fn>
Outcome run_optmiz(Fn fn, Vec x0, int nsig, int maxfn, bool record = false) {
  const int n = static_cast<int>(x0.size());
  Outcome r;
  r.x = std::move(x0);
  r.h.assign(static_cast<std::size_t>(n * (n + 1) / 2), -7.0);
  r.g.assign(static_cast<std::size_t>(n), -7.0);
  r.w.assign(static_cast<std::size_t>(3 * std::max(n, 1)), -7.0);
  auto counted = [&](int nn, const double* p) {
    EXPECT_EQ(nn, n);
    ++r.calls;
    if (record) r.points.emplace_back(p, p + nn);
    return fn(p);
  };
  r.ier = optmiz(counted, n, nsig, maxfn, r.x, r.h, r.g, r.f, r.w);
  return r;
}

/// Rosenbrock's function in n variables: sum of 100 (x_{i+1} - x_i^2)^2 + (1 - x_i)^2.
double rosenbrock(const double* x, int n) {
  double f = 0.0;
  for (int i = 0; i + 1 < n; ++i) {
    const double a = x[i + 1] - x[i] * x[i];
    const double b = 1.0 - x[i];
    f += 100.0 * a * a + b * b;
  }
  return f;
}

// Difference step: max(|x|, 0.1) times the square root of the working
// precision 1.45519152284e-11, about 3.8147e-6.
constexpr double kStep = 3.8146972656293e-06;

TEST(Optimizer, QuadraticWithMinimumAtStart) {
  const Vec c = {1.5, -0.25};
  auto f = [&](const double* x) {
    return 3.0 * (x[0] - c[0]) * (x[0] - c[0]) + 0.5 * (x[1] - c[1]) * (x[1] - c[1]) + 2.0;
  };
  Outcome r = run_optmiz(f, c, 5, 1000, true);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  EXPECT_NEAR(r.x[0], c[0], 1e-9);
  EXPECT_NEAR(r.x[1], c[1], 1e-9);
  EXPECT_DOUBLE_EQ(r.f, 2.0);
  EXPECT_LE(r.calls, 20);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));

  // First the value at the start, then one forward probe per coordinate.
  ASSERT_GE(r.points.size(), 3u);
  EXPECT_EQ(r.points[0], c);
  for (int i = 0; i < 2; ++i) {
    const Vec& p = r.points[static_cast<std::size_t>(1 + i)];
    const double h = std::max(std::fabs(c[static_cast<std::size_t>(i)]), 0.1) * kStep;
    EXPECT_NEAR(p[static_cast<std::size_t>(i)] - c[static_cast<std::size_t>(i)], h, 1e-3 * h);
    EXPECT_EQ(p[static_cast<std::size_t>(1 - i)], c[static_cast<std::size_t>(1 - i)]);
  }
  // The run ends in central mode: the last four evaluations are the pairs
  // x + h e_i, x - h e_i around the final point.
  ASSERT_GE(r.points.size(), 7u);
  const std::size_t m = r.points.size();
  for (int i = 0; i < 2; ++i) {
    const Vec& plus = r.points[m - 4 + 2 * static_cast<std::size_t>(i)];
    const Vec& minus = r.points[m - 3 + 2 * static_cast<std::size_t>(i)];
    const auto ui = static_cast<std::size_t>(i);
    const double h = std::max(std::fabs(r.x[ui]), 0.1) * kStep;
    EXPECT_NEAR(plus[ui] - r.x[ui], h, 1e-3 * h);
    EXPECT_NEAR(r.x[ui] - minus[ui], h, 1e-3 * h);
  }
}

TEST(Optimizer, RosenbrockTwoVariables) {
  auto f = [](const double* x) { return rosenbrock(x, 2); };
  Outcome r = run_optmiz(f, {-1.2, 1.0}, 5, 1000);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  EXPECT_NEAR(r.x[0], 1.0, 1e-4);
  EXPECT_NEAR(r.x[1], 1.0, 2e-4);
  EXPECT_LT(r.f, 1e-8);
  EXPECT_GE(r.w[2], 5.0);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
}

TEST(Optimizer, RosenbrockTenVariables) {
  auto f = [](const double* x) { return rosenbrock(x, 10); };
  Vec x0(10);
  for (std::size_t i = 0; i < 10; ++i) x0[i] = i % 2 == 0 ? -1.2 : 1.0;
  Outcome r = run_optmiz(f, x0, 5, 5000);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  for (double xi : r.x) EXPECT_NEAR(xi, 1.0, 1e-3);
  EXPECT_LT(r.f, 1e-7);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
}

// With one variable H is the single diagonal entry; at the minimum of
// cosh(x - 1) the curvature is 1.
TEST(Optimizer, OneVariable) {
  auto f = [](const double* x) { return std::cosh(x[0] - 1.0); };
  Outcome r = run_optmiz(f, {-2.0}, 6, 1000);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  EXPECT_NEAR(r.x[0], 1.0, 1e-5);
  EXPECT_NEAR(r.h[0], 1.0, 0.05);
  EXPECT_NEAR(r.g[0], std::sinh(r.x[0] - 1.0), 1e-6);
}

TEST(Optimizer, EvaluationLimitOfOne) {
  auto f = [](const double* x) { return (x[0] - 2.0) * (x[0] - 2.0) + 4.0 * x[1] * x[1] + x[2]; };
  const Vec x0 = {0.0, 1.0, 5.0};
  Outcome r = run_optmiz(f, x0, 5, 1);
  EXPECT_EQ(r.ier, OptimizerCode::EvaluationLimit);
  EXPECT_EQ(code_number(r.ier), 131);
  EXPECT_EQ(r.calls, 1 + 3);  // the start value and one forward gradient
  EXPECT_EQ(r.w[1], 4.0);
  EXPECT_EQ(r.w[2], 0.0);  // no search direction yet: no digits established
  EXPECT_EQ(r.x, x0);
  EXPECT_EQ(r.f, f(x0.data()));
  // Forward-difference gradient of the true gradient (-4, 8, 1).
  EXPECT_NEAR(r.g[0], -4.0, 1e-5);
  EXPECT_NEAR(r.g[1], 8.0, 1e-4);
  EXPECT_NEAR(r.g[2], 1.0, 1e-5);
  EXPECT_NEAR(r.w[0], std::sqrt(16.0 + 64.0 + 1.0), 1e-4);
  // H is the start matrix, the identity.
  EXPECT_EQ(r.h, (Vec{1.0, 0.0, 1.0, 0.0, 0.0, 1.0}));
}

TEST(Optimizer, EvaluationLimitStopsLongRun) {
  auto f = [](const double* x) { return rosenbrock(x, 2); };
  for (int maxfn : {2, 10, 25, 60}) {
    Outcome r = run_optmiz(f, {-1.2, 1.0}, 8, maxfn);
    EXPECT_EQ(r.ier, OptimizerCode::EvaluationLimit) << maxfn;
    EXPECT_GE(r.calls, maxfn);
    EXPECT_LE(r.calls, maxfn + 4);  // a gradient may run past the limit by 2N
    EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
    EXPECT_EQ(r.f, f(r.x.data()));  // F belongs to the point returned
    EXPECT_LE(r.f, f(Vec{-1.2, 1.0}.data()));
  }
}

// Convergence asks every predicted relative change to be at most 10^-NSIG,
// relative to max(|x|, 0.1). On a quadratic the prediction is the Newton step,
// so the true error follows the same rule; the coordinate whose minimum is 0
// is held to an absolute 10^-NSIG * 0.1.
TEST(Optimizer, SignificantDigitsRule) {
  const Vec c = {250.0, -3.0, 0.0, 0.02};
  auto f = [&](const double* x) {
    const double d0 = (x[0] - c[0]) / 100.0, d1 = x[1] - c[1], d2 = x[2] - c[2], d3 = x[3] - c[3];
    return d0 * d0 + 2.0 * d1 * d1 + 5.0 * d2 * d2 + d1 * d2 + 10.0 * d3 * d3 + 1.0;
  };
  for (int nsig = 2; nsig <= 7; ++nsig) {
    Outcome r = run_optmiz(f, {1.0, 1.0, 1.0, 1.0}, nsig, 5000);
    ASSERT_EQ(r.ier, OptimizerCode::Converged) << nsig;
    EXPECT_GE(r.w[2], nsig) << nsig;
    const double eps = std::pow(10.0, -nsig);
    for (std::size_t i = 0; i < 4; ++i) {
      const double scale = std::max(std::fabs(c[i]), 0.1);
      EXPECT_LE(std::fabs(r.x[i] - c[i]) / scale, 10.0 * eps) << "nsig=" << nsig << " i=" << i;
    }
  }
}

// A bowl with a ripple of amplitude 1e-8: below about four digits the line
// search can no longer find a decrease. Asking for few digits ends normally;
// asking for many ends with "rounding errors dominant" at a point that is
// still as good as the ripple allows.
TEST(Optimizer, SignificantDigitsAgainstNoise) {
  auto f = [](const double* x) {
    const double d0 = x[0] - 2.0, d1 = x[1] + 1.0;
    return d0 * d0 + 3.0 * d1 * d1 + 1e-8 * std::sin(1e7 * (x[0] + 2.0 * x[1]));
  };
  Outcome few = run_optmiz(f, {0.0, 0.0}, 2, 2000);
  EXPECT_EQ(few.ier, OptimizerCode::Converged);
  EXPECT_GE(few.w[2], 2.0);
  Outcome many = run_optmiz(f, {0.0, 0.0}, 8, 2000);
  EXPECT_EQ(many.ier, OptimizerCode::RoundingDominant);
  EXPECT_EQ(code_number(many.ier), 130);
  EXPECT_LT(many.w[2], 8.0);
  for (const Outcome* r : {&few, &many}) {
    EXPECT_NEAR(r->x[0], 2.0, 1e-3);
    EXPECT_NEAR(r->x[1], -1.0, 1e-3);
    EXPECT_EQ(r->f, f(r->x.data()));
  }
}

TEST(Optimizer, MoreDigitsCostMoreEvaluations) {
  auto f = [](const double* x) { return rosenbrock(x, 2); };
  Outcome loose = run_optmiz(f, {-1.2, 1.0}, 2, 2000);
  Outcome tight = run_optmiz(f, {-1.2, 1.0}, 7, 2000);
  EXPECT_EQ(loose.ier, OptimizerCode::Converged);
  EXPECT_EQ(tight.ier, OptimizerCode::Converged);
  EXPECT_LE(loose.calls, tight.calls);
  EXPECT_LE(std::fabs(tight.x[0] - 1.0), std::fabs(loose.x[0] - 1.0) + 1e-12);
}

TEST(Optimizer, WorkOutputsAtTheEnd) {
  // f = (x0 - 1)^4 + (x0 - x1)^2 + e^{x1}; gradient known analytically.
  auto f = [](const double* x) {
    const double a = x[0] - 1.0;
    return a * a * a * a + (x[0] - x[1]) * (x[0] - x[1]) + std::exp(x[1]);
  };
  Outcome r = run_optmiz(f, {3.0, 3.0}, 6, 2000);
  ASSERT_EQ(r.ier, OptimizerCode::Converged);
  const double a = r.x[0] - 1.0;
  const double g0 = 4.0 * a * a * a + 2.0 * (r.x[0] - r.x[1]);
  const double g1 = -2.0 * (r.x[0] - r.x[1]) + std::exp(r.x[1]);
  EXPECT_NEAR(r.g[0], g0, 1e-6);
  EXPECT_NEAR(r.g[1], g1, 1e-6);
  EXPECT_NEAR(r.w[0], std::hypot(r.g[0], r.g[1]), 1e-15);
  EXPECT_LT(r.w[0], 1e-4);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
  EXPECT_GE(r.w[2], 6.0);
  EXPECT_EQ(r.f, f(r.x.data()));
  // H approximates the Hessian [[12a^2 + 2, -2], [-2, 2 + e^{x1}]] and is
  // positive definite.
  Vec h = r.h;
  EXPECT_EQ(matinv(h, 2), InversionCode::Inverted);
  EXPECT_NEAR(r.h[1], -2.0, 0.5);
  EXPECT_NEAR(r.h[2], 2.0 + std::exp(r.x[1]), 0.5);
}

// A function that is not a number on part of the domain: the line search
// takes such a value as a decrease and walks into the region; the run must
// still end (here by the evaluation limit) without crashing.
TEST(Optimizer, NotANumberOnThePath) {
  auto f = [](const double* x) {
    return x[0] >= 1.5 ? std::numeric_limits<double>::quiet_NaN() : (x[0] - 1.0) * (x[0] - 1.0);
  };
  Outcome r = run_optmiz(f, {0.0}, 5, 200);
  EXPECT_EQ(r.ier, OptimizerCode::EvaluationLimit);
  EXPECT_LE(r.calls, 200 + 2);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
}

// Not-a-number values only beside the minimum, where the difference probes
// land: the run ends, with finite counts.
TEST(Optimizer, NotANumberBesideTheMinimum) {
  auto f = [](const double* x) {
    if (x[0] > 2.0 + 1e-7 && x[1] > 0.0) return std::numeric_limits<double>::quiet_NaN();
    return (x[0] - 2.0) * (x[0] - 2.0) + (x[1] + 1.0) * (x[1] + 1.0);
  };
  Outcome r = run_optmiz(f, {0.0, 0.0}, 5, 500);
  EXPECT_LE(r.calls, 500 + 4);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
}

TEST(Optimizer, NotANumberEverywhereExceptTheStart) {
  const Vec x0 = {0.5, 0.5};
  auto f = [&](const double* x) {
    return x[0] == x0[0] && x[1] == x0[1] ? 1.0 : std::numeric_limits<double>::quiet_NaN();
  };
  Outcome r = run_optmiz(f, x0, 5, 100);
  EXPECT_LE(r.calls, 100 + 4);
  EXPECT_EQ(r.w[1], static_cast<double>(r.calls));
}

TEST(Optimizer, NoVariables) {
  Vec x, h, g, w(3, -7.0);
  double f = 0.0;
  long calls = 0;
  auto fn = [&](int n, const double*) {
    EXPECT_EQ(n, 0);
    ++calls;
    return 4.5;
  };
  EXPECT_EQ(optmiz(fn, 0, 5, 1000, x, h, g, f, w), OptimizerCode::Converged);
  EXPECT_EQ(f, 4.5);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_EQ(w[1], 1.0);
}

TEST(Optimizer, PlainFunctionObjective) {
  struct Local {
    static double bowl(int n, const double* x) {
      double s = 0.0;
      for (int i = 0; i < n; ++i) s += (x[i] - i) * (x[i] - i);
      return s;
    }
  };
  Vec x = {5.0, 5.0, 5.0}, h(6), g(3), w(9);
  double f = 0.0;
  EXPECT_EQ(optmiz(&Local::bowl, 3, 5, 1000, x, h, g, f, w), OptimizerCode::Converged);
  EXPECT_EQ(optmiz(Local::bowl, 3, 5, 1000, x, h, g, f, w), OptimizerCode::Converged);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(x[static_cast<std::size_t>(i)], i, 1e-5);
  x = {5.0, 5.0, 5.0};
  EXPECT_EQ(optmiz([](int, const double* p) { return (p[0] - 1.0) * (p[0] - 1.0) + p[1] * p[1] + p[2] * p[2]; },
                   3, 5, 1000, x, h, g, f, w),
            OptimizerCode::Converged);
  EXPECT_NEAR(x[0], 1.0, 1e-5);
}

}  // namespace
}  // namespace quorvale
