#include "estimate/inital.h"

#include <gtest/gtest.h>

#include <memory>

#include "estimate/consrt.h"
#include "estimate/setup.h"
#include "input/fields.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

/// A run positioned on an INITIAL statement with NPAR parameters in the default map.
std::unique_ptr<StringRun> initial_block(int npar, const std::string& statements, int nmod = 1) {
  auto r = std::make_unique<StringRun>("INITIAL;\n" + statements + "PROC STOP;\n");
  r->run.model.NPAR = npar;
  default_map(r->run.model);
  r->run.saved.NMOD = nmod;
  r->run.status.LINLFT = 1000;
  r->start();
  return r;
}

/// Saves `values` as the estimates of row `row`, named `name`.
void save_row(Run& run, int row, const std::string& name, std::vector<double> values) {
  run.saved.NAMSAV(row) = pad(name, 20);
  run.estimates.write(row, values);
}

TEST(InitialValues, StructureAfterTheBlockIsRefusedByName) {
  // STRUCTURE would be read as a parameter S(...) of the block.
  StringRun r("PROC ESTIMATE;\n INITIAL;\n S(1) = 0.4;\n STRUCTURE PHI(.) GAMMA(NONE);\nPROC STOP;\n");
  r.run.model.NPAR = 2;
  default_map(r.run.model);
  r.run.status.LINLFT = 1000;
  r.start();
  const std::string err = expect_fatal(r, [&] { read_setup_blocks(r.run, SetupUse::Estimate); });
  EXPECT_EQ(err,
            "\n STRUCTURE must come before the INITIAL statements, which set start values on its map."
            "\nSTOP PELMAR ERROR TERMINATION");
}

TEST(InitialValues, AllThenOneParameter) {
  auto r = initial_block(4, " ALL = 0.3;\n S(2) = 0.9;\n");
  inital(r->run);
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.PAR(1), 0.3);
  EXPECT_EQ(m.PAR(2), 0.9);
  EXPECT_EQ(m.PAR(3), 0.3);
  EXPECT_EQ(m.PAR(4), 0.3);
  EXPECT_EQ(r->run.token(2), "STOP");
}

TEST(InitialValues, OneParameterWritesItsSlot) {
  // After S(2) = S(1) and S(3) = 0.5 with NPAR = 4, parameter 2 shares slot 1.
  auto r = std::make_unique<StringRun>("CONSTRAINT;\n S(2)=S(1);\n S(3)=0.5;\nINITIAL;\n S(2)=0.8;\n ALL=0.1;\n S(4)=0.7;\nPROC STOP;\n");
  ModelStore& m = r->run.model;
  m.NPAR = 4;
  default_map(m);
  r->run.status.LINLFT = 1000;
  r->start();
  consrt(r->run);
  inital(r->run);
  // ALL leaves the fixed constant alone.
  EXPECT_EQ(m.PAR(-m.POINT(3)), 0.5);
  EXPECT_EQ(m.PAR(m.POINT(1)), 0.1);
  EXPECT_EQ(m.PAR(m.POINT(4)), 0.7);
}

TEST(InitialValues, FixedOrUnknownParameterIsFatal) {
  for (const char* text : {" S(5) = 0.2;\n", " S(-1) = 0.2;\n"}) {
    auto r = initial_block(4, text);
    EXPECT_EQ(expect_fatal(*r, [&] { inital(r->run); }),
              "\n Attempt to assign value to fixed parameter or bad index.\nSTOP PELMAR ERROR TERMINATION");
  }
  auto r = std::make_unique<StringRun>("CONSTRAINT;\n S(2)=0.5;\nINITIAL;\n S(2)=0.8;\n");
  r->run.model.NPAR = 3;
  default_map(r->run.model);
  r->start();
  consrt(r->run);
  EXPECT_EQ(expect_fatal(*r, [&] { inital(r->run); }),
            "\n Attempt to assign value to fixed parameter or bad index.\nSTOP PELMAR ERROR TERMINATION");
}

TEST(InitialValues, OtherStatementsAreFatal) {
  auto r = initial_block(2, " FIT;\n");
  EXPECT_EQ(expect_fatal(*r, [&] { inital(r->run); }),
            "\n Unrecognized command after PROC ESTIMATE.\nSTOP PELMAR ERROR TERMINATION");
  auto nested = initial_block(2, " INITIAL;\n");
  EXPECT_EQ(expect_fatal(*nested, [&] { inital(nested->run); }),
            "\n Unrecognized command after PROC ESTIMATE.\nSTOP PELMAR ERROR TERMINATION");
  // A covariate given here is told where it belongs.
  auto covariate = initial_block(2, " COVARIATE WINTER = 1 2;\n");
  EXPECT_EQ(expect_fatal(*covariate, [&] { inital(covariate->run); }),
            "\n COVARIATE outside PROC MODEL: covariates are given in PROC MODEL, one value per primary period "
            "(COVARIATE WINTER = 0.2 0.5 0.1).\nSTOP PELMAR ERROR TERMINATION");
}

TEST(InitialRetain, FirstModelHasNothingToRetain) {
  auto r = initial_block(3, " ALL = 0.2;\n RETAIN;\n", 1);
  inital(r->run);
  EXPECT_EQ(r->run.model.PAR(2), 0.5);
  EXPECT_NE(r->listing().find("\n      ERROR on RETAIN statement -- No previous models to get initial values from.\n"),
            std::string::npos);
}

TEST(InitialRetain, ByNameTheLaterOfTwoEqualNamesWins) {
  auto r = initial_block(2, " RETAIN = NULL;\n", 4);
  save_row(r->run, 1, "NULL", {0.1, 0.2});
  save_row(r->run, 2, "NULL", {0.3, 0.4});
  save_row(r->run, 3, "OTHER", {0.5, 0.6});
  inital(r->run);
  EXPECT_EQ(r->run.model.PAR(1), 0.3);
  EXPECT_EQ(r->run.model.PAR(2), 0.4);
  auto plain = initial_block(2, " RETAIN NULL;\n", 3);
  save_row(plain->run, 1, "NULL", {0.1, 0.2});
  save_row(plain->run, 2, "OTHER", {0.5, 0.6});
  inital(plain->run);
  EXPECT_EQ(plain->run.model.PAR(1), 0.1);
}

TEST(InitialRetain, UnknownNameTakesThePreviousModel) {
  auto r = initial_block(2, " RETAIN;\n", 3);
  save_row(r->run, 1, "A", {0.1, 0.2});
  save_row(r->run, 2, "B", {0.3, 0.4});
  inital(r->run);
  EXPECT_EQ(r->run.model.PAR(1), 0.3);
  EXPECT_NE(r->listing().find("      ERROR ON RETAIN STATEMENT -- PREVIOUS MODEL NAMED WAS NOT FOUND.\n"
                              "      MODEL ESTIMATES FROM LAST MODEL WILL BE USED\n"),
            std::string::npos);
}

TEST(InitialRetain, TwoWordNamesNeverMatch) {
  auto r = initial_block(2, " RETAIN = TRAP;\n", 3);
  save_row(r->run, 1, "TRAP      DEPENDENCE", {0.1, 0.2});
  save_row(r->run, 2, "B", {0.3, 0.4});
  inital(r->run);
  EXPECT_EQ(r->run.model.PAR(1), 0.3);
}

TEST(InitialRetain, UnwrittenRecordIsFatal) {
  auto r = initial_block(2, " RETAIN;\n", 2);
  r->run.saved.NAMSAV(1) = pad("A", 20);
  EXPECT_EQ(expect_fatal(*r, [&] { inital(r->run); }),
            "\n Attempt to read direct access file failed.\nSTOP PELMAR ERROR TERMINATION");
}

TEST(InitialRetain, NotValidUnderSimulate) {
  auto r = initial_block(2, " ALL = 0.2;\n RETAIN;\n", 3);
  inital(r->run, SetupUse::Simulation);
  EXPECT_EQ(r->run.model.PAR(1), 0.2);
  EXPECT_NE(r->listing().find("\n     RETAIN statement not valid for PROC SIMULATE usage.\n"), std::string::npos);
}

TEST(InitialRetain, EqualParametersStartFromTheLowestMember) {
  auto r = std::make_unique<StringRun>("CONSTRAINT;\n S(3)=S(1);\n S(2)=0.5;\nINITIAL;\n RETAIN;\nPROC STOP;\n");
  ModelStore& m = r->run.model;
  m.NPAR = 4;
  default_map(m);
  r->run.saved.NMOD = 2;
  save_row(r->run, 1, "A", {0.11, 0.22, 0.33, 0.44});
  r->run.status.LINLFT = 1000;
  r->start();
  consrt(r->run);
  inital(r->run);
  EXPECT_EQ(m.PAR(m.POINT(1)), 0.11);
  EXPECT_EQ(m.PAR(m.POINT(4)), 0.44);
  EXPECT_EQ(m.PAR(-m.POINT(2)), 0.5);  // the constant is kept
}

TEST(InitialValues, WordsAfterACompleteStatementAreWarnedOf) {
  auto r = initial_block(4, " ALL = 0.3 S(2) = 0.9;\n S(3) = 0.4;\n");
  inital(r->run);
  EXPECT_EQ(r->run.model.PAR(2), 0.3);
  EXPECT_EQ(r->run.model.PAR(3), 0.4);
  EXPECT_EQ(r->err.str(), "(stdin):2: Words after a complete INITIAL statement ignored: S(2) = 0.9\n");
  EXPECT_NE(r->listing().find("WARNING  * *   Words after a complete INITIAL statement ignored: S(2) = 0.9"),
            std::string::npos);
}

}  // namespace
}  // namespace quorvale
