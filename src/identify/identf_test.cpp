#include "identify/identf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/estmat.h"
#include "model/likelihood.h"
#include "model/model.h"
#include "testing/designs.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;
using testing::lines_starting;

// --- the pair scans on stand-in evaluations -------------------------------

/// The largest change of a few stand-in "cells" computed from x, against their values at x0.
template <typename Cells>
auto change_of(std::vector<double> x0, Cells cells) {
  return [x0 = std::move(x0), cells](std::span<const double> x) {
    const std::vector<double> before = cells(std::span<const double>(x0));
    const std::vector<double> after = cells(x);
    double change = 0.0;
    for (std::size_t k = 0; k < before.size(); ++k) change = std::max(change, std::fabs(before[k] - after[k]));
    return change;
  };
}

TEST(IdentifyScan, SumAndProductPairsAreFound) {
  // Coordinates 1 and 2 reach the cells only through their sum, 3 and 4
  // only through their product.
  const std::vector<double> x0{0.5, 0.3, 0.4, 0.6};
  auto cells = [](std::span<const double> x) { return std::vector<double>{x[0] + x[1], x[2] * x[3]}; };
  std::vector<double> x = x0;
  const PairScan add = scan_pairs(x, PairMove::Add, static_cast<double>(0.05F), change_of(x0, cells));
  EXPECT_EQ(add.i, 1);
  EXPECT_EQ(add.j, 2);
  EXPECT_LT(add.change, 1e-15);
  const PairScan mul = scan_pairs(x, PairMove::Multiply, static_cast<double>(1.05F), change_of(x0, cells));
  EXPECT_EQ(mul.i, 3);
  EXPECT_EQ(mul.j, 4);
  EXPECT_LT(mul.change, 1e-15);
}

TEST(IdentifyScan, FirstPairWinsATie) {
  const std::vector<double> x0{0.5, 0.3, 0.4, 0.6};
  auto sums = [](std::span<const double> x) { return std::vector<double>{x[2] + x[3], x[0] * x[1]}; };
  std::vector<double> x = x0;
  // Pairs (3, 4) and, with a zero constant, every pair change nothing.
  PairScan s = scan_pairs(x, PairMove::Add, 0.0, change_of(x0, sums));
  EXPECT_EQ(s.i, 1);
  EXPECT_EQ(s.j, 2);
  EXPECT_EQ(s.change, 0.0);
  s = scan_pairs(x, PairMove::Multiply, 1.0, change_of(x0, sums));
  EXPECT_EQ(s.i, 1);
  EXPECT_EQ(s.j, 2);
  // Equal changes everywhere: the first pair keeps it.
  s = scan_pairs(x, PairMove::Add, 0.25, [](std::span<const double>) { return 0.5; });
  EXPECT_EQ(s.i, 1);
  EXPECT_EQ(s.j, 2);
  EXPECT_EQ(s.change, 0.5);
}

TEST(IdentifyScan, MovesTwoCoordinatesAndRestoresThemExactly) {
  const double add = static_cast<double>(0.05F);
  const double mul = static_cast<double>(1.05F);
  // Values whose moves do not undo exactly in floating point.
  const std::vector<double> x0{1e-20, 0.3, 0.3};
  ASSERT_NE((x0[0] + add) - add, x0[0]);
  ASSERT_NE((x0[2] / mul) * mul, x0[2]);
  for (PairMove move : {PairMove::Add, PairMove::Multiply}) {
    const double c = move == PairMove::Add ? add : mul;
    std::vector<double> x = x0;
    std::vector<std::string> seen;
    scan_pairs(x, move, c, [&](std::span<const double> at) {
      std::string moved;
      for (std::size_t k = 0; k < at.size(); ++k) {
        if (at[k] != x0[k]) moved += std::to_string(k + 1);
      }
      seen.push_back(moved);
      return 0.5;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"12", "13", "23"}));
    EXPECT_EQ(x, x0);
  }
  // The directions: the first coordinate grows, the second shrinks.
  std::vector<double> two{0.5, 0.5};
  scan_pairs(two, PairMove::Add, add, [&](std::span<const double> at) {
    EXPECT_EQ(at[0], 0.5 + add);
    EXPECT_EQ(at[1], 0.5 - add);
    return 0.0;
  });
  scan_pairs(two, PairMove::Multiply, mul, [&](std::span<const double> at) {
    EXPECT_EQ(at[0], 0.5 * mul);
    EXPECT_EQ(at[1], 0.5 / mul);
    return 0.0;
  });
}

TEST(IdentifyScan, NothingBelowOneKeepsTheStart) {
  int calls = 0;
  auto count = [&](std::span<const double>) {
    ++calls;
    return 0.0;
  };
  for (std::vector<double> x : {std::vector<double>{}, std::vector<double>{0.5}}) {
    const PairScan s = scan_pairs(x, PairMove::Add, 0.05, count);
    EXPECT_EQ(s.change, 1.0);
    EXPECT_EQ(s.i, 0);
    EXPECT_EQ(s.j, 0);
  }
  EXPECT_EQ(calls, 0);
  std::vector<double> x{0.1, 0.2, 0.3};
  std::vector<double> changes{1.0, std::numeric_limits<double>::quiet_NaN(), 3.0};
  std::size_t next = 0;
  const PairScan s = scan_pairs(x, PairMove::Multiply, 2.0, [&](std::span<const double>) { return changes[next++]; });
  EXPECT_EQ(s.change, 1.0);
  EXPECT_EQ(s.i, 0);
  EXPECT_EQ(s.j, 0);
}

TEST(IdentifyScan, LargestChangeCoversTheCellsOfTheCohortsOnly) {
  auto store = std::make_unique<ModelStore>();
  ModelStore& m = *store;
  m.NCOHRT = 2;
  m.NCLASS(1) = 3;
  m.NCLASS(2) = 2;
  Mat1<double> P0(MXCLAS, MAXCHT, 0.25);
  Mat1<double> P = P0;
  P(2, 1) = 0.25 - 0.125;                                 // counted
  P(1, 2) = std::numeric_limits<double>::quiet_NaN();     // not a number: passed over
  P(2, 2) = 0.25 + 0.0625;                                // counted, smaller
  P(4, 1) = 5.0;                                          // beyond the cohort's cells
  P(1, 3) = 5.0;                                          // beyond the cohorts
  EXPECT_EQ(largest_change(m, P0, P), 0.125);
  P(2, 1) = 0.25;
  P(2, 2) = 0.25;
  EXPECT_EQ(largest_change(m, P0, P), 0.0);
  P(3, 1) = -std::numeric_limits<double>::infinity();
  EXPECT_EQ(largest_change(m, P0, P), std::numeric_limits<double>::infinity());
}

TEST(IdentifyScan, VerdictLine) {
  auto r = std::make_unique<StringRun>("");
  Listing& lst = r->run.listing;
  print_verdict(lst, PairScan{});
  print_verdict(lst, PairScan{0.0, 9, 10});
  print_verdict(lst, PairScan{0.03, 4, 5});
  // Coordinates above 99 widen their field instead of turning into asterisks.
  print_verdict(lst, PairScan{0.0, 99, 117});
  print_verdict(lst, PairScan{0.0, 109, 110});
  EXPECT_EQ(r->listing(),
            "\n The minimum maximum change observed was  1.0000000     for parameters  0 and  0.\n"
            "\n The minimum maximum change observed was  0.0000000     for parameters  9 and 10.\n"
            "\n The minimum maximum change observed was 0.30000000E-01 for parameters  4 and  5.\n"
            "\n The minimum maximum change observed was  0.0000000     for parameters 99 and 117.\n"
            "\n The minimum maximum change observed was  0.0000000     for parameters 109 and 110.\n");
}

// --- the procedure on a model of two periods of two occasions -------------

const char* const kModel = testing::kTwoByTwoModel;

/// Runs PROC MODEL, then the procedures `text` begins with (PROC IDENTIFIABLE, then optionally PROC ESTIMATE).
std::unique_ptr<StringRun> run_model(const std::string& model_text, const std::string& text, bool debug = false) {
  auto r = std::make_unique<StringRun>(model_text + text + "PROC STOP;\n");
  r->start();
  model(r->run);
  r->run.status.IDEBUG = debug ? 1 : 0;
  identf(r->run);
  return r;
}

std::unique_ptr<StringRun> identify(const std::string& text, bool debug = false) {
  return run_model(kModel, text, debug);
}

std::string identify_error(const std::string& text) {
  auto r = std::make_unique<StringRun>(std::string(kModel) + text + "PROC STOP;\n");
  return expect_fatal(*r, [&] {
    r->start();
    model(r->run);
    identf(r->run);
  });
}

/// The two verdict lines.
std::vector<std::string> verdicts(StringRun& r) {
  return lines_starting(r.listing(), " The minimum maximum change observed was ");
}

/// Change and pair read back from a verdict line.
PairScan parse(const std::string& line) {
  PairScan s;
  std::istringstream in(line.substr(41));
  std::string word;
  in >> s.change >> word >> word >> s.i >> word >> s.j;
  return s;
}

constexpr const char* kThetaFixed = " CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1;\n";

TEST(Identify, HeaderTableAndTheUnusedExponents) {
  auto r = identify("PROC IDENTIFIABLE;\n");
  const std::string listing = r->listing();
  EXPECT_NE(listing.find("\n      Number of parameters in model  = 10\n"
                         "\n      Number of parameters set equal =  0\n"
                         "\n      Number of parameters fixed     =  0\n"
                         "\n      Number of parameters estimated = 10\n"
                         "\n      Constant added or subtracted   = 0.0500\n"
                         "\n      Constant multiplied or divided = 1.0500\n"
                         "\n\n\n\n                               Lower    Upper\n"
                         "       I   Parameter   S(I)    Bound    Bound  Label\n"
                         "      ---  ---------  ------   -----    -----  --------------------\n"
                         "       1       1      0.500    0.000    1.000  PARAMETER  1"),
            std::string::npos);
  // Without the power variant the exponents S(9) and S(10) reach no cell.
  EXPECT_EQ(verdicts(*r),
            (std::vector<std::string>{
                " The minimum maximum change observed was  0.0000000     for parameters  9 and 10.",
                " The minimum maximum change observed was  0.0000000     for parameters  9 and 10."}));
  // One evaluation for the baseline and one per pair and scan, each with its trace line.
  EXPECT_EQ(lines_starting(listing, " nper,majper=").size(), 1u + 10u * 9u);
  const ModelStore& m = r->run.model;
  EXPECT_EQ(m.NOTRAN, 0);  // the values are read as given; no TRANSFORM option is set for it
  EXPECT_EQ(r->run.status.ECHOLV, EchoLevel::Proc);
  EXPECT_TRUE(r->run.token(1) == "PROC" && r->run.token(2) == "STOP");
}

TEST(Identify, SurvivalAndCaptureEnterOnlyThroughTheirProduct) {
  // With S(5) = 0 and S(8) = 0 the open cohort's first cell is S(7) * S(4),
  // and S(4) leaves period 2's own cells unchanged: only the product
  // S(4) * S(7) is identifiable. S(4) is slot 4 and S(7) slot 5.
  auto r = identify("PROC IDENTIFIABLE;\n CONSTRAINT;\n  S(5)=0; S(6)=0.5; S(8)=0; S(9)=1; S(10)=1;\n");
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.NEST, 5);
  ASSERT_EQ(m.POINT(4), 4);
  ASSERT_EQ(m.POINT(7), 5);
  const std::vector<std::string> lines = verdicts(*r);
  ASSERT_EQ(lines.size(), 2u);
  const PairScan add = parse(lines[0]);
  const PairScan mul = parse(lines[1]);
  EXPECT_EQ(mul.i, 4);
  EXPECT_EQ(mul.j, 5);
  EXPECT_LT(mul.change, 1e-12);
  // Moving them additively changes the product by d * (S(7) - S(4)) - d^2.
  EXPECT_GT(add.change, 1e-3);
}

TEST(Identify, EveryGroupsCoordinatesAndCohortsAreScanned) {
  // The two-period model twice, as groups F (S(1) to S(10)) and M (S(11)
  // to S(20)) with the same counts. F is held as in the test above, where
  // every pair changes the cells; M as in the product test, so that only
  // the product S(14) * S(17) of group M is identifiable.
  std::string model(kModel);
  model.replace(model.find("NPAR=10"), 7, "NPAR=20 GROUPS = F M");
  const std::string cohorts = model.substr(model.find(" COHORT"));
  auto r = run_model(model + cohorts,
                     "PROC IDENTIFIABLE;\n CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1;\n"
                     "  S(15)=0; S(16)=0.5; S(18)=0; S(19)=1; S(20)=1;\n");
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.NCOHRT, 8);
  ASSERT_EQ(m.NEST, 12);
  const int a = std::min(m.POINT(14), m.POINT(17));
  const int b = std::max(m.POINT(14), m.POINT(17));
  ASSERT_GT(a, 7);  // past group F's seven slots
  const std::vector<std::string> lines = verdicts(*r);
  ASSERT_EQ(lines.size(), 2u);
  const PairScan mul = parse(lines[1]);
  EXPECT_EQ(mul.i, a);
  EXPECT_EQ(mul.j, b);
  EXPECT_LT(mul.change, 1e-12);
  // Group M's moves show in group M's cohorts: no pair leaves every cell as it was.
  EXPECT_GT(parse(lines[0]).change, 1e-6);
}

TEST(Identify, OnlyTheEstimatedCoordinatesAreMoved) {
  // Slots 8 to 10 hold the constants of the fixed parameters; moving them
  // would change nothing and name a meaningless pair.
  auto r = identify(std::string("PROC IDENTIFIABLE;\n") + kThetaFixed);
  ASSERT_EQ(r->run.model.NEST, 7);
  for (const std::string& line : verdicts(*r)) {
    const PairScan s = parse(line);
    EXPECT_GE(s.i, 1) << line;
    EXPECT_LE(s.j, 7) << line;
    EXPECT_GT(s.change, 1e-6) << line;
  }
  EXPECT_EQ(lines_starting(r->listing(), " nper,majper=").size(), 1u + 7u * 6u);
}

TEST(Identify, ZeroMovesReportTheFirstPair) {
  auto r = identify("PROC IDENTIFIABLE ADD = 0 MULTIPLY = 1;\n");
  EXPECT_EQ(verdicts(*r),
            (std::vector<std::string>{
                " The minimum maximum change observed was  0.0000000     for parameters  1 and  2.",
                " The minimum maximum change observed was  0.0000000     for parameters  1 and  2."}));
  EXPECT_NE(r->listing().find("Constant added or subtracted   = 0.0000\n"), std::string::npos);
}

TEST(Identify, LargeMovesKeepOneAndNoPair) {
  // Only S(1) (slot 1) and S(7) (slot 2) are free; moving S(7) by 5 or
  // multiplying it by 10 changes the open cohort's cells by more than 1.
  const std::string fixed =
      " CONSTRAINT;\n  S(2)=0.5; S(3)=0.5; S(4)=0.5; S(5)=0.5;\n  S(6)=0.5; S(8)=0.5; S(9)=1; S(10)=1;\n";
  auto r = identify("PROC IDENTIFIABLE ADD=5 MULTIPLY=0.1;\n" + fixed);
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.NEST, 2);
  for (const std::string& line : verdicts(*r)) {
    EXPECT_EQ(line, " The minimum maximum change observed was  1.0000000     for parameters  0 and  0.");
  }
  // The one pair really changes a cell by at least 1 in both scans.
  auto baseline = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
  auto moved = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
  const std::vector<double> x{0.5, 0.5};
  ASSERT_EQ(est_core(m, x, ParameterScale::Natural, *baseline).status, EstStatus::Ok);
  est_core(m, std::vector<double>{5.5, -4.5}, ParameterScale::Natural, *moved);
  EXPECT_GE(largest_change(m, *baseline, *moved), 1.0);
  est_core(m, std::vector<double>{0.5 * 0.1, 0.5 / 0.1}, ParameterScale::Natural, *moved);
  EXPECT_GE(largest_change(m, *baseline, *moved), 1.0);
}

TEST(Identify, OneOrNoEstimatedCoordinateHasNoPair) {
  const std::string one =
      " CONSTRAINT;\n  S(2)=0.5; S(3)=0.5; S(4)=0.5; S(5)=0.5; S(6)=0.5;\n  S(7)=0.5; S(8)=0.5; S(9)=1; S(10)=1;\n";
  const std::string none = one + "  S(1)=0.5;\n";
  for (const std::string& block : {one, none}) {
    auto r = identify("PROC IDENTIFIABLE;\n" + block);
    EXPECT_EQ(verdicts(*r),
              (std::vector<std::string>{
                  " The minimum maximum change observed was  1.0000000     for parameters  0 and  0.",
                  " The minimum maximum change observed was  1.0000000     for parameters  0 and  0."}));
    EXPECT_EQ(lines_starting(r->listing(), " nper,majper=").size(), 1u);
  }
}

TEST(Identify, BoundaryWarningResetsTheBounds) {
  // S(1) starts below its lower bound and S(4) above the parameter bounding
  // it; the fixed S(8) sits on its own bounds.
  auto r = identify(
      "PROC IDENTIFIABLE;\n CONSTRAINT;\n  0.6 < S(1);\n  S(4) < S(2);\n  S(8) = 0;\n"
      " INITIAL;\n  S(1) = 0.3;\n  S(4) = 0.7;\n");
  const ModelStore& m = r->run.model;
  const std::string listing = r->listing();
  const std::string warning = "\n\n * *  WARNING  * *   BOUNDARY ERROR -- VALUE RESET TO 0 < S(I) < 1.\n";
  const std::string blanks(68, ' ');
  EXPECT_NE(listing.find("       1       1      0.300    0.600    1.000  PARAMETER  1" + blanks + warning +
                         "       2       2      0.500    0.000    1.000  PARAMETER  2"),
            std::string::npos);
  EXPECT_NE(listing.find("       4       4      0.700    0.000    S(02)  PARAMETER  4" + blanks + warning +
                         "       5       5      0.500    0.000    1.000  PARAMETER  5"),
            std::string::npos);
  EXPECT_NE(listing.find("       8     -10      0.000    0.000    0.000  PARAMETER  8" + blanks + "\n"),
            std::string::npos);
  EXPECT_EQ(lines_starting(listing, " * *  WARNING  * *   BOUNDARY ERROR").size(), 2u);
  EXPECT_EQ(m.PARL(1), 0.0);
  EXPECT_EQ(m.POINTU(4), 0);
  // The values themselves stay.
  EXPECT_EQ(m.PAR(1), 0.3);
  EXPECT_EQ(m.PAR(4), 0.7);
}

TEST(Identify, WideNumbersKeepTheirDigits) {
  // NPAR = 120: the open-part parameters are S(117) to S(120); S(7) to
  // S(116) and the exponents S(119), S(120) reach no cell.
  std::string big(kModel);
  big.replace(big.find("NPAR=10"), 7, "NPAR=120");
  auto r = run_model(big, "PROC IDENTIFIABLE;\n CONSTRAINT;\n  S(5) = 0.5;\n  S(1) < S(117);\n");
  const std::string listing = r->listing();
  EXPECT_NE(listing.find("\n      Number of parameters in model  = 120\n"), std::string::npos);
  EXPECT_NE(listing.find("\n      Number of parameters estimated = 119\n"), std::string::npos);
  EXPECT_NE(listing.find("\n       1       1      0.500    0.000   S(117)  PARAMETER  1 "), std::string::npos);
  EXPECT_NE(listing.find("\n       5     -120      0.500    0.500    0.500  PARAMETER  5 "), std::string::npos);
  // S(120) moved into the slot the fixed S(5) left: it reaches no cell either.
  EXPECT_EQ(verdicts(*r)[0], " The minimum maximum change observed was  0.0000000     for parameters  5 and  7.");
}

TEST(Identify, DebugDumpOnlyWhenAsked) {
  const std::string block = " CONSTRAINT;\n  S(3) = S(2);\n";
  auto plain = identify("PROC IDENTIFIABLE;\n" + block);
  EXPECT_EQ(plain->listing().find("DEBUG output follows."), std::string::npos);
  auto dumped = identify("PROC IDENTIFIAB DEBUG;\n" + block, true);
  const std::string listing = dumped->listing();
  const std::size_t start = listing.find(" * *  WARNING  * *   DEBUG output follows.\n");
  const std::size_t end = listing.find(" * *  WARNING  * *   End of DEBUG output.\n");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  const std::string dump = listing.substr(start, end - start);
  EXPECT_NE(dump.find("\n      POINT =  1  2  2  3  4  5  6  7  8  9\n"), std::string::npos);
  // Values on the natural scale: S(I) is the slot's value itself.
  EXPECT_NE(dump.find("\n      S(I)= 0.50000000     0.50000000     0.50000000"), std::string::npos);
  // The dump comes after the table and before the first evaluation.
  EXPECT_LT(listing.find("  PARAMETER 10"), start);
  EXPECT_GT(listing.find(" nper,majper="), end);
}

TEST(Identify, StoreAfterTheScans) {
  auto r = identify(std::string("PROC IDENTIFIABLE;\n") + kThetaFixed + " INITIAL;\n  S(2) = 0.25;\n");
  const ModelStore& m = r->run.model;
  ASSERT_EQ(m.NEST, 7);
  // The values are those the blocks set; P holds the last moved point, the
  // last pair of the multiplicative scan.
  std::vector<double> x(m.PAR.base() + 1, m.PAR.base() + 1 + m.NEST);
  EXPECT_EQ(x, (std::vector<double>{0.5, 0.25, 0.5, 0.5, 0.5, 0.5, 0.5}));
  const double mul = static_cast<double>(1.05F);
  x[5] *= mul;
  x[6] /= mul;
  auto P = std::make_unique<Mat1<double>>(MXCLAS, MAXCHT);
  est_core(m, x, ParameterScale::Natural, *P);
  EXPECT_EQ(largest_change(m, *P, m.P), 0.0);
  x[5] = 0.5;
  x[6] = 0.5;
  est_core(m, x, ParameterScale::Natural, *P);
  EXPECT_GT(largest_change(m, *P, m.P), 0.0);
}

TEST(Identify, OptionsAndStatementErrors) {
  auto r = identify("PROC IDENTIFIABLE MULTIPLY = 1.2 ADD = 0.1;\n");
  EXPECT_NE(r->listing().find("Constant added or subtracted   = 0.1000\n"
                              "\n      Constant multiplied or divided = 1.2000\n"),
            std::string::npos);
  EXPECT_EQ(identify_error("PROC IDENTIFIABLE ADD;\n"),
            "\n Option ADD needs a value (ADD = value).\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(identify_error("PROC IDENTIFIABLE MULTIPLY =;\n"),
            "\n Option MULTIPLY needs a value (MULTIPLY = value).\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_NE(identify_error("PROC IDENTIFIABLE ADD = LOTS;\n").find("Incorrect value for number"), std::string::npos);
  EXPECT_EQ(identify_error("PROC IDENTIFIABLE;\n ESTIMATE;\n"),
            "\n Unrecognized command after PROC ESTIMATE.\nSTOP PELMAR ERROR TERMINATION");
}

TEST(Identify, EstimateAfterwardsFitsAsWithoutIt) {
  const std::string estimate =
      "PROC ESTIMATE NAME=AFTER;\n CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1; S(3)=S(2); S(6)=S(5);\n";
  auto alone = std::make_unique<StringRun>(std::string(kModel) + estimate + "PROC STOP;\n");
  alone->start();
  model(alone->run);
  quorvale::estimate(alone->run);
  // The check leaves its own map, values, transform mode and cells behind,
  // and a debug dump on; the fit that follows rebuilds all of them.
  auto after = identify(
      "PROC IDENTIFIABLE ADD = 0.2;\n CONSTRAINT;\n  S(1) = 0.9; S(4) < S(2);\n INITIAL;\n  ALL = 0.7;\n" + estimate,
      true);
  after->run.status.IDEBUG = 0;
  quorvale::estimate(after->run);
  const std::string a = alone->listing();
  const std::string b = after->listing();
  const std::string from = "  INPUT --- PROC ESTIMATE NAME=AFTER;";
  ASSERT_NE(a.find(from), std::string::npos);
  ASSERT_NE(b.find(from), std::string::npos);
  EXPECT_EQ(a.substr(a.find(from)), b.substr(b.find(from)));
  EXPECT_EQ(alone->run.saved.lnL(1), after->run.saved.lnL(1));
  EXPECT_EQ(after->run.model.IEROPT, 0);
  EXPECT_EQ(after->run.saved.NMOD, 1);
}

}  // namespace
}  // namespace quorvale
