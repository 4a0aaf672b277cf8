#include "estimate/results.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <vector>

#include "driver/pelmar.h"
#include "estimate/estmat.h"
#include "model/model.h"
#include "testing/designs.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

TEST(ResultsPooling, SparseCellsMergeWithTheirNeighbours) {
  // Expected 0.5 merges with its right neighbour, then 1.5 with its left
  // one; two cells and one degree of freedom remain.
  std::vector<double> O = {1, 4, 6, 2};
  std::vector<double> E = {0.5, 5, 6, 1.5};
  int df = 3;
  double chi = cspool(O, E, df, 4);
  EXPECT_EQ(df, 1);
  EXPECT_DOUBLE_EQ(E[0], 5.5);
  EXPECT_DOUBLE_EQ(E[1], 7.5);
  EXPECT_DOUBLE_EQ(O[1], 8.0);
  EXPECT_NEAR(chi, 0.25 / 5.5 + 0.25 / 7.5, 1e-15);
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.3f", chi);
  EXPECT_STREQ(printed, "0.079");
}

TEST(ResultsPooling, MiddleCellJoinsTheSmallerNeighbour) {
  std::vector<double> O = {10, 3, 1, 5, 10};
  std::vector<double> E = {10, 3, 1, 4, 10};
  int df = 4;
  cspool(O, E, df, 5);
  // The cell of 1 joins the neighbour of 3 (the lower position), then the
  // merged 4 stays: every remaining expected count is at least 2.
  EXPECT_EQ(df, 3);
  EXPECT_DOUBLE_EQ(E[1], 4.0);
  EXPECT_DOUBLE_EQ(O[1], 4.0);
  EXPECT_DOUBLE_EQ(E[2], 4.0);
}

TEST(ResultsPooling, TwoCellsAndOneCellAreNeverPooled) {
  std::vector<double> O = {1, 9};
  std::vector<double> E = {0.1, 9.9};
  int df = 1;
  double chi = cspool(O, E, df, 2);
  EXPECT_EQ(df, 1);
  EXPECT_NEAR(chi, 0.81 / 0.1 + 0.81 / 9.9, 1e-12);
  std::vector<double> one_o = {5};
  std::vector<double> one_e = {5};
  int zero = 0;
  EXPECT_EQ(cspool(one_o, one_e, zero, 1), 0.0);
  EXPECT_EQ(zero, 0);
  int none = 0;
  EXPECT_EQ(cspool({}, {}, none, 0), 0.0);
}

TEST(ResultsPooling, PoolingStopsAtOneDegreeOfFreedom) {
  std::vector<double> O = {0, 0, 0, 10};
  std::vector<double> E = {0.2, 0.3, 0.4, 9.1};
  int df = 2;
  cspool(O, E, df, 4);
  EXPECT_EQ(df, 1);
}

TEST(ResultsPooling, AnExpectedCountOfExactlyTwoIsNotPooled) {
  // Pooling goes on while the smallest expected count is below 2: at 2 itself
  // every cell stays, and chi-square is (4-2)^2/2 + 1/6 + 1/7.
  std::vector<double> O = {4, 5, 6};
  std::vector<double> E = {2, 6, 7};
  int df = 2;
  const double chi = cspool(O, E, df, 3);
  EXPECT_EQ(df, 2);
  EXPECT_DOUBLE_EQ(chi, 2.0 + 1.0 / 6.0 + 1.0 / 7.0);
}

/// Runs the program on `commands` in-process and returns the listing.
std::string run_listing(const std::string& commands) {
  std::istringstream in(commands);
  std::ostringstream out;
  std::ostringstream err;
  std::vector<std::string> words;
  int status = pelmar({in, out, err}, &words, testing::fixed_clock());
  EXPECT_EQ(status, 0) << err.str();
  return out.str();
}

/// The first number after `label` in the listing.
double number_after(const std::string& listing, const std::string& label) {
  std::size_t at = listing.find(label);
  if (at == std::string::npos) return std::nan("");
  return std::stod(listing.substr(at + label.size()));
}

// A design of two primary periods of two occasions with every parameter
// fixed. The reference values come from tests/reference/tiny_design.py,
// which writes the cell probabilities out from the model's definition:
//   F = 273.9301010600, G = 20.348256, log-likelihood = -25.30716150,
//   AIC = 50.61432299; expected counts 36.429 24.286 24.286 / 21.000 9.000
//   35.000 / 15.185 6.508 25.308 / 39.000 61.000.
const std::string kTinyFixed = std::string(testing::kTwoByTwoModel) + R"(PROC ESTIMATE;
 CONSTRAINT;
  S(1)=0.5; S(2)=0.4; S(3)=0.6; S(4)=0.3; S(5)=0.5;
  S(6)=0.7; S(7)=0.8; S(8)=0.25; S(9)=1; S(10)=1;
PROC STOP;
)";

TEST(ResultsCorrelation, CovarianceOverTheRootOfTheVariancesAndZeroUnlessBothArePositive) {
  // Slots 1..3: variances 4, 9 and -1 (what a failed inversion may leave), cov(1, 2) = 3.
  const std::vector<double> vc = {4.0, 3.0, 9.0, 0.5, 0.5, -1.0};
  const std::vector<double> r = packed_correlation(vc, 3);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0], 1.0);
  EXPECT_EQ(r[1], 0.5);  // 3 / sqrt(4 * 9)
  EXPECT_EQ(r[2], 1.0);
  EXPECT_EQ(r[3], 0.0);  // slot 3 has no positive variance
  EXPECT_EQ(r[4], 0.0);
  EXPECT_EQ(r[5], 0.0);  // -1 * -1 is positive, but neither variance is
  EXPECT_TRUE(packed_correlation({1.0, 0.0}, 2).empty());
}

TEST(ResultsBounds, AnEstimateWithinAMillionthOfTheRangeReachesItsBound) {
  // Bounds 0.2..0.7: the tolerance is 5e-7 of either bound.
  ParameterEstimate e;
  e.slot = 1;
  e.lower_bound = 0.2;
  e.upper_bound = 0.7;
  e.estimate = 0.7 - 4e-7;
  EXPECT_TRUE(reaches_bound(e));
  e.estimate = 0.2 + 4e-7;
  EXPECT_TRUE(reaches_bound(e));
  e.estimate = 0.2 + 6e-7;
  EXPECT_FALSE(reaches_bound(e));
  // A parameter fixed at a bound has not reached it.
  e.slot = -1;
  e.estimate = 0.2;
  EXPECT_FALSE(reaches_bound(e));
}

TEST(ResultsNumbers, FixedTinyDesignMatchesIndependentValues) {
  std::string listing = run_listing(kTinyFixed);
  EXPECT_NEAR(number_after(listing, "Final function value"), 273.9301010600, 5e-5);
  EXPECT_NEAR(number_after(listing, "G Total (Degrees of freedom =  10)"), 20.348256, 5e-4);
  EXPECT_NEAR(number_after(listing, "Log-likelihood ="), -25.30716150, 5e-6);
  EXPECT_NEAR(number_after(listing, "Akaike Information Criterion ="), 50.61432299, 5e-6);
  const double expected[] = {36.429, 24.286, 24.286, 21.000, 9.000, 35.000, 15.185, 6.508, 25.308, 39.000, 61.000};
  const int cohort_of[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
  const int cell_of[] = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2};
  for (int i = 0; i < 11; ++i) {
    // "(3X,I4,4X,I3,1X,I9,1X,F11.3,...)": the expected count is columns 26-36.
    char head[32];
    std::snprintf(head, sizeof head, "\n   %4d    %3d ", cohort_of[i], cell_of[i]);
    std::size_t at = listing.find(head);
    ASSERT_NE(at, std::string::npos) << head;
    double e = std::stod(listing.substr(at + 1 + 25, 11));
    EXPECT_NEAR(e, expected[i], 5e-4) << "cohort " << cohort_of[i] << " cell " << cell_of[i];
  }
}

TEST(ResultsNumbers, TheReportEvaluatesAtTheEstimatesWhateverPHolds) {
  // The cells the derivatives and the goodness of fit start from are those
  // at the estimates, evaluated there: cells spoilt after the fit change
  // nothing of the report.
  const std::string text = std::string(testing::kTwoByTwoModel) +
                           "PROC ESTIMATE;\n CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1; S(3)=S(2); S(6)=S(5);\nPROC STOP;\n";
  std::vector<FitReport> reports;
  for (const bool spoil : {false, true}) {
    auto r = std::make_unique<testing::StringRun>(text);
    r->start();
    model(r->run);
    FitReport report = fit_model(r->run, EstimateMode::Full);
    ModelStore& m = r->run.model;
    if (spoil) {
      for (int c = 1; c <= m.NCOHRT; ++c)
        for (int k = 1; k <= m.NCLASS(c); ++k) m.P(k, c) = 0.25;
    }
    complete_report(r->run, report);
    reports.push_back(report);
  }
  const FitReport& a = reports[0];
  const FitReport& b = reports[1];
  ASSERT_EQ(a.parameters.size(), b.parameters.size());
  for (std::size_t i = 0; i < a.parameters.size(); ++i) {
    EXPECT_EQ(a.parameters[i].estimate, b.parameters[i].estimate) << i;
    EXPECT_EQ(a.parameters[i].se, b.parameters[i].se) << i;
  }
  EXPECT_EQ(a.G.statistic, b.G.statistic);
  EXPECT_EQ(a.lnL, b.lnL);
  ASSERT_EQ(a.cohorts.size(), b.cohorts.size());
  for (std::size_t c = 0; c < a.cohorts.size(); ++c) {
    for (std::size_t k = 0; k < a.cohorts[c].cells.size(); ++k) {
      EXPECT_EQ(a.cohorts[c].cells[k].expected, b.cohorts[c].cells[k].expected) << c << " " << k;
    }
  }
}

TEST(ResultsRendering, TheListingShowsTheReportsValuesNotTheStores) {
  // A report made by hand, with a store that holds no fit: every value the
  // listing shows must come from the report.
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  m.NPAR = 1;
  m.size_parameters();
  m.NSIG = 5;
  FitReport report;
  report.name = "planted";
  report.full_name = "planted";
  report.sequence = 3;
  report.npar = 1;
  report.G = ChiSquareTest{12.5, 7, 0.1, false};
  report.lnL = -41.25;
  report.aic = 84.5;
  report.cells_outside = 2;
  ParameterEstimate p;
  p.index = 1;
  p.slot = 1;
  p.estimate = 1.5;
  p.label = "p";
  report.parameters = {p};
  report.parameters_outside = {1};
  print_results(r.run.listing, m, report, ReportDetail::Quiet);
  const std::string listing = r.listing();
  EXPECT_NE(listing.find("@@    3    0    0   7   12.5000       0   0.00000     -41.2500      84.5000"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("Cell probabilities outside 0 to 1 in 2 cells; parameters outside 0 to 1: S(1)=1.5 (p)."),
            std::string::npos)
      << listing;
}

TEST(ResultsSummaryLine, FieldsThatFillTheirColumnsStayApart) {
  // The tiny design with every count a million times larger: the
  // log-likelihood fills its 13 columns ("-0.xxxxxxE+08") and needs a blank
  // before it; the line still splits into its nine fields.
  std::string text = kTinyFixed;
  for (const char* count : {"85", "30", "20", "35", "65", "10", "15", "40", "47", "12", "25", "100"}) {
    const std::string from = std::string(" ") + count + " :";
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
      text.replace(at, from.size(), std::string(" ") + count + "000000 :");
    }
    const std::string cohort = std::string("COHORT=") + count + ";";
    if (const std::size_t at = text.find(cohort); at != std::string::npos) {
      text.replace(at, cohort.size(), std::string("COHORT=") + count + "000000;");
    }
  }
  const std::string listing = run_listing(text);
  const std::size_t at = listing.find("\n@@");
  ASSERT_NE(at, std::string::npos);
  const std::string line = listing.substr(at + 3, listing.find('\n', at + 1) - at - 3);
  std::istringstream fields(line);
  std::vector<std::string> f;
  for (std::string w; fields >> w;) f.push_back(w);
  ASSERT_EQ(f.size(), 9U) << line;
  const double lnl = std::stod(f[7]);
  const double aic = std::stod(f[8]);
  EXPECT_LT(lnl, -1e6) << line;
  EXPECT_NEAR(aic, -2.0 * lnl, 1e-6 * aic);  // nothing estimated: AIC = -2 lnL
  EXPECT_NEAR(lnl, number_after(listing, "Log-likelihood ="), 1e-6 * -lnl);
}

TEST(ResultsNumbers, NobincofChangesAicByTwiceTheCoefficients) {
  std::string with = run_listing(kTinyFixed);
  std::string text(kTinyFixed);
  text.replace(text.find("PROC ESTIMATE;"), 14, "PROC ESTIMATE NOBINCOF;");
  std::string without = run_listing(text);
  const double aic_with = number_after(with, "Akaike Information Criterion =");
  const double aic_without = number_after(without, "Akaike Information Criterion =");
  // Twice the sum of ln(n!) - sum ln(x!) over the cohorts: 2 * 248.62293956.
  EXPECT_NEAR(aic_without - aic_with, 2 * 248.62293956, 2e-4);
  EXPECT_NEAR(number_after(without, "Log-likelihood ="), -273.9301010600, 5e-5);
}

}  // namespace
}  // namespace quorvale

namespace quorvale {
namespace {

/// The information matrix as written: every pair, every cohort, every cell.
std::vector<double> plain_information(const ModelStore& m, const std::vector<double>& dprob, int n) {
  std::size_t cells = 0;
  for (int j = 1; j <= m.NCOHRT; ++j) cells += static_cast<std::size_t>(m.NCLASS(j));
  std::vector<double> VC(static_cast<std::size_t>(n) * (n + 1) / 2, 0.0);
  for (int a = 1; a <= n; ++a) {
    for (int b = 1; b <= a; ++b) {
      double total = 0.0;
      std::size_t o = 0;
      for (int j = 1; j <= m.NCOHRT; ++j) {
        double cohort = 0.0;
        for (int k = 1; k <= m.NCLASS(j); ++k) {
          const double da = dprob[static_cast<std::size_t>(a - 1) * cells + o + (k - 1)];
          const double db = dprob[static_cast<std::size_t>(b - 1) * cells + o + (k - 1)];
          const double p = m.P(k, j);
          if (p > 0.0 && std::fabs(da) > 0.0 && std::fabs(db) > 0.0) cohort += da * db / p;
        }
        total += static_cast<double>(m.NREL(j)) * cohort;
        o += static_cast<std::size_t>(m.NCLASS(j));
      }
      VC[static_cast<std::size_t>(a) * (a - 1) / 2 + (b - 1)] = total;
    }
  }
  return VC;
}

TEST(ResultsInformation, SparseSumsEqualThePlainSumsBitForBit) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    auto store = std::make_unique<ModelStore>();
    ModelStore& m = *store;
    m.NCOHRT = 1 + static_cast<int>(rng() % 40);
    m.P = Mat1<double>(8, m.NCOHRT);
    std::size_t cells = 0;
    for (int j = 1; j <= m.NCOHRT; ++j) {
      m.NCLASS(j) = 1 + static_cast<int>(rng() % 8);
      m.NREL(j) = static_cast<int>(rng() % 500);
      for (int k = 1; k <= m.NCLASS(j); ++k) m.P(k, j) = (rng() % 10 == 0) ? 0.0 : 0.5 * (u(rng) + 1.0);
      cells += static_cast<std::size_t>(m.NCLASS(j));
    }
    const int n = 1 + static_cast<int>(rng() % 12);
    std::vector<double> dprob(static_cast<std::size_t>(n) * cells, 0.0);
    // Each slot moves a random band of cohorts, with some zero cells inside it.
    for (int a = 0; a < n; ++a) {
      std::size_t from = rng() % cells;
      std::size_t to = from + rng() % (cells - from + 1);
      for (std::size_t c = from; c < to; ++c) {
        if (rng() % 5 != 0) dprob[static_cast<std::size_t>(a) * cells + c] = u(rng) * 1e-3;
      }
    }
    std::vector<double> fast;
    information_matrix(m, dprob, n, fast);
    std::vector<double> plain = plain_information(m, dprob, n);
    ASSERT_EQ(fast.size(), plain.size());
    for (std::size_t i = 0; i < fast.size(); ++i) {
      ASSERT_EQ(std::memcmp(&fast[i], &plain[i], sizeof(double)), 0) << "trial " << trial << " element " << i;
    }
  }
}

}  // namespace
}  // namespace quorvale
