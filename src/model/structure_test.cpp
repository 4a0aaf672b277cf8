#include "model/structure.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quorvale {
namespace {

/// Designs of 2, 3 and 5 periods with unequal occasions; period 2 of the
/// second and period 3 of the third have a single occasion (no recapture).
const std::vector<std::vector<int>> kDesigns = {{2, 3}, {3, 1, 4}, {3, 2, 1, 2, 2}};

std::vector<std::string> split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

/// Parses, checks and expands `text` on design d; the message when refused.
std::string expand(const std::string& text, const RobustLayout& d, ParameterMap& map, std::vector<std::string>& notes) {
  Structure s;
  if (auto message = parse_structure(split(text), s, d.groups())) return *message;
  if (auto message = check_structure(s, d)) return *message;
  map = structure_map(s, d, notes);
  return {};
}

TEST(Structure, EveryPartAndLevelEstimatesTheParametersCountedByHand) {
  // Free parameters on each design, counted from the words by hand: 0
  // where the design cannot carry the structure. Base PHI(.) P(.) C(P)
  // GAMMA(NONE) THETA(1) estimates one phi and one p; each row changes one
  // part (or two, for the last period's equalities).
  struct Row {
    std::string words;
    int free[3];
    std::size_t notes[3];
  };
  const std::string base = " P(.) C(P) THETA(1)";
  const std::vector<Row> rows = {
      {"PHI(.) GAMMA(NONE)" + base, {2, 2, 2}, {0, 0, 0}},
      {"PHI(T) GAMMA(NONE)" + base, {2, 3, 5}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(T) C(P)", {3, 4, 6}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(T*O) C(P)", {6, 9, 11}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(.) C(.)", {3, 3, 3}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(.) C(T)", {4, 4, 6}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(.) C(T*O)", {5, 7, 7}, {0, 0, 0}},
      {"PHI(.) GAMMA(RANDOM,.)" + base, {3, 3, 3}, {0, 0, 0}},
      {"PHI(.) GAMMA(RANDOM,T)" + base, {0, 4, 6}, {0, 0, 0}},
      {"PHI(.) GAMMA(MARKOV,.)" + base, {0, 4, 4}, {0, 0, 0}},
      {"PHI(.) GAMMA(MARKOV,T)" + base, {0, 5, 9}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(.) C(P) THETA(.)", {3, 3, 3}, {0, 0, 0}},
      {"PHI(.) GAMMA(NONE) P(.) C(P) THETA(T)", {4, 5, 7}, {0, 0, 0}},
      // By-period gamma's with survival by interval: the last period's tied.
      {"PHI(T) GAMMA(RANDOM,T)" + base, {0, 4, 8}, {0, 1, 1}},
      {"PHI(T) GAMMA(MARKOV,T)" + base, {0, 5, 10}, {0, 1, 2}},
      // No words: the most general model, theta fixed; two periods cannot
      // carry its GAMMA(MARKOV,T).
      {"", {0, 17, 24}, {0, 1, 2}},
  };
  for (std::size_t k = 0; k < kDesigns.size(); ++k) {
    const RobustLayout d(kDesigns[k]);
    for (const Row& row : rows) {
      ParameterMap map(0);
      std::vector<std::string> notes;
      const std::string message = expand(row.words, d, map, notes);
      if (row.free[k] == 0) {
        EXPECT_NE(message.find("needs at least"), std::string::npos) << row.words << " on design " << k;
        continue;
      }
      ASSERT_EQ(message, "") << row.words << " on design " << k;
      EXPECT_EQ(map.estimated(), row.free[k]) << row.words << " on design " << k;
      EXPECT_EQ(notes.size(), row.notes[k]) << row.words << " on design " << k;
    }
  }
}

TEST(Structure, GroupsAndValuesOnFivePeriods) {
  const RobustLayout d(kDesigns[2]);  // 3, 2, 1, 2, 2 occasions
  ParameterMap map(0);
  std::vector<std::string> notes;
  ASSERT_EQ(expand("c(.) P(T) phi(T) gamma(markov,T) theta(1)", d, map, notes), "");
  EXPECT_EQ(map[d.p(1, 3)].root, d.p(1, 1));
  EXPECT_EQ(map[d.p(4, 2)].root, d.p(4, 1));
  EXPECT_EQ(map[d.p(3, 1)].kind, Setting::Kind::Free);
  EXPECT_EQ(map[d.c(5, 2)].root, d.c(1, 2));  // one recapture for all periods
  EXPECT_EQ(map[d.gamma2(5)].root, d.gamma2(4));
  EXPECT_EQ(map[d.gamma1(5)].root, d.gamma1(4));
  EXPECT_EQ(map[d.gamma1(4)].kind, Setting::Kind::Free);
  EXPECT_EQ(map[d.theta(2)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(map[d.theta(2)].value, 1.0);
  EXPECT_EQ(notes[0], "gamma''(5) = gamma''(4): the last period's availability is confounded with survival into it");

  ASSERT_EQ(expand("C(T) P(T*O) GAMMA(RANDOM,.) PHI(.) THETA(.)", d, map, notes), "");
  EXPECT_EQ(map[d.c(1, 3)].root, d.c(1, 2));
  EXPECT_EQ(map[d.c(4, 2)].kind, Setting::Kind::Free);
  EXPECT_EQ(map[d.p(1, 2)].kind, Setting::Kind::Free);
  EXPECT_EQ(map[d.gamma1(4)].root, d.gamma2(2));  // gamma' = gamma'', one for all
  EXPECT_EQ(map[d.phi(4)].root, d.phi(1));
  EXPECT_EQ(map[d.theta(5)].root, d.theta(1));

  ASSERT_EQ(expand("C(P) GAMMA(NONE)", d, map, notes), "");
  EXPECT_EQ(map[d.c(2, 2)].root, d.p(2, 2));
  EXPECT_EQ(map[d.gamma1(3)].kind, Setting::Kind::Fixed);
  EXPECT_EQ(map[d.gamma1(3)].value, 0.0);
  EXPECT_EQ(map[d.gamma2(2)].value, 0.0);
}

TEST(Structure, RefusesUnknownPartsLevelsRepeatsAndWhatTheDesignLacks) {
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"PSI(T)", "Unknown STRUCTURE part PSI(T): the parts are PHI, P, C, GAMMA and THETA."},
      {"PHI", "STRUCTURE part PHI is not a part with its level in parentheses, such as PHI(T)."},
      {"phi(t) P(T) Phi(.)", "STRUCTURE part PHI given twice (Phi(.))."},
      {"PHI(T*O)", "Unknown level in STRUCTURE part PHI(T*O): PHI takes . or T."},
      {"P(P)", "Unknown level in STRUCTURE part P(P): P takes ., T or T*O."},
      {"C(X)", "Unknown level in STRUCTURE part C(X): C takes P, ., T or T*O."},
      {"GAMMA(MARKOV)", "Unknown level in STRUCTURE part GAMMA(MARKOV): GAMMA takes NONE, RANDOM,. RANDOM,T "
                        "MARKOV,. or MARKOV,T."},
      {"GAMMA(NONE,T)", "Unknown level in STRUCTURE part GAMMA(NONE,T): GAMMA takes NONE, RANDOM,. RANDOM,T "
                        "MARKOV,. or MARKOV,T."},
      {"THETA(T*O)", "Unknown level in STRUCTURE part THETA(T*O): THETA takes 1, . or T."},
  };
  const RobustLayout d(kDesigns[2]);
  for (const auto& [words, message] : refused) {
    ParameterMap map(0);
    std::vector<std::string> notes;
    EXPECT_EQ(expand(words, d, map, notes), message) << words;
  }
  const RobustLayout two(kDesigns[0]);
  const RobustLayout one(std::vector<int>{3});
  const std::vector<std::pair<std::string, std::string>> too_short = {
      {"GAMMA(MARKOV,T)", "GAMMA(MARKOV,T) needs at least three primary periods (gamma' starts in period 3): "
                          "the design has 2 primary periods."},
      {"gamma(random,t)", "GAMMA(RANDOM,T) needs at least three primary periods (gamma'' by period): "
                          "the design has 2 primary periods."},
  };
  for (const auto& [words, message] : too_short) {
    ParameterMap map(0);
    std::vector<std::string> notes;
    EXPECT_EQ(expand(words, two, map, notes), message) << words;
  }
  ParameterMap map(0);
  std::vector<std::string> notes;
  EXPECT_EQ(expand("GAMMA(RANDOM,.)", one, map, notes),
            "GAMMA(RANDOM,.) needs at least two primary periods: the design has 1 primary period.");
  // The default is held to the design as GAMMA(MARKOV,T) written out is.
  EXPECT_EQ(expand("", one, map, notes),
            "STRUCTURE without a GAMMA part stands for GAMMA(MARKOV,T), which needs at least two primary periods: "
            "the design has 1 primary period. Write the GAMMA part, such as GAMMA(NONE).");
  EXPECT_EQ(expand("PHI(.) P(T)", two, map, notes),
            "STRUCTURE without a GAMMA part stands for GAMMA(MARKOV,T), which needs at least three primary periods "
            "(gamma' starts in period 3): the design has 2 primary periods. Write the GAMMA part, such as GAMMA(NONE).");
  EXPECT_EQ(expand("PHI(.) P(T)", d, map, notes), "");  // three periods and more carry it
}

TEST(Structure, NameRunsTheWordsTogether) {
  Structure s;
  ASSERT_FALSE(parse_structure(split("gamma(markov,.) c(p) p(t) phi(t)"), s));
  EXPECT_EQ(structure_name(s), "PHI(T)P(T)C(P)GAM(MARKOV,.)");
  ASSERT_FALSE(parse_structure(split("THETA(T) GAMMA(NONE) P(.) C(T*O) PHI(.)"), s));
  EXPECT_EQ(structure_name(s), "PHI(.)P(.)C(T*O)GAM(NONE)THETA(T)");
}

// --- groups ------------------------------------------------------------------

/// The map as one word per parameter: its number when free, "=k" when equal
/// to S(k), "#v" when fixed at v.
std::string render(const ParameterMap& map) {
  std::string out;
  for (int i = 1; i <= map.npar(); ++i) {
    const Setting& s = map[i];
    if (!out.empty()) out += ' ';
    if (s.kind == Setting::Kind::Free) {
      out += std::to_string(i);
    } else if (s.kind == Setting::Kind::Equal) {
      out += '=';
      out += std::to_string(s.root);
    } else {
      out += '#';
      out += std::to_string(static_cast<int>(s.value));
    }
  }
  return out;
}

/// Two groups of four periods of 2, 1, 3 and 2 occasions, NPAR 50: each
/// block of 25 holds p(1,1) p(1,2) c(1,2) | p(2,1) | p(3,1..3) c(3,2..3) |
/// p(4,1..2) c(4,2) in 1..12, an unused 13, then phi(1..3) in 14..16,
/// gamma''(2..4) in 17..19, gamma'(3..4) in 20..21 and theta(1..4) in
/// 22..25; group M's block is 26..50.
RobustLayout two_groups() { return RobustLayout(std::vector<int>{2, 1, 3, 2}, 50, 2); }

TEST(StructureGroups, GroupLevelsGiveEachGroupItsOwnAndOthersAreShared) {
  const RobustLayout d = two_groups();
  ParameterMap map(0);
  std::vector<std::string> notes;
  // Capture and emigration by group, survival shared: group M's phi's are
  // group F's; the last period's gamma's are tied within each group.
  ASSERT_EQ(expand("PHI(T) P(G*T) C(P) GAMMA(MARKOV,G*T)", d, map, notes), "");
  EXPECT_EQ(render(map),
            "1 =1 =1 4 5 =5 =5 =5 =5 10 =10 =10 13 14 15 16 17 18 =18 20 =20 #1 #1 #1 #1 "
            "26 =26 =26 29 30 =30 =30 =30 =30 35 =35 =35 38 =14 =15 =16 42 43 =43 45 =45 #1 #1 #1 #1");
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "gamma''(4) = gamma''(3) in each group: the last period's availability is confounded with "
                       "survival into it",
                       "gamma'(4) = gamma'(3) in each group: the last period's availability is confounded with "
                       "survival into it"}));

  // Capture and recapture shared, survival and theta by group, emigration
  // shared: group M's p's all fall on S(1), its gamma's on group F's.
  notes.clear();
  ASSERT_EQ(expand("PHI(G) P(.) C(T) GAMMA(RANDOM,T) THETA(G)", d, map, notes), "");
  EXPECT_EQ(render(map),
            "1 =1 3 =1 =1 =1 =1 8 =8 =1 =1 12 13 14 =14 =14 17 18 19 =18 =19 22 =22 =22 =22 "
            "=1 =1 =3 =1 =1 =1 =1 =8 =8 =1 =1 =12 38 39 =39 =39 =17 =18 =19 =18 =19 47 =47 =47 =47");
  EXPECT_TRUE(notes.empty());  // survival constant: nothing to tie

  // Parts not named are by group; GAMMA(NONE) and THETA(1) fix every group's.
  ASSERT_EQ(expand("P(T) C(P) GAMMA(NONE)", d, map, notes), "");
  EXPECT_EQ(render(map),
            "1 =1 =1 4 5 =5 =5 =5 =5 10 =10 =10 13 14 15 16 #0 #0 #0 #0 #0 #1 #1 #1 #1 "
            "=1 =1 =1 =4 =5 =5 =5 =5 =5 =10 =10 =10 38 39 40 41 #0 #0 #0 #0 #0 #1 #1 #1 #1");
}

TEST(StructureGroups, GroupTermsNeedGroupsAndFormulaFaultsAreNamed) {
  const RobustLayout one(std::vector<int>{2, 1, 3, 2});
  const RobustLayout two = two_groups();
  const std::vector<std::pair<std::string, std::string>> refused_without_groups = {
      {"PHI(T) P(g*t*o)", "STRUCTURE part P(G*T*O) has a group term, but the model has no groups (PROC MODEL "
                          "GROUPS = ...)."},
      {"C(P) GAMMA(MARKOV,G)", "STRUCTURE part GAMMA(MARKOV,G) has a group term, but the model has no groups "
                               "(PROC MODEL GROUPS = ...)."},
      {"THETA(G*T)", "STRUCTURE part THETA(G*T) has a group term, but the model has no groups (PROC MODEL "
                     "GROUPS = ...)."},
  };
  for (const auto& [words, message] : refused_without_groups) {
    ParameterMap map(0);
    std::vector<std::string> notes;
    EXPECT_EQ(expand(words, one, map, notes), message) << words;
    EXPECT_EQ(expand(words, two, map, notes), "") << words;
  }
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"PHI(G+X)", "Unknown term X in STRUCTURE part PHI(G+X): terms are 1, T, G, TREND, O (P and C), P (C) and "
                   "the covariates of PROC MODEL (COVARIATE name = ...), of which there are none."},
      {"gamma(random,g+t*t)", "Interaction of T with itself in STRUCTURE part gamma(random,g+t*t)."},
      {"P(G+P)", "P in STRUCTURE part P(G+P): only C takes P, the capture probability's predictor."},
      {"PHI(G+O)", "O in STRUCTURE part PHI(G+O): only P and C vary by occasion."},
      {"PHI(G++T)", "Empty term in STRUCTURE part PHI(G++T): terms are joined by + and factors by *."},
      {"C(P*G+1)", "P in a product in STRUCTURE part C(P*G+1): C takes P as a term of its own, such as C(P+1)."},
      {"C(1*G+P)", "1 in a product in STRUCTURE part C(1*G+P): write the constant as a term of its own."},
      {"PHI(G*T*O)", "Unknown level in STRUCTURE part PHI(G*T*O): PHI takes ., T, G or G*T."},
      {"C(G*P)", "Unknown level in STRUCTURE part C(G*P): C takes P, ., T, T*O, G, G*T or G*T*O."},
      {"P(G*.)", "Unknown level in STRUCTURE part P(G*.): P takes ., T, T*O, G, G*T or G*T*O."},
  };
  for (const auto& [words, message] : refused) {
    ParameterMap map(0);
    std::vector<std::string> notes;
    EXPECT_EQ(expand(words, two, map, notes), message) << words;
  }
}

TEST(StructureGroups, WordsAndNameShowTheGroupTerms) {
  Structure s;
  ASSERT_FALSE(parse_structure(split("gamma(random,g) c(p) p(g*t) phi(g*t) theta(g)"), s, 2));
  EXPECT_EQ(structure_name(s), "PHI(G*T)P(G*T)C(P)GAM(RANDOM,G)THETA(G)");
  ASSERT_FALSE(parse_structure(split("C(G*T*O) GAMMA(MARKOV,G*T) P(G) PHI(.)"), s, 2));
  EXPECT_EQ(structure_words(s), "PHI(.) P(G) C(G*T*O) GAMMA(MARKOV,G*T)");
  // No words: the most general model, each group its own.
  ASSERT_FALSE(parse_structure({}, s, 2));
  EXPECT_EQ(structure_words(s), "PHI(G*T) P(G*T*O) C(G*T*O) GAMMA(MARKOV,G*T)");
  // The words read back give the same structure.
  Structure again;
  ASSERT_FALSE(parse_structure(split(structure_words(s)), again, 2));
  EXPECT_EQ(structure_words(again), structure_words(s));
}

}  // namespace
}  // namespace quorvale
