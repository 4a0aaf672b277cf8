#include "compare/dotest.h"

#include <gtest/gtest.h>

#include "testing/dotest_fixture.h"

namespace quorvale {
namespace {

using namespace dotest_fixture;
TEST_F(DotestTables, WholeOutputOfThreeModels) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  const std::vector<std::string> expected = {
      "  ",
      " Modified AIC calculations: (see Model Selection and Multimodel Inference:",
      " A Practical Information-Theoretic Approach, 2nd ed., by K. P. Burnham and D. R. Anderson, 2002)",
      "",
      " Most General Model: " + col20("B") + "  n=   101 c=  1.30",
      "  ",
      "  Submodel                NPAR     AIC         AICc         QAIC         QAICc",
      kFirstUnderline,
      " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  164.308    " + "  164.430    ",
      " 2 " + col20("A") + "      3" + "  206.600    " + "  206.847    " + "  160.308    " + "  160.555    ",
      " 3 " + col20("B") + "      5" + "  206.200    " + "  206.832    " + "  160.923    " + "  161.555    ",
      "",
      "                         Log-",
      "  Submodel            likelihood    NDF    AIC     G-O-F  AICC     QAIC   QAICC",
      kSecondUnderline,
      // Sorted by QAICc: A 160.555, B 161.555, C 164.430.
      " 2 " + col20("A") + " -100.3       10 206.60     0.213 206.8    160.3    160.6    ",
      " 3 " + col20("B") + " -98.10        8 206.20     0.238 206.8    160.9    161.6    ",
      " 1 " + col20("C") + " -104.2       11 212.40     0.056 212.5    164.3    164.4    ",
      "",
      "                     Likelihood Ratio Tests Between Models",
      "  General              Reduced                           Degrees   Pr(Larger ",
      "  Submodel             Submodel              Chi-square  Freedom  Chi-square)",
      kTestUnderline,
      // A against B: 4.4 on 2 df, upper tail exp(-2.2) = 0.1108.
      " " + col20("B") + "  " + col20("A") + "       4.400      2       0.1108",
      // A against C: 7.8 on 1 df, erfc(sqrt(3.9)) = 0.0052.
      " " + col20("A") + "  " + col20("C") + "       7.800      1       0.0052",
      // B against C: 12.2 on 3 df, erfc(sqrt(6.1)) + sqrt(24.4/pi) exp(-6.1) = 0.0067.
      " " + col20("B") + "  " + col20("C") + "      12.200      3       0.0067",
      "",
      // No fit reports, so no parameter maps to compare.
      " * *  WARNING  * *   Not known to be nested (a model of the model file keeps no parameter map): B vs A; "
      "A vs C; B vs C.",
      "",
      kResetWarning,
  };
  EXPECT_EQ(after_echo(*r), expected);
  EXPECT_EQ(r->run.saved.NMOD, 0);
  EXPECT_EQ(r->run.token(2), "STOP");  // the next statement is left current
  EXPECT_EQ(entries(), std::vector<std::string>{});  // no model file without AICSAVE
}

TEST_F(DotestTables, SampleSizeIsTheSumOfAllCohorts) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 0);
  r->run.model.NCOHRT = 3;
  r->run.model.NREL(1) = 40;
  r->run.model.NREL(2) = 35;
  r->run.model.NREL(3) = 26;
  r->run.model.NREL(4) = 1000;  // not a cohort of the model
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.30"));
}

TEST_F(DotestTables, InfiniteAndUndefinedSmallSampleCorrections) {
  // n = 4: K = 3 gives 24/0 = infinity. n - K - 1 = 0 with K = 0 (n = 1) gives 0/0.
  // G12.6 after 1X: the text right-justified in 12 columns, no trailing blanks.
  const std::string kInfinity12 = std::string(1 + 4, ' ') + "Infinity";
  const std::string kNaN12 = std::string(1 + 9, ' ') + "NaN";
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 4);
  fill(r->run, {{"FULL", -10.0, 3, 5}, {"SMALL", -12.0, 1, 7}});
  dotest(r->run);
  // SMALL: AIC 26, AICc 26 + 4/2 = 28 (c-hat 1: G/DFC is 0.1).
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 2),
            (std::vector<std::string>{
                " 1 " + col20("FULL") + "      3" + "  26.0000    " + kInfinity12 + "  26.0000    " + kInfinity12,
                " 2 " + col20("SMALL") + "      1" + "  26.0000    " + "  28.0000    " + "  26.0000    " + "  28.0000    ",
            }));
  EXPECT_EQ(lines_after(*r, kSecondUnderline, 2),
            (std::vector<std::string>{
                " 2 " + col20("SMALL") + " -12.00        7 26.000     0.500 28.00    26.00    28.00    ",
                // G9.4 has no room for trailing blanks after "Infinity".
                " 1 " + col20("FULL") + " -10.00        5 26.000     0.500  Infinity26.00     Infinity",
            }));

  auto one = make_run("PROC TEST;\nPROC STOP;\n", 1);
  fill(one->run, {{"NULL", -3.0, 0, 5}, {"ONE", -2.0, 1, 4}});
  dotest(one->run);
  // ONE: 2*1*2/(1-1-1) = -4.
  EXPECT_EQ(lines_after(*one, kFirstUnderline, 2),
            (std::vector<std::string>{
                " 1 " + col20("NULL") + "      0" + "  6.00000    " + kNaN12 + "  6.00000    " + kNaN12,
                " 2 " + col20("ONE") + "      1" + "  6.00000    " + "  2.00000    " + "  6.00000    " + "  2.00000    ",
            }));
}

TEST_F(DotestTables, FewerThanTwoModelsPrintNoTables) {
  for (int nmod : {0, 1}) {
    auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
    fill(r->run, std::vector<Fit>(kThree.begin(), kThree.begin() + nmod));
    dotest(r->run);
    EXPECT_EQ(after_echo(*r), (std::vector<std::string>{"", kTooFewWarning, "", kResetWarning})) << nmod;
    EXPECT_EQ(r->run.saved.NMOD, 0);
    EXPECT_EQ(r->run.token(2), "STOP");
  }
}

TEST_F(DotestTables, MostGeneralModelIsTheFirstWithTheLargestK) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 200);
  fill(r->run, {{"M1", -50.0, 2, 20, 40.0, 0.1, 20},
                {"M2", -45.0, 5, 17, 34.0, 0.1, 17},
                {"M3", -48.0, 3, 19, 95.0, 0.1, 19},
                {"M4", -44.0, 5, 17, 51.0, 0.1, 17}});
  dotest(r->run);
  // c-hat comes from M2: 34/17 = 2 (M4 would give 3, M3 5).
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("M2") + "  n=   200 c=  2.00")) << r->listing();
  // M1: AIC 104, AICc 104 + 12/197, QAIC 100/2 + 4 = 54.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("M1") + "      2" + "  104.000    " + "  104.061    " + "  54.0000    " + "  54.0609    ");
}

TEST_F(DotestOptions, GivenCHatOfOneOrMoreIsUsedAsItIs) {
  auto r = make_run("PROC TEST C = 1.5;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.50"));
  // QAIC of C = 208.4/1.5 + 4 = 142.933; QAICc adds 12/98.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  142.933    " + "  143.056    ");

  auto one = make_run("PROC TEST C=1;\nPROC STOP;\n", 101);
  fill(one->run, kThree);
  dotest(one->run);
  EXPECT_TRUE(has_line(*one, " Most General Model: " + col20("B") + "  n=   101 c=  1.00"));
}

TEST_F(DotestOptions, SmallCHatIsReplacedByTheGeneralModelsRatio) {
  auto r = make_run("PROC TEST C = 0.5;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.30"));

  // A ratio below 1 gives c-hat 1.
  std::vector<Fit> fits = kThree;
  fits[2].G = 6.0;  // 6/8
  auto low = make_run("PROC TEST C = 0.5;\nPROC STOP;\n", 101);
  fill(low->run, fits);
  dotest(low->run);
  EXPECT_TRUE(has_line(*low, " Most General Model: " + col20("B") + "  n=   101 c=  1.00"));
  EXPECT_FALSE(has_text(*low, "c-hat"));
}

TEST_F(DotestOptions, GeneralModelWithoutDegreesOfFreedomGivesCHatOneAndAWarning) {
  std::vector<Fit> fits = kThree;
  fits[2].DFC = 0;
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, fits);
  dotest(r->run);
  const std::vector<std::string> lines = after_echo(*r);
  ASSERT_GE(lines.size(), 7U);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], " * *  WARNING  * *   Most general model has DFC = 0; c-hat set to 1.");
  EXPECT_EQ(lines[6], " Most General Model: " + col20("B") + "  n=   101 c=  1.00");
  // QAIC equals AIC with c-hat 1.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  212.400    " + "  212.522    ");

  // A given c-hat of 1 or more needs no ratio, so there is no warning.
  auto given = make_run("PROC TEST C=2;\nPROC STOP;\n", 101);
  fill(given->run, fits);
  dotest(given->run);
  EXPECT_FALSE(has_text(*given, "c-hat"));
}

TEST_F(DotestOptions, LastCOptionCountsAndABadValueIsFatal) {
  auto r = make_run("PROC TEST C = 2 C = 1.25;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.25"));

  auto bad = make_run("PROC TEST C = ABC;\nPROC STOP;\n", 101);
  fill(bad->run, kThree);
  EXPECT_EQ(expect_fatal(*bad, [&] { dotest(bad->run); }),
            "\n Incorrect value for number -- ABC       \nSTOP PELMAR ERROR TERMINATION");
}

// Four fits with n = 12 and c-hat 2 whose best model differs for every criterion:
//          AIC   AICc (2K(K+1)/(11-K))   QAIC (lnL + 2K)   QAICc
//   W1     37    37 + 84/5  = 53.8       24.5              41.3
//   W2     49    49 + 4/10  = 49.4       25.5              25.9
//   W3     42    42 + 40/7  = 47.71      25.0              30.71
//   W4     38    38 + 60/6  = 48.0       24.0              34.0
const std::vector<Fit> kFour = {
    {"W1", -12.5, 6, 1}, {"W2", -23.5, 1, 6}, {"W3", -17.0, 4, 3}, {"W4", -14.0, 5, 2}};

/// The ORD column after PROC TEST with `options` on the four fits above.
std::vector<int> sorted_by(const std::string& options) {
  auto r = make_run("PROC TEST C=2 " + options + ";\nPROC STOP;\n", 12);
  fill(r->run, kFour);
  dotest(r->run);
  return order_column(*r, 4);
}

TEST_F(DotestSort, EachCriterionSortsByItsOwnColumn) {
  EXPECT_EQ(sorted_by("SORTBY AIC"), (std::vector<int>{1, 4, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY AICC"), (std::vector<int>{3, 4, 2, 1}));
  EXPECT_EQ(sorted_by("SORTBY QAIC"), (std::vector<int>{4, 1, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY QAICC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("sortby aic"), (std::vector<int>{1, 4, 3, 2}));
}

TEST_F(DotestSort, OneCriterionInForceRanksAndWeighsWhateverTheListingIsSortedBy) {
  // kThree with c-hat 1.3 (G/DFC of B): QAICc A 160.55509, B 161.55463,
  // C 164.43012, so the QAICc weights are 1, e^-0.49977 and e^-1.93751 over their sum.
  auto r = make_run("PROC TEST SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  const std::optional<ModelComparison> c = dotest(r->run);
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->criterion_name(), "QAICc");
  std::vector<std::string> by_aic;
  std::vector<std::string> by_qaicc;
  for (const ComparedModel& m : c->ranked) by_aic.push_back(trimmed(m.name));
  for (std::size_t at : c->by_criterion) by_qaicc.push_back(trimmed(c->ranked[at].name));
  EXPECT_EQ(by_aic, (std::vector<std::string>{"B", "A", "C"}));  // AIC 206.2, 206.6, 212.4
  EXPECT_EQ(by_qaicc, (std::vector<std::string>{"A", "B", "C"}));
  const ComparedModel& b = c->ranked[0];
  EXPECT_EQ(b.rank, 2);
  EXPECT_NEAR(b.delta_qaicc, 0.999541, 1e-6);
  EXPECT_NEAR(b.weight_qaicc, 0.346524, 1e-6);
  EXPECT_NEAR(c->weight(c->ranked[1]), 0.571190, 1e-6);
  EXPECT_NEAR(c->weight(c->ranked[2]), 0.082287, 1e-6);
  // c-hat 1: AICc is in force (A 206.847, B 206.832: B best).
  auto one = make_run("PROC TEST C=1;\nPROC STOP;\n", 101);
  fill(one->run, kThree);
  const std::optional<ModelComparison> d = dotest(one->run);
  ASSERT_TRUE(d);
  EXPECT_STREQ(d->criterion_name(), "AICc");
  EXPECT_EQ(trimmed(d->ranked[d->by_criterion.front()].name), "B");
  EXPECT_EQ(d->weight(d->ranked[d->by_criterion.front()]), d->ranked[d->by_criterion.front()].weight_aicc);
}

TEST_F(DotestSort, OnlyTheTokenRightAfterSortbyCounts) {
  EXPECT_EQ(sorted_by(""), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY = AIC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY BIC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY QAIC SORTBY AIC"), (std::vector<int>{1, 4, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY AIC SORTBY ="), (std::vector<int>{2, 3, 4, 1}));
}

TEST_F(DotestSort, TiedRowsSwapPlacesWhenTheSmallestMovesUp) {
  // Criteria 1, 1, 0 (all four the same here): position 1 exchanges with 3,
  // and at position 2 the tie does not replace the candidate.
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 1000);
  fill(r->run, {{"T1", -50.0, 3, 7}, {"T2", -50.0, 3, 7}, {"T3", -49.0, 3, 7}});
  dotest(r->run);
  EXPECT_EQ(order_column(*r, 3), (std::vector<int>{3, 2, 1}));

  // Where nothing moves one tied row past the other, the earlier stays first.
  auto kept = make_run("PROC TEST;\nPROC STOP;\n", 1000);
  fill(kept->run, {{"T3", -49.0, 3, 7}, {"T1", -50.0, 3, 7}, {"T2", -50.0, 3, 7}});
  dotest(kept->run);
  EXPECT_EQ(order_column(*kept, 3), (std::vector<int>{1, 2, 3}));
}

TEST_F(DotestRatioTests, PairsWithEqualDegreesOfFreedomAreSkipped) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  // Sorted order P, Q, R (AICc: P 180.0+, Q 182.0+, R 184.0+).
  fill(r->run, {{"P", -86.0, 4, 10}, {"Q", -87.0, 4, 10}, {"R", -91.0, 1, 12}});
  dotest(r->run);
  // P against R: 10 on 2 df, exp(-5) = 0.0067; Q against R: 8 on 2 df, exp(-4) = 0.0183.
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                " " + col20("P") + "  " + col20("R") + "      10.000      2       0.0067",
                " " + col20("Q") + "  " + col20("R") + "       8.000      2       0.0183",
                "",
            }));
}

TEST_F(DotestRatioTests, GeneralModelNoBetterThanTheReducedOne) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -95.0, 6, 8}, {"RED", -90.0, 2, 12}, {"SAME", -95.0, 3, 11}});
  dotest(r->run);
  // Sorted: RED (AIC 184), SAME (196), GEN (202).
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                " " + col20("SAME") + "  " + col20("RED") + "       0.000      1       1.0000",
                " " + col20("GEN") + "  " + col20("RED") + "       0.000      4       1.0000",
                " " + col20("GEN") + "  " + col20("SAME") + "       0.000      3       1.0000",
            }));
}

TEST_F(DotestRatioTests, ProbabilityErrorWarnsAndStillPrintsTheRow) {
  // 77.125 on 1 df is one of the values where the series sums to a probability above 1.
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -100.0, 3, 8}, {"RED", -138.5625, 2, 9}});
  dotest(r->run);
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                "",
                " * *  WARNING  * *   ERROR with chi-square probability.",
                " " + col20("GEN") + "  " + col20("RED") + "      77.125      1       ******",
            }));
}

TEST_F(DotestSort, FitsThatAreNotFiniteRankLastAndAreNamed) {
  // An AIC of -Infinity (a log-likelihood of +Infinity) ranked first before.
  const double inf = std::numeric_limits<double>::infinity();
  auto r = make_run("PROC TEST SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, {{"WILD", inf, 3, 10}, {"C", -104.2, 2, 11}, {"NAN", std::nan(""), 2, 11}, {"A", -100.3, 3, 10}});
  dotest(r->run);
  const std::vector<int> ord = order_column(*r, 4);
  ASSERT_EQ(ord.size(), 4U);
  EXPECT_EQ(ord[0], 4);  // A: AIC 206.6
  EXPECT_EQ(ord[1], 2);  // C: AIC 212.4
  EXPECT_EQ((std::vector<int>{std::min(ord[2], ord[3]), std::max(ord[2], ord[3])}), (std::vector<int>{1, 3}));
  EXPECT_TRUE(has_text(*r, "WARNING  * *   Log-likelihood or criterion not finite, ranked last: "));
  const std::size_t at = r->listing().find("ranked last: ");
  const std::string names = r->listing().substr(at, r->listing().find('\n', at) - at);
  EXPECT_TRUE(names == "ranked last: WILD, NAN." || names == "ranked last: NAN, WILD.") << names;
}

TEST_F(DotestSort, FitsThatDidNotConvergeOrReachedABoundAreNamedAfterTheTables) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  std::vector<FitReport> sequence(3);
  for (int i = 0; i < 3; ++i) {
    sequence[static_cast<std::size_t>(i)].name = pad(kThree[static_cast<std::size_t>(i)].name, 20);
    for (int p = 1; p <= 3; ++p) {
      ParameterEstimate e;
      e.index = p;
      e.slot = p;
      e.estimate = 0.5;
      sequence[static_cast<std::size_t>(i)].parameters.push_back(e);
    }
  }
  sequence[0].optimizer = OptimizerCode::EvaluationLimit;
  sequence[2].full_name = "B as typed";
  sequence[2].parameters[0].on_bound = true;
  sequence[2].parameters[2].on_bound = true;
  dotest(r->run, sequence);
  const std::string listing = r->listing();
  const std::size_t tests = listing.find(kTestUnderline);
  const std::size_t converge = listing.find(" * *  WARNING  * *   Fits that did not converge: C.\n");
  const std::size_t bound = listing.find(" * *  WARNING  * *   Fits with an estimate on a bound: B as typed (S(1) S(3)).\n");
  ASSERT_NE(tests, std::string::npos);
  ASSERT_NE(converge, std::string::npos) << listing;
  ASSERT_NE(bound, std::string::npos) << listing;
  EXPECT_LT(tests, converge);
  EXPECT_LT(converge, bound);
  EXPECT_LT(bound, listing.find(kResetWarning));
  // Converged fits inside their bounds: neither line.
  auto clean = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(clean->run, kThree);
  sequence[0].optimizer = OptimizerCode::Converged;
  for (FitReport& f : sequence) {
    for (ParameterEstimate& e : f.parameters) e.on_bound = false;
  }
  dotest(clean->run, sequence);
  EXPECT_FALSE(has_text(*clean, "did not converge"));
  EXPECT_FALSE(has_text(*clean, "on a bound"));
}

TEST_F(DotestRatioTests, PairsThatAreNotNestedByTheirParameterMapsAreNamedAfterTheTests) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  // B: three free parameters; A: S(3) = S(2); C: S(2) = 0, S(3) = 0.3.
  const std::vector<std::vector<int>> slots = {{1, -2, -3}, {1, 2, 2}, {1, 2, 3}};
  std::vector<FitReport> sequence(3);
  for (int i = 0; i < 3; ++i) {
    FitReport& f = sequence[static_cast<std::size_t>(i)];
    f.sequence = i + 1;
    for (int p = 1; p <= 3; ++p) {
      ParameterEstimate e;
      e.index = p;
      e.slot = slots[static_cast<std::size_t>(i)][static_cast<std::size_t>(p - 1)];
      e.estimate = e.slot == -3 ? 0.3 : e.slot == -2 ? 0.0 : 0.5;
      f.parameters.push_back(e);
    }
  }
  const std::optional<ModelComparison> c = dotest(r->run, sequence);
  ASSERT_TRUE(c);
  // Ranked A, B, C: B against A, A against C, B against C.
  ASSERT_EQ(c->tests.size(), 3U);
  EXPECT_TRUE(c->tests[0].nested);
  EXPECT_FALSE(c->tests[1].nested);  // A's S(3) = S(2) fails in C
  EXPECT_TRUE(c->tests[2].nested);
  const std::string listing = r->listing();
  const std::size_t warning =
      listing.find(" * *  WARNING  * *   Not nested, their likelihood-ratio test does not apply: A vs C.\n");
  ASSERT_NE(warning, std::string::npos) << listing;
  EXPECT_LT(listing.find(kTestUnderline), warning);
  EXPECT_FALSE(has_text(*r, "Not known to be nested"));
}

}  // namespace
}  // namespace quorvale
