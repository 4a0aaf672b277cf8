// The exact cell derivatives against central differences of the cells, in
// every layout the end-to-end runs set up with PROC MODEL and in small
// layouts with periods of one occasion, groups and unused parameters.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "testing/harness.h"
#include "testing/likelihood_cases.h"
#include "model/adjoint.h"
#include "model/cell_derivatives.h"
#include "model/model.h"

namespace quorvale {
namespace {

using testing::bits;

/// A layout: occasions of each period, NPAR and groups.
struct Shape {
  std::vector<int> kk;
  int npar = 0;
  int groups = 1;
  bool operator<(const Shape& o) const { return std::tie(kk, npar, groups) < std::tie(o.kk, o.npar, o.groups); }
};

/// Every layout a PROC MODEL statement of an end-to-end command file lays
/// out: each statement is read on its own, up to the next PROC statement;
/// one that ends the run, or whose cohorts make no design, is passed over.
std::set<Shape> end_to_end_shapes() {
  std::set<Shape> shapes;
  const std::filesystem::path root = QUORVALE_SOURCE_DIR "/tests/e2e";
  for (const auto& dir : std::filesystem::directory_iterator(root)) {
    const std::filesystem::path cmd = dir.path() / "run.cmd";
    if (!std::filesystem::is_regular_file(cmd)) continue;
    std::ifstream file(cmd, std::ios::binary);
    std::ostringstream all;
    all << file.rdbuf();
    const std::string text = all.str();
    for (std::size_t from = text.find("PROC MODEL"); from != std::string::npos;
         from = text.find("PROC MODEL", from + 1)) {
      const std::size_t to = text.find("PROC ", from + 1);
      const std::string statement = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
      testing::StringRun r(statement + "\nPROC STOP;\n");
      try {
        r.start();
        model(r.run);
      } catch (const RunEnd&) {
        continue;
      }
      const RdDesign& d = r.run.model.design;
      if (d.status != EstStatus::Ok) continue;
      Shape s;
      for (int ip = 1; ip <= d.layout.periods(); ++ip) s.kk.push_back(d.layout.occasions(ip));
      s.npar = d.layout.npar();
      s.groups = d.layout.groups();
      shapes.insert(s);
    }
  }
  return shapes;
}

/// A store of the layout with S = PAR (natural scale, slot I for S(I)).
std::unique_ptr<ModelStore> store_of(const Shape& s) {
  auto m = testing::plain_store(s.kk, s.npar);
  m->set_cohorts(RobustLayout(s.kk, 0, s.groups).cohort_cells());
  if (s.groups > 1)
    for (int g = 1; g <= s.groups; ++g) {
      std::string name = "G";
      name += std::to_string(g);
      m->group_names.push_back(name);
    }
  return m;
}

/// Compares the exact derivatives at x with central differences of est_core
/// for every cell of every cohort and every S(I), contained or not. Returns
/// the number of nonzero derivatives checked.
int expect_derivatives(const ModelStore& m, std::vector<double> x, const std::string& where) {
  const RdDesign design = rd_design(m);
  EXPECT_EQ(design.status, EstStatus::Ok) << where;
  if (design.status != EstStatus::Ok) return 0;

  testing::CoreRun plain(m, x);
  Mat1<double> P(MXCLAS, MAXCHT, -7.0);
  CellDerivatives D;
  const EstResult r = est_core_derivatives(m, design, x, ParameterScale::Natural, P, D);
  // The cells and F are est_core's, bit for bit.
  EXPECT_EQ(bits(r.F), bits(plain.r.F)) << where;
  EXPECT_EQ(r.den_one, plain.r.den_one) << where;
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) EXPECT_EQ(bits(P(h, c)), bits(plain.P(h, c))) << where << " cell " << h << " of " << c;
  EXPECT_EQ(static_cast<int>(D.block_of.size()), m.NCOHRT) << where;

  constexpr double step = 1e-5;
  int nonzero = 0;
  Mat1<double> up(MXCLAS, MAXCHT, 0.0), down(MXCLAS, MAXCHT, 0.0);
  for (int I = 1; I <= m.NPAR; ++I) {
    const std::size_t k = static_cast<std::size_t>(I - 1);
    const double x0 = x[k];
    x[k] = x0 + step;
    est_core(m, design, x, ParameterScale::Natural, up);
    x[k] = x0 - step;
    est_core(m, design, x, ParameterScale::Natural, down);
    x[k] = x0;
    for (int c = 1; c <= m.NCOHRT; ++c) {
      const CellBlock& b = D.cohort(c);
      EXPECT_EQ(b.cells, m.NCLASS(c)) << where;
      for (int h = 1; h <= m.NCLASS(c); ++h) {
        const double central = (up(h, c) - down(h, c)) / (2 * step);
        const double exact = b.of(h - 1, I);
        if (exact != 0.0) ++nonzero;
        EXPECT_LE(std::fabs(exact - central), 1e-7 * std::max(std::fabs(exact), 1e-3))
            << where << ": dP(" << h << ", cohort " << c << ")/dS(" << I << ") exact " << exact << " central "
            << central;
      }
    }
  }
  return nonzero;
}

/// A random point: probabilities in (0.05, 0.95), exponents theta in (0.4, 2.5).
std::vector<double> random_point(const Shape& s, testing::Rng& rng) {
  std::uniform_real_distribution<double> u(0.05, 0.95), th(0.4, 2.5);
  std::vector<double> x(static_cast<std::size_t>(s.npar));
  for (double& v : x) v = u(rng);
  const RobustLayout L(s.kk, s.npar, s.groups);
  for (int g = 1; g <= s.groups; ++g)
    for (int ip = 1; ip <= L.periods(); ++ip) x[static_cast<std::size_t>(L.theta(ip, g) - 1)] = th(rng);
  return x;
}

/// Switches each group to the power variant: a negative first recapture parameter of period 1.
void make_power(const Shape& s, std::vector<double>& x) {
  const RobustLayout L(s.kk, s.npar, s.groups);
  for (int g = 1; g <= s.groups; ++g) x[static_cast<std::size_t>(L.c(1, 2, g) - 1)] = -0.5;
}

std::string describe(const Shape& s) {
  std::string d = "periods";
  for (int k : s.kk) {
    d += ' ';
    d += std::to_string(k);
  }
  d += ", NPAR ";
  d += std::to_string(s.npar);
  d += ", groups ";
  d += std::to_string(s.groups);
  return d;
}

TEST(CellDerivatives, AgreeWithCentralDifferencesInEveryEndToEndLayout) {
  const std::set<Shape> shapes = end_to_end_shapes();
  // The command files lay out several designs; finding none would check nothing.
  ASSERT_GE(shapes.size(), 4u);
  testing::Rng rng(2907);
  for (const Shape& s : shapes) {
    auto m = store_of(s);
    for (int point = 0; point < 2; ++point) {
      std::vector<double> x = random_point(s, rng);
      EXPECT_GT(expect_derivatives(*m, x, describe(s)), 0);
      if (s.kk[0] >= 2) {
        make_power(s, x);
        EXPECT_GT(expect_derivatives(*m, x, describe(s) + ", power"), 0);
      }
    }
  }
}

TEST(CellDerivatives, AgreeWithCentralDifferencesWithOneOccasionPeriodsGroupsAndGaps) {
  const std::vector<Shape> shapes = {
      {{1, 1}, 0, 1},          {{1, 3, 1}, 0, 1},    {{2, 1, 1, 2}, 0, 2}, {{3, 2}, 0, 3},
      {{2, 1, 3}, 0, 1},       {{1, 2, 2, 1, 3}, 0, 1},
  };
  testing::Rng rng(29);
  for (Shape s : shapes) {
    // NPAR as the layout needs, and once more with three unused parameters in each block.
    for (int gap : {0, 3}) {
      s.npar = s.groups * (testing::needed_npar(s.kk) + gap);
      auto m = store_of(s);
      std::vector<double> x = random_point(s, rng);
      EXPECT_GT(expect_derivatives(*m, x, describe(s)), 0);
      if (s.kk[0] >= 2) {
        make_power(s, x);
        EXPECT_GT(expect_derivatives(*m, x, describe(s) + ", power"), 0);
      }
    }
  }
}

TEST(CellDerivatives, ABlockHoldsExactlyTheParametersItsCellsContain) {
  // Periods of 2 and 3 occasions: S(1..3) period 1, S(4..8) period 2,
  // S(9) phi, S(10) gamma''(2), S(11..12) theta (read by the power variant only).
  const Shape s{{2, 3}, 0, 1};
  const RobustLayout L(s.kk);
  auto m = store_of(Shape{s.kk, L.needed(), 1});
  testing::Rng rng(7);
  const std::vector<double> x = random_point(Shape{s.kk, L.needed(), 1}, rng);
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  CellDerivatives D;
  ASSERT_EQ(est_core_derivatives(*m, rd_design(*m), x, ParameterScale::Natural, P, D).status, EstStatus::Ok);
  // The two cohorts of period 2 share one block; the open cohort has phi,
  // gamma'' of period 2 and the three captures of period 2.
  EXPECT_EQ(&D.cohort(2), &D.cohort(3));
  EXPECT_EQ(D.cohort(1).parameters, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(D.cohort(2).parameters, (std::vector<int>{4, 5, 6, 7, 8}));
  EXPECT_EQ(D.cohort(4).parameters, (std::vector<int>{L.phi(1), L.gamma2(2), 4, 5, 6}));
  // The never-caught cell of a period is 1 minus histories conditioned on a
  // capture, which sum to 1: it does not move with any parameter.
  for (int c : {1, 2, 3})
    for (std::size_t k = 0; k < D.cohort(c).parameters.size(); ++k)
      EXPECT_EQ(D.cohort(c).at(D.cohort(c).cells - 1, static_cast<int>(k)), 0.0) << "cohort " << c;
  // Each block's cells sum to 1, so every column of derivatives sums to 0.
  for (int c = 1; c <= m->NCOHRT; ++c) {
    const CellBlock& b = D.cohort(c);
    for (std::size_t k = 0; k < b.parameters.size(); ++k) {
      double sum = 0.0, size = 0.0;
      for (int h = 0; h < b.cells; ++h) {
        sum += b.at(h, static_cast<int>(k));
        size += std::fabs(b.at(h, static_cast<int>(k)));
      }
      EXPECT_GT(size, 0.0);
      EXPECT_NEAR(sum, 0.0, 1e-14);
    }
  }
}

/// dF/dS(I) from the forward blocks: each cell above the floor adds
/// -NOBS/P times its derivatives.
std::vector<double> forward_dF(const ModelStore& m, const CellDerivatives& D, const Mat1<double>& P) {
  std::vector<double> out(static_cast<std::size_t>(m.NPAR) + 1, 0.0);
  const double eps = probability_floor(m.NSIG);
  for (int c = 1; c <= m.NCOHRT; ++c) {
    const CellBlock& b = D.cohort(c);
    for (int h = 0; h < b.cells; ++h) {
      if (m.NOBS(h + 1, c) == 0 || !(P(h + 1, c) > eps)) continue;
      for (std::size_t k = 0; k < b.parameters.size(); ++k)
        out[static_cast<std::size_t>(b.parameters[k])] += -m.NOBS(h + 1, c) / P(h + 1, c) * b.at(h, static_cast<int>(k));
    }
  }
  return out;
}

/// The backward pass against the forward blocks at x with counts drawn from
/// 0..40 (a tenth of the cells empty): two derivations of dF/dS that share no code.
void expect_backward_equals_forward(ModelStore& m, const std::vector<double>& x, testing::Rng& rng,
                                    const std::string& where) {
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) m.NOBS(h, c) = rng() % 10 == 0 ? 0 : static_cast<int>(rng() % 41);
  const RdDesign design = rd_design(m);
  ASSERT_EQ(design.status, EstStatus::Ok) << where;
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  CellDerivatives D;
  est_core_derivatives(m, design, x, ParameterScale::Natural, P, D);
  const std::vector<double> forward = forward_dF(m, D, P);
  std::vector<double> backward;
  likelihood_adjoint(m, design.layout, working_values(m, x), ParameterScale::Natural, P, backward);
  ASSERT_EQ(backward.size(), forward.size()) << where;
  double largest = 0.0;
  for (double v : forward) largest = std::max(largest, std::fabs(v));
  EXPECT_GT(largest, 0.0) << where;
  for (std::size_t I = 1; I < forward.size(); ++I)
    EXPECT_LE(std::fabs(backward[I] - forward[I]), 1e-10 * std::max(std::fabs(forward[I]), largest))
        << where << ": dF/dS(" << I << ") backward " << backward[I] << " forward " << forward[I];
}

TEST(CellDerivatives, TheBackwardPassGivesTheForwardGradientInEveryLayout) {
  const std::set<Shape> laid_out = end_to_end_shapes();
  std::vector<Shape> shapes(laid_out.begin(), laid_out.end());
  for (Shape s : std::vector<Shape>{{{1, 1}, 0, 1}, {{2, 1, 1, 2}, 0, 2}, {{3, 2}, 0, 3}, {{1, 2, 2, 1, 3}, 0, 1}}) {
    s.npar = s.groups * (testing::needed_npar(s.kk) + 2);
    shapes.push_back(s);
  }
  testing::Rng rng(5151);
  for (const Shape& s : shapes) {
    auto m = store_of(s);
    std::vector<double> x = random_point(s, rng);
    expect_backward_equals_forward(*m, x, rng, describe(s));
    if (s.kk[0] >= 2) {
      make_power(s, x);
      expect_backward_equals_forward(*m, x, rng, describe(s) + ", power");
    }
    // A period where no capture is possible: its cells are constants, its
    // p* = 0 still enters the open part.
    if (s.kk.size() >= 2) {
      x = random_point(s, rng);
      const RobustLayout L(s.kk, s.npar, s.groups);
      for (int t = 1; t <= L.occasions(2); ++t) x[static_cast<std::size_t>(L.p(2, t, 1) - 1)] = 0.0;
      expect_backward_equals_forward(*m, x, rng, describe(s) + ", no capture in period 2");
    }
  }
}

TEST(CellDerivatives, ADesignThatFailsItsCheckGivesNoBlocks) {
  auto m = testing::plain_store({2, 2});
  m->NPAR = 5;  // fewer than the layout needs
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  CellDerivatives D;
  D.blocks.resize(2);
  const std::vector<double> x(10, 0.5);
  EXPECT_EQ(est_core_derivatives(*m, rd_design(*m), x, ParameterScale::Natural, P, D).status,
            EstStatus::NparTooSmall);
  EXPECT_TRUE(D.blocks.empty());
  EXPECT_TRUE(D.block_of.empty());
}

}  // namespace
}  // namespace quorvale
