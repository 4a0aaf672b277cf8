// The exact-gradient objective: a gradient served from the last
// evaluation's cells is the one a new evaluation gives, bit for bit, and a
// gradient asked for elsewhere evaluates afresh.

#include "estimate/exact_objective.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "model/gradient.h"
#include "testing/harness.h"
#include "testing/likelihood_cases.h"

namespace quorvale {
namespace {

using testing::bits;

TEST(ExactObjective, AGradientFromTheLastCellsIsTheFreshOneAndElsewhereItEvaluates) {
  testing::Rng rng(808);
  auto m = testing::plain_store({2, 3, 2});
  for (int c = 1; c <= m->NCOHRT; ++c)
    for (int h = 1; h <= m->NCLASS(c); ++h) m->NOBS(h, c) = static_cast<int>(rng() % 50);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> x(static_cast<std::size_t>(m->NEST)), y(x.size());
  for (double& v : x) v = u(rng);
  for (double& v : y) v = u(rng);

  // The reference: one evaluation with the gradient at x.
  Mat1<double> P(MXCLAS, MAXCHT, 0.0);
  std::vector<double> reference(x.size());
  const EstResult r = est_gradient(*m, rd_design(*m), x, ParameterScale::Working, P, reference);

  testing::StringRun run("PROC STOP;\n");
  ExactObjective objective(*m, run.run.listing, ParameterScale::Working);
  const auto expect_reference = [&](const std::vector<double>& g, double F, const std::string& how) {
    EXPECT_EQ(bits(F), bits(r.F)) << how;
    for (std::size_t k = 0; k < g.size(); ++k) EXPECT_EQ(bits(g[k]), bits(reference[k])) << how << " " << k;
    for (int c = 1; c <= m->NCOHRT; ++c)
      for (int h = 1; h <= m->NCLASS(c); ++h) EXPECT_EQ(bits(m->P(h, c)), bits(P(h, c))) << how;
  };
  std::vector<double> g(x.size(), -1.0);
  // At the point just evaluated: from its cells.
  objective.value(x);
  expect_reference(g, objective.value_and_gradient(x, g), "after a value at x");
  // After a value elsewhere the cells are y's: the gradient at x evaluates again.
  objective.value(y);
  std::fill(g.begin(), g.end(), -1.0);
  expect_reference(g, objective.value_and_gradient(x, g), "after a value at y");
  // Twice in a row at x.
  std::fill(g.begin(), g.end(), -1.0);
  expect_reference(g, objective.value_and_gradient(x, g), "after a gradient at x");
  // Every call writes the trace line of one evaluation, as est does.
  EXPECT_EQ(testing::lines_starting(run.listing(), " nper,majper=").size(), 5u);
}

}  // namespace
}  // namespace quorvale
