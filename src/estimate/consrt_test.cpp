#include "estimate/consrt.h"

#include <gtest/gtest.h>

#include <memory>

#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

/// A run positioned on a CONSTRAINT statement, with NPAR parameters in the default map.
std::unique_ptr<StringRun> block(int npar, const std::string& statements) {
  auto r = std::make_unique<StringRun>("CONSTRAINT;\n" + statements + "PROC STOP;\n");
  r->run.model.NPAR = npar;
  default_map(r->run.model);
  r->run.status.LINLFT = 1000;
  r->start();
  return r;
}

std::unique_ptr<StringRun> constrain(int npar, const std::string& statements) {
  auto r = block(npar, statements);
  consrt(r->run);
  return r;
}

/// POINT(1..NPAR) as "p1 p2 ...".
std::string points(const ModelStore& m) {
  std::string s;
  for (int i = 1; i <= m.NPAR; ++i) s += (i > 1 ? " " : "") + std::to_string(m.POINT(i));
  return s;
}

std::string error_of(int npar, const std::string& statements) {
  auto r = block(npar, statements);
  return expect_fatal(*r, [&] { consrt(r->run); });
}

constexpr const char* kErrorEnd = "\nSTOP PELMAR ERROR TERMINATION";

TEST(ConsrtEqual, EitherOrderPointsTheHigherAtTheLower) {
  for (const char* text : {" S(3) = S(1);\n", " S(1) = S(3);\n"}) {
    auto r = constrain(3, text);
    EXPECT_EQ(points(r->run.model), "1 2 1") << text;
    EXPECT_EQ(r->run.model.NEQUAL, 1);
    EXPECT_EQ(r->run.model.NEST, 2);
  }
}

TEST(ConsrtEqual, GapsAreClosedAndValuesMoveAlong) {
  auto r = block(3, " S(2) = S(1);\n");
  r->run.model.PAR(3) = 0.7;
  r->run.model.PARU(3) = 0.9;
  consrt(r->run);
  const ModelStore& m = r->run.model;
  EXPECT_EQ(points(m), "1 1 2");
  EXPECT_EQ(m.NEST, 2);
  EXPECT_EQ(m.PAR(2), 0.7);
  EXPECT_EQ(m.PARU(2), 0.9);
}

TEST(ConsrtFixed, ConstantMovesBehindTheFreeSlots) {
  auto r = constrain(4, " S(2) = 0.5;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NFIXED, 1);
  EXPECT_EQ(m.NEST, 3);
  EXPECT_EQ(points(m), "1 -4 3 2");
  EXPECT_EQ(m.PAR(4), 0.5);
  EXPECT_EQ(m.PARL(4), 0.5);
  EXPECT_EQ(m.PARU(4), 0.5);
}

TEST(ConsrtFixed, EveryParameterFixedWarnsOnce) {
  auto r = constrain(2, " S(1) = 0.2;\n S(2) = 0.3;\n");
  std::string listing = r->listing();
  const std::string warning = " * *  WARNING  * *   All parameters are fixed.  Nothing to estimate.\n";
  ASSERT_NE(listing.find(warning), std::string::npos);
  EXPECT_EQ(listing.find(warning), listing.rfind(warning));
  EXPECT_EQ(r->run.model.NEST, 0);
  EXPECT_EQ(points(r->run.model), "-1 -2");
}

TEST(ConsrtFixed, EqualToAFixedParameterSharesItsConstant) {
  // S(3) takes the constant of S(1) even after the constant moves slot.
  auto r = constrain(4, " S(1) = 0.25;\n S(3) = S(1);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NFIXED, 1);
  EXPECT_EQ(m.NEQUAL, 1);
  EXPECT_EQ(m.NEST, 2);
  EXPECT_LT(m.POINT(1), 0);
  EXPECT_EQ(m.POINT(3), m.POINT(1));
  EXPECT_EQ(m.PAR(-m.POINT(1)), 0.25);
  for (int i : {2, 4}) EXPECT_TRUE(m.POINT(i) >= 1 && m.POINT(i) <= m.NEST);
}

TEST(ConsrtBounds, ConstantBoundsRaiseNoWarning) {
  auto r = constrain(6, " 0.2 < S(5) < 0.8;\n S(1) > 0.1;\n S(2) < 0.9;\n 0.7 > S(3) > 0.3;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.PARL(5), 0.2);
  EXPECT_EQ(m.PARU(5), 0.8);
  EXPECT_EQ(m.PARL(1), 0.1);
  EXPECT_EQ(m.PARU(2), 0.9);
  EXPECT_EQ(m.PARU(3), 0.7);
  EXPECT_EQ(m.PARL(3), 0.3);
  EXPECT_EQ(r->listing().find("WARNING"), std::string::npos);
}

TEST(ConsrtBounds, ParameterBoundsWarnAtTheEndOfTheBlock) {
  auto r = constrain(6, " S(5) < S(6);\n S(1) > S(2) > S(3);\n S(4) < S(6) < 0.9;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.POINTU(5), 6);
  EXPECT_EQ(m.POINTL(1), 2);
  EXPECT_EQ(m.POINTL(2), 3);
  EXPECT_EQ(m.POINTU(4), 6);
  EXPECT_EQ(m.PARU(6), 0.9);
  std::string listing = r->listing();
  EXPECT_NE(listing.find("WARNING  * *   Inequality constraints may cause optimization errors.\n"),
            std::string::npos);
  EXPECT_NE(listing.find("WARNING  * *   Verify output for correctness.\n"), std::string::npos);
}

TEST(ConsrtBounds, LeadingNumberWithParameterBound) {
  auto r = constrain(3, " 0.1 < S(1) < S(2);\n 0.9 > S(3) > S(2);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.PARL(1), 0.1);
  EXPECT_EQ(m.POINTU(1), 2);
  EXPECT_EQ(m.PARU(3), 0.9);
  EXPECT_EQ(m.POINTL(3), 2);
}

TEST(ConsrtBounds, BoundSlotsFollowTheRenumbering) {
  // S(4) is bounded by S(3); fixing S(2) moves S(4) into slot 2 and the
  // equality S(3) = S(1) leaves S(3) on slot 1.
  auto r = constrain(4, " S(2) = 0.5;\n S(3) = S(1);\n S(4) < S(3);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NEST, 2);
  EXPECT_EQ(m.POINTU(4), m.POINT(3));
}

TEST(ConsrtBounds, BoundByAFixedParameterBecomesItsConstant) {
  auto r = constrain(3, " S(2) = 0.6;\n S(1) < S(2);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.POINTU(1), 0);
  EXPECT_EQ(m.PARU(m.POINT(1)), 0.6);
}

TEST(ConsrtChains, ChainedEqualitiesEndOnTheLowestMember) {
  auto r = constrain(4, " S(3) = S(2);\n S(2) = S(1);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(points(m), "1 1 1 2");
  EXPECT_EQ(m.NEQUAL, 2);
  EXPECT_EQ(m.NEST, 2);
}

TEST(ConsrtChains, RepeatedStatementsDoNotMiscount) {
  auto r = constrain(3, " S(2) = S(1);\n S(2) = S(1);\n S(3) = 0.5;\n S(3) = 0.4;\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NEQUAL, 1);
  EXPECT_EQ(m.NFIXED, 1);
  EXPECT_EQ(m.NEST, 1);
  EXPECT_EQ(m.PAR(-m.POINT(3)), 0.4);
}

TEST(ConsrtBlocks, ASecondBlockAddsToTheFirst) {
  auto r = std::make_unique<StringRun>(
      "CONSTRAINT;\n S(2) = 0.5;\nINITIAL;\nCONSTRAINT;\n S(4) = S(3);\nPROC STOP;\n");
  ModelStore& m = r->run.model;
  m.NPAR = 5;
  default_map(m);
  r->start();
  consrt(r->run);
  EXPECT_EQ(r->run.token(1), "INITIAL");
  r->run.reader.getcmd();  // an empty INITIAL block
  consrt(r->run);
  EXPECT_EQ(m.NFIXED, 1);
  EXPECT_EQ(m.NEQUAL, 1);
  EXPECT_EQ(m.NEST, 3);
  EXPECT_EQ(m.POINT(4), m.POINT(3));
  EXPECT_EQ(m.PAR(-m.POINT(2)), 0.5);
  // The same map as one block with both statements.
  auto one = constrain(5, " S(2) = 0.5;\n S(4) = S(3);\n");
  EXPECT_EQ(points(m), points(one->run.model));
}

TEST(ConsrtGrammar, StatementWithoutOperatorChangesNothing) {
  auto r = constrain(3, " S(2) IS 3;\n");
  EXPECT_EQ(points(r->run.model), "1 2 3");
  EXPECT_EQ(r->run.model.NEST, 3);
}

TEST(ConsrtGrammar, EndsAtInitialOrProc) {
  auto r = constrain(2, " S(1) = 0.1;\nINITIAL;\n");
  EXPECT_EQ(r->run.token(1), "INITIAL");
}

TEST(ConsrtGrammar, Errors) {
  EXPECT_EQ(error_of(3, " FOO;\n"), "\n Unrecognized CONSTRAINT." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(1) < FOO;\n"), "\n Unrecognized CONSTRAINT." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " 0.5 = S(1);\n"), "\n Unrecognized CONSTRAINT." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " 0.5 < 0.6;\n"), "\n Unrecognized CONSTRAINT." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(1) < S(2) > S(3);\n"), "\n Last of constraint incorrect." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(1) > S(2) < S(3);\n"), "\n LAST OF CONSTRAINT INCORRECT" + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " 0.1 < S(2) > S(3);\n"),
            "\n LAST OF CONSTRAINT STATEMENT INCORRECT" + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(1) = ABC;\n"), "\n Incorrect value for number -- ABC       " + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(1) < S(2) < XYZ;\n"),
            "\n Incorrect value for number -- XYZ       " + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(4) = 0.5;\n"),
            "\n Parameter number in CONSTRAINT outside 1 to NPAR." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S(-1) = S(2);\n"),
            "\n Parameter number in CONSTRAINT outside 1 to NPAR." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " S() = 1;\n"), "\n Bad S(I) parameter specification." + std::string(kErrorEnd));
  EXPECT_EQ(error_of(3, " COVARIATE WINTER = 1 2;\n"),
            "\n COVARIATE outside PROC MODEL: covariates are given in PROC MODEL, one value per primary period "
            "(COVARIATE WINTER = 0.2 0.5 0.1)." +
                std::string(kErrorEnd));
}

TEST(ConsrtInvariants, EveryFreeSlotIsUsedAndEveryParameterValid) {
  // Random blocks of equalities, fixes and bounds always leave a valid map.
  unsigned state = 12345;
  auto next = [&](int n) {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) % static_cast<unsigned>(n)) + 1;
  };
  for (int trial = 0; trial < 300; ++trial) {
    const int npar = next(8);
    std::string text;
    const int statements = next(6) - 1;
    for (int s = 0; s < statements; ++s) {
      int a = next(npar), b = next(npar);
      switch (next(4)) {
        case 1: text += " S(" + std::to_string(a) + ") = S(" + std::to_string(b) + ");\n"; break;
        case 2: text += " S(" + std::to_string(a) + ") = 0." + std::to_string(next(9)) + ";\n"; break;
        case 3: text += " S(" + std::to_string(a) + ") < S(" + std::to_string(b) + ");\n"; break;
        default: text += " S(" + std::to_string(a) + ") > 0.0" + std::to_string(next(9)) + ";\n"; break;
      }
    }
    auto r = constrain(npar, text);
    const ModelStore& m = r->run.model;
    ASSERT_EQ(m.NEST + m.NEQUAL + m.NFIXED, npar) << text;
    std::vector<int> users(static_cast<std::size_t>(npar) + 1, 0);
    for (int i = 1; i <= npar; ++i) {
      int p = m.POINT(i);
      ASSERT_TRUE((p >= 1 && p <= m.NEST) || (p <= -1 && p >= -npar)) << text << " i=" << i;
      if (p > 0) ++users[static_cast<std::size_t>(p)];
      ASSERT_TRUE(m.POINTL(i) >= 0 && m.POINTL(i) <= m.NEST) << text;
      ASSERT_TRUE(m.POINTU(i) >= 0 && m.POINTU(i) <= m.NEST) << text;
    }
    for (int k = 1; k <= m.NEST; ++k) ASSERT_GT(users[static_cast<std::size_t>(k)], 0) << text;
  }
}

TEST(ConsrtLeftOver, WordsAfterACompleteStatementAreNamedOnTheListingAndStandardError) {
  // A missing ";" between two constraints: the second is not applied, and says so.
  auto r = constrain(10, " S(8)=0 S(9)=1;\n 0.2 < S(3) < 0.9 S(4) = 1;\n S(5) = S(6);\n");
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NFIXED, 1);
  EXPECT_EQ(r->err.str(),
            "(stdin):2: Words after a complete CONSTRAINT statement ignored: S(9)=1\n"
            "(stdin):3: Words after a complete CONSTRAINT statement ignored: S(4) = 1\n");
  const std::string listing = r->listing();
  const std::size_t echo = listing.find("S(8)=0 S(9)=1;");
  const std::size_t warning =
      listing.find(" * *  WARNING  * *   Words after a complete CONSTRAINT statement ignored: S(9)=1\n");
  ASSERT_NE(echo, std::string::npos);
  ASSERT_NE(warning, std::string::npos);
  EXPECT_LT(echo, warning);  // the statement first, then what of it was ignored
  EXPECT_EQ(listing.find("S(8)=0 S(9)=1;", echo + 1), std::string::npos);  // echoed once
  EXPECT_EQ(listing.find("S(5) = S(6)", 0) != std::string::npos, true);
  EXPECT_EQ(listing.find("ignored: S(6)"), std::string::npos);  // a complete statement warns of nothing
}

TEST(ConsrtLeftOver, BoundsGivenInReverseAreWarnedOf) {
  auto r = constrain(20, " 0.95 < S(17) < 0.2;\n 0.9 > S(3) > 0.1;\n 0.1 < S(4) < 0.9;\n 0.1 > S(5) > 0.9;\n");
  EXPECT_EQ(r->err.str(),
            "(stdin):2: Bounds of S(17) given in reverse: 0.95 above 0.2.\n"
            "(stdin):5: Bounds of S(5) given in reverse: 0.9 above 0.1.\n");
  EXPECT_NE(r->listing().find(" * *  WARNING  * *   Bounds of S(17) given in reverse: 0.95 above 0.2."), std::string::npos);
}

TEST(ConsrtLinear, AFitWithLinearFormsRefusesABoundAtTheStatementThatGivesIt) {
  // With linear forms each probability stays within 0 and 1 through the
  // logit: any other bound, by a constant or by a parameter, is refused.
  auto linear_error = [](const std::string& statements) {
    auto r = block(3, statements);
    r->run.model.linear = LinearFit{};
    return expect_fatal(*r, [&] { consrt(r->run); });
  };
  const std::string rest = ") has bounds other than 0 and 1: a model with linear forms keeps each probability within 0 "
                           "and 1 through the logit, and takes no bound from CONSTRAINT.";
  EXPECT_EQ(linear_error(" S(1) < 0.9;\n"), "\n S(1" + rest + kErrorEnd);
  EXPECT_EQ(linear_error(" S(1) = 0.3;\n S(2) > S(3);\n"), "\n S(2" + rest + kErrorEnd);
  EXPECT_EQ(linear_error(" 0.1 < S(3) < 1;\n"), "\n S(3" + rest + kErrorEnd);
  // Bounds 0 and 1, a constant and an equality are no bounds.
  auto r = block(3, " 0 < S(1) < 1;\n S(2) = 0.4;\n S(3) = S(1);\n");
  r->run.model.linear = LinearFit{};
  consrt(r->run);
  EXPECT_EQ(r->run.model.NEST, 1);
  // Without linear forms the bound stands.
  EXPECT_EQ(constrain(3, " S(1) < 0.9;\n")->run.model.PARU(1), 0.9);
}

}  // namespace
}  // namespace quorvale
