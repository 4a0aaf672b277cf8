// Model averaging on three hand-built fits of 100 animals. The expected
// weights, averages and unconditional standard errors come from a separate
// Python computation of the same formulas:
//   criterion AICc = -2 lnL + 2K + 2K(K+1)/(n-K-1)  (QAICc: -2 lnL / c-hat),
//   w = exp(-delta/2) / sum, bar = sum w theta,
//   se = sqrt(sum w (Var * c-hat + (theta - bar)^2)).
#include "compare/averaging.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quorvale {
namespace {

FitReport fit(const char* name, double lnL, int k, std::vector<std::pair<double, double>> values,
              OptimizerCode code = OptimizerCode::Converged) {
  FitReport r;
  r.full_name = name;
  r.lnL = lnL;
  r.nest = k;
  r.aic = -2.0 * lnL + 2.0 * k;
  r.sample_size = 100;
  r.aicc = r.aic + 2.0 * k * (k + 1) / (100.0 - k - 1.0);  // as the fit holds it
  r.optimizer = code;
  int i = 0;
  for (const auto& [estimate, se] : values) {
    ParameterEstimate e;
    e.index = ++i;
    e.slot = se > 0.0 ? i : -i;  // a zero SE stands for a fixed parameter
    e.estimate = estimate;
    e.se = se;
    e.label = "S" + std::to_string(i);
    r.parameters.push_back(e);
  }
  return r;
}

std::vector<FitReport> three_fits() {
  return {fit("A", -100.0, 3, {{0.60, 0.05}, {0.30, 0.02}}),
          fit("B", -98.5, 5, {{0.65, 0.06}, {0.28, 0.03}}),
          fit("C", -102.0, 2, {{0.50, 0.0}, {0.33, 0.025}}),
          fit("D", -90.0, 6, {{0.90, 0.01}, {0.10, 0.01}}, OptimizerCode::RoundingDominant)};
}

TEST(ModelAverage, WeightsAveragesAndUnconditionalErrorsWithAndWithoutCHat) {
  const std::vector<FitReport> fits = three_fits();
  const ModelAverage a = model_average(fits, 1.0, 2);
  ASSERT_EQ(a.models.size(), 3u);
  EXPECT_FALSE(a.quasi);
  EXPECT_EQ(a.not_converged, std::vector<std::string>{"D"});  // left out, named
  EXPECT_EQ(a.from_file, 2);
  EXPECT_NEAR(a.models[0].criterion, 206.25, 1e-12);
  EXPECT_NEAR(a.models[0].weight, 0.5287208000911934, 1e-14);
  EXPECT_NEAR(a.models[1].weight, 0.26409570813215943, 1e-14);
  EXPECT_NEAR(a.models[2].weight, 0.20718349177664722, 1e-14);
  EXPECT_EQ(a.best, 0u);
  // S(1) is fixed at 0.5 in C: its value enters with no variance.
  EXPECT_NEAR(a.parameters[0].estimate, 0.5924864362289433, 1e-14);
  EXPECT_NEAR(a.parameters[0].se, 0.07034320931731003, 1e-14);
  EXPECT_NEAR(a.parameters[1].estimate, 0.3009335905906562, 1e-14);
  EXPECT_NEAR(a.parameters[1].se, 0.029493998951934438, 1e-14);
  EXPECT_LT(a.parameters[0].ci.lower, a.parameters[0].estimate);
  EXPECT_GT(a.parameters[0].ci.upper, a.parameters[0].estimate);

  const ModelAverage q = model_average(fits, 1.5, 0);
  EXPECT_TRUE(q.quasi);
  EXPECT_NEAR(q.models[0].criterion, 139.58333333333334, 1e-12);
  EXPECT_NEAR(q.models[0].weight, 0.48398097719994204, 1e-14);
  EXPECT_NEAR(q.models[1].weight, 0.1466276919855904, 1e-14);
  EXPECT_NEAR(q.models[2].weight, 0.3693913308144676, 1e-14);
  EXPECT_NEAR(q.parameters[0].estimate, 0.5703922515178328, 1e-14);
  EXPECT_NEAR(q.parameters[0].se, 0.07609587353560866, 1e-14);
  EXPECT_NEAR(q.parameters[1].estimate, 0.30814918608472225, 1e-14);
  EXPECT_NEAR(q.parameters[1].se, 0.03404899974775915, 1e-14);
}

// Fits that rest on an impossible point (a positive log-likelihood, animals
// in a cell of probability 0) are left out by name: the three sound fits
// keep the weights above, though each impossible fit has the smallest AICc.
// A parameter one averaged fit cannot estimate has no average.
TEST(ModelAverage, ImpossibleFitsAreLeftOutAndNotEstimableValuesUnavailable) {
  std::vector<FitReport> fits = three_fits();
  fits.push_back(fit("E", 81409.6, 4, {{0.99, 0.01}, {0.01, 0.01}}));
  fits.push_back(fit("F", -3.05, 4, {{0.99, 0.01}, {0.01, 0.01}}));
  fits.back().impossible_cells = 9;
  fits.push_back(fit("G", -1.0, 4, {{0.99, 0.01}, {0.01, 0.01}}));
  fits.back().cells_outside = 1;
  const ModelAverage a = model_average(fits, 1.0, 0);
  EXPECT_EQ(a.impossible, (std::vector<std::string>{"E", "F", "G"}));
  ASSERT_EQ(a.models.size(), 3u);
  EXPECT_NEAR(a.models[0].weight, 0.5287208000911934, 1e-14);
  EXPECT_NEAR(a.parameters[0].estimate, 0.5924864362289433, 1e-14);
  EXPECT_TRUE(a.parameters[1].available);

  fits[1].parameters[1].estimable = false;
  fits[1].parameters[1].se = std::nan("");
  const ModelAverage b = model_average(fits, 1.0, 0);
  EXPECT_TRUE(b.parameters[0].available);
  EXPECT_NEAR(b.parameters[0].estimate, 0.5924864362289433, 1e-14);
  EXPECT_FALSE(b.parameters[1].available);
  EXPECT_TRUE(std::isnan(b.parameters[1].estimate) && std::isnan(b.parameters[1].se));
}

}  // namespace
}  // namespace quorvale
