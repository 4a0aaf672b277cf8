// Tests of the minimiser given the exact gradient: the minima of functions
// built around a known minimiser, the evaluations it saves against
// differences, how gradients count towards MAXFN and W(2), and what it
// reports when the gradient it is given is wrong.

#include "estimate/optimizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "testing/rosenbrock.h"

namespace quorvale {
namespace {

using Vec = std::vector<double>;

/// Everything one run gives back, with the objective's and the gradient's
/// calls counted apart and the points the gradient was asked at.
struct Outcome {
  OptimizerCode ier = OptimizerCode::Converged;
  Vec x, h, g, w;
  double f = 0.0;
  long values = 0;     // calls of the objective alone
  long gradients = 0;  // calls of the objective with its gradient
  std::vector<Vec> gradient_points;
};

/// Fresh storage for n variables, filled with a value optmiz must overwrite.
Outcome storage(Vec x0) {
  const std::size_t n = x0.size();
  Outcome r;
  r.x = std::move(x0);
  r.h.assign(n * (n + 1) / 2, -7.0);
  r.g.assign(n, -7.0);
  r.w.assign(3 * std::max<std::size_t>(n, 1), -7.0);
  return r;
}

/// optmiz with the exact gradient: `fn(x)` the value, `grad(x, g)` the
/// gradient into g (the test's own, possibly wrong on purpose).
template <class Fn, class Grad>
Outcome run_exact(Fn fn, Grad grad, Vec x0, int nsig, int maxfn, const Vec& start = {}) {
  Outcome r = storage(std::move(x0));
  const int n = static_cast<int>(r.x.size());
  auto value = [&](int nn, const double* p) {
    EXPECT_EQ(nn, n);
    ++r.values;
    return fn(p);
  };
  auto with_gradient = [&](int nn, const double* p, double* g) {
    EXPECT_EQ(nn, n);
    ++r.gradients;
    r.gradient_points.emplace_back(p, p + nn);
    grad(p, g);
    return fn(p);
  };
  r.ier = optmiz(value, with_gradient, n, nsig, maxfn, r.x, r.h, r.g, r.f, r.w, start);
  return r;
}

/// optmiz by differences on the same objective.
template <class Fn>
Outcome run_differences(Fn fn, Vec x0, int nsig, int maxfn) {
  Outcome r = storage(std::move(x0));
  const int n = static_cast<int>(r.x.size());
  auto value = [&](int, const double* p) {
    ++r.values;
    return fn(p);
  };
  r.ier = optmiz(value, n, nsig, maxfn, r.x, r.h, r.g, r.f, r.w);
  return r;
}

/// A convex quadratic 0.5 (x - c)' A (x - c) + 7 in five variables, A = B'B + I
/// with B filled from a sine: positive definite, coupled, its minimiser c and
/// minimum 7 by construction.
struct Quadratic {
  static constexpr int n = 5;
  Vec c = {1.5, -2.0, 0.25, 3.0, -0.5};
  double A[n][n] = {};
  Quadratic() {
    double B[n][n];
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) B[i][j] = std::sin(1.0 + i * n + j);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        A[i][j] = i == j ? 1.0 : 0.0;
        for (int k = 0; k < n; ++k) A[i][j] += B[k][i] * B[k][j];
      }
    }
  }
  double value(const double* x) const {
    double s = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) s += 0.5 * (x[i] - c[i]) * A[i][j] * (x[j] - c[j]);
    return s + 7.0;
  }
  void gradient(const double* x, double* g) const {
    for (int i = 0; i < n; ++i) {
      g[i] = 0.0;
      for (int j = 0; j < n; ++j) g[i] += A[i][j] * (x[j] - c[j]);
    }
  }
};

/// The customary start (-1.2, 1, -1.2, 1, ...).
Vec rosenbrock_start(int n) {
  Vec x(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = i % 2 == 0 ? -1.2 : 1.0;
  return x;
}

/// What a run reports of itself: W(2) is the objective's calls plus one per
/// gradient, W(1) the norm of G, G the gradient at the X returned (the last
/// one asked for, at that very point), F the value there.
template <class Fn, class Grad>
void expect_consistent(const Outcome& r, Fn fn, Grad grad) {
  EXPECT_EQ(r.w[1], static_cast<double>(r.values + r.gradients));
  ASSERT_FALSE(r.gradient_points.empty());
  EXPECT_EQ(r.gradient_points.back(), r.x);
  Vec g(r.x.size());
  grad(r.x.data(), g.data());
  EXPECT_EQ(r.g, g);
  double sum = 0.0;
  for (double v : r.g) sum += v * v;
  EXPECT_DOUBLE_EQ(r.w[0], std::sqrt(sum));
  EXPECT_EQ(r.f, fn(r.x.data()));
}

/// The quadratic's matrix A, packed as the optimizer reads a start matrix.
Vec packed_matrix(const Quadratic& q) {
  Vec a;
  for (int i = 0; i < Quadratic::n; ++i)
    for (int j = 0; j <= i; ++j) a.push_back(q.A[i][j]);
  return a;
}

TEST(ExactOptimizer, StartingFromTheHessianTheFirstStepIsNewtons) {
  // On a quadratic whose Hessian the run starts from, the first search
  // direction is the Newton step to the minimiser and its first trial (a step
  // of 1) lands there: one value, one gradient, the trial, and a gradient of
  // 0 there; the extrapolation's trial beyond it is higher.
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  const Vec x0(Quadratic::n, 0.0);
  Outcome r = run_exact(f, grad, x0, 6, 2000, packed_matrix(q));
  ASSERT_EQ(r.ier, OptimizerCode::Converged);
  ASSERT_GE(r.gradient_points.size(), 2u);
  for (std::size_t i = 0; i < q.c.size(); ++i) EXPECT_NEAR(r.gradient_points[1][i], q.c[i], 1e-12) << i;
  for (std::size_t i = 0; i < q.c.size(); ++i) EXPECT_NEAR(r.x[i], q.c[i], 1e-12) << i;
  expect_consistent(r, f, grad);
  const Outcome identity = run_exact(f, grad, x0, 6, 2000);
  EXPECT_LT(r.values + r.gradients, identity.values + identity.gradients);
}

TEST(ExactOptimizer, AStartMatrixThatIsNotPositiveDefiniteIsPassedOver) {
  // Indefinite (a negative diagonal element), singular (two equal rows) and
  // not a number: each run is the identity-start run, value for value.
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  const Vec x0(Quadratic::n, 0.0);
  const Outcome identity = run_exact(f, grad, x0, 6, 2000);
  Vec indefinite = packed_matrix(q);
  indefinite[packed_index(3, 3)] = -1.0;
  Vec singular(Quadratic::n * (Quadratic::n + 1) / 2, 1.0);
  Vec not_a_number = packed_matrix(q);
  not_a_number[packed_index(2, 1)] = std::nan("");
  for (const Vec& start : {indefinite, singular, not_a_number}) {
    const Outcome r = run_exact(f, grad, x0, 6, 2000, start);
    EXPECT_EQ(r.x, identity.x);
    EXPECT_EQ(r.gradient_points, identity.gradient_points);
    EXPECT_EQ(r.values, identity.values);
  }
}

TEST(ExactOptimizer, ASearchThatFailsWithinTheRoundingOfFEndsTheRunConverged) {
  // The quadratic lifted by 1e9: its values round at about 1e-7, so near the
  // minimiser no step asked for at NSIG = 10 can show a decrease. The exact
  // gradient says the step was to lower F by less than that: the run ends
  // converged, close to the minimiser, its digits those reached (without
  // that rule the search's failure would be reported as code 130).
  const Quadratic q;
  const double lift = 1e9;
  auto f = [&](const double* x) { return q.value(x) + lift; };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  const Vec x0(Quadratic::n, 0.0);
  const Outcome r = run_exact(f, grad, x0, 10, 2000);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  for (std::size_t i = 0; i < q.c.size(); ++i) EXPECT_NEAR(r.x[i], q.c[i], 1e-3) << i;
  EXPECT_LT(r.w[2], 10.0);
  EXPECT_LT(r.values + r.gradients, 500);
  // Without the lift the same run reaches the 10 digits asked for.
  auto plain = [&](const double* x) { return q.value(x); };
  const Outcome p = run_exact(plain, grad, x0, 10, 2000);
  EXPECT_EQ(p.ier, OptimizerCode::Converged);
  EXPECT_GE(p.w[2], 10.0);
}

TEST(ExactOptimizer, QuadraticReachesItsMinimiserWithFarFewerEvaluations) {
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  const Vec x0(Quadratic::n, 0.0);
  Outcome r = run_exact(f, grad, x0, 6, 2000);
  ASSERT_EQ(r.ier, OptimizerCode::Converged);
  for (std::size_t i = 0; i < q.c.size(); ++i) EXPECT_NEAR(r.x[i], q.c[i], 1e-6) << i;
  EXPECT_NEAR(r.f, 7.0, 1e-12);
  EXPECT_GE(r.w[2], 6.0);
  expect_consistent(r, f, grad);

  // A difference gradient costs N or 2N values where the exact one costs one.
  Outcome d = run_differences(f, x0, 6, 2000);
  ASSERT_EQ(d.ier, OptimizerCode::Converged);
  for (std::size_t i = 0; i < q.c.size(); ++i) EXPECT_NEAR(d.x[i], q.c[i], 1e-5) << i;
  EXPECT_LT(2 * (r.values + r.gradients), d.values);
}

TEST(ExactOptimizer, RosenbrockInTwoAndTenVariables) {
  for (int n : {2, 10}) {
    auto f = [n](const double* x) { return testing::rosenbrock(n, x); };
    auto grad = [n](const double* x, double* g) { testing::rosenbrock_gradient(n, x, g); };
    Outcome r = run_exact(f, grad, rosenbrock_start(n), 6, 5000);
    ASSERT_EQ(r.ier, OptimizerCode::Converged) << n;
    for (double xi : r.x) EXPECT_NEAR(xi, 1.0, 1e-5) << n;
    EXPECT_LT(r.f, 1e-10) << n;
    expect_consistent(r, f, grad);

    Outcome d = run_differences(f, rosenbrock_start(n), 6, 5000);
    ASSERT_EQ(d.ier, OptimizerCode::Converged) << n;
    const long exact_total = r.values + r.gradients;
    EXPECT_LT(exact_total, d.values) << n;
    // Ten variables: a difference gradient is ten or twenty values.
    if (n == 10) {
      EXPECT_LT(3 * exact_total, d.values);
    }
  }
}

// From the minimiser itself the first gradient is zero, the direction is zero,
// and an exact gradient is as good as a central difference one: the first
// convergence test ends the run after the start value and one gradient.
// Differences never end on a forward gradient: at least one forward and one
// central gradient follow the start value.
TEST(ExactOptimizer, StartingAtTheMinimiserTakesOneValueAndOneGradient) {
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  Outcome r = run_exact(f, grad, q.c, 6, 2000);
  EXPECT_EQ(r.ier, OptimizerCode::Converged);
  EXPECT_EQ(r.values, 1);
  EXPECT_EQ(r.gradients, 1);
  EXPECT_EQ(r.w[1], 2.0);
  EXPECT_EQ(r.x, q.c);
  EXPECT_EQ(r.f, 7.0);
  for (double gi : r.g) EXPECT_EQ(gi, 0.0);

  Outcome d = run_differences(f, q.c, 6, 2000);
  EXPECT_EQ(d.ier, OptimizerCode::Converged);
  EXPECT_GE(d.values, 1 + Quadratic::n + 2 * Quadratic::n);
}

// MAXFN 1: the start value and the first gradient make two evaluations;
// the run stops before any search, at the start point, no digits established.
TEST(ExactOptimizer, EvaluationLimitOfOne) {
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  auto grad = [&](const double* x, double* g) { q.gradient(x, g); };
  const Vec x0(Quadratic::n, 0.0);
  Outcome r = run_exact(f, grad, x0, 6, 1);
  EXPECT_EQ(r.ier, OptimizerCode::EvaluationLimit);
  EXPECT_EQ(code_number(r.ier), 131);
  EXPECT_EQ(r.values, 1);
  EXPECT_EQ(r.gradients, 1);
  EXPECT_EQ(r.w[2], 0.0);
  EXPECT_EQ(r.x, x0);
  expect_consistent(r, f, grad);
  // H is still the start matrix, the identity.
  EXPECT_EQ(r.h, (Vec{1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
}

// Each gradient is one evaluation: a run stopped by MAXFN has made at least
// MAXFN evaluations and at most one more (a gradient after the last value).
TEST(ExactOptimizer, EvaluationLimitCountsEachGradientAsOne) {
  auto f = [](const double* x) { return testing::rosenbrock(4, x); };
  auto grad = [](const double* x, double* g) { testing::rosenbrock_gradient(4, x, g); };
  const Vec x0 = rosenbrock_start(4);
  for (int maxfn : {2, 3, 10, 25, 60, 100}) {
    Outcome r = run_exact(f, grad, x0, 8, maxfn);
    EXPECT_EQ(r.ier, OptimizerCode::EvaluationLimit) << maxfn;
    const long total = r.values + r.gradients;
    EXPECT_GE(total, maxfn) << maxfn;
    EXPECT_LE(total, maxfn + 1) << maxfn;
    EXPECT_GE(r.gradients, 1) << maxfn;
    EXPECT_LE(r.f, f(x0.data())) << maxfn;
    expect_consistent(r, f, grad);
  }
}

// A gradient with the sign of one coordinate flipped. The minimiser cannot
// see that the gradient is wrong, but it evaluates the true function along
// each direction: once a direction the gradient calls downhill goes uphill
// and no step along it lowers F, it must say so at once (130, no downhill
// progress), neither claim convergence nor search on until MAXFN, and the F
// it returns belongs to the X it returns. A run that ignored the given
// gradient would find the minimum: it must not.
TEST(ExactOptimizer, AWrongGradientIsNotReportedAsConvergenceToTheMinimum) {
  const Quadratic q;
  auto f = [&](const double* x) { return q.value(x); };
  const Vec x0(Quadratic::n, 0.0);
  for (int flip = 0; flip < Quadratic::n; ++flip) {
    auto wrong = [&](const double* x, double* g) {
      q.gradient(x, g);
      g[flip] = -g[flip];
    };
    Outcome r = run_exact(f, wrong, x0, 6, 2000);
    EXPECT_EQ(r.ier, OptimizerCode::RoundingDominant) << flip;
    EXPECT_LT(r.values + r.gradients, 200) << flip;
    double away = 0.0;
    for (std::size_t i = 0; i < q.c.size(); ++i) away = std::max(away, std::fabs(r.x[i] - q.c[i]));
    EXPECT_GT(away, 1e-3) << flip;
    EXPECT_GT(r.f, 7.0 + 1e-6) << flip;
    EXPECT_LE(r.f, f(x0.data())) << flip;
    expect_consistent(r, f, wrong);
  }
  for (int n : {2, 10}) {
    auto fr = [n](const double* x) { return testing::rosenbrock(n, x); };
    auto wrong = [n](const double* x, double* g) {
      testing::rosenbrock_gradient(n, x, g);
      g[0] = -g[0];
    };
    Outcome r = run_exact(fr, wrong, rosenbrock_start(n), 6, 5000);
    EXPECT_EQ(r.ier, OptimizerCode::RoundingDominant) << n;
    EXPECT_LT(r.values + r.gradients, 500) << n;
    EXPECT_GT(r.f, 1e-3) << n;
    EXPECT_LE(r.f, fr(rosenbrock_start(n).data())) << n;
    expect_consistent(r, fr, wrong);
  }
}

TEST(ExactOptimizer, NoVariables) {
  Vec x, h, g, w(3, -7.0);
  double f = 0.0;
  long values = 0, gradients = 0;
  auto value = [&](int n, const double*) {
    EXPECT_EQ(n, 0);
    ++values;
    return 4.5;
  };
  auto with_gradient = [&](int n, const double*, double*) {
    EXPECT_EQ(n, 0);
    ++gradients;
    return 4.5;
  };
  EXPECT_EQ(optmiz(value, with_gradient, 0, 5, 1000, x, h, g, f, w), OptimizerCode::Converged);
  EXPECT_EQ(f, 4.5);
  EXPECT_EQ(values + gradients, static_cast<long>(w[1]));
  EXPECT_EQ(values, 1);
  EXPECT_EQ(w[0], 0.0);
}

}  // namespace
}  // namespace quorvale
