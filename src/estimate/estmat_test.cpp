#include "estimate/estmat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "driver/pelmar.h"
#include "model/model.h"
#include "testing/designs.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

using testing::kTwoByTwoModel;
const char* const kModel = kTwoByTwoModel;

/// Runs PROC MODEL and then one PROC ESTIMATE with the given statement and block.
std::unique_ptr<StringRun> fit(const std::string& estimate) {
  auto r = std::make_unique<StringRun>(std::string(kModel) + estimate + "PROC STOP;\n");
  r->start();
  model(r->run);
  estmat(r->run, EstimateMode::Full);
  return r;
}

std::string fit_error(const std::string& estimate) {
  auto r = std::make_unique<StringRun>(std::string(kModel) + estimate + "PROC STOP;\n");
  return expect_fatal(*r, [&] {
    r->start();
    model(r->run);
    estmat(r->run, EstimateMode::Full);
  });
}

const char* const kIdentifiable = " CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1; S(3)=S(2); S(6)=S(5);\n";

TEST(EstimateOptions, DefaultsAndTheSavedRow) {
  auto r = fit(std::string("PROC ESTIMATE;\n") + kIdentifiable);
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NSIG, 5);
  EXPECT_EQ(m.MAXFN, 1000);
  EXPECT_EQ(m.ISINE, 1);
  EXPECT_EQ(m.NOTRAN, 0);  // the TRANSFORM option as read; the fit leaves it
  EXPECT_EQ(m.IEROPT, 0);
  EXPECT_EQ(m.IERINV, 0);
  const SavedModels& t = r->run.saved;
  EXPECT_EQ(t.NMOD, 1);
  EXPECT_EQ(t.NAMSAV(1), "SUBMODEL 1          ");
  EXPECT_EQ(t.K(1), 5);
  EXPECT_EQ(t.NDF(1), (3 + 3 + 3 + 1) - 5);  // cells less one per cohort, less NEST
  EXPECT_EQ(t.DFC(1), t.NDF(1));
  EXPECT_GT(t.lnL(1), -1e10);
  EXPECT_EQ(r->err.str(), "           1 SUBMODEL 1          \n");
  // The estimates record holds S(1..NPAR) on the natural scale.
  std::vector<double> S(10);
  ASSERT_TRUE(r->run.estimates.read(1, S));
  EXPECT_EQ(S[2], S[1]);  // S(3) = S(2)
  EXPECT_EQ(S[7], 0.0);
  EXPECT_EQ(S[8], 1.0);
}

TEST(EstimateOptions, TheFitFindsTheMaximum) {
  // Without emigration the open cohort fixes phi * p*(2): 35 of 100 animals.
  auto r = fit(std::string("PROC ESTIMATE NSIG=7;\n") + kIdentifiable);
  const ModelStore& m = r->run.model;
  const double p1 = m.PAR(m.POINT(1));
  const double p2 = m.PAR(m.POINT(2));
  // Period 1 under p = c on occasion 2: the estimates solve the closed
  // cohort's likelihood equations for 30 / 20 / 35 animals:
  // P(caught, caught) / P(caught, missed) = p2 / (1 - p2) = 30 / 20.
  EXPECT_NEAR(p2, 0.6, 1e-5);
  // P(missed, caught) / P(caught, *) = (1 - p1) p2 / p1 = 35 / 50.
  EXPECT_NEAR((1 - p1) * p2 / p1, 0.7, 1e-5);
  const double p21 = m.PAR(m.POINT(4));
  const double p22 = m.PAR(m.POINT(5));
  const double pstar2 = 1 - (1 - p21) * (1 - p22);
  EXPECT_NEAR(m.PAR(m.POINT(7)) * pstar2, 0.35, 1e-5);
}

TEST(EstimateOptions, ValueTakingOptionAtTheEndIsFatal) {
  for (const char* option : {"NSIG", "MAXFN", "NAME", "TRANSFORM"}) {
    EXPECT_EQ(fit_error(std::string("PROC ESTIMATE ") + option + ";\n"),
              std::string("\n Option ") + option + " needs a value (" + option + " = value).\nSTOP PELMAR ERROR TERMINATION");
  }
}

TEST(EstimateOptions, NsigOutsideOneToFifteenIsRefused) {
  // NSIG=0 or less stopped the optimizer at its start and called that a converged fit.
  for (const char* value : {"0", "-1", "16"}) {
    EXPECT_EQ(fit_error(std::string("PROC ESTIMATE NSIG=") + value + ";\n" + kIdentifiable),
              "\n NSIG must be from 1 to 15.\nSTOP PELMAR ERROR TERMINATION")
        << value;
  }
  EXPECT_EQ(fit(std::string("PROC ESTIMATE NSIG=15 MAXFN=50;\n") + kIdentifiable)->run.model.NSIG, 15);
  EXPECT_EQ(fit(std::string("PROC ESTIMATE NSIG=1;\n") + kIdentifiable)->run.model.NSIG, 1);
}

TEST(EstimateOptions, NameSecondWordAndKeywordValues) {
  auto r = fit(std::string("PROC ESTIMATE NAME=NOVAR NOBINCOF;\n") + kIdentifiable);
  EXPECT_EQ(r->run.saved.NAMSAV(1), "NOVAR               ");
  EXPECT_EQ(r->run.model.NOVAR, 1);
  EXPECT_EQ(r->run.model.NOBIN, 1);
  auto two = fit(std::string("PROC ESTIMATE NAME=TRAP DEPENDENCE NSIG=4;\n") + kIdentifiable);
  EXPECT_EQ(two->run.saved.NAMSAV(1), "TRAP      DEPENDENCE");
  EXPECT_EQ(two->run.model.NSIG, 4);
}

TEST(EstimateStart, BoundsWithoutRoomStillGiveAFiniteStart) {
  // Equal bounds, and a start outside the bounds after the reset.
  auto r = fit(std::string("PROC ESTIMATE;\n") + kIdentifiable +
               "  0.4 < S(1) < 0.4;\n INITIAL;\n  S(1)=0.4; S(2)=1.5;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.IEROPT, 0);
  EXPECT_NEAR(m.PAR(m.POINT(1)), 0.4, 1e-12);
  for (int I = 1; I <= m.NPAR; ++I) EXPECT_TRUE(std::isfinite(m.PAR(std::abs(m.POINT(I))))) << I;
  std::string listing = r->listing();
  EXPECT_NE(listing.find("Boundary error -- value reset to 0 < S(I) < 1."), std::string::npos);
}

TEST(EstimateStart, StartsOnABoundAreMovedInside) {
  auto r = std::make_unique<StringRun>(std::string(kModel) + "PROC ESTIMATE DEBUG;\n" + kIdentifiable +
                                       " INITIAL;\n  S(1)=0; S(2)=1;\nPROC STOP;\n");
  r->start();
  model(r->run);
  r->run.status.IDEBUG = 1;
  estmat(r->run, EstimateMode::SetupOnly);
  const double nudge = static_cast<double>(0.01F);
  EXPECT_DOUBLE_EQ(r->run.model.PAR(1), std::asin(2.0 * (nudge - 0.5)));
  EXPECT_DOUBLE_EQ(r->run.model.PAR(2), std::asin(2.0 * ((1.0 - nudge) - 0.5)));
}

TEST(EstimateStatements, UnknownStatementIsFatal) {
  EXPECT_EQ(fit_error("PROC ESTIMATE;\n FIT;\n"),
            "           1 SUBMODEL 1          \n\n Unrecognized command after PROC ESTIMATE.\nSTOP PELMAR ERROR TERMINATION");
}

}  // namespace
}  // namespace quorvale
