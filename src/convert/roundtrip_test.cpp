// Round trip: animals simulated one by one under known survival, capture
// and Markovian temporary emigration, their histories converted, the
// command file fitted by the program, and the estimates compared with the
// values that generated the data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "convert/command.h"
#include "convert/templates.h"
#include "driver/pelmar.h"

namespace quorvale::convert {
namespace {

/// The generating values.
struct Truth {
  std::vector<int> kk{2, 3, 2, 3};                 ///< secondary occasions
  std::vector<double> p{0.45, 0.35, 0.5, 0.4};     ///< capture = recapture, by period
  double phi = 0.8;                                ///< survival, every interval
  double gamma2 = 0.25;                            ///< unavailable after being available
  double gamma1 = 0.6;                             ///< unavailable after being unavailable
  double loss = 0.03;                              ///< caught and not released
  std::vector<int> entering{3000, 1000, 1000, 1000};  ///< new animals present from each period on
};

/// Uniform number in (0, 1) from 53 bits of the generator, the same on every platform.
double uniform(std::mt19937_64& g) { return (static_cast<double>(g() >> 11) + 0.5) / 9007199254740992.0; }

/// The ".inp" text of one simulated study: each animal lives, moves in and
/// out of the study area and is caught occasion by occasion.
std::string simulate(const Truth& t, std::uint64_t seed) {
  std::mt19937_64 g(seed);
  struct Animal {
    std::string history;
    bool alive = true;
    bool available = true;
    bool lost = false;
  };
  std::vector<Animal> animals;
  int length = 0;
  for (int k : t.kk) length += k;
  int at = 0;  // first occasion of the period
  for (std::size_t ip = 0; ip < t.kk.size(); ++ip) {
    for (Animal& a : animals) {
      if (!a.alive || a.lost) continue;
      a.alive = uniform(g) < t.phi;  // from the period before
      a.available = uniform(g) >= (a.available ? t.gamma2 : t.gamma1);
    }
    for (int n = 0; n < t.entering[ip]; ++n) animals.push_back(Animal{std::string(static_cast<std::size_t>(length), '0')});
    for (Animal& a : animals) {
      if (!a.alive || a.lost || !a.available) continue;
      bool caught = false;
      for (int k = 0; k < t.kk[ip]; ++k) {
        if (uniform(g) < t.p[ip]) {
          a.history[static_cast<std::size_t>(at + k)] = '1';
          caught = true;
        }
      }
      if (caught && uniform(g) < t.loss) a.lost = true;
    }
    at += t.kk[ip];
  }
  std::map<std::string, std::pair<int, int>> counts;  // released, lost
  for (const Animal& a : animals) {
    if (a.history.find('1') == std::string::npos) continue;
    (a.lost ? counts[a.history].second : counts[a.history].first) += 1;
  }
  std::string inp = "/* simulated */\n";
  for (const auto& [h, n] : counts) {
    if (n.first > 0) inp += h + " " + std::to_string(n.first) + " ;\n";
    if (n.second > 0) inp += h + " -" + std::to_string(n.second) + " ;\n";
  }
  return inp;
}

/// S(I) and its standard error, by parameter number, from the results table of model `name`.
std::map<int, std::pair<double, double>> results(const std::string& listing, const std::string& name) {
  std::map<int, std::pair<double, double>> r;
  std::size_t at = listing.find("Results for model " + name);
  if (at == std::string::npos) return r;
  at = listing.find("  ---  ---", at);
  std::istringstream in(listing.substr(listing.find('\n', at) + 1));
  std::string line;
  while (std::getline(in, line) && line.size() >= 54) {
    const int i = std::atoi(line.substr(0, 4).c_str());
    if (i < 1) break;
    r[i] = {std::strtod(line.substr(29, 12).c_str(), nullptr), std::strtod(line.substr(42, 12).c_str(), nullptr)};
  }
  return r;
}

/// The listing of a run of `commands`; the run must end normally.
std::string run_listing(const std::string& commands) {
  std::istringstream in(commands);
  std::ostringstream out;
  std::ostringstream err;
  const std::vector<std::string> words;  // commands from `in`, listing to `out`
  EXPECT_EQ(pelmar({in, out, err}, &words), 0) << err.str();
  return out.str();
}

/// Number of times `text` occurs in `listing`.
int occurrences(const std::string& listing, const std::string& text) {
  int n = 0;
  for (std::size_t at = listing.find(text); at != std::string::npos; at = listing.find(text, at + 1)) ++n;
  return n;
}

TEST(ExampleData, EveryTemplateFitsCleanlyAndTheUntiedVariantsDoNot) {
  std::ifstream file(QUORVALE_SOURCE_DIR "/examples/robust-example.inp", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  const Design d = parse_design("2,2,4,5,2");
  const std::vector<History> histories = read_inp(text.str());

  const std::string listing = run_listing(command_file(d, histories, CommandOptions{"robust-example.inp", true}));
  EXPECT_EQ(occurrences(listing, "Results for model"), 12);
  // PROC TEST's closing note, and the pairs of the model set that are not nested.
  EXPECT_EQ(occurrences(listing, "WARNING"), 2);
  EXPECT_EQ(occurrences(listing, "WARNING  * *   Sequence of models reinitialized to zero."), 1);
  EXPECT_EQ(occurrences(listing, "WARNING  * *   Not nested, their likelihood-ratio test does not apply: "), 1);
  // Every estimate is well determined: the largest standard error, gamma'(3)
  // of the Markovian models, is about 0.1.
  std::vector<std::string> omitted;
  for (const ModelTemplate& t : standard_models(d, omitted)) {
    const std::string name = t.name.substr(0, t.name.find(' ')) + std::string(10 - t.name.find(' '), ' ') +
                             t.name.substr(t.name.find(' ') + 1);
    const auto fit = results(listing, name);
    ASSERT_EQ(static_cast<int>(fit.size()), d.npar()) << name;
    for (const auto& [i, value] : fit) EXPECT_LT(value.second, 0.2) << name << " S(" << i << ")";
  }

  // Without the ties of the last period the program's own inversion of the
  // information matrix fails: survival into period 5 and availability in it
  // are confounded, in the random model and in the Markovian one, where
  // tying gamma'' alone or gamma' alone is not enough either.
  std::string model = command_file(d, histories, CommandOptions{"robust-example.inp", false});
  model.resize(model.size() - std::string("PROC STOP;\n").size());
  const ModelSpec random{Emigration::Random, true, true, true};
  const ModelSpec markov{Emigration::Markov, true, true, true};
  ParameterMap markov_gamma1_tied = hypothesis_map(d, markov);
  markov_gamma1_tied.tie(d.gamma1(5), d.gamma1(4));
  int n = 0;
  for (const ParameterMap& map : {hypothesis_map(d, random), hypothesis_map(d, markov, true), markov_gamma1_tied}) {
    model += "PROC ESTIMATE NAME=UNTIED" + std::to_string(++n) + ";\n" + constraint_block(map);
  }
  const std::string untied = run_listing(model + "PROC STOP;\n");
  EXPECT_EQ(occurrences(untied, "Variance-covariance matrix not positive-definite for Model UNTIED1"), 1);
  EXPECT_EQ(occurrences(untied, "Variance-covariance matrix not positive-definite for Model UNTIED2"), 1);
  // The third inverts, barely: its standard errors show the confounding.
  const auto third = results(untied, "UNTIED3");
  ASSERT_FALSE(third.empty());
  EXPECT_GT(third.at(d.phi(4)).second, 100.0);
}

TEST(ExampleData, ChosenModelsShowNamesTheTablesTellApart) {
  // Named by their structures, the first two pairs show the same 20
  // characters in the tables (PHI(T)P(T)C(P)GAM(MA..., ...GAM(RA...), and so
  // would the last two by emigration, survival and capture alone.
  std::ifstream file(QUORVALE_SOURCE_DIR "/examples/robust-example.inp", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  const Design d = parse_design("2,2,4,5,2");
  const std::vector<std::string> chosen = {
      "PHI(T) P(T) C(P) GAMMA(MARKOV,.)", "PHI(T) P(T) C(P) GAMMA(MARKOV,T)", "PHI(T) P(T) C(P) GAMMA(RANDOM,.)",
      "PHI(T) P(T) C(P) GAMMA(RANDOM,T)", "PHI(.) P(T) C(T) GAMMA(NONE)",     "PHI(.) P(T) C(.) GAMMA(NONE)"};
  const std::string listing =
      run_listing(command_file(d, read_inp(text.str()), CommandOptions{"robust-example.inp", true}, chosen));
  EXPECT_EQ(occurrences(listing, "Results for model"), 6);
  EXPECT_EQ(occurrences(listing, "show the same name"), 0);
  // The averaged estimates and the abundance of every fit were asked for.
  EXPECT_EQ(occurrences(listing, "Derived estimates"), 6);
  EXPECT_EQ(occurrences(listing, "Model-averaged estimates"), 1);
}

TEST(RoundTrip, SimulatedStudyIsConvertedFittedAndRecovered) {
  const Truth t;
  const Design d{t.kk};
  const std::string inp = simulate(t, 20240611);
  const std::vector<History> histories = read_inp(inp);
  bool any_lost = false;
  for (const History& h : histories) any_lost = any_lost || h.frequencies.front() < 0;
  ASSERT_TRUE(any_lost);

  const std::string listing = run_listing(command_file(d, histories, CommandOptions{"simulated.inp", true}));

  // No fit meets an unidentifiable parameter. The optimizer may stop a digit
  // short of NSIG on a flat likelihood (its rounding note, a matter of
  // precision that starting values do not change, and PROC TEST then names
  // that fit among those that did not converge), PROC TEST names the pairs of
  // the model set that are not nested and ends with its own note; nothing
  // else is warned about.
  EXPECT_EQ(listing.find("Variance-covariance matrix not positive-definite"), std::string::npos);
  const std::string mark = "WARNING  * *   ";
  int warnings = 0;
  for (std::size_t at = listing.find(mark); at != std::string::npos; at = listing.find(mark, at + 1), ++warnings) {
    const std::size_t from = at + mark.size();
    const std::string text = listing.substr(from, listing.find('\n', from) - from);
    const bool known = text == "Sequence of models reinitialized to zero." ||
                       text == "Rounding errors became dominant before parameters estimated" ||
                       text.rfind("to NSIG digits for Model ", 0) == 0 ||
                       text.rfind("Fits that did not converge: ", 0) == 0 ||
                       text.rfind("Not nested, their likelihood-ratio test does not apply: ", 0) == 0 ||
                       text == "Check to be sure the parameters are identifiable," ||
                       text == "but the problem may just be ill-conditioned.";
    EXPECT_TRUE(known) << text;
  }
  EXPECT_GE(warnings, 1);  // the note of PROC TEST at least

  // The generating model: Markovian emigration, constant survival, capture by period.
  const auto fit = results(listing, "MARKOV(.) PHI(.)P(T)");
  ASSERT_EQ(static_cast<int>(fit.size()), d.npar());
  auto near = [&](int par, double truth, double largest_se, const char* what) {
    const auto [estimate, se] = fit.at(par);
    EXPECT_GT(se, 0.0) << what;
    EXPECT_LT(se, largest_se) << what;
    EXPECT_LT(std::fabs(estimate - truth), 4 * se) << what << " estimate " << estimate << " se " << se;
  };
  for (int ip = 1; ip <= d.periods(); ++ip) {
    near(d.p(ip, 1), t.p[static_cast<std::size_t>(ip - 1)], 0.03, "p");
  }
  near(d.phi(1), t.phi, 0.03, "phi");
  near(d.phi(3), t.phi, 0.03, "phi(3)");
  near(d.gamma2(2), t.gamma2, 0.06, "gamma''");
  near(d.gamma1(4), t.gamma1, 0.2, "gamma'");  // few animals are known to be away
  EXPECT_EQ(fit.at(d.theta(1)).first, 1.0);

  // Ignoring the emigration shows: the no-emigration model of the same
  // survival and capture fits far worse.
  const auto none = results(listing, "NO-EMIG   PHI(.)P(T)");
  ASSERT_FALSE(none.empty());
  EXPECT_EQ(none.at(d.gamma2(3)).first, 0.0);
  const std::size_t lnl_markov = listing.find("MARKOV(.) PHI(.)P(T) -");
  const std::size_t lnl_none = listing.find("NO-EMIG   PHI(.)P(T) -");
  ASSERT_NE(lnl_markov, std::string::npos);
  ASSERT_NE(lnl_none, std::string::npos);
  EXPECT_GT(std::strtod(listing.c_str() + lnl_markov + 21, nullptr),
            std::strtod(listing.c_str() + lnl_none + 21, nullptr) + 10.0);
}

}  // namespace
}  // namespace quorvale::convert
