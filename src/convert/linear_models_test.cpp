// --models=LIST with STRUCTURE parts written as linear formulas: checked for
// identifiability in their coefficients, refused where the program would
// refuse them, and named so that the listing's tables tell them apart.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "convert/command.h"
#include "convert/identifiability.h"
#include "driver/title.h"
#include "estimate/consrt.h"
#include "estimate/linear_fit.h"
#include "estimate/structure.h"
#include "model/model.h"
#include "testing/harness.h"

namespace quorvale::convert {
namespace {

using quorvale::testing::StringRun;

/// The structure of `text` on design d, its map and the design of its linear forms.
struct Parsed {
  Structure s;
  ParameterMap map{0};
  LinearDesign linear;
  std::string fault;  ///< parse, design or linear-design fault; empty when none
};

Parsed parse(const Design& d, const std::string& text) {
  Parsed p;
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  std::optional<std::string> fault = parse_structure(words, p.s, d.groups());
  if (!fault) fault = check_structure(p.s, d);
  std::vector<std::string> notes;
  if (!fault) p.map = structure_map(p.s, d, notes);
  if (!fault && p.s.linear()) fault = linear_design(d, p.s, p.map, p.linear);
  if (fault) p.fault = *fault;
  return p;
}

/// Histories over every occasion of d, some of each group.
std::string histories_of(const Design& d) {
  std::string inp;
  const int n = d.total_occasions();
  for (int first = 0; first < n; ++first) {
    std::string h(static_cast<std::size_t>(n), '0');
    for (int k = first; k < n; k += 1 + first % 3) h[static_cast<std::size_t>(k)] = '1';
    inp += h;
    for (int g = 1; g <= d.groups(); ++g) inp += " " + std::to_string(3 + (first + g) % 4);
    inp += ";\n";
  }
  return inp;
}

/// The message of the ConvertError the structures of `list` raise; empty when none.
std::string models_fault(const Design& d, const std::vector<std::string>& list) {
  try {
    command_file(d, read_inp(histories_of(d)), CommandOptions{"f.inp", true}, list);
  } catch (const ConvertError& e) {
    return e.what();
  }
  return {};
}

TEST(LinearModels, IdentifiedInTheirCoefficients) {
  const Design d = parse_design("2,2,4,5,2");
  // Random emigration by period with survival by interval: phi(4) and
  // gamma''(5) enter only through phi(4) (1 - gamma''(5)). A trend in
  // survival ties phi(4) to the earlier survivals, which the data identify,
  // and so sets gamma''(5) apart; the map alone, every survival free, does not.
  const Parsed trend = parse(d, "PHI(TREND) P(T) C(P) GAMMA(RANDOM,T)");
  ASSERT_EQ(trend.fault, "");
  EXPECT_EQ(trend.linear.coefficients(), 2 + 5 + 4);
  EXPECT_LT(identifiability_margin(d, trend.map, 0), 1e-12);
  EXPECT_GT(identifiability_margin(d, trend.map, 0, &trend.linear), 1e-6);
  EXPECT_TRUE(identifiable(d, trend.map, &trend.linear));
  EXPECT_EQ(models_fault(d, {"PHI(TREND) P(T) C(P) GAMMA(RANDOM,T)"}), "");
  // A gamma of its own in every period keeps the pair confounded, formula or not.
  const Parsed own = parse(d, "PHI(T) P(T) C(P) GAMMA(RANDOM,1+T)");
  ASSERT_EQ(own.fault, "");
  EXPECT_LT(identifiability_margin(d, own.map, 0, &own.linear), 1e-12);
  EXPECT_LT(identifiability_margin(d, own.map, 1, &own.linear), 1e-12);
  EXPECT_EQ(models_fault(d, {"PHI(T) P(T) C(P) GAMMA(RANDOM,1+T)"}),
            "--models: PHI(T) P(T) C(P) GAMMA(RANDOM,1+T) is not identifiable with 5 primary periods");
  // The same models written as formulas and as levels: the same verdicts.
  for (const auto& [formula, level] :
       {std::pair<std::string, std::string>{"PHI(1+T) P(T) C(P) GAMMA(RANDOM,.)", "PHI(T) P(T) C(P) GAMMA(RANDOM,.)"},
        {"PHI(1) P(T) C(P) GAMMA(NONE)", "PHI(.) P(T) C(P) GAMMA(NONE)"},
        {"PHI(T) P(T) C(1+T) GAMMA(MARKOV,.)", "PHI(T) P(T) C(T) GAMMA(MARKOV,.)"}}) {
    const Parsed f = parse(d, formula);
    const Parsed l = parse(d, level);
    ASSERT_EQ(f.fault, "") << formula;
    ASSERT_EQ(l.fault, "") << level;
    EXPECT_EQ(f.linear.coefficients(), l.map.estimated()) << formula;
    EXPECT_TRUE(identifiable(d, f.map, &f.linear)) << formula;
    EXPECT_TRUE(identifiable(d, l.map)) << level;
  }
  // Capture and recapture on every occasion, each a formula: within a
  // period the first capture and the recaptures cannot be told apart from
  // the capture on later occasions, as with the levels P(T*O) C(T*O).
  const Parsed mtb = parse(parse_design("2,2,2"), "PHI(T) P(T*O) C(1+T) GAMMA(NONE)");
  ASSERT_EQ(mtb.fault, "");
  EXPECT_FALSE(identifiable(parse_design("2,2,2"), mtb.map, &mtb.linear));
  EXPECT_FALSE(identifiable(parse_design("2,2,2"), parse(parse_design("2,2,2"), "PHI(T) P(T*O) C(T) GAMMA(NONE)").map));
}

TEST(LinearModels, FormsTheProgramWouldRefuseAreFaults) {
  const Design d = parse_design("2,2,4,5,2");
  // TREND lies in the span of the constant and the interval factor.
  EXPECT_EQ(models_fault(d, {"PHI(T) P(T) C(P) GAMMA(NONE)", "PHI(T+TREND) P(T) C(P) GAMMA(NONE)"}),
            "--models: PHI(T+TREND) P(T) C(P) GAMMA(NONE): The linear forms have deficient rank: PHI:TREND is "
            "confounded with PHI:1, PHI:T[2], PHI:T[3], PHI:T[4] (a covariate that is constant where it is used, or "
            "terms that repeat each other); leave one of them out.");
  // The converter writes no covariates.
  EXPECT_NE(models_fault(d, {"PHI(T+WINTER) P(T) C(P) GAMMA(NONE)"}).find("Unknown term WINTER"), std::string::npos);
}

/// The name of every PROC ESTIMATE of `text` as the listing's tables show
/// it: the program reads NAME's value and the token after it (10 columns
/// each), its tokenizer cutting longer words into tokens of 10.
std::vector<std::string> table_names(const std::string& text) {
  auto r = std::make_unique<StringRun>(text);
  r->run.status.LINLFT = 1000000;
  r->start();
  title(r->run);
  model(r->run);
  std::vector<std::string> names;
  while (r->run.token(1) == "PROC" && r->run.token(2) == "ESTIMATE") {
    for (int L = 3; L + 2 <= r->run.status.NTOK; ++L) {
      if (r->run.token(L) != "NAME") continue;
      std::string name(r->run.token(L + 2).trimmed());
      name.resize(10, ' ');
      if (L + 3 <= r->run.status.NTOK) name += std::string(r->run.token(L + 3).trimmed());
      name.resize(20, ' ');
      names.push_back(name);
      break;
    }
    r->run.reader.getcmd();  // STRUCTURE
    r->run.reader.getcmd();
  }
  return names;
}

TEST(LinearModels, NamesStayDistinctInTheTablesAndLinesFitTheColumns) {
  // Two groups: MAXFN joins every PROC ESTIMATE. RANDOM(TREND) is longer
  // than a token, so the tables show RANDOM(TREND) alone for both of the
  // first two models; the second must be numbered.
  const Design d = with_groups(parse_design("2,2,4,5,2"), {"FEMALE", "MALE"});
  const std::vector<std::string> list = {
      "PHI(G*T) P(G*T) C(P) GAMMA(RANDOM,TREND)", "PHI(G+T) P(G*T) C(P) GAMMA(RANDOM,TREND)",
      "PHI(G+T) P(G*T) C(P) GAMMA(RANDOM,.)",     "PHI(G+T) P(G*T) C(P+1) GAMMA(RANDOM,.)",
      "PHI(G*TREND) P(G+T+O) C(P+G) GAMMA(RANDOM,G+TREND)"};
  const std::string text = command_file(d, read_inp(histories_of(d)), CommandOptions{"f.inp", true}, list);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) EXPECT_LE(line.size(), kLineWidth) << line;
  const std::vector<std::string> names = table_names(text);
  ASSERT_EQ(names.size(), list.size()) << text;
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names[0], "RANDOM(TREND)       ");
  EXPECT_EQ(names[1], "MODEL-2   RANDOM(TRE");
  EXPECT_EQ(names[2], "RANDOM(.) PHI(G+T)  ");
  EXPECT_EQ(names[3], "MODEL-4   RANDOM(.) ");
  // The whole name keeps every part's formula.
  EXPECT_NE(text.find("NAME=RANDOM(G+TREND) PHI(G*TREND) P(G+T+O)"), std::string::npos) << text;
}

TEST(LinearModels, TheProgramBuildsTheCoefficientsTheCommentCounts) {
  const Design d = with_groups(parse_design("2,3,2"), {"F", "M"});
  const std::vector<std::string> list = {"PHI(G+T) P(G*T) C(P+1) GAMMA(RANDOM,.)", "PHI(TREND) P(T+O) C(P) GAMMA(NONE)"};
  const std::string text = command_file(d, read_inp(histories_of(d)), CommandOptions{"f.inp", true}, list);
  auto r = std::make_unique<StringRun>(text);
  r->run.status.LINLFT = 1000000;
  r->start();
  title(r->run);
  model(r->run);
  // The comments as running text.
  std::string flat = text;
  for (std::size_t at = flat.find("\n   "); at != std::string::npos; at = flat.find("\n   ", at)) {
    flat.replace(at, 4, " ");
  }
  for (const std::string& words : list) {
    const Parsed p = parse(d, words);
    ASSERT_EQ(p.fault, "") << words;
    const std::string comment = words + ". Linear forms: " + std::to_string(p.linear.coefficients()) +
                                " coefficients on the logit scale";
    EXPECT_NE(flat.find(comment), std::string::npos) << flat;
    ASSERT_EQ(r->run.token(2), "ESTIMATE");
    r->run.reader.getcmd();
    ASSERT_EQ(r->run.token(1), "STRUCTURE");
    default_map(r->run.model);
    structure(r->run);
    ASSERT_TRUE(r->run.model.linear) << words;
    LinearDesign program;
    ASSERT_EQ(build_linear_design(r->run.model.linear->forms, slot_map(r->run.model), program), std::nullopt);
    EXPECT_EQ(program.names, p.linear.names) << words;
    // Row by row of the parameters: the program may number the slots in
    // another order; the converter numbers the free parameters in order.
    const ModelStore& m = r->run.model;
    int slot = 0;
    for (int I = 1; I <= m.NPAR; ++I) {
      const Setting& setting = p.map[I];
      if (setting.kind == Setting::Kind::Fixed) {
        EXPECT_LT(m.POINT(I), 0) << words << " S(" << I << ")";
        continue;
      }
      if (setting.kind == Setting::Kind::Free) ++slot;
      const int ours = setting.kind == Setting::Kind::Free ? slot : -1;
      ASSERT_GE(m.POINT(I), 1) << words << " S(" << I << ")";
      if (ours < 0) {  // an equal parameter shares its root's row
        EXPECT_EQ(m.POINT(I), m.POINT(setting.root)) << words << " S(" << I << ")";
        continue;
      }
      for (int k = 0; k < program.coefficients(); ++k) {
        EXPECT_EQ(program.at(m.POINT(I), k), p.linear.at(ours, k)) << words << " S(" << I << ") " << program.names[k];
      }
    }
  }
}

}  // namespace
}  // namespace quorvale::convert
