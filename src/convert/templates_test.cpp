#include "convert/templates.h"

#include <gtest/gtest.h>

#include "convert/identifiability.h"

namespace quorvale::convert {
namespace {

/// Names of the models kept for a design, joined by "|".
std::string kept_names(const Design& d, std::vector<std::string>* omitted = nullptr) {
  std::vector<std::string> left_out;
  std::string s;
  for (const ModelTemplate& t : standard_models(d, left_out)) s += (s.empty() ? "" : "|") + t.name;
  if (omitted != nullptr) *omitted = left_out;
  return s;
}

TEST(ParameterMap, TiesNameTheLowestMemberOfTheGroup) {
  ParameterMap m(6);
  m.tie(5, 3);
  m.tie(3, 4);
  m.tie(6, 2);
  m.tie(4, 6);  // joins the group {3,4,5} to {2,6}
  for (int i : {3, 4, 5, 6}) {
    EXPECT_EQ(m[i].kind, Setting::Kind::Equal) << i;
    EXPECT_EQ(m[i].root, 2) << i;
  }
  EXPECT_EQ(m[2].kind, Setting::Kind::Free);
  m.fix(1, 0.25);
  EXPECT_EQ(m.estimated(), 1);
  ParameterMap other(6);
  EXPECT_FALSE(m == other);
}

TEST(Hypothesis, CaptureRecaptureAndGammaGroups) {
  const Design d = parse_design("2,3,2");
  const ParameterMap random = hypothesis_map(d, ModelSpec{Emigration::Random, false, true, true});
  // Capture: one per period, recapture with it.
  EXPECT_EQ(random[d.c(1, 2)].root, d.p(1, 1));
  EXPECT_EQ(random[d.p(2, 3)].root, d.p(2, 1));
  EXPECT_EQ(random[d.c(2, 3)].root, d.p(2, 1));
  EXPECT_EQ(random[d.p(2, 1)].kind, Setting::Kind::Free);
  // Survival by period, one gamma for all.
  EXPECT_EQ(random[d.phi(2)].kind, Setting::Kind::Free);
  EXPECT_EQ(random[d.gamma2(3)].root, d.gamma2(2));
  EXPECT_EQ(random[d.gamma1(3)].root, d.gamma2(2));
  for (int ip = 1; ip <= 3; ++ip) {
    EXPECT_EQ(random[d.theta(ip)].kind, Setting::Kind::Fixed);
    EXPECT_EQ(random[d.theta(ip)].value, 1.0);
  }
  EXPECT_EQ(random.estimated(), 3 + 2 + 1);

  const ParameterMap none = hypothesis_map(d, ModelSpec{Emigration::None, false, false, false});
  EXPECT_EQ(none[d.p(3, 2)].root, d.p(1, 1));
  EXPECT_EQ(none[d.phi(2)].root, d.phi(1));
  EXPECT_EQ(none[d.gamma2(2)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(none[d.gamma2(2)].value, 0.0);
  EXPECT_EQ(none[d.gamma1(3)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(none.estimated(), 2);
}

TEST(Identifiability, TellsConfoundedParametersFromIdentifiableOnes) {
  const Design d = parse_design("2,2,2,2");
  // Every parameter free: theta never reaches a cell, and with two
  // occasions p1, p2 and c2 cannot all be told apart.
  ParameterMap all(d.npar());
  EXPECT_EQ(identifiability_margin(d, all, 0), 0.0);
  ParameterMap theta_fixed(d.npar());
  for (int ip = 1; ip <= 4; ++ip) theta_fixed.fix(d.theta(ip), 1.0);
  for (int j = 2; j <= 4; ++j) theta_fixed.fix(d.gamma2(j), 0.0);
  for (int j = 3; j <= 4; ++j) theta_fixed.fix(d.gamma1(j), 0.0);
  EXPECT_LT(identifiability_margin(d, theta_fixed, 0), 1e-12);
  // p1 = p2 with c free (a behavioural response) is identifiable, and so is
  // p1, p2 free with c2 = p2.
  ParameterMap behaviour = theta_fixed;
  for (int ip = 1; ip <= 4; ++ip) behaviour.tie(d.p(ip, 2), d.p(ip, 1));
  EXPECT_TRUE(identifiable(d, behaviour));
  ParameterMap by_occasion = theta_fixed;
  for (int ip = 1; ip <= 4; ++ip) by_occasion.tie(d.c(ip, 2), d.p(ip, 2));
  EXPECT_TRUE(identifiable(d, by_occasion));
}

TEST(Identifiability, LastPeriodGammasAreConfoundedWithSurvivalIntoIt) {
  for (const char* list : {"2,2,2,2", "2,2,4,5,2", "3,2,3,2,3,2"}) {
    const Design d = parse_design(list);
    const ModelSpec random{Emigration::Random, true, true, true};
    EXPECT_LT(identifiability_margin(d, hypothesis_map(d, random), 0), 1e-12) << list;
    EXPECT_TRUE(identifiable(d, hypothesis_map(d, random, true))) << list;
    const ModelSpec markov{Emigration::Markov, true, true, true};
    EXPECT_LT(identifiability_margin(d, hypothesis_map(d, markov), 0), 1e-12) << list;
    EXPECT_LT(identifiability_margin(d, hypothesis_map(d, markov, true), 0), 1e-12) << list;
    EXPECT_TRUE(identifiable(d, hypothesis_map(d, markov, true, true))) << list;
    // With survival constant the last gamma's need no tie.
    EXPECT_TRUE(identifiable(d, hypothesis_map(d, ModelSpec{Emigration::Markov, true, false, true}))) << list;
    EXPECT_TRUE(identifiable(d, hypothesis_map(d, ModelSpec{Emigration::Random, true, false, true}))) << list;
  }
}

TEST(StandardModels, FullSetForFivePeriods) {
  std::vector<std::string> omitted;
  const Design d = parse_design("2,2,4,5,2");
  EXPECT_EQ(kept_names(d, &omitted),
            "NO-EMIG PHI(.)P(.)|NO-EMIG PHI(T)P(.)|NO-EMIG PHI(.)P(T)|NO-EMIG PHI(T)P(T)|"
            "RANDOM(.) PHI(.)P(T)|RANDOM(.) PHI(T)P(T)|RANDOM(T) PHI(.)P(T)|RANDOM(T) PHI(T)P(T)|"
            "MARKOV(.) PHI(.)P(T)|MARKOV(.) PHI(T)P(T)|MARKOV(T) PHI(.)P(T)|MARKOV(T) PHI(T)P(T)");
  EXPECT_TRUE(omitted.empty());
  std::vector<std::string> unused;
  for (const ModelTemplate& t : standard_models(d, unused)) {
    EXPECT_TRUE(identifiable(d, t.map)) << t.name;
    // A name is two words of at most 10 characters, as PROC ESTIMATE keeps it.
    const std::size_t blank = t.name.find(' ');
    ASSERT_NE(blank, std::string::npos);
    EXPECT_LE(blank, 10u);
    EXPECT_LE(t.name.size() - blank - 1, 10u);
    const bool tied = t.spec.phi_by_period && t.spec.gamma_by_period && t.spec.emigration != Emigration::None;
    EXPECT_EQ(t.notes.size(), !tied ? 0u : t.spec.emigration == Emigration::Markov ? 2u : 1u) << t.name;
  }
}

TEST(StandardModels, FewPeriodsKeepWhatTheyCanIdentify) {
  std::vector<std::string> omitted;
  // Two periods: one survival, and availability in period 2 only ever
  // appears together with it.
  EXPECT_EQ(kept_names(parse_design("2,3"), &omitted), "NO-EMIG PHI(.)P(.)|NO-EMIG PHI(.)P(T)");
  EXPECT_EQ(omitted.size(), 10u);
  EXPECT_EQ(omitted[0], "NO-EMIG PHI(T)P(.) repeats NO-EMIG PHI(.)P(.)");
  EXPECT_EQ(omitted[2], "RANDOM(.) PHI(.)P(T) is not identifiable");
  // Three periods: the random models, not the Markovian ones.
  EXPECT_EQ(kept_names(parse_design("2,2,2"), &omitted),
            "NO-EMIG PHI(.)P(.)|NO-EMIG PHI(T)P(.)|NO-EMIG PHI(.)P(T)|NO-EMIG PHI(T)P(T)|"
            "RANDOM(.) PHI(.)P(T)|RANDOM(.) PHI(T)P(T)|RANDOM(T) PHI(.)P(T)");
  EXPECT_EQ(omitted.front(), "RANDOM(T) PHI(T)P(T) repeats RANDOM(.) PHI(T)P(T)");
  EXPECT_EQ(omitted.back(), "MARKOV(T) PHI(T)P(T) is not identifiable");
}

TEST(StandardModels, SingleOccasionPeriodsLeaveTheirCaptureToTheOpenPart) {
  // With one occasion a period's cells say nothing about p: whatever is
  // kept must still be identifiable, from the later captures.
  const Design d = parse_design("2,1,2,1,2");
  std::vector<std::string> omitted;
  const std::vector<ModelTemplate> kept = standard_models(d, omitted);
  EXPECT_FALSE(kept.empty());
  for (const ModelTemplate& t : kept) EXPECT_TRUE(identifiable(d, t.map)) << t.name;
}

TEST(GroupedHypothesis, SharedPartsTieAcrossGroupsAndOwnPartsStayApart) {
  // Two groups of periods of 2, 3 and 2 occasions: 19 parameters each.
  const Design d = with_groups(parse_design("2,3,2"), {"F", "M"});
  ASSERT_EQ(d.npar(), 38);
  std::vector<std::string> notes;
  // Capture by group and period, survival by period shared, one gamma for all.
  const ParameterMap shared = grouped_map(d, ModelSpec{Emigration::Random, false, true, true, false, false, true}, notes);
  EXPECT_EQ(shared[d.p(2, 1, 2)].kind, Setting::Kind::Free);
  EXPECT_EQ(shared[d.p(2, 3, 2)].root, d.p(2, 1, 2));
  EXPECT_EQ(shared[d.c(2, 3, 2)].root, d.p(2, 1, 2));
  EXPECT_EQ(shared[d.phi(1, 2)].root, d.phi(1, 1));
  EXPECT_EQ(shared[d.phi(2, 2)].root, d.phi(2, 1));
  EXPECT_EQ(shared[d.gamma2(2, 2)].root, d.gamma2(2, 1));
  EXPECT_EQ(shared[d.gamma1(3, 2)].root, d.gamma2(2, 1));
  EXPECT_EQ(shared[d.theta(3, 2)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(shared[d.theta(3, 2)].value, 1.0);
  EXPECT_EQ(shared.estimated(), 2 * 3 + 2 + 1);
  // Survival and gamma each group's own.
  const ParameterMap own = grouped_map(d, ModelSpec{Emigration::Random, false, true, true, true, true, true}, notes);
  EXPECT_EQ(own[d.phi(2, 2)].kind, Setting::Kind::Free);
  EXPECT_EQ(own[d.gamma2(2, 2)].kind, Setting::Kind::Free);
  EXPECT_EQ(own[d.gamma2(3, 2)].root, d.gamma2(2, 2));
  EXPECT_EQ(own[d.gamma1(3, 2)].root, d.gamma2(2, 2));
  EXPECT_EQ(own.estimated(), 2 * 3 + 2 * 2 + 2);
  // Capture shared: one p per period for both groups, c with it.
  const ParameterMap p = grouped_map(d, ModelSpec{Emigration::None, false, true, true, false, true, false}, notes);
  EXPECT_EQ(p[d.p(3, 2, 2)].root, d.p(3, 1, 1));
  EXPECT_EQ(p[d.c(1, 2, 2)].root, d.p(1, 1, 1));
  EXPECT_EQ(p[d.gamma2(3, 2)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(p.estimated(), 3 + 2 * 2);
  EXPECT_TRUE(notes.empty());
}

TEST(GroupedHypothesis, LastPeriodTiesHoldWithinEveryGroup) {
  const Design d = with_groups(parse_design("2,2,2,2"), {"F", "M"});
  std::vector<std::string> notes;
  const ModelSpec markov{Emigration::Markov, true, true, true, true, true, true};
  const ParameterMap map = grouped_map(d, markov, notes);
  for (int g = 1; g <= 2; ++g) {
    EXPECT_EQ(map[d.gamma2(4, g)].root, d.gamma2(3, g)) << g;
    EXPECT_EQ(map[d.gamma1(4, g)].root, d.gamma1(3, g)) << g;
    EXPECT_EQ(map[d.gamma2(3, g)].kind, Setting::Kind::Free) << g;
  }
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].substr(0, 25), "gamma''(4) = gamma''(3): ");
  EXPECT_EQ(notes[0].substr(notes[0].size() - 16), ", in every group");
  EXPECT_TRUE(identifiable(d, map));
  // Without the ties in the second group alone its last availability is
  // confounded with its survival into the last period.
  ParameterMap untied(d.npar());
  for (int i = 1; i <= d.npar(); ++i) {
    const Setting& s = map[i];
    const bool last = i == d.gamma2(4, 2) || i == d.gamma1(4, 2);
    if (s.kind == Setting::Kind::Fixed) untied.fix(i, s.value);
    if (s.kind == Setting::Kind::Equal && !last) untied.tie(i, s.root);
  }
  EXPECT_FALSE(identifiable(d, untied));
}

TEST(StandardModels, GroupsCompareSharedAndOwnSurvivalAndEmigration) {
  const Design d = with_groups(parse_design("2,2,4,5,2"), {"F", "M"});
  std::vector<std::string> omitted;
  EXPECT_EQ(kept_names(d, &omitted),
            "NO-EMIG PHI(T)|NO-EMIG PHI(G*T)|RANDOM(.) PHI(T)|RANDOM(.) PHI(G*T)|RANDOM(G) PHI(T)|"
            "RANDOM(G) PHI(G*T)|MARKOV(.) PHI(T)|MARKOV(.) PHI(G*T)|MARKOV(G) PHI(T)|MARKOV(G) PHI(G*T)");
  EXPECT_TRUE(omitted.empty());
  for (const ModelTemplate& t : standard_models(d, omitted)) EXPECT_TRUE(identifiable(d, t.map)) << t.name;
  EXPECT_EQ(template_words(ModelSpec{Emigration::Markov, false, true, true, true, false, true}),
            "PHI(T) P(G*T) C(P) GAMMA(MARKOV,G)");
  EXPECT_EQ(template_words(ModelSpec{Emigration::Random, true, false, false, false, true, false}),
            "PHI(G) P(.) C(P) GAMMA(RANDOM,T)");
  EXPECT_EQ(template_words(ModelSpec{Emigration::None, false, true, true, false, true, true}),
            "PHI(G*T) P(G*T) C(P) GAMMA(NONE)");
}

}  // namespace
}  // namespace quorvale::convert
