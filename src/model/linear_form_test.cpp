#include "model/linear_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "model/robust_layout.h"
#include "model/structure.h"

namespace quorvale {
namespace {

using Row = std::map<std::string, double>;

/// Reads `text` as the formula of `part` and lays it out for `which` on a
/// design with no formula yet; a formula that cannot be read fails the test.
LinearForms laid_out(const std::string& text, std::string_view part, FormulaPart which, const RobustLayout& d,
                     const std::vector<std::string>& group_names = {}, const std::vector<Covariate>& covariates = {}) {
  std::vector<std::string> names;
  for (const Covariate& c : covariates) names.push_back(c.name);
  Formula f;
  const auto fault = parse_formula(text, part, text, names, f);
  EXPECT_FALSE(fault) << *fault;
  LinearForms forms = forms_of_design(d);
  lay_out_formula(f, which, d, group_names, covariates, forms);
  return forms;
}

/// Parameter I's row, column name to value (a column not named is 0).
Row row_of(const LinearForms& forms, int I) {
  Row out;
  for (const auto& [c, v] : forms.row[static_cast<std::size_t>(I)]) out[forms.names[static_cast<std::size_t>(c)]] = v;
  return out;
}

/// Slot s of a design (1..slots) as column name to value, zeros left out.
Row design_row(const LinearDesign& d, int s) {
  Row out;
  for (int k = 0; k < d.coefficients(); ++k) {
    if (d.at(s, k) != 0.0) out[d.names[static_cast<std::size_t>(k)]] = d.at(s, k);
  }
  return out;
}

/// A map of `npar` parameters in which each list of parameters shares one
/// estimated slot, in the order given, and every other parameter is fixed.
SlotMap slots_of(int npar, const std::vector<std::vector<int>>& estimated) {
  SlotMap map;
  map.point.assign(static_cast<std::size_t>(npar) + 1, 0);
  map.unit_bounds.assign(static_cast<std::size_t>(npar) + 1, true);
  for (int I = 1; I <= npar; ++I) map.point[static_cast<std::size_t>(I)] = -I;
  for (const auto& members : estimated) {
    ++map.nest;
    for (int I : members) map.point[static_cast<std::size_t>(I)] = map.nest;
  }
  return map;
}

/// Every parameter of a part, each its own slot.
std::vector<std::vector<int>> each(const std::vector<int>& parameters) {
  std::vector<std::vector<int>> out;
  for (int I : parameters) out.push_back({I});
  return out;
}

double logistic(double eta) { return 1.0 / (1.0 + std::exp(-eta)); }

// ---------------------------------------------------------------------------
// Covariate names

TEST(LinearFormCovariateNames, ALetterThenLettersOrDigitsUpToEightAndNoWordOfTheFormulas) {
  for (const char* good : {"W", "WINTER", "Rain2", "ABCDEFGH", "TRENDY", "P1", "GG", "S", "C"}) {
    EXPECT_FALSE(covariate_name_fault(good)) << good;
  }
  const std::string form = " is not a letter followed by letters or digits, 8 characters at most.";
  for (const char* bad : {"", "2W", "ABCDEFGHI", "W_1", "W-1", "W.1", "_W"}) {
    EXPECT_EQ(covariate_name_fault(bad), "Covariate name " + std::string(bad) + form) << bad;
  }
  for (const char* word : {"T", "G", "O", "P", "TREND", "t", "Trend", "o"}) {
    EXPECT_EQ(covariate_name_fault(word),
              "Covariate name " + std::string(word) + " is a word of the formulas (1, T, G, O, P, TREND).")
        << word;
  }
}

// ---------------------------------------------------------------------------
// Columns and rows

TEST(LinearFormColumns, GroupPlusPeriodCodesEachFactorByItsLevelsAfterTheFirst) {
  // Two groups, four periods: three survival intervals per group. With the
  // constant in the formula, G keeps its second level and T its levels 2, 3.
  const RobustLayout d(std::vector<int>{2, 2, 2, 2}, 0, 2);
  const LinearForms f = laid_out("G+T", "PHI", FormulaPart::Phi, d, {"F", "M"});
  EXPECT_EQ(f.names, (std::vector<std::string>{"PHI:1", "PHI:G[M]", "PHI:T[2]", "PHI:T[3]"}));
  EXPECT_EQ(f.parts, (std::vector<std::string>(4, "PHI")));
  EXPECT_EQ(row_of(f, d.phi(1, 1)), (Row{{"PHI:1", 1}}));
  EXPECT_EQ(row_of(f, d.phi(2, 1)), (Row{{"PHI:1", 1}, {"PHI:T[2]", 1}}));
  EXPECT_EQ(row_of(f, d.phi(3, 1)), (Row{{"PHI:1", 1}, {"PHI:T[3]", 1}}));
  EXPECT_EQ(row_of(f, d.phi(1, 2)), (Row{{"PHI:1", 1}, {"PHI:G[M]", 1}}));
  EXPECT_EQ(row_of(f, d.phi(3, 2)), (Row{{"PHI:1", 1}, {"PHI:G[M]", 1}, {"PHI:T[3]", 1}}));
  // Only survival is given by the formula; the other parts keep their names.
  EXPECT_TRUE(f.formula[static_cast<std::size_t>(d.phi(2, 2))]);
  EXPECT_FALSE(f.formula[static_cast<std::size_t>(d.p(1, 1, 2))]);
  EXPECT_EQ(f.part[static_cast<std::size_t>(d.p(1, 1, 2))], "P");
  EXPECT_EQ(f.part[static_cast<std::size_t>(d.gamma2(3, 1))], "GAMMA''");
}

TEST(LinearFormColumns, GroupTimesPeriodHasAColumnForEverySurvivalOfTheLevelGStarT) {
  const RobustLayout d(std::vector<int>{2, 2, 2, 2}, 0, 2);
  const LinearForms f = laid_out("G*T", "PHI", FormulaPart::Phi, d, {"F", "M"});
  EXPECT_EQ(f.names, (std::vector<std::string>{"PHI:1", "PHI:G[M]", "PHI:T[2]", "PHI:T[3]", "PHI:G[M]:T[2]",
                                               "PHI:G[M]:T[3]"}));
  // The level PHI(G*T) estimates one survival per group and interval.
  Structure s;
  ASSERT_FALSE(parse_structure({"PHI(G*T)", "P(.)", "C(P)", "GAMMA(NONE)"}, s, 2));
  std::vector<std::string> notes;
  const ParameterMap level = structure_map(s, d, notes);
  int survivals = 0;
  for (int g = 1; g <= 2; ++g) {
    for (int i = 1; i <= 3; ++i) survivals += level[d.phi(i, g)].kind == Setting::Kind::Free ? 1 : 0;
  }
  EXPECT_EQ(static_cast<int>(f.names.size()), survivals);
  EXPECT_EQ(row_of(f, d.phi(3, 2)), (Row{{"PHI:1", 1}, {"PHI:G[M]", 1}, {"PHI:T[3]", 1}, {"PHI:G[M]:T[3]", 1}}));
  EXPECT_EQ(row_of(f, d.phi(3, 1)), (Row{{"PHI:1", 1}, {"PHI:T[3]", 1}}));
  // Six columns on the six survivals have full rank: they span every value.
  LinearDesign design;
  std::vector<int> phis;
  for (int g = 1; g <= 2; ++g) {
    for (int i = 1; i <= 3; ++i) phis.push_back(d.phi(i, g));
  }
  EXPECT_FALSE(build_linear_design(f, slots_of(d.npar(), each(phis)), design));
  EXPECT_EQ(design.coefficients(), 6);
}

TEST(LinearFormColumns, PeriodTimesOccasionOnUnequalPeriodsLeavesOutCrossingsNoPeriodHas) {
  // Periods of 3, 2 and 1 occasions: six capture probabilities. Occasion 3
  // is in period 1 only and period 3 has occasion 1 only, so of T[2..3] x
  // O[2..3] only T[2]:O[2] is a crossing some p has.
  const RobustLayout d(std::vector<int>{3, 2, 1});
  const LinearForms f = laid_out("T*O", "P", FormulaPart::P, d);
  EXPECT_EQ(f.names, (std::vector<std::string>{"P:1", "P:T[2]", "P:T[3]", "P:O[2]", "P:O[3]", "P:T[2]:O[2]"}));
  EXPECT_EQ(row_of(f, d.p(1, 1)), (Row{{"P:1", 1}}));
  EXPECT_EQ(row_of(f, d.p(1, 3)), (Row{{"P:1", 1}, {"P:O[3]", 1}}));
  EXPECT_EQ(row_of(f, d.p(2, 1)), (Row{{"P:1", 1}, {"P:T[2]", 1}}));
  EXPECT_EQ(row_of(f, d.p(2, 2)), (Row{{"P:1", 1}, {"P:T[2]", 1}, {"P:O[2]", 1}, {"P:T[2]:O[2]", 1}}));
  EXPECT_EQ(row_of(f, d.p(3, 1)), (Row{{"P:1", 1}, {"P:T[3]", 1}}));
  EXPECT_FALSE(f.formula[static_cast<std::size_t>(d.c(1, 2))]);
  // Six columns on the six p's, of full rank: they span exactly the p's.
  const std::vector<int> ps = {d.p(1, 1), d.p(1, 2), d.p(1, 3), d.p(2, 1), d.p(2, 2), d.p(3, 1)};
  LinearDesign design;
  EXPECT_FALSE(build_linear_design(f, slots_of(d.npar(), each(ps)), design));
  EXPECT_EQ(design.coefficients(), 6);
  EXPECT_EQ(design.slots, 6);

  // With a covariate in the product, a crossing no p has is still no
  // column: T*O*W has T[2]:O[2]:W but neither T[2]:O[3]:W nor any T[3]:O.
  // Of 1, T (2), O (2), W, T:O (1), T:W (2), O:W (2) and T:O:W (1): 12.
  const LinearForms w = laid_out("T*O*W", "P", FormulaPart::P, d, {}, {{"W", {0.5, 1.5, 2.5}}});
  EXPECT_EQ(w.names.size(), 12u);
  for (const char* absent : {"P:T[2]:O[3]:W", "P:T[3]:O[2]:W", "P:T[3]:O[3]:W"}) {
    EXPECT_EQ(std::count(w.names.begin(), w.names.end(), absent), 0) << absent;
  }
  EXPECT_EQ(row_of(w, d.p(2, 2)).at("P:T[2]:O[2]:W"), 1.5);
}

TEST(LinearFormColumns, CovariatesAndTrendReadThePeriodOfEachParameter) {
  // Four periods of 2, 1, 3 and 2 occasions. Survival of interval i reads
  // the value of period i; p of period ip and gamma'' of period j their own.
  const RobustLayout d(std::vector<int>{2, 1, 3, 2});
  const std::vector<Covariate> winter = {{"WINTER", {0.2, 0.8, 0.0, 0.5}}};
  const LinearForms phi = laid_out("WINTER", "PHI", FormulaPart::Phi, d, {}, winter);
  EXPECT_EQ(phi.names, (std::vector<std::string>{"PHI:1", "PHI:WINTER"}));
  EXPECT_EQ(row_of(phi, d.phi(1)), (Row{{"PHI:1", 1}, {"PHI:WINTER", 0.2}}));
  EXPECT_EQ(row_of(phi, d.phi(2)), (Row{{"PHI:1", 1}, {"PHI:WINTER", 0.8}}));
  EXPECT_EQ(row_of(phi, d.phi(3)), (Row{{"PHI:1", 1}}));  // WINTER is 0 in period 3
  const LinearForms p = laid_out("WINTER", "P", FormulaPart::P, d, {}, winter);
  EXPECT_EQ(row_of(p, d.p(2, 1)), (Row{{"P:1", 1}, {"P:WINTER", 0.8}}));
  EXPECT_EQ(row_of(p, d.p(4, 2)), (Row{{"P:1", 1}, {"P:WINTER", 0.5}}));
  const LinearForms gamma = laid_out("WINTER", "GAMMA", FormulaPart::Gamma, d, {}, winter);
  EXPECT_EQ(row_of(gamma, d.gamma2(2)), (Row{{"GAMMA:1", 1}, {"GAMMA:WINTER", 0.8}}));
  EXPECT_EQ(row_of(gamma, d.gamma2(4)), (Row{{"GAMMA:1", 1}, {"GAMMA:WINTER", 0.5}}));

  // TREND is the interval's number for survival, the period's for the others.
  const LinearForms trend = laid_out("TREND", "PHI", FormulaPart::Phi, d);
  EXPECT_EQ(trend.names, (std::vector<std::string>{"PHI:1", "PHI:TREND"}));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(row_of(trend, d.phi(i)), (Row{{"PHI:1", 1}, {"PHI:TREND", 1.0 * i}})) << i;
  const LinearForms ptrend = laid_out("TREND", "P", FormulaPart::P, d);
  EXPECT_EQ(row_of(ptrend, d.p(3, 3)), (Row{{"P:1", 1}, {"P:TREND", 3}}));
  // A product of two numbers is their product.
  const LinearForms both = laid_out("TREND*WINTER", "PHI", FormulaPart::Phi, d, {}, winter);
  EXPECT_EQ(row_of(both, d.phi(2)),
            (Row{{"PHI:1", 1}, {"PHI:TREND", 2}, {"PHI:WINTER", 0.8}, {"PHI:TREND:WINTER", 1.6}}));
}

TEST(LinearFormColumns, RecaptureOnCaptureAddsTheRowOfPOnTheSameOccasion) {
  // Periods of 3 and 2 occasions: c(1,2), c(1,3) and c(2,2).
  const RobustLayout d(std::vector<int>{3, 2});
  Structure s;
  ASSERT_FALSE(parse_structure({"PHI(.)", "P(1+T)", "C(P+1)", "GAMMA(NONE)"}, s));
  const LinearForms forms = structure_forms(s, d, {}, {});
  EXPECT_EQ(forms.names, (std::vector<std::string>{"P:1", "P:T[2]", "C:1"}));
  EXPECT_EQ(row_of(forms, d.c(1, 3)), (Row{{"C:1", 1}}));
  EXPECT_EQ(forms.capture[static_cast<std::size_t>(d.c(1, 3))], d.p(1, 3));
  EXPECT_EQ(forms.capture[static_cast<std::size_t>(d.c(2, 2))], d.p(2, 2));
  EXPECT_EQ(forms.capture[static_cast<std::size_t>(d.p(2, 2))], 0);
  // On a fit of the p's and c's, each its own slot: c's row is p's plus C:1.
  const std::vector<int> estimated = {d.p(1, 1), d.p(1, 2), d.p(1, 3), d.c(1, 2), d.c(1, 3),
                                      d.p(2, 1), d.p(2, 2), d.c(2, 2)};
  LinearDesign design;
  ASSERT_FALSE(build_linear_design(forms, slots_of(d.npar(), each(estimated)), design));
  EXPECT_EQ(design.names, (std::vector<std::string>{"P:1", "P:T[2]", "C:1"}));
  EXPECT_EQ(design_row(design, 3), (Row{{"P:1", 1}}));                            // p(1,3)
  EXPECT_EQ(design_row(design, 5), (Row{{"P:1", 1}, {"C:1", 1}}));                // c(1,3)
  EXPECT_EQ(design_row(design, 7), (Row{{"P:1", 1}, {"P:T[2]", 1}}));             // p(2,2)
  EXPECT_EQ(design_row(design, 8), (Row{{"P:1", 1}, {"P:T[2]", 1}, {"C:1", 1}}));  // c(2,2)

  // With p at a level of its own (P(T): one slot per period), c adds the
  // coefficient of its period's slot, named by its lowest parameter.
  ASSERT_FALSE(parse_structure({"PHI(.)", "P(T)", "C(P+1)", "GAMMA(NONE)"}, s));
  const LinearForms level = structure_forms(s, d, {}, {});
  const SlotMap map = slots_of(d.npar(), {{d.p(1, 1), d.p(1, 2), d.p(1, 3)}, {d.p(2, 1), d.p(2, 2)}, {d.c(1, 2)},
                                          {d.c(1, 3)}, {d.c(2, 2)}});
  ASSERT_FALSE(build_linear_design(level, map, design));
  EXPECT_EQ(design.names, (std::vector<std::string>{"P:S(" + std::to_string(d.p(1, 1)) + ")",
                                                    "P:S(" + std::to_string(d.p(2, 1)) + ")", "C:1"}));
  EXPECT_EQ(design_row(design, 1), (Row{{design.names[0], 1}}));
  EXPECT_EQ(design_row(design, 4), (Row{{design.names[0], 1}, {"C:1", 1}}));  // c(1,3)
  EXPECT_EQ(design_row(design, 5), (Row{{design.names[1], 1}, {"C:1", 1}}));  // c(2,2)
}

TEST(LinearFormColumns, MarkovEmigrationGivesGammaDoublePrimeAndGammaPrimeEachTheFormula) {
  const RobustLayout d(std::vector<int>{2, 1, 3, 2});
  Structure s;
  ASSERT_FALSE(parse_structure({"PHI(.)", "P(.)", "C(P)", "GAMMA(MARKOV,TREND)"}, s));
  const LinearForms markov = structure_forms(s, d, {}, {});
  EXPECT_EQ(markov.names,
            (std::vector<std::string>{"GAMMA'':1", "GAMMA'':TREND", "GAMMA':1", "GAMMA':TREND"}));
  EXPECT_EQ(markov.parts, (std::vector<std::string>{"GAMMA''", "GAMMA''", "GAMMA'", "GAMMA'"}));
  for (int j = 2; j <= 4; ++j) {
    EXPECT_EQ(row_of(markov, d.gamma2(j)), (Row{{"GAMMA'':1", 1}, {"GAMMA'':TREND", 1.0 * j}})) << j;
  }
  for (int j = 3; j <= 4; ++j) {
    EXPECT_EQ(row_of(markov, d.gamma1(j)), (Row{{"GAMMA':1", 1}, {"GAMMA':TREND", 1.0 * j}})) << j;
  }
  // Random emigration: one formula for gamma'', which gamma' is set equal to.
  ASSERT_FALSE(parse_structure({"PHI(.)", "P(.)", "C(P)", "GAMMA(RANDOM,TREND)"}, s));
  const LinearForms random = structure_forms(s, d, {}, {});
  EXPECT_EQ(random.names, (std::vector<std::string>{"GAMMA:1", "GAMMA:TREND"}));
  EXPECT_EQ(row_of(random, d.gamma2(3)), (Row{{"GAMMA:1", 1}, {"GAMMA:TREND", 3}}));
  EXPECT_FALSE(random.formula[static_cast<std::size_t>(d.gamma1(3))]);
}

TEST(LinearFormColumns, AProductStandsForEveryTermOfItsFactorsUpToWhatAModelCanHold) {
  // Covariates A to J: a product of eight is 2^8 - 1 = 255 terms; a ninth
  // factor makes 511, more than a model may have parameters.
  std::vector<std::string> names;
  std::string product;
  for (char c = 'A'; c <= 'J'; ++c) names.emplace_back(1, c);
  for (char c = 'A'; c <= 'H'; ++c) product += std::string(product.empty() ? "" : "*") + c;
  Formula f;
  ASSERT_FALSE(parse_formula(product, "PHI", product, names, f));
  EXPECT_EQ(f.terms.size(), 255u);
  EXPECT_EQ(f.terms.front().size(), 1u);  // main effects first
  EXPECT_EQ(f.terms.back().size(), 8u);
  const std::string too_many = "Formula in STRUCTURE part X stands for more terms than a model may have "
                               "parameters (420): a product of n factors stands for 2^n - 1 terms.";
  EXPECT_EQ(parse_formula(product + "*I", "PHI", "X", names, f), too_many);
  // Terms are counted once: a product repeated adds none; B*...*I adds
  // only its 2^7 = 128 terms with I (383 in all); C*...*J its 128 with J
  // (511).
  ASSERT_FALSE(parse_formula(product + "+" + product, "PHI", "X", names, f));
  EXPECT_EQ(f.terms.size(), 255u);
  ASSERT_FALSE(parse_formula(product + "+B*C*D*E*F*G*H*I", "PHI", "X", names, f));
  EXPECT_EQ(f.terms.size(), 383u);
  EXPECT_EQ(parse_formula(product + "+B*C*D*E*F*G*H*I+C*D*E*F*G*H*I*J", "PHI", "X", names, f), too_many);
}

// ---------------------------------------------------------------------------
// Start values

TEST(LinearFormStart, LeastSquaresOnTheLogitScaleRecoversCoefficientsInTheSpan) {
  // P(T*O) on periods of 3, 2 and 1 occasions spans every p: any
  // coefficients come back from the values they give. The predictors are
  // written out from the coding by hand.
  const RobustLayout d(std::vector<int>{3, 2, 1});
  const LinearForms f = laid_out("T*O", "P", FormulaPart::P, d);
  const std::vector<int> ps = {d.p(1, 1), d.p(1, 2), d.p(1, 3), d.p(2, 1), d.p(2, 2), d.p(3, 1)};
  LinearDesign design;
  ASSERT_FALSE(build_linear_design(f, slots_of(d.npar(), each(ps)), design));
  ASSERT_EQ(design.names, (std::vector<std::string>{"P:1", "P:T[2]", "P:T[3]", "P:O[2]", "P:O[3]", "P:T[2]:O[2]"}));
  const double b1 = 0.5, t2 = -1.0, t3 = 0.25, o2 = 2.0, o3 = -0.5, t2o2 = 1.0;
  const std::vector<double> eta = {b1, b1 + o2, b1 + o3, b1 + t2, b1 + t2 + o2 + t2o2, b1 + t3};
  std::vector<double> values;
  for (double e : eta) values.push_back(logistic(e));
  const std::vector<double> beta = design.start(values);
  const std::vector<double> expected = {b1, t2, t3, o2, o3, t2o2};
  ASSERT_EQ(beta.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(beta[k], expected[k], 1e-9) << design.names[k];
  // And the design gives those values back.
  std::vector<double> again(values.size());
  design.probabilities(beta, again);
  for (std::size_t s = 0; s < values.size(); ++s) EXPECT_NEAR(again[s], values[s], 1e-12) << s;
}

TEST(LinearFormStart, ValuesOutsideTheSpanGetTheLeastSquaresLineAndAreKeptInsideZeroAndOne) {
  // PHI(TREND) on four periods: survival 1..3 on a + b i. Logits 0, 1 and 5
  // lie on no line; the least-squares line through (1,0), (2,1), (3,5) has
  // slope 5/2 and passes through the means (2, 2): a = -3.
  const RobustLayout d(std::vector<int>{2, 2, 2, 2});
  const LinearForms f = laid_out("TREND", "PHI", FormulaPart::Phi, d);
  LinearDesign design;
  ASSERT_FALSE(build_linear_design(f, slots_of(d.npar(), each({d.phi(1), d.phi(2), d.phi(3)})), design));
  const std::vector<double> beta = design.start(std::vector<double>{logistic(0.0), logistic(1.0), logistic(5.0)});
  ASSERT_EQ(beta.size(), 2u);
  EXPECT_NEAR(beta[0], -3.0, 1e-9);
  EXPECT_NEAR(beta[1], 2.5, 1e-9);
  // A value of 0 or 1 is taken as 0.001 or 0.999: the line through
  // logit(0.001) and logit(0.999) at 1 and 3 is 0 at 2, so through the
  // middle value 0.5 too.
  const double low = std::log(0.001 / 0.999);
  const std::vector<double> edge = design.start(std::vector<double>{0.0, 0.5, 1.0});
  EXPECT_NEAR(edge[1], -low, 1e-9);
  EXPECT_NEAR(edge[0], 2.0 * low, 1e-9);
}

// ---------------------------------------------------------------------------
// Refusals of the design

TEST(LinearDesignRefusals, BoundsEqualitiesAndFixedCaptures) {
  const RobustLayout d(std::vector<int>{2, 2, 2, 2});
  const LinearForms trend = laid_out("TREND", "PHI", FormulaPart::Phi, d);
  LinearDesign design;
  // A bound other than 0 and 1 on any estimated parameter.
  SlotMap map = slots_of(d.npar(), each({d.phi(1), d.phi(2), d.phi(3), d.p(1, 1)}));
  map.unit_bounds[static_cast<std::size_t>(d.p(1, 1))] = false;
  EXPECT_EQ(build_linear_design(trend, map, design),
            "S(" + std::to_string(d.p(1, 1)) +
                ") has bounds other than 0 and 1: a model with linear forms keeps each probability within 0 and 1 "
                "through the logit, and takes no bound from CONSTRAINT.");
  // Survival 1 and 2 set equal: on a trend their predictors differ...
  map = slots_of(d.npar(), {{d.phi(1), d.phi(2)}, {d.phi(3)}});
  EXPECT_EQ(build_linear_design(trend, map, design),
            "S(" + std::to_string(d.phi(1)) + ") and S(" + std::to_string(d.phi(2)) +
                ") are set equal, but their linear forms give them different predictors.");
  // ...on a covariate with the same value in periods 1 and 2 they are one.
  const LinearForms same = laid_out("W", "PHI", FormulaPart::Phi, d, {}, {{"W", {0.5, 0.5, 2.0, 1.0}}});
  EXPECT_FALSE(build_linear_design(same, map, design));
  EXPECT_EQ(design.coefficients(), 2);

  // C(P+1) with the p of its occasion fixed.
  Structure s;
  ASSERT_FALSE(parse_structure({"PHI(.)", "P(T)", "C(P+1)", "GAMMA(NONE)"}, s));
  const LinearForms capture = structure_forms(s, d, {}, {});
  map = slots_of(d.npar(), {{d.p(1, 1)}, {d.c(1, 2)}});
  EXPECT_EQ(build_linear_design(capture, map, design),
            "C(P+...) of S(" + std::to_string(d.c(1, 2)) + ") adds the predictor of S(" + std::to_string(d.p(1, 2)) +
                "), which is not estimated.");
}

TEST(LinearDesignRefusals, CoefficientsThatMoveNothingAndDeficientRankAreNamed) {
  const RobustLayout d(std::vector<int>{2, 2, 2, 2});
  const SlotMap survivals = slots_of(d.npar(), each({d.phi(1), d.phi(2), d.phi(3)}));
  LinearDesign design;
  // T[3] moves survival 3 only, which is fixed.
  const LinearForms period = laid_out("T", "PHI", FormulaPart::Phi, d);
  EXPECT_EQ(build_linear_design(period, slots_of(d.npar(), each({d.phi(1), d.phi(2)})), design),
            "The coefficient PHI:T[3] reaches no estimated parameter (those it would move are fixed, or its covariate "
            "is 0 there).");
  // A covariate that is 0 in every interval it is read for (period 4 is read by none).
  const LinearForms zero = laid_out("W", "PHI", FormulaPart::Phi, d, {}, {{"W", {0.0, 0.0, 0.0, 3.0}}});
  EXPECT_EQ(build_linear_design(zero, survivals, design),
            "The coefficient PHI:W reaches no estimated parameter (those it would move are fixed, or its covariate "
            "is 0 there).");

  const std::string tail =
      " (a covariate that is constant where it is used, or terms that repeat each other); leave one of them out.";
  // TREND over intervals 1, 2, 3 is 1 + T[2] + 2 T[3].
  const LinearForms both = laid_out("T+TREND", "PHI", FormulaPart::Phi, d);
  EXPECT_EQ(build_linear_design(both, survivals, design),
            "The linear forms have deficient rank: PHI:TREND is confounded with PHI:1, PHI:T[2], PHI:T[3]" + tail);
  // A covariate the same in the three intervals it is read for is the constant.
  const LinearForms flat = laid_out("W", "PHI", FormulaPart::Phi, d, {}, {{"W", {1.0, 1.0, 1.0, 7.0}}});
  EXPECT_EQ(build_linear_design(flat, survivals, design),
            "The linear forms have deficient rank: PHI:W is confounded with PHI:1" + tail);
  // A covariate twice the interval's number is confounded with TREND alone.
  const LinearForms twice = laid_out("TREND+W", "PHI", FormulaPart::Phi, d, {}, {{"W", {2.0, 4.0, 6.0, 0.0}}});
  EXPECT_EQ(build_linear_design(twice, survivals, design),
            "The linear forms have deficient rank: PHI:W is confounded with PHI:TREND" + tail);
  // More coefficients than slots: T on two estimated survivals of three,
  // joined by a fourth column.
  const LinearForms more = laid_out("T+W", "PHI", FormulaPart::Phi, d, {}, {{"W", {0.3, 0.1, 0.2, 0.0}}});
  const auto message = build_linear_design(more, survivals, design);
  ASSERT_TRUE(message);
  EXPECT_NE(message->find("deficient rank: PHI:W is confounded with PHI:1, PHI:T[2], PHI:T[3]"), std::string::npos)
      << *message;
}

}  // namespace
}  // namespace quorvale
