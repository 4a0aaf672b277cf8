#include "model/model.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "input/fields.h"
#include "model/likelihood.h"
#include "testing/designs.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

constexpr const char* kErrorEnd = "\nSTOP PELMAR ERROR TERMINATION";

/// Runs PROC MODEL on `commands` (which must start with the PROC MODEL statement).
std::unique_ptr<StringRun> run_model(const std::string& commands) {
  auto r = std::make_unique<StringRun>(commands);
  r->start();
  model(r->run);
  return r;
}

/// The fatal message (and STOP line) PROC MODEL ends with on `commands`.
std::string model_error(const std::string& commands) {
  StringRun r(commands);
  return expect_fatal(r, [&] {
    r.start();
    model(r.run);
  });
}

TEST(ModelOptions, NparAndFlags) {
  auto r = run_model("PROC MODEL NPAR=4 ADDCELL NORMALIZE RECOVERIES GROUPS=2;\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NPAR, 4);
  EXPECT_EQ(m.ADDCEL, 1);
  EXPECT_EQ(m.NORMAL, 1);
  EXPECT_EQ(m.IRECOV, 1);
  EXPECT_EQ(m.NGROUP, 2);
  EXPECT_EQ(m.NCOHRT, 0);
  EXPECT_EQ(r->run.token(2), "STOP");  // the next PROC statement is left current
}

TEST(ModelOptions, NparAboveTheLimitIsFatal) {
  EXPECT_EQ(model_error("PROC MODEL NPAR=421;\n"),
            "\n NPAR exceeds MAXPAR.  Recompile with MAXPAR = NPAR in PARAMETER statement." +
                std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=-1;\n"), "\n NPAR must not be negative." + std::string(kErrorEnd));
}

TEST(ModelOptions, PrimaryTakesTheThirdTokenAfterIt) {
  auto r = run_model("PROC MODEL PRIMARY PERIODS=3 SECONDARY=5 5 5 INTERVALS=1 2;\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NPRIM, 3);
  EXPECT_EQ(m.NSEC(1), 5);
  EXPECT_EQ(m.NSEC(2), 5);
  EXPECT_EQ(m.NSEC(3), 5);
  EXPECT_EQ(m.TINT(1), 1.0);
  EXPECT_EQ(m.TINT(2), 2.0);
  EXPECT_EQ(m.TINT(3), 1.0);
  // PRIMARY=5 at the end of the statement reads the blank token after 5.
  EXPECT_EQ(run_model("PROC MODEL PRIMARY=5;\nPROC STOP;\n")->run.model.NPRIM, 0);
  EXPECT_EQ(model_error("PROC MODEL PRIMARY=5 SECONDARY=2 2;\n"),
            "\n Value of integer incorrect -- SECONDARY " + std::string(kErrorEnd));
}

TEST(ModelOptions, ListsAreBoundedByThePrimaryCount) {
  auto r = run_model("PROC MODEL PRIMARY N = 2 SECONDARY = 4 x 6 7 INTERVALS=3 4 5;\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NSEC(1), 4);
  EXPECT_EQ(m.NSEC(2), 0);  // the word x is skipped but still counts
  EXPECT_EQ(m.TINT(1), 3.0);
  EXPECT_EQ(m.TINT(2), 1.0);  // only NPRIM - 1 intervals are kept
  EXPECT_EQ(model_error("PROC MODEL PRIMARY N = 3 INTERVALS=0.5;\n"),
            "\n Value of integer incorrect -- 0.5       " + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL PRIMARY N = 121;\n"),
            "\n Number of primary occasions exceeds MAXPRM.   Recompile with MAXPRM = # primary occasions." +
                std::string(kErrorEnd));
}

TEST(ModelDesign, DescriptionIsPrintedAtTheNextProc) {
  auto r = run_model("PROC MODEL PRIMARY N = 3 SECONDARY=2 3 4 INTERVALS=1 2;\nPROC STOP;\n");
  std::string listing = r->listing();
  EXPECT_NE(listing.find("\nINTERVALS: 1.0 2.0\n\nSECONDARY OCCASIONS:   2   3   4\n"), std::string::npos)
      << listing;
  auto none = run_model("PROC MODEL;\nPROC STOP;\n");
  EXPECT_NE(none->listing().find("\nINTERVALS:\n\nSECONDARY OCCASIONS:\n"), std::string::npos);
}

TEST(ModelDesign, CovariatesAreListedByName) {
  // Two covariates, so that the heading of each is its own and not what
  // happens to be left in memory by the one before.
  auto r = run_model(
      "PROC MODEL PRIMARY N = 3 SECONDARY=2 2 2;\nCOVARIATE WINTER = 0.2 0.8 0.1;\n"
      "COVARIATE RAIN = 1 2 3;\nPROC STOP;\n");
  const std::string listing = r->listing();
  EXPECT_NE(listing.find("\nCOVARIATE WINTER:  0.20000      0.80000      0.10000    \n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\nCOVARIATE RAIN:   1.0000       2.0000       3.0000    \n"), std::string::npos) << listing;
}

TEST(ModelDesign, LaidOutOnceAndKeptForTheLikelihood) {
  StringRun r(std::string(testing::kTwoByTwoModel) + "PROC STOP;\n");
  r.start();
  model(r.run);
  ModelStore& m = r.run.model;
  // Two periods of two occasions in NPAR = 10: p, p, c of period 1 are
  // S(1..3), those of period 2 S(4..6), then phi, gamma'' and theta.
  ASSERT_EQ(m.design.status, EstStatus::Ok);
  const RobustLayout& L = m.design.layout;
  EXPECT_EQ(L.periods(), 2);
  EXPECT_EQ(L.cohorts(), 4);
  EXPECT_EQ(L.p(2, 1), 4);
  EXPECT_EQ(L.c(2, 2), 6);
  EXPECT_EQ(L.phi(1), 7);
  EXPECT_EQ(L.gamma2(2), 8);
  EXPECT_EQ(L.theta(2), 10);
  // The likelihood evaluates in the design kept with the model, not in one
  // read again from the cohorts: a kept design marked bad ends the run
  // although the cohorts fit.
  m.design.status = EstStatus::CohortCount;
  const std::string err = expect_fatal(r, [&] { est(m, r.run.listing, {}, ParameterScale::Working); });
  EXPECT_NE(err.find("NCOHRT = 4 is not M(M+1)/2+M-1"), std::string::npos) << err;
  // New cohorts leave no design behind: the next evaluation reads theirs.
  m.set_cohorts(std::vector<int>{4, 4, 4, 2});
  EXPECT_EQ(m.design.status, EstStatus::NotLaidOut);
}

TEST(ModelCells, CountsAndExpressions) {
  auto r = run_model(
      "PROC MODEL NPAR=2;\n COHORT=100;\n 25 : S(1)*(1-S(2));\n 30 = S(2);\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NCOHRT, 1);
  EXPECT_EQ(m.NREL(1), 100);
  EXPECT_EQ(m.NCLASS(1), 3);  // two cells and the remainder
  EXPECT_EQ(m.NOBS(1, 1), 25);
  EXPECT_EQ(m.NOBS(2, 1), 30);
  EXPECT_EQ(m.NOBS(3, 1), 45);
  EXPECT_EQ(m.EXPR.substr(0, 12), "S(2)      " "  ");
}

TEST(ModelCells, UnbalancedParenthesesAreFatal) {
  EXPECT_EQ(model_error("PROC MODEL;\n COHORT=10;\n 25 : S(1)*(1-S(2);\n"),
            "\n Imbalanced parentheses in probability expression." + std::string(kErrorEnd));
}

TEST(ModelCells, LongExpressionsAreRebuiltFromTenCharacterPieces) {
  std::string expr = "S(1)*S(2)*S(3)*S(4)*S(5)*(1-S(6))";
  auto r = run_model("PROC MODEL;\n COHORT=10;\n 1 : " + expr + ";\nPROC STOP;\n");
  EXPECT_EQ(r->run.model.EXPR.substr(0, expr.size()), expr);
}

TEST(ModelCells, ExpressionLongerThanTheBufferIsFatal) {
  std::string cell = " 1 :";
  for (int i = 0; i < 133; ++i) cell += (i % 12 == 11) ? " x\n" : " x";
  EXPECT_EQ(model_error("PROC MODEL;\n COHORT=10;\n" + cell + ";\n"),
            "\n Probability expression exceeds 1320 characters." + std::string(kErrorEnd));
}

TEST(ModelCells, CellBeforeAnyCohortIsFatal) {
  EXPECT_EQ(model_error("PROC MODEL;\n 5 : S(1);\n"),
            "\n Cell statement before the first COHORT statement." + std::string(kErrorEnd));
}

TEST(ModelCells, NonIntegerCountQuotesItsFirstToken) {
  EXPECT_EQ(model_error("PROC MODEL;\n COHORT=10;\n ABC : S(1);\n"),
            "\n Value of integer incorrect -- ABC       " + std::string(kErrorEnd));
}

TEST(ModelCells, NegativeCountsAndSizesAreFatal) {
  EXPECT_EQ(model_error("PROC MODEL;\n COHORT=10;\n -5 : S(1);\n"),
            "\n Observed count of a cell is negative." + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL;\n COHORT=-10;\n"),
            "\n Size of cohort is negative." + std::string(kErrorEnd));
}

TEST(ModelCells, SixtyFiveCellsAreFatal) {
  std::string text = "PROC MODEL;\n COHORT=100;\n";
  for (int i = 0; i < 65; ++i) text += " 1 : S(1);\n";
  EXPECT_EQ(model_error(text),
            "\n Number of classes exceeds MXCLAS.   Recompile with MXCLAS = # classes." +
                std::string(kErrorEnd));
}

TEST(ModelLabels, LabelsAsTypedAndDefaults) {
  auto r = run_model(
      "PROC MODEL NPAR=100;\nLABELS;\n S(2)=Capture rate, year 2;\n s(3) = survival;\n"
      " COHORT=5;\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.LABEL(2), pad("Capture rate, year 2", LABLEN));
  EXPECT_EQ(m.LABEL(3), pad(" survival", LABLEN));
  EXPECT_EQ(m.LABEL(1), pad("PARAMETER  1", LABLEN));
  EXPECT_EQ(m.LABEL(99), pad("PARAMETER 99", LABLEN));
  EXPECT_EQ(m.LABEL(100), pad("PARAMETER **", LABLEN));
  EXPECT_EQ(m.NCOHRT, 1);  // LABELS ended at the COHORT statement, which was handled
}

TEST(ModelLabels, LabelWithoutEqualsStartsAtTheStatement) {
  auto r = run_model("PROC MODEL NPAR=3;\nLABEL;\n S(1) first;\nPROC STOP;\n");
  EXPECT_EQ(r->run.model.LABEL(1), pad(" S(1) first", LABLEN));
}

TEST(ModelLabels, LabelsAreCutToEightyCharacters) {
  std::string text(100, 'L');
  std::string input = "PROC MODEL NPAR=3;\nLABELS;\n S(1)=";
  input += text.substr(0, 60) + "\n " + text.substr(60) + ";\nPROC STOP;\n";
  auto r = run_model(input);
  EXPECT_EQ(r->run.model.LABEL(1), std::string(60, 'L') + " " + std::string(19, 'L'));
}

TEST(ModelLabels, BadLabelStatementsAreFatal) {
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nLABELS;\n X(1)=a;\n"),
            "\n Unidentified command in LABELS of PROC MODEL" + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nLABELS;\n S(421)=a;\n"),
            "\n Parameter number in LABELS outside 1 to MAXPAR." + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nLABELS;\n S(-2)=a;\n"),
            "\n Parameter number in LABELS outside 1 to MAXPAR." + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nLABELS;\n S(0)=a;\n"),
            "\n Bad S(I) parameter specification." + std::string(kErrorEnd));
}

TEST(ModelCovariates, ReadBeforeAndAfterTheLabelsWithOrWithoutBlanksAroundTheEquals) {
  auto r = run_model(
      "PROC MODEL NPAR=3;\nCOVARIATE winter=0.2 -1 3E1;\nLABELS;\n S(1)=a;\nCOVARIATE Rain2 =4 0 .5;\n"
      "PROC STOP;\n");
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.covariates.size(), 2u);
  EXPECT_EQ(m.covariates[0].name, "WINTER");
  EXPECT_EQ(m.covariates[0].values, (std::vector<double>{0.2, -1.0, 30.0}));
  EXPECT_EQ(m.covariates[1].name, "RAIN2");
  EXPECT_EQ(m.covariates[1].values, (std::vector<double>{4.0, 0.0, 0.5}));
  EXPECT_EQ(m.LABEL(1), pad("a", LABLEN));
  // The design's description at the PROC statement shows each covariate,
  // each value in G13.5: F9.5, F9.4 or F9.3 by its size, then four blanks.
  const std::string listing = r->listing();
  EXPECT_NE(listing.find("\nCOVARIATE WINTER:  0.20000      -1.0000       30.000    \n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("\nCOVARIATE RAIN2:   4.0000       0.0000      0.50000    \n"), std::string::npos) << listing;
}

TEST(ModelCovariates, ANameLongerThanATokenOrAWordForAValueIsNamed) {
  // Eleven characters take two tokens: the name is judged whole, not read
  // as a name without its =.
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nCOVARIATE WINTERTIME1=1 2 3;\n"),
            "\n Covariate name WINTERTIME1 is not a letter followed by letters or digits, 8 characters at most." +
                std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nCOVARIATE WINTER = 1 mild 3;\n"),
            "\n Covariate WINTER has a value that is not a number: mild." + std::string(kErrorEnd));
  EXPECT_EQ(model_error("PROC MODEL NPAR=3;\nCOVARIATE WINTER 1 2 3;\n"),
            "\n COVARIATE needs a name, = and one value per primary period (COVARIATE WINTER = 0.2 0.5 0.1)." +
                std::string(kErrorEnd));
}

TEST(ModelTrace, EveryStatementLeavesATraceLine) {
  auto r = run_model("PROC MODEL;\nLABELS;\n S(1)=a;\n COHORT=10;\n 4 : S(1);\nPROC STOP;\n");
  std::string listing = r->listing();
  // The LABELS block's own statements are not traced; the others are.
  for (const char* token : {" >>LABELS    \n", " >>COHORT    \n", " >>4         \n", " >>PROC      \n"}) {
    EXPECT_NE(listing.find(token), std::string::npos) << token;
  }
  EXPECT_EQ(listing.find(" >>S(1)"), std::string::npos);
}

TEST(ModelCompletion, RemainderCells) {
  auto r = run_model(
      "PROC MODEL;\n COHORT=100;\n 30:a;\n 20:b;\n COHORT=50;\n 30:a;\n 20:b;\n"
      " COHORT=10;\n COHORT=0;\nPROC STOP;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NCLASS(1), 3);
  EXPECT_EQ(m.NOBS(3, 1), 50);
  EXPECT_EQ(m.NCLASS(2), 2);  // already complete
  EXPECT_EQ(m.NCLASS(3), 1);  // no cells: one class holding the whole cohort
  EXPECT_EQ(m.NOBS(1, 3), 10);
  EXPECT_EQ(m.NCLASS(4), 0);  // nothing to complete
  EXPECT_EQ(m.MODDEF, 1);
}

TEST(ModelCompletion, AddcellGivesEveryCohortARemainder) {
  auto r = run_model("PROC MODEL ADDCELL;\n COHORT=50;\n 30:a;\n 20:b;\nPROC STOP;\n");
  EXPECT_EQ(r->run.model.NCLASS(1), 3);
  EXPECT_EQ(r->run.model.NOBS(3, 1), 0);
}

TEST(ModelCompletion, OversizedCohortsAreFatalWithOrWithoutAddcell) {
  for (const char* option : {"", " ADDCELL"}) {
    EXPECT_EQ(model_error("PROC MODEL" + std::string(option) + ";\n COHORT=40;\n 30:a;\n 20:b;\nPROC STOP;\n"),
              "\n Observed size of cohort too large." + std::string(kErrorEnd))
        << option;
  }
}

TEST(ModelCompletion, NoRoomForTheRemainderAbortsTheRun) {
  std::string text = "PROC MODEL;\n COHORT=100;\n";
  for (int i = 0; i < 64; ++i) text += " 1 : S(1);\n";
  StringRun r(text + "PROC STOP;\n");
  r.start();
  try {
    model(r.run);
    FAIL() << "no abort";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.stop_text, "PROGRAM ABORT -- DIMENSIONS EXCEEDED");
    EXPECT_EQ(end.exit_status, 1);
  }
  std::string listing = r.listing();
  EXPECT_EQ(listing.substr(listing.size() - 53), "\n NUMBER OF CLASSES WITHIN COHORT EXCEEDS DIMENSIONS\n");
  EXPECT_EQ(r.err.str(), "");
  // Sixty-four cells that account for the whole cohort need no remainder.
  std::string exact = "PROC MODEL;\n COHORT=64;\n";
  for (int i = 0; i < 64; ++i) exact += " 1 : S(1);\n";
  EXPECT_EQ(run_model(exact + "PROC STOP;\n")->run.model.NCLASS(1), 64);
}

TEST(ModelCompletion, ASecondModelWarnsButReplacesTheData) {
  StringRun r("PROC MODEL;\n COHORT=10;\nPROC MODEL;\n COHORT=20;\n COHORT=30;\nPROC STOP;\n");
  r.start();
  model(r.run);
  EXPECT_EQ(r.listing().find("WARNING"), std::string::npos);
  model(r.run);
  EXPECT_EQ(r.run.model.NCOHRT, 2);
  EXPECT_EQ(r.run.model.NOBS(1, 2), 30);
  std::string listing = r.listing();
  EXPECT_NE(listing.find(" * *  WARNING  * *   Multiple models are not allowed in this version of pelmar.\n"),
            std::string::npos);
  EXPECT_NE(listing.find(" * *  WARNING  * *   The model curently in core will still be used.\n"),
            std::string::npos);
}

TEST(ModelLimits, TheCohortLimitIsEnforced) {
  std::string text = "PROC MODEL;\n";
  for (int c = 0; c < MAXCHT; ++c) text += " COHORT=1;\n";
  EXPECT_EQ(run_model(text + "PROC STOP;\n")->run.model.NCOHRT, MAXCHT);
  EXPECT_EQ(model_error(text + " COHORT=1;\n"),
            "\n Number of cohorts exceeds MAXCHT.   Recompile with MAXCHT = # cohorts." +
                std::string(kErrorEnd));
}

}  // namespace
}  // namespace quorvale
