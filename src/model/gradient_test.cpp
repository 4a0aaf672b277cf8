// The exact gradient of F against central differences of est_core, through
// every kind of parameter map and transform, and through the coefficients
// of linear forms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "testing/likelihood_cases.h"
#include "model/gradient.h"

namespace quorvale {
namespace {

using testing::bits;

/// Counts for every cell of the store, from 0 to 60.
void fill_counts(ModelStore& m, testing::Rng& rng) {
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) m.NOBS(h, c) = static_cast<int>(rng() % 61);
}

/// F of est_core at x.
double F_at(const ModelStore& m, const RdDesign& d, std::span<const double> x, ParameterScale scale) {
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  return est_core(m, d, x, scale, P).F;
}

/// Central differences of F by each coordinate of x, step h.
std::vector<double> central(const std::function<double(std::span<const double>)>& F, std::vector<double> x,
                            double h) {
  std::vector<double> g(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double x0 = x[k];
    x[k] = x0 + h;
    const double up = F(x);
    x[k] = x0 - h;
    const double down = F(x);
    x[k] = x0;
    g[k] = (up - down) / (2 * h);
  }
  return g;
}

/// Every component within 1e-6 of the larger of its own size and a
/// hundredth of the gradient's largest component: F is a sum of thousands
/// of terms, and its differences lose that many more digits to rounding.
void expect_close(const std::vector<double>& exact, const std::vector<double>& differences, const std::string& where) {
  ASSERT_EQ(exact.size(), differences.size());
  double largest = 0.0;
  for (double v : exact) largest = std::max(largest, std::fabs(v));
  for (std::size_t k = 0; k < exact.size(); ++k)
    EXPECT_LE(std::fabs(exact[k] - differences[k]), 1e-6 * std::max(std::fabs(exact[k]), 1e-2 * largest))
        << where << ": coordinate " << k + 1 << " exact " << exact[k] << " central " << differences[k];
}

TEST(ExactGradient, AgreesWithCentralDifferencesThroughEveryMapAndTransform) {
  const std::vector<std::vector<int>> designs = {{2, 2}, {3, 2, 1, 2, 2}, {1, 3, 1}, {2, 3, 2, 2}, {1, 1}};
  testing::Rng rng(2929);
  int points = 0;
  for (const auto& kk : designs) {
    for (int draw = 0; draw < 12; ++draw) {
      auto m = testing::plain_store(kk);
      fill_counts(*m, rng);
      const bool power = kk[0] >= 2 && draw % 3 == 0;
      std::vector<double> x = testing::random_map(*m, kk, rng, power);
      // Points inside the parameter space: a natural value of 0 or 1 sits
      // on the edge where cells vanish and F has a corner, and near it F
      // curves too fast for differences of this step; a floor of 10^-12
      // keeps every cell of these points above it.
      m->NSIG = 12;
      if (m->NOTRAN == 1)
        for (double& v : x) v = 0.05 + 0.9 * v;
      const ParameterScale scale = transform_scale(*m);
      const RdDesign d = rd_design(*m);
      ASSERT_EQ(d.status, EstStatus::Ok);

      Mat1<double> P(MXCLAS, MAXCHT, 0.0);
      std::vector<double> exact(x.size(), -1.0);
      const EstResult r = est_gradient(*m, d, x, scale, P, exact);
      EXPECT_EQ(bits(r.F), bits(F_at(*m, d, x, scale)));
      const auto F = [&](std::span<const double> at) { return F_at(*m, d, at, scale); };
      std::string where = "design " + std::to_string(kk.size());
      where += " periods, draw ";
      where += std::to_string(draw);
      where += m->NOTRAN == 1 ? " natural" : (m->ISINE == 1 ? " sine" : " abs");
      expect_close(exact, central(F, x, 1e-5), where);
      ++points;
    }
  }
  EXPECT_EQ(points, 60);
}

TEST(ExactGradient, AgreesWithCentralDifferencesThroughLinearForms) {
  testing::Rng rng(4242);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (const auto& kk : std::vector<std::vector<int>>{{2, 2, 2}, {3, 1, 2, 2}}) {
    auto m = testing::plain_store(kk);
    fill_counts(*m, rng);
    const RdDesign d = rd_design(*m);
    ASSERT_EQ(d.status, EstStatus::Ok);
    // A design of a constant, a trend and three 0/1 columns over the slots.
    LinearDesign design;
    design.slots = m->NEST;
    design.names = {"1", "TREND", "A", "B", "C"};
    design.parts = design.names;
    for (int s = 1; s <= design.slots; ++s) {
      design.X.push_back(1.0);
      design.X.push_back(0.1 * s);
      for (int j = 0; j < 3; ++j) design.X.push_back((rng() % 3 == 0) ? 1.0 : 0.0);
    }
    std::vector<double> beta(5);
    for (double& b : beta) b = u(rng);

    const auto F = [&](std::span<const double> at) {
      std::vector<double> slots(static_cast<std::size_t>(design.slots));
      design.probabilities(at, slots);
      return F_at(*m, d, slots, ParameterScale::Natural);
    };
    std::vector<double> slots(static_cast<std::size_t>(design.slots));
    design.probabilities(beta, slots);
    Mat1<double> P(MXCLAS, MAXCHT, 0.0);
    std::vector<double> by_slot(slots.size());
    est_gradient(*m, d, slots, ParameterScale::Natural, P, by_slot);
    std::vector<double> exact(beta.size(), -1.0);
    linear_gradient(design, beta, by_slot, exact);
    expect_close(exact, central(F, beta, 1e-5), "linear forms, " + std::to_string(kk.size()) + " periods");
  }
}

TEST(ExactGradient, FollowsAFixedParameterWhoseConstantSitsInAnEstimatedSlot) {
  // A map not yet renumbered may point a fixed parameter at a slot within
  // 1..NEST, which the evaluation then reads from x: F moves with it.
  testing::Rng rng(77);
  auto m = testing::plain_store({2, 3, 2});
  fill_counts(*m, rng);
  for (int I : {2, 7, 12}) m->POINT(I) = -I;
  std::uniform_real_distribution<double> u(0.1, 0.9);
  std::vector<double> x(static_cast<std::size_t>(m->NEST));
  for (double& v : x) v = u(rng);
  const RdDesign d = rd_design(*m);
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  std::vector<double> exact(x.size());
  ASSERT_EQ(est_gradient(*m, d, x, ParameterScale::Working, P, exact).status, EstStatus::Ok);
  const auto F = [&](std::span<const double> at) { return F_at(*m, d, at, ParameterScale::Working); };
  const std::vector<double> differences = central(F, x, 1e-5);
  for (int I : {2, 7, 12}) EXPECT_NE(differences[static_cast<std::size_t>(I - 1)], 0.0);
  expect_close(exact, differences, "fixed parameters in estimated slots");
}

TEST(ExactGradient, ACellUnderTheFloorAddsNothing) {
  // With a floor of 0.1 many cells enter F as the constant ln 0.1.
  testing::Rng rng(1010);
  auto m = testing::plain_store({3, 2, 2});
  fill_counts(*m, rng);
  m->NSIG = 1;
  std::uniform_real_distribution<double> u(0.1, 0.9);
  std::vector<double> x(static_cast<std::size_t>(m->NEST));
  for (double& v : x) v = u(rng);
  const RdDesign d = rd_design(*m);
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  std::vector<double> exact(x.size());
  ASSERT_EQ(est_gradient(*m, d, x, ParameterScale::Natural, P, exact).status, EstStatus::Ok);
  int floored = 0, above = 0;
  for (int c = 1; c <= m->NCOHRT; ++c)
    for (int h = 1; h <= m->NCLASS(c); ++h)
      if (m->NOBS(h, c) > 0) ++(P(h, c) > 0.1 ? above : floored);
  EXPECT_GT(floored, 5);
  EXPECT_GT(above, 5);
  const auto F = [&](std::span<const double> at) { return F_at(*m, d, at, ParameterScale::Natural); };
  expect_close(exact, central(F, x, 1e-5), "floor 0.1");
}

TEST(ExactGradient, LeavesTheGradientAloneWhenTheDesignFailsItsCheck) {
  auto m = testing::plain_store({2, 2});
  m->NPAR = 5;
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  std::vector<double> grad(10, 3.0);
  const std::vector<double> x(10, 0.5);
  EXPECT_EQ(est_gradient(*m, rd_design(*m), x, ParameterScale::Natural, P, grad).status, EstStatus::NparTooSmall);
  EXPECT_EQ(grad, std::vector<double>(10, 3.0));
}

}  // namespace
}  // namespace quorvale
