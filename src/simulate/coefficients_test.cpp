// The coefficients of submodels with linear forms in a simulation study:
// their true values as the projection of the generating values, and their
// sums and figures over the refits.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "simulate/totals.h"

namespace quorvale {
namespace {

double logit(double p) { return std::log(p / (1.0 - p)); }

/// A design of three slots with a constant and the slot number: the
/// survival of three intervals with a trend, PHI(TREND).
LinearDesign trend_design() {
  LinearDesign d;
  d.slots = 3;
  d.names = {"PHI:1", "PHI:TREND"};
  d.parts = {"PHI", "PHI"};
  d.X = {1.0, 1.0,  //
         1.0, 2.0,  //
         1.0, 3.0};
  return d;
}

TEST(CoefficientTruths, ExactWhenTheGeneratingValuesLieOnTheDesign) {
  // logit S = 1.0 - 0.3 t on slots t = 1, 2, 3. Parameter 3 shares slot 1
  // with parameter 1 but has another generating value: the slot takes its
  // lowest parameter's. Parameter 5 is fixed and reaches no slot.
  const std::vector<int> point = {1, 2, 1, 3, -1};
  const std::vector<double> S = {inverse_logit(0.7), inverse_logit(0.4), 0.9, inverse_logit(0.1), 0.5};
  const std::vector<CoefficientTruth> t = coefficient_truths(trend_design(), point, S);
  ASSERT_EQ(t.size(), 2U);
  EXPECT_EQ(t[0].name, "PHI:1");
  EXPECT_EQ(t[1].name, "PHI:TREND");
  EXPECT_EQ(t[1].part, "PHI");
  EXPECT_NEAR(t[0].value, 1.0, 1e-12);
  EXPECT_NEAR(t[1].value, -0.3, 1e-12);
}

TEST(CoefficientTruths, TheLeastSquaresLineOfTheLogitsOtherwise) {
  // Logits off any line: the truth is the line of least squares through
  // them, here by the textbook formulas of simple regression.
  const std::vector<int> point = {3, 1, 2};
  const std::vector<double> S = {0.35, 0.8, 0.55};  // slots 1, 2, 3: S(2), S(3), S(1)
  const double y[3] = {logit(0.8), logit(0.55), logit(0.35)};
  const double tbar = 2.0;
  const double ybar = (y[0] + y[1] + y[2]) / 3.0;
  const double slope = ((1.0 - tbar) * (y[0] - ybar) + (3.0 - tbar) * (y[2] - ybar)) / 2.0;
  const std::vector<CoefficientTruth> t = coefficient_truths(trend_design(), point, S);
  ASSERT_EQ(t.size(), 2U);
  EXPECT_NEAR(t[1].value, slope, 1e-12);
  EXPECT_NEAR(t[0].value, ybar - slope * tbar, 1e-12);
}

/// A fit of submodel n with one parameter and the given coefficients.
ReplicateFit fit_of(int n, bool converged, std::vector<ReplicateCoefficient> coefficients) {
  ReplicateFit f;
  f.submodel = n;
  f.optimizer = converged ? OptimizerCode::Converged : OptimizerCode::EvaluationLimit;
  f.estimates = {0.5};
  f.errors = {0.1};
  f.wald_covers = {true};
  f.logit_covers = {true};
  f.coefficients = std::move(coefficients);
  return f;
}

TEST(CoefficientSummaries, MeansOverTheSummariesFiguresOverTheConvergedFits) {
  SimulationTotals t(1, 2);
  t.NSUB = 2;
  t.NSIM = 4;
  t.generating = {0.5};
  t.estimated = {{true}, {true}};
  // Submodel 1 has no linear forms; submodel 2 a trend whose truth is -0.25.
  t.coefficients = {{}, {{"PHI:1", "PHI", 1.0}, {"PHI:TREND", "PHI", -0.25}}};
  const auto c = [](double estimate, double se, bool covers) {
    return ReplicateCoefficient{estimate, se, estimate - 1.96 * se, estimate + 1.96 * se, covers};
  };
  for (int r = 0; r < 4; ++r) add_fit(t, fit_of(1, true, {}));
  add_fit(t, fit_of(2, true, {c(1.1, 0.5, true), c(-0.2, 0.1, true)}));
  add_fit(t, fit_of(2, true, {c(0.9, 0.5, true), c(-0.4, 1.5, false)}));
  add_fit(t, fit_of(2, false, {c(9.0, 7.0, false), c(5.0, 9.0, false)}));  // in the summaries, not in the figures
  add_fit(t, fit_of(2, true, {c(1.0, 0.5, true), c(-0.3, 0.2, true)}));
  summarise(t);

  EXPECT_TRUE(t.coefficient_summaries_of(1).empty());
  ASSERT_EQ(t.coefficient_summaries_of(2).size(), 2U);
  const CoefficientSummary& trend = t.coefficient_summaries_of(2)[1];
  // Over the four fits in the summaries.
  EXPECT_NEAR(trend.estimate_mean.mean, (-0.2 - 0.4 + 5.0 - 0.3) / 4.0, 1e-12);
  EXPECT_NEAR(trend.error_mean.mean, (0.1 + 1.5 + 9.0 + 0.2) / 4.0, 1e-12);
  // Over the three converged: -0.2, -0.4, -0.3 against -0.25.
  ASSERT_TRUE(trend.planned);
  EXPECT_DOUBLE_EQ(trend.truth, -0.25);
  EXPECT_NEAR(trend.bias, -0.05, 1e-12);
  EXPECT_NEAR(trend.mean, -0.3, 1e-12);
  EXPECT_NEAR(trend.rmse, std::sqrt((0.0025 + 0.0225 + 0.0025) / 3.0), 1e-12);
  EXPECT_NEAR(trend.empirical_sd, 0.1, 1e-12);
  EXPECT_NEAR(trend.mean_se, (0.1 + 1.5 + 0.2) / 3.0, 1e-12);
  EXPECT_NEAR(trend.median_se, 0.2, 1e-12);
  EXPECT_EQ(trend.wide_se, 1);  // 1.5 is above 10 x 0.1
  EXPECT_NEAR(trend.coverage, 2.0 / 3.0, 1e-12);
  const CoefficientSummary& constant = t.coefficient_summaries_of(2)[0];
  EXPECT_NEAR(constant.bias, 0.0, 1e-12);
  EXPECT_NEAR(constant.coverage, 1.0, 1e-12);
  // The parameters' figures do not see the coefficients.
  EXPECT_EQ(t.converged(2), 3);
  EXPECT_EQ(t.NFAIL(2), 1);
  EXPECT_DOUBLE_EQ(t.coverage_row(1, 2).generating, 0.5);
  EXPECT_TRUE(t.has_coefficients());
}

TEST(CoefficientSummaries, NoneWithoutLinearForms) {
  SimulationTotals t(1, 1);
  t.NSUB = 1;
  t.NSIM = 2;
  t.generating = {0.5};
  t.estimated = {{true}};
  t.coefficients = {{}};
  add_fit(t, fit_of(1, true, {}));
  add_fit(t, fit_of(1, true, {}));
  summarise(t);
  EXPECT_FALSE(t.has_coefficients());
  EXPECT_TRUE(t.coefficient_summaries_of(1).empty());
  EXPECT_TRUE(t.coefficient_sums.empty());
}

}  // namespace
}  // namespace quorvale
