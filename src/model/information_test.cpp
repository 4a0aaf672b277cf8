// The expected information from exact cell derivatives against the matrix
// the fit builds from difference quotients of the cells.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "testing/likelihood_cases.h"
#include "base/packed.h"
#include "estimate/results.h"
#include "model/information.h"

namespace quorvale {
namespace {

/// Central differences of every cell by every slot at x (natural scale),
/// slot by slot, each a block of all cells cohort by cohort; a cell that is
/// 0 but for rounding (the never-caught history of a period) gets 0.
std::vector<double> difference_blocks(const ModelStore& m, const RdDesign& d, std::vector<double> x) {
  std::vector<int> offset(static_cast<std::size_t>(m.NCOHRT) + 1, 0);
  int cells = 0;
  for (int c = 1; c <= m.NCOHRT; ++c) {
    offset[static_cast<std::size_t>(c)] = cells;
    cells += m.NCLASS(c);
  }
  Mat1<double> at(MXCLAS, MAXCHT, 0.0), up(MXCLAS, MAXCHT, 0.0), down(MXCLAS, MAXCHT, 0.0);
  est_core(m, d, x, ParameterScale::Natural, at);
  std::vector<double> blocks(x.size() * static_cast<std::size_t>(cells), 0.0);
  constexpr double step = 1e-5;
  for (std::size_t s = 0; s < x.size(); ++s) {
    const double x0 = x[s];
    x[s] = x0 + step;
    est_core(m, d, x, ParameterScale::Natural, up);
    x[s] = x0 - step;
    est_core(m, d, x, ParameterScale::Natural, down);
    x[s] = x0;
    for (int c = 1; c <= m.NCOHRT; ++c)
      for (int h = 1; h <= m.NCLASS(c); ++h)
        if (std::fabs(at(h, c)) > 1e-12)
          blocks[s * static_cast<std::size_t>(cells) + static_cast<std::size_t>(offset[static_cast<std::size_t>(c)] + h - 1)] =
              (up(h, c) - down(h, c)) / (2 * step);
  }
  return blocks;
}

/// The exact information at x against the fit's matrix of central differences.
void expect_information(ModelStore& m, const RdDesign& d, const std::vector<double>& x, const std::string& where) {
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  std::vector<double> exact;
  ASSERT_EQ(exact_information(m, d, x, ParameterScale::Natural, P, exact).status, EstStatus::Ok);
  std::vector<double> reference;
  est_core(m, d, x, ParameterScale::Natural, m.P);  // the cells the fit's matrix divides by
  information_matrix(m, difference_blocks(m, d, x), m.NEST, reference);
  ASSERT_EQ(exact.size(), reference.size());
  double largest = 0.0;
  for (double v : reference) largest = std::max(largest, std::fabs(v));
  ASSERT_GT(largest, 0.0);
  for (int a = 1; a <= m.NEST; ++a)
    for (int b = 1; b <= a; ++b) {
      const double e = exact[packed_index(a, b)];
      const double r = reference[packed_index(a, b)];
      EXPECT_LE(std::fabs(e - r), 1e-7 * std::max(std::fabs(r), 1e-3 * largest))
          << where << ", element (" << a << ", " << b << "): " << e << " vs " << r;
    }
}

TEST(ExactInformation, AgreesWithTheMatrixOfDifferenceQuotients) {
  testing::Rng rng(5151);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  const std::vector<std::vector<int>> designs = {{2, 2}, {3, 2, 1, 2, 2}, {1, 3, 1}, {2, 3, 2, 2}};
  for (const auto& kk : designs) {
    for (int draw = 0; draw < 4; ++draw) {
      auto m = testing::plain_store(kk);
      // Equal and fixed parameters from a random map, read on the natural scale.
      testing::random_map(*m, kk, rng, kk[0] >= 2 && draw == 1);
      m->NOTRAN = 1;
      for (int c = 1; c <= m->NCOHRT; ++c) m->NREL(c) = 20 + static_cast<int>(rng() % 200);
      std::vector<double> x(static_cast<std::size_t>(m->NEST));
      for (double& v : x) v = u(rng);
      const RdDesign d = rd_design(*m);
      ASSERT_EQ(d.status, EstStatus::Ok);

      expect_information(*m, d, x, std::to_string(kk.size()) + " periods, draw " + std::to_string(draw));
    }
  }
}

TEST(ExactInformation, CountsAFixedParameterWhoseConstantSitsInAnEstimatedSlot) {
  // A map not yet renumbered may point a fixed parameter at a slot within
  // 1..NEST, which the evaluation then reads from x.
  testing::Rng rng(61);
  std::uniform_real_distribution<double> u(0.1, 0.9);
  auto m = testing::plain_store({2, 3, 2});
  for (int I : {2, 7, 12}) m->POINT(I) = -I;
  for (int c = 1; c <= m->NCOHRT; ++c) m->NREL(c) = 50 + c;
  std::vector<double> x(static_cast<std::size_t>(m->NEST));
  for (double& v : x) v = u(rng);
  expect_information(*m, rd_design(*m), x, "fixed parameters in estimated slots");
}

}  // namespace
}  // namespace quorvale
