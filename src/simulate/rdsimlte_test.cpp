#include "simulate/rdsimlte.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "listing/listing.h"
#include "model/model.h"
#include "simulate/progress.h"
#include "simulate/simstats.h"
#include "simulate/totals.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

/// Two primary periods of two occasions: closed cohorts (1,1), (2,1), (2,2)
/// of four cells and one open cohort of two; NPAR = 10. The sizes of cohort
/// (2,1) and of the open cohort are the ones a replicate keeps.
std::string design(int open_size = 100, int last_size = 120) {
  return "PROC MODEL NPAR=10 ADDCELL;\n"
         " COHORT = 100; 30 : a; 20 : b; 25 : c;\n"
         " COHORT = " + std::to_string(last_size) + "; 30 : a; 20 : b; 25 : c;\n"
         " COHORT = 60; 20 : a; 15 : b; 10 : c;\n"
         " COHORT = " + std::to_string(open_size) + "; 60 : phi;\n";
}

/// The constraints that make the two-period model identifiable: c = p in
/// each period, no emigration, theta 1.
const std::string kIdentifiable = " CONSTRAINT; S(3)=S(2); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;\n";
/// The generating values of the identifiable model.
const std::string kValues = " INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.6; S(5)=0.3; S(7)=0.7;\n";

/// Submodel A: the identifiable model; submodel B: one capture probability in period 1.
const std::string kTwoSubmodels =
    "PROC ESTIMATE NAME=A;\n" + kIdentifiable +
    "PROC ESTIMATE NAME=B;\n CONSTRAINT; S(2)=S(1); S(3)=S(1); S(6)=S(5); S(8)=0; S(9)=1; S(10)=1;\n";

/// A run positioned on the PROC SIMULATE statement after PROC MODEL.
std::unique_ptr<StringRun> prepared(const std::string& model_text, const std::string& simulate) {
  auto r = std::make_unique<StringRun>(model_text + simulate + "PROC STOP;\n");
  r->start();
  model(r->run);
  return r;
}

/// Runs PROC SIMULATE as the driver does, with the simulation flag set.
SimulationTotals simulate(StringRun& r) {
  SimulationTotals totals = simlte(r.run, r.run.simfile);
  return totals;
}

/// The fatal message PROC SIMULATE ends with.
std::string simulate_error(const std::string& simulate_text) {
  auto r = prepared(design(), simulate_text);
  return expect_fatal(*r, [&] { simulate(*r); });
}

int occurrences(const std::string& text, const std::string& pattern) {
  int n = 0;
  for (std::size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1)) ++n;
  return n;
}

std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SimulateOptions, SeedIsMadeOdd) {
  for (const auto& [option, seed] : {std::pair<std::string, int>{"SEED=10", 11}, {"SEED=11", 11},
                                     {"SEED=0", 1}, {"", 7654321}}) {
    auto r = prepared(design(), "PROC SIMULATE NSIM=0 " + option + ";\n" + kTwoSubmodels);
    EXPECT_EQ(simulate(*r).seed, seed) << option;
  }
}

TEST(SimulateOptions, NegativeSeedIsRefused) {
  // SEED=-4 would start from -3 and every uniform number would be negative.
  const std::string err = simulate_error("PROC SIMULATE SEED = -4;\n" + kTwoSubmodels);
  EXPECT_NE(err.find("\n Value of SEED must be from 0 to 2147483645.\nSTOP PELMAR ERROR TERMINATION"),
            std::string::npos)
      << err;
  // 2^31 - 2 would become the modulus, whose multiples are all 0.
  EXPECT_NE(simulate_error("PROC SIMULATE SEED = 2147483646;\n" + kTwoSubmodels).find("Value of SEED"),
            std::string::npos);
}

TEST(SimulateOptions, ValuesMustBeIntegers) {
  EXPECT_NE(simulate_error("PROC SIMULATE NSIM = 2.5;\n" + kTwoSubmodels)
                .find("\n Value of integer incorrect -- 2.5       \nSTOP PELMAR ERROR TERMINATION"),
            std::string::npos);
  EXPECT_NE(simulate_error("PROC SIMULATE NSIM;\n" + kTwoSubmodels).find("Option NSIM needs a value (NSIM = value)."),
            std::string::npos);
}

TEST(SimulateSetup, SubmodelCountLimits) {
  EXPECT_NE(simulate_error("PROC SIMULATE NSIM=1;\n").find(
                "\n No submodels specified in PROC SIMULATE.\nSTOP PELMAR ERROR TERMINATION"),
            std::string::npos);
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "PROC ESTIMATE;\n";
  auto r = prepared(design(), "PROC SIMULATE NSIM=0;\n" + thirty);
  EXPECT_EQ(simulate(*r).NSUB, 30);
  EXPECT_EQ(r->run.token(2), "STOP");
  EXPECT_NE(simulate_error("PROC SIMULATE NSIM=0;\n" + thirty + "PROC ESTIMATE;\n")
                .find("\n Number of PROC ESTIMATE calls exceeds dimensions.\nSTOP PELMAR ERROR TERMINATION"),
            std::string::npos);
}

TEST(SimulateSetup, NoReplicatesForNsimZeroOrLess) {
  for (const char* nsim : {"0", "-3"}) {
    auto r = prepared(design(), std::string("PROC SIMULATE NSIM=") + nsim + ";\n" + kTwoSubmodels);
    const SimulationTotals t = simulate(*r);
    const std::string listing = r->listing();
    EXPECT_EQ(listing.find("@@"), std::string::npos);
    EXPECT_EQ(listing.find("S I M U L A T I O N"), std::string::npos);
    const std::string said = std::string("NSIM = ") + nsim + ": no replicates are drawn.";
    EXPECT_NE(listing.find(" * *  WARNING  * *   " + said), std::string::npos) << nsim;
    EXPECT_NE(r->err.str().find(": " + said + "\n"), std::string::npos) << r->err.str();
    EXPECT_EQ(t.NSUB, 2);
    EXPECT_EQ(r->run.saved.NMOD, 0);
  }
}

TEST(SimulateReplicates, OneReplicateFitsButPrintsNoSummary) {
  const std::string file = "qvsim1.out";  // the name as typed
  std::remove(file.c_str());
  auto r = prepared(design(), "PROC SIMULATE NSIM=1 PARFILE=qvsim1.out;\n" + kIdentifiable + kTwoSubmodels);
  SimulationTotals t = simulate(*r);
  r->run.simfile.close();
  const std::string listing = r->listing();
  EXPECT_EQ(occurrences(listing, "\n@@"), 2);
  EXPECT_EQ(listing.find("S I M U L A T I O N"), std::string::npos);
  EXPECT_EQ(listing.find("Likelihood Ratio Test Results"), std::string::npos);
  EXPECT_EQ(t.NCONV(1), 1);
  EXPECT_EQ(t.NCONV(2), 1);
  // The notice, with (NPAR + 1)/4 + 1 = 3 records for NPAR = 10.
  EXPECT_NE(listing.find("\n\n\n     Parameter estimates are written to the file qvsim1.out                    \n"
                         "     with the order being Replicate Number, Model Number, and AIC\n"
                         "     The parameters follow on the next record(s) as\n"
                         "     (S(I),SE(S(I)),I=1,NPAR).\n"
                         "     The format used is '(8F10.6)', which generates (NPAR*2+2)/8+1 = 3\n"
                         "     'CARDS' per model.\n"),
            std::string::npos);
  const std::string records = read_file(file);
  std::remove(file.c_str());
  EXPECT_EQ(occurrences(records, "\n"), 10);  // per fit: the head, two of estimates, two of errors
  EXPECT_EQ(records.substr(0, 20), "         1         1");
  EXPECT_NE(records.find("\n         1         2"), std::string::npos);
  // The estimates written are the accumulated ones.
  std::istringstream in(records);
  std::string line;
  std::getline(in, line);
  double s1 = 0.0;
  in >> s1;
  EXPECT_NEAR(s1, t.SUMS(1, 1), 5e-7);
  EXPECT_EQ(t.SUMS(8, 1), 0.0);
  EXPECT_EQ(t.SUMS(9, 1), 1.0);
  EXPECT_EQ(t.SUMSE(9, 1), 0.0);
}

TEST(SimulateReplicates, LeavesTheLastReplicateBehind) {
  auto r = prepared(design(150, 90), "PROC SIMULATE NSIM=2 SEED=99;\n" + kIdentifiable + kValues + kTwoSubmodels);
  simulate(*r);
  const ModelStore& m = r->run.model;
  EXPECT_EQ(r->run.saved.NMOD, 0);
  EXPECT_EQ(m.NREL(2), 90);
  EXPECT_EQ(m.NREL(4), 150);
  EXPECT_EQ(m.NREL(1), 150);
  EXPECT_EQ(m.NREL(3), m.NOBS(1, 4));
  for (int j = 1; j <= 4; ++j) {
    int n = 0;
    for (int k = 1; k <= m.NCLASS(j); ++k) n += m.NOBS(k, j);
    EXPECT_EQ(n, m.NREL(j)) << "cohort " << j;
  }
  EXPECT_EQ(r->run.token(2), "STOP");
}

TEST(SimulateReplicates, GeneratingValuesWithoutTransformAreTheValuesGiven) {
  // The same generating S values, given on the sine scale (the default) or
  // with TRANSFORM=NONE, generate the same replicate.
  auto sine = prepared(design(), "PROC SIMULATE NSIM=1 SEED=31;\n" + kIdentifiable + kValues + kTwoSubmodels);
  auto none = prepared(design(), "PROC SIMULATE NSIM=1 SEED=31 TRANSFORM=NONE;\n" + kIdentifiable + kValues +
                                     kTwoSubmodels);
  simulate(*sine);
  simulate(*none);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(sine->run.model.NREL(j), none->run.model.NREL(j)) << "cohort " << j;
    for (int k = 1; k <= sine->run.model.NCLASS(j); ++k) {
      EXPECT_EQ(sine->run.model.NOBS(k, j), none->run.model.NOBS(k, j)) << "cohort " << j << " cell " << k;
    }
  }
}

TEST(SimulateReplicates, DrawsDoNotDependOnTheFits) {
  // The same generating model and seed with other submodels, fitted or not
  // at all, leave the same data of the last replicate.
  auto a = prepared(design(), "PROC SIMULATE NSIM=3 SEED=31;\n" + kIdentifiable + kValues + kTwoSubmodels);
  auto b = prepared(design(), "PROC SIMULATE NSIM=3 SEED=31;\n" + kIdentifiable + kValues +
                                  "PROC ESTIMATE MAXFN=3;\n");
  const SimulationTotals ta = simulate(*a);
  const SimulationTotals tb = simulate(*b);
  EXPECT_EQ(ta.seed, tb.seed);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(a->run.model.NREL(j), b->run.model.NREL(j));
    for (int k = 1; k <= a->run.model.NCLASS(j); ++k) EXPECT_EQ(a->run.model.NOBS(k, j), b->run.model.NOBS(k, j));
  }
}

TEST(SimulateThreads, RefitsInThreadsLeaveTheSameStoreAndTotals) {
  // The store, work areas and saved-model table after the last replicate are
  // those of its last refit, as a later procedure would find them.
  const std::string text = "PROC SIMULATE NSIM=5 SEED=3;\n" + kIdentifiable + kValues + kTwoSubmodels;
  auto one = prepared(design(), text);
  auto three = prepared(design(), text);
  const SimulationTotals a = simlte(one->run, one->run.simfile, SimulationSettings{true, 1});
  const SimulationTotals b = simlte(three->run, three->run.simfile, SimulationSettings{true, 3});
  EXPECT_EQ(one->listing(), three->listing());
  EXPECT_EQ(a.seed, b.seed);
  ASSERT_EQ(a.fits.size(), b.fits.size());
  for (std::size_t i = 0; i < a.fits.size(); ++i) EXPECT_EQ(a.fits[i].estimates, b.fits[i].estimates);
  EXPECT_EQ(a.SUMS2(7, 2), b.SUMS2(7, 2));
  const ModelStore& m1 = one->run.model;
  const ModelStore& m3 = three->run.model;
  EXPECT_EQ(m1.NEST, m3.NEST);
  EXPECT_EQ(m1.NOTRAN, m3.NOTRAN);
  for (int i = 1; i <= m1.NPAR; ++i) {
    EXPECT_EQ(m1.PAR(i), m3.PAR(i));
    EXPECT_EQ(m1.POINT(i), m3.POINT(i));
    EXPECT_EQ(one->run.work.WORK(i), three->run.work.WORK(i));
  }
  for (int j = 1; j <= m1.NCOHRT; ++j) {
    EXPECT_EQ(m1.NREL(j), m3.NREL(j));
    for (int k = 1; k <= m1.NCLASS(j); ++k) {
      EXPECT_EQ(m1.NOBS(k, j), m3.NOBS(k, j));
      EXPECT_EQ(m1.P(k, j), m3.P(k, j));
    }
  }
  for (int n = 1; n <= 2; ++n) {
    EXPECT_EQ(one->run.saved.lnL(n), three->run.saved.lnL(n));
    EXPECT_EQ(one->run.saved.NDF(n), three->run.saved.NDF(n));
  }
}

TEST(SimulateReports, SingleSubmodelHasNoLikelihoodRatioTables) {
  auto r = prepared(design(), "PROC SIMULATE NSIM=2 DETAIL;\n" + kIdentifiable + kValues +
                                  "PROC ESTIMATE NAME=ONLY;\n" + kIdentifiable);
  simulate(*r);
  const std::string listing = r->listing();
  EXPECT_EQ(occurrences(listing, "Detailed Simulation Output for MODEL ONLY Replicate Number "), 2);
  EXPECT_EQ(occurrences(listing, "Likelihood Ratio Test Results for Replicate "), 2);
  EXPECT_EQ(listing.find("General     Reduced"), std::string::npos);
  EXPECT_EQ(listing.find("                          Likelihood Ratio Test Results\n"), std::string::npos);
  EXPECT_EQ(occurrences(listing, "S I M U L A T I O N   R E S U L T S"), 1);
  EXPECT_EQ(occurrences(listing, "Results for model"), 2);  // DETAIL prints every fit
}

TEST(SimulateReports, PairsAreTestedAndCounted) {
  auto r = prepared(design(400, 400), "PROC SIMULATE NSIM=4 DETAIL;\n" + kIdentifiable + kValues + kTwoSubmodels);
  SimulationTotals t = simulate(*r);
  const std::string listing = r->listing();
  // B has one parameter fewer, so one more degree of freedom: every replicate tests the pair.
  EXPECT_EQ(t.NLRT(1)[4], 4);
  EXPECT_LE(t.NLRT(1)[0], t.NLRT(1)[1]);
  EXPECT_EQ(occurrences(listing, "\n               A           B         "), 4);
  EXPECT_NE(listing.find("\n            A          VS. B         "), std::string::npos);
  EXPECT_EQ(t.NCONV(1), 4);
  for (int m = 0; m < 3; ++m) EXPECT_LE(t.NGOF(1)[static_cast<std::size_t>(m)], t.NGOF(1)[static_cast<std::size_t>(m + 1)]);
}

TEST(SimulateReports, ErrorTestWithEveryFitFailing) {
  // MAXFN=1 stops every fit with return code 131.
  auto r = prepared(design(), "PROC SIMULATE NSIM=2 ERROR TEST DETAIL;\n" + kIdentifiable + kValues +
                                  "PROC ESTIMATE NAME=GOOD;\n" + kIdentifiable +
                                  "PROC ESTIMATE NAME=BAD MAXFN=1;\n" + kIdentifiable);
  SimulationTotals t = simulate(*r);
  const std::string listing = r->listing();
  EXPECT_EQ(t.NCONV(1), 2);
  EXPECT_EQ(t.NCONV(2), 0);
  EXPECT_EQ(r->run.saved.NDF(2), -1);
  EXPECT_EQ(t.NLRT(1)[4], 0);  // the failed fit is never tested
  EXPECT_EQ(occurrences(listing, "        2     BAD         Failed to converge properly.\n"), 2);
  EXPECT_NE(listing.find("MODEL BAD" + std::string(17, ' ') + "   NSIM =   2   Converged =    0\n"), std::string::npos);
  EXPECT_EQ(occurrences(listing, "Too few successful simulations to summarize."), 1);
  EXPECT_EQ(occurrences(listing, "Results of Goodness of Fit Tests"), 1);
  EXPECT_NE(listing.find("            GOOD       VS. BAD             0      0      0      0      0\n"),
            std::string::npos);
}

TEST(SimulateReports, WithoutErrorTestFailedFitsCount) {
  auto r = prepared(design(), "PROC SIMULATE NSIM=2;\n" + kIdentifiable + kValues +
                                  "PROC ESTIMATE NAME=BAD MAXFN=1;\n" + kIdentifiable);
  SimulationTotals t = simulate(*r);
  EXPECT_EQ(t.NCONV(1), 2);
  EXPECT_NE(r->listing().find("Number of function evaluations exceed MAXFN limit before"), std::string::npos);
}

TEST(SimulateReports, DebugListsTheDataBeforeEveryFit) {
  auto r = prepared(design(), "PROC SIMULATE NSIM=1;\n" + kIdentifiable + kValues + kTwoSubmodels);
  r->run.status.IDEBUG = 1;
  simulate(*r);
  const std::string listing = r->listing();
  EXPECT_EQ(occurrences(listing, "Listing of data generated for replicate   1"), 2);
  const ModelStore& m = r->run.model;
  char line[80];
  std::snprintf(line, sizeof line, " COHORT  4%5d%5d\n", m.NOBS(1, 4), m.NOBS(2, 4));
  EXPECT_EQ(occurrences(listing, line), 2);
}

TEST(SimulateFile, ReopenedByTheNextSimulation) {
  const std::string file = "qvsim2.out";
  auto r = prepared(design(), "PROC SIMULATE NSIM=2 PARFILE=qvsim2.out;\n" + kIdentifiable + kValues +
                                  kTwoSubmodels + "PROC SIMULATE NSIM=1 PARFILE=qvsim2.out;\n" + kIdentifiable +
                                  kValues + "PROC ESTIMATE NAME=A;\n" + kIdentifiable);
  simulate(*r);
  EXPECT_TRUE(r->run.simfile.is_open());  // open until the end of the run
  ASSERT_EQ(r->run.token(2), "SIMULATE");
  simulate(*r);
  r->run.simfile.close();
  const std::string records = read_file(file);
  std::remove(file.c_str());
  EXPECT_EQ(occurrences(records, "\n"), 5);  // the second simulation's one fit only
}

TEST(SimulateFile, UnopenableFileIsFatal) {
  const std::string err = simulate_error("PROC SIMULATE NSIM=1 PARFILE=NODIR/X.OUT;\n" + kTwoSubmodels);
  EXPECT_NE(err.find("\n Error opening the binary file for parameter estimates.\nSTOP PELMAR ERROR TERMINATION"),
            std::string::npos);
}

TEST(SimulateStatistics, MeansAgreeWithTheGeneratingValues) {
  // Large cohorts and an identifiable model: over 50 replicates the mean
  // estimates lie within a few standard errors of the generating values,
  // and the mean standard error agrees with the spread of the estimates.
  auto r = prepared(design(20000, 20000), "PROC SIMULATE NSIM=50 SEED=2024;\n" + kIdentifiable + kValues +
                                              "PROC ESTIMATE;\n" + kIdentifiable);
  SimulationTotals t = simulate(*r);
  ASSERT_EQ(t.NCONV(1), 50);
  const double truth[] = {0.4, 0.5, 0.5, 0.6, 0.3, 0.3, 0.7};
  for (int I = 1; I <= 7; ++I) {
    const MeanRow& est = t.estimate_mean(I, 1);
    const MeanRow& se = t.error_mean(I, 1);
    EXPECT_NEAR(est.mean, truth[I - 1], 4.0 * est.se) << "S(" << I << ")";
    const double spread = est.se * std::sqrt(50.0);
    EXPECT_GT(se.mean, 0.6 * spread) << "S(" << I << ")";
    EXPECT_LT(se.mean, 1.6 * spread) << "S(" << I << ")";
  }
}

TEST(ProgressLine, RewrittenInPlaceAndErased) {
  Status status;
  Instr instr;
  std::ostringstream out, err;
  Listing listing(status, instr, out, err);
  listing.set_err_terminal(true);
  {
    ProgressLine line(listing);
    line.show(9, 10);
    line.show(10, 10);
  }
  const std::string a = " PROC SIMULATE: replicate 9 of 10";
  const std::string b = " PROC SIMULATE: replicate 10 of 10";
  EXPECT_EQ(err.str(), "\r" + a + "\r" + b + "\r" + std::string(b.size(), ' ') + "\r");
  listing.set_err_terminal(false);
  err.str("");
  {
    ProgressLine silent(listing);
    silent.show(1, 2);
  }
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(out.str(), "");
}

TEST(ProgressLine, NothingReachesTheRunsErrorStream) {
  auto r = prepared(design(), "PROC SIMULATE NSIM=2;\n" + kIdentifiable + kValues + "PROC ESTIMATE NAME=A;\n" +
                                  kIdentifiable);
  simulate(*r);
  // Only the estimation driver's line per set-up read.
  EXPECT_EQ(r->err.str(), "           1 SUBMODEL 1          \n           1 A                   \n");
}

TEST(ProgressLine, ShownOnTheRunsErrorStreamWhenATerminal) {
  auto r = prepared(design(), "PROC SIMULATE NSIM=2;\n" + kIdentifiable + kValues + "PROC ESTIMATE NAME=A;\n" +
                                  kIdentifiable);
  r->run.listing.set_err_terminal(true);
  simulate(*r);
  // After the set-up lines: the line for each replicate, erased at the end.
  const std::string last = " PROC SIMULATE: replicate 2 of 2";
  EXPECT_EQ(r->err.str(), "           1 SUBMODEL 1          \n           1 A                   \n"
                          "\r PROC SIMULATE: replicate 1 of 2\r" + last + "\r" +
                          std::string(last.size(), ' ') + "\r");
}

}  // namespace
}  // namespace quorvale

namespace quorvale {
namespace {

/// A fit of submodel 1 with one parameter: estimate s, SE e, its codes.
ReplicateFit planted(double s, double e, bool converged, bool included) {
  ReplicateFit f;
  f.submodel = 1;
  f.optimizer = converged ? OptimizerCode::Converged : OptimizerCode::RoundingDominant;
  f.included = included;
  f.estimates = {s};
  f.errors = {e};
  f.wald_covers = {true};
  f.logit_covers = {converged};
  return f;
}

TEST(SimulateCoverage, FiguresAreOverTheConvergedFitsOnly) {
  // Five converged fits (estimates 0.4, 0.5, 0.6, 0.5, 0.5; one SE of 9.0
  // far beyond the spread) and two with code 130 that the summaries keep
  // (no ERROR TEST) but whose values would move every figure.
  SimulationTotals t(1, 1);
  t.NSUB = 1;
  t.generating = {0.5};
  add_fit(t, planted(0.4, 0.10, true, true));
  add_fit(t, planted(0.9, 0.01, false, true));
  add_fit(t, planted(0.5, 0.20, true, true));
  add_fit(t, planted(0.6, 9.00, true, true));
  add_fit(t, planted(0.9, 0.01, false, true));
  add_fit(t, planted(0.5, 0.30, true, true));
  add_fit(t, planted(0.5, 0.40, true, true));
  EXPECT_EQ(t.NCONV(1), 7);  // the summaries' count keeps its rule
  EXPECT_EQ(t.converged(1), 5);
  EXPECT_EQ(t.NFAIL(1), 2);
  const CoverageRow row = coverage_of(t, 1, 1);
  EXPECT_NEAR(row.bias, 0.0, 1e-15);
  EXPECT_NEAR(row.mean, 0.5, 1e-15);
  EXPECT_NEAR(row.rmse, std::sqrt(0.02 / 5.0), 1e-15);
  EXPECT_NEAR(row.empirical_sd, std::sqrt(0.02 / 4.0), 1e-15);  // 0.0707
  EXPECT_NEAR(row.mean_se, 10.0 / 5.0, 1e-15);
  EXPECT_DOUBLE_EQ(row.median_se, 0.30);
  EXPECT_EQ(row.wide_se, 1);  // 9.0 > 0.707; 0.4 is not
  EXPECT_DOUBLE_EQ(row.wald, 1.0);
  EXPECT_DOUBLE_EQ(row.logit, 1.0);  // the failed fits' false flags are not counted
}

TEST(SimulateCoverage, MedianOfAnEvenCountAndOfANaN) {
  EXPECT_DOUBLE_EQ(median_of({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_DOUBLE_EQ(median_of({5.0}), 5.0);
  EXPECT_TRUE(std::isnan(median_of({1.0, std::nan(""), 2.0})));
  EXPECT_TRUE(std::isnan(median_of({})));
}

TEST(SimulateCoverage, AbundanceAgainstTheAnimalsCaughtAndThoseMissed) {
  // p* = 1/2 in period 1 of group 2 (p = 0.5 once, two blocks of one period
  // of one occasion). Two converged fits: n = 1, N-hat 2.5, SE 1, interval
  // 1.2..2.7; n = 3, N-hat 5, SE 2, interval 3..10; a failed fit is left out.
  const RobustLayout layout(std::vector<int>{1}, 2, 2);
  SimulationTotals t(2, 1);
  t.NSUB = 1;
  t.catch_probabilities = catch_probabilities(layout, {0.2, 0.5});
  ASSERT_EQ(t.catch_probabilities.size(), 2u);
  EXPECT_DOUBLE_EQ(t.catch_probabilities[1].p_star, 0.5);
  EXPECT_EQ(t.catch_probabilities[1].group, 2);
  for (const auto& [n, estimate, se, lower, upper, converged] :
       {std::tuple{1, 2.5, 1.0, 1.2, 2.7, true}, {3, 5.0, 2.0, 3.0, 10.0, true}, {9, 99.0, 1.0, 1.0, 2.0, false}}) {
    ReplicateFit f = planted(0.5, 0.1, converged, true);
    f.abundance = {ReplicateAbundance{2, 1, n, estimate, se, lower, upper}};
    add_fit(t, f);
  }
  summarise(t);
  ASSERT_EQ(t.abundance_rows.size(), 1u);
  ASSERT_EQ(t.abundance_rows[0].size(), 1u);
  const AbundanceCoverageRow& row = t.abundance_rows[0][0];
  EXPECT_EQ(row.group, 2);
  EXPECT_EQ(row.fits, 2);
  // N = n + F, F the failures before the n-th success at 1/2: mean n, variance 2n.
  EXPECT_DOUBLE_EQ(row.true_n, (2.0 + 6.0) / 2.0);
  EXPECT_DOUBLE_EQ(row.bias, 3.75 - 4.0);
  EXPECT_DOUBLE_EQ(row.rmse, std::sqrt(((0.25 + 2.0) + (1.0 + 6.0)) / 2.0));
  EXPECT_DOUBLE_EQ(row.mean_se, 1.5);
  // The first interval holds N = 2 only, F = 1: 1/4. The second holds F = 0..7:
  // Pr(at least 3 successes in 10 trials) = 1 - 56/1024.
  EXPECT_NEAR(chance_covered(ReplicateAbundance{2, 1, 1, 2.5, 1.0, 1.2, 2.7}, 0.5), 0.25, 1e-14);
  EXPECT_NEAR(row.coverage, (0.25 + 968.0 / 1024.0) / 2.0, 1e-14);
  // No interval, no cover; p* = 1 leaves N = n.
  EXPECT_EQ(chance_covered(ReplicateAbundance{1, 1, 4, std::nan(""), 1.0, std::nan(""), std::nan("")}, 0.5), 0.0);
  EXPECT_EQ(chance_covered(ReplicateAbundance{1, 1, 4, 4.0, 0.0, 4.0, 4.0}, 1.0), 1.0);
}

}  // namespace
}  // namespace quorvale
