#include "convert/cli.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "convert/command.h"
#include "convert/design.h"
#include "convert/inp.h"
#include "convert/plan.h"
#include "model/group_names.h"

namespace quorvale::convert {

namespace {

/// The --help text.
constexpr const char* kUsage =
    "Usage: quorvale-inp --secondary K1,K2,...,KM [--groups NAMES]\n"
    "         [--models[=LIST]] FILE.inp > analysis.cmd\n"
    "\n"
    "Converts robust-design encounter histories (\".inp\": one record per history,\n"
    "a string of 0 and 1 over all secondary occasions, a frequency and \";\",\n"
    "comments between /* and */) into a Quorvale command file on standard output.\n"
    "A negative frequency counts animals not released after their last capture.\n"
    "Several groups of animals (sexes, sites) have one frequency each on every\n"
    "record: \"0110 12 7;\" is 12 animals of the first group and 7 of the second.\n"
    "\n"
    "  --secondary LIST  secondary occasions of each primary period, e.g. 2,2,4,5,2;\n"
    "                    they must add up to the length of every history\n"
    "  --groups NAMES    names of the groups in the order of the frequencies,\n"
    "                    separated by commas (or blanks), e.g. F,M; each a letter\n"
    "                    and up to 9 letters, digits or _; without it several\n"
    "                    frequencies are groups G1, G2, ... The model has GROUPS,\n"
    "                    every group with all the cohorts and its own parameters\n"
    "  --models          also write competing models (no, random and Markovian\n"
    "                    temporary emigration; survival and capture constant or\n"
    "                    by period; with groups, survival and emigration shared\n"
    "                    or by group), each identifiable and with DERIVED (the\n"
    "                    abundance of every period), and PROC TEST AVERAGE\n"
    "                    (model-averaged estimates)\n"
    "  --models=LIST     the structures of LIST instead, separated by \";\", e.g.\n"
    "                    --models='P(T) C(P) GAMMA(NONE);P(T) C(P) GAMMA(RANDOM,.)'\n"
    "                    (a part may be a linear formula on the logit scale, such\n"
    "                    as PHI(G+T), PHI(TREND) or C(P+1), checked to be\n"
    "                    identifiable in its coefficients)\n"
    "  --help            show this text\n"
    "\n"
    "FILE \"-\" reads standard input. Faults are reported with the line of the input\n"
    "(exit status 1, nothing written to standard output). Run the result with\n"
    "  printf 'i=analysis.cmd\\n' | quorvale\n";

/// The --plan --help text.
constexpr const char* kPlanUsage =
    "Usage: quorvale-inp --plan --secondary LIST [--groups NAMES]\n"
    "               (--marked N1,...,NM | --superpopulation N)\n"
    "               --phi V --p V [--c V] [--gamma2 V] [--gamma1 V]\n"
    "               [--phi-trend B] [--covariate NAME=X1,...,XM --phi-effect NAME=E]\n"
    "               [--nsim R] [--seed S] [--submodels 1,4,...] > plan.cmd\n"
    "writes PROC MODEL with the cohorts expected under that truth, PROC SIMULATE\n"
    "with the truth as the generating model and COVERAGE, and the competing models\n"
    "of --models (all, or those numbered) as its submodels. Each V is one value\n"
    "for every period or one per period: --p and --c periods 1..M (--c defaults\n"
    "to --p), --phi intervals 1..M-1, --gamma2 (gamma'') periods 2..M, --gamma1\n"
    "(gamma') periods 3..M; the gammas default to 0 (no temporary emigration).\n"
    "--marked gives the animals newly marked in each period, --superpopulation\n"
    "the animals present and available in period 1 (none entering later).\n"
    "For several groups give each option's values group by group, separated by\n"
    "\"/\": --phi 0.8/0.7 --marked 500/400,300,300; values without \"/\" hold\n"
    "for every group. The groups are those of --groups, else G1, G2, ...\n"
    "\n"
    "Survival may change on the logit scale: --phi-trend B adds B per interval,\n"
    "--covariate NAME=X1,...,XM gives a covariate of the periods (one value per\n"
    "period; an interval takes its first period's) and --phi-effect NAME=E its\n"
    "effect, so that logit phi(i) = logit phi(i) given + B (i - 1)\n"
    "+ E (X(i) - X(1)): interval 1 keeps --phi, the others move from it.\n"
    "--covariate and --phi-effect may be repeated, one covariate each; B and E\n"
    "take \"/\" for groups (--phi-trend -0.3/-0.1). The command file then holds\n"
    "the COVARIATE statements, and each chosen model is followed by itself with\n"
    "survival linear in those terms (PHI(TREND), PHI(WINTER), PHI(G*TREND) for\n"
    "survival by group), whose coefficients PHI:TREND and PHI:WINTER the\n"
    "coverage block compares with the truth.\n";

/// A fault of the command line itself.
struct UsageFault {
  std::string message;  ///< what is wrong
};

/// The options of one call.
struct Options {
  std::string secondary;  ///< the --secondary list
  bool models = false;    ///< --models
  std::vector<std::string> structures;  ///< the structures of --models=LIST
  bool help = false;      ///< --help
  std::vector<std::string> groups;  ///< the names of --groups; empty when not given
  std::string file;       ///< the input file
  bool plan = false;      ///< --plan
  /// The values of the --plan options, by option name (without "--").
  std::vector<std::pair<std::string, std::string>> values;
  /// The text of plan option `name`; empty when not given.
  std::string value(const std::string& name) const {
    for (const auto& [k, v] : values) {
      if (k == name) return v;
    }
    return {};
  }
  /// The texts of plan option `name`, which may be given more than once, in order.
  std::vector<std::string> all(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : values) {
      if (k == name) out.push_back(v);
    }
    return out;
  }
};

/// Options that take a value after --plan.
constexpr const char* kPlanOptions[] = {"marked", "superpopulation", "phi", "p", "c", "gamma2", "gamma1",
                                        "nsim", "seed", "submodels", "phi-trend", "covariate", "phi-effect"};

/// The numbers of a comma-separated list, as the command file writes them
/// (six significant digits); a fault names the option (and the group).
std::vector<double> number_list(const std::string& option, const std::string& text) {
  std::vector<double> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    char* stop = nullptr;
    const double v = std::strtod(item.c_str(), &stop);
    if (item.empty() || stop != item.c_str() + item.size() || !std::isfinite(v)) {
      throw UsageFault{"--" + option + ": \"" + item + "\" is not a number"};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    out.push_back(std::strtod(buf, nullptr));
    start = end + 1;
  }
  return out;
}

/// One value for every one of `count` periods, or one each, from `text`
/// (the option's value for one group); probabilities in 0..1. `option`
/// names the option, and the group where there are several.
std::vector<double> per_period(const std::string& option, const std::string& text, int count, const std::string& what,
                               double fallback, bool required) {
  if (text.empty()) {
    if (required && count > 0) throw UsageFault{"--" + option + " is required: " + what};
    return std::vector<double>(static_cast<std::size_t>(std::max(count, 0)), fallback);
  }
  if (count <= 0) throw UsageFault{"--" + option + ": this design has no " + what};
  std::vector<double> v = number_list(option, text);
  if (v.size() == 1) v.assign(static_cast<std::size_t>(count), v[0]);
  if (static_cast<int>(v.size()) != count) {
    throw UsageFault{"--" + option + ": " + std::to_string(v.size()) + " values given, 1 or " + std::to_string(count) +
                     " expected (" + what + ")"};
  }
  for (double x : v) {
    if (!(x >= 0.0 && x <= 1.0)) throw UsageFault{"--" + option + ": " + text + " is not a probability from 0 to 1"};
  }
  return v;
}

/// A whole number of at least `least` given to `option`, else `fallback`.
int whole_number(const Options& o, const std::string& option, int fallback, int least) {
  const std::string text = o.value(option);
  if (text.empty()) return fallback;
  char* stop = nullptr;
  const long v = std::strtol(text.c_str(), &stop, 10);
  if (stop != text.c_str() + text.size() || v < least) {
    throw UsageFault{"--" + option + ": " + text + " is not a whole number of " + std::to_string(least) + " or more"};
  }
  if (v > 2147483645L) throw UsageFault{"--" + option + ": " + text + " is more than the program's 2147483645"};
  return static_cast<int>(v);
}

/// Refuses a plan whose cohorts hold more animals in all than the program
/// counts: the sample size, the sum of the cohort sizes, is a 32-bit count
/// (and every animal of every cohort is drawn in each replicate).
void refuse_too_many_animals(const Design& d, const std::vector<Truth>& truths, const std::string& option) {
  constexpr double most = 2147483647.0;
  double total = 0.0;
  for (double size : expected_sizes(d, truths)) total += size < most ? static_cast<double>(std::llround(size)) : size;
  if (!(total <= most)) {
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.6g", total);
    throw UsageFault{"--" + option + ": the planned cohorts would hold " + shown +
                     " animals in all, more than the 2147483647 the program counts (the sample size, the sum of "
                     "the cohort sizes, is a 32-bit count); plan fewer animals"};
  }
}

/// Options of the truth of --plan, which take values per group separated by "/".
constexpr const char* kTruthOptions[] = {"marked", "superpopulation", "phi", "p", "c", "gamma2", "gamma1",
                                         "phi-trend", "phi-effect"};

/// The "/"-separated parts of a text.
std::vector<std::string> slash_parts(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('/', start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

/// Groups of a plan: as many as --groups names, else as many as the truth
/// options give values per group (1 when none is split by "/"). Every
/// option gives one value list for all groups or one per group.
int plan_groups(const Options& o) {
  int groups = static_cast<int>(o.groups.size());
  std::string decided_by = "--groups names " + std::to_string(groups);
  for (const char* name : kTruthOptions) {
    for (const std::string& text : o.all(name)) {
      if (text.empty()) continue;
      const int parts = static_cast<int>(slash_parts(text).size());
      if (parts == 1) continue;
      if (groups == 0) {
        groups = parts;
        decided_by = std::string("--") + name + " has values for " + std::to_string(parts);
      } else if (parts != groups) {
        throw UsageFault{std::string("--") + name + ": values for " + std::to_string(parts) +
                         " groups (separated by \"/\"), but " + decided_by +
                         ": give the values of all groups once or those of every group"};
      }
    }
  }
  return std::max(groups, 1);
}

/// A name as the program reads it, in capitals.
std::string capitals(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return text;
}

/// The name before "=" of a NAME=VALUES option text, in capitals, and the values after it.
std::pair<std::string, std::string> named_values(const std::string& option, const std::string& text,
                                                 const std::string& form) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageFault{"--" + option + " " + text + ": " + form + " expected"};
  return {capitals(text.substr(0, eq)), text.substr(eq + 1)};
}

/// The terms that move survival on the logit scale: --phi-trend, and each
/// --covariate with its --phi-effect.
SurvivalTerms survival_terms(const Options& o, const Design& d) {
  const int M = d.periods();
  SurvivalTerms terms;
  terms.trend = !o.value("phi-trend").empty();
  if (terms.trend && M < 3) {
    throw UsageFault{"--phi-trend: a trend needs two survival intervals or more (3 primary periods); this design has 1"};
  }
  for (const std::string& text : o.all("covariate")) {
    auto [name, values] = named_values("covariate", text, "NAME=X1,...,XM (one value per primary period)");
    if (const std::optional<std::string> fault = covariate_name_fault(name)) throw UsageFault{"--covariate: " + *fault};
    for (const Covariate& c : terms.covariates) {
      if (c.name == name) throw UsageFault{"--covariate " + name + " given twice"};
    }
    if (values.find('/') != std::string::npos) {
      throw UsageFault{"--covariate " + name +
                       ": a covariate of the periods is the same for every group; give its values once, without \"/\""};
    }
    Covariate c{name, number_list("covariate " + name, values)};
    if (static_cast<int>(c.values.size()) != M) {
      throw UsageFault{"--covariate " + name + ": " + std::to_string(c.values.size()) + " values given, " +
                       std::to_string(M) + " expected (one per primary period)"};
    }
    // Survival reads the covariate in the first period of each interval.
    if (std::all_of(c.values.begin(), c.values.end() - 1, [&c](double x) { return x == c.values.front(); })) {
      throw UsageFault{"--covariate " + name + ": its values in periods 1.." + std::to_string(M - 1) +
                       ", where the survival intervals start, are all the same: its effect on survival could not be "
                       "told from the constant"};
    }
    terms.covariates.push_back(std::move(c));
  }
  std::vector<std::string> effects;
  for (const std::string& text : o.all("phi-effect")) {
    const std::string name = named_values("phi-effect", text, "NAME=E (the effect of covariate NAME)").first;
    if (std::find(effects.begin(), effects.end(), name) != effects.end()) {
      throw UsageFault{"--phi-effect " + name + " given twice"};
    }
    if (std::none_of(terms.covariates.begin(), terms.covariates.end(), [&name](const Covariate& c) { return c.name == name; })) {
      throw UsageFault{"--phi-effect " + name + ": there is no --covariate " + name + "=X1,...,XM"};
    }
    effects.push_back(name);
  }
  for (const Covariate& c : terms.covariates) {
    if (std::find(effects.begin(), effects.end(), c.name) == effects.end()) {
      throw UsageFault{"--covariate " + c.name + ": no --phi-effect " + c.name +
                       "=E gives its effect on survival (0 for none)"};
    }
  }
  return terms;
}

/// One number for the group from an option's text for that group: `option`
/// names it (and the group).
double one_number(const std::string& option, const std::string& text) {
  const std::vector<double> v = number_list(option, text);
  if (v.size() != 1) throw UsageFault{"--" + option + ": " + text + " is not one number"};
  return v.front();
}

/// The truth of group g (1..) of a plan whose design has the groups laid out.
Truth group_truth(const Options& o, const Design& d, int g, const SurvivalTerms& terms) {
  const int M = d.periods();
  // The option's text for this group, and its name in messages.
  auto text = [&](const std::string& name) {
    const std::vector<std::string> parts = slash_parts(o.value(name));
    return parts.size() == 1 ? parts[0] : parts[static_cast<std::size_t>(g - 1)];
  };
  auto shown = [&](const std::string& name) { return d.named_groups() ? name + " (group " + d.group_name(g) + ")" : name; };
  Truth t;
  if (!o.value("marked").empty()) {
    t.marked = number_list(shown("marked"), text("marked"));
    if (t.marked.size() == 1) t.marked.assign(static_cast<std::size_t>(M), t.marked[0]);
    if (static_cast<int>(t.marked.size()) != M) {
      throw UsageFault{"--" + shown("marked") + ": " + std::to_string(t.marked.size()) + " values given, 1 or " +
                       std::to_string(M) + " expected (animals newly marked in periods 1.." + std::to_string(M) + ")"};
    }
    for (double v : t.marked) {
      if (!(v >= 0.0)) throw UsageFault{"--" + shown("marked") + ": " + text("marked") + " has a negative number of animals"};
    }
  } else {
    const std::vector<double> v = number_list(shown("superpopulation"), text("superpopulation"));
    if (v.size() != 1 || !(v[0] > 0.0)) {
      throw UsageFault{"--" + shown("superpopulation") + ": one number of animals above 0"};
    }
    t.superpopulation = v[0];
  }
  const std::string periods = "periods 1.." + std::to_string(M);
  t.p = per_period(shown("p"), text("p"), M, "capture probability of " + periods, 0.0, true);
  t.c = o.value("c").empty() ? t.p
                             : per_period(shown("c"), text("c"), M, "recapture probability of " + periods, 0.0, true);
  t.phi = per_period(shown("phi"), text("phi"), M - 1, "survival of intervals 1.." + std::to_string(M - 1), 0.0, true);
  t.gamma2 = per_period(shown("gamma2"), text("gamma2"), M - 1, "gamma'' of periods 2.." + std::to_string(M), 0.0, false);
  t.gamma1 = per_period(shown("gamma1"), text("gamma1"), M - 2, "gamma' of periods 3.." + std::to_string(M), 0.0, false);
  if (!terms.any()) return t;
  // The group's part of a text split by "/".
  auto part = [g](const std::string& all) {
    const std::vector<std::string> parts = slash_parts(all);
    return parts.size() == 1 ? parts[0] : parts[static_cast<std::size_t>(g - 1)];
  };
  if (terms.trend) t.phi_trend = one_number(shown("phi-trend"), text("phi-trend"));
  for (const Covariate& c : terms.covariates) {
    for (const std::string& effect : o.all("phi-effect")) {
      const auto [name, value] = named_values("phi-effect", effect, "NAME=E");
      if (name == c.name) t.phi_effects.push_back(one_number(shown("phi-effect " + name), part(value)));
    }
  }
  for (double phi : t.phi) {
    if (!(phi > 0.0 && phi < 1.0)) {
      throw UsageFault{"--" + shown("phi") + ": " + text("phi") +
                       " is not strictly between 0 and 1: with a trend or a covariate effect survival moves on the "
                       "logit scale, where 0 and 1 have no value"};
    }
  }
  t.phi = survival_with_terms(t.phi, t.phi_trend, terms.covariates, t.phi_effects);
  return t;
}

/// The design of a plan with its groups, the truth of every group and the options of --plan.
struct Plan {
  Design design;              ///< the periods and the groups
  std::vector<Truth> truths;  ///< one per group
  PlanOptions options;        ///< replicates, seed, submodels
};

/// The plan the options describe.
Plan plan_of(const Options& o, const Design& periods) {
  const int M = periods.periods();
  if (M < 2) throw UsageFault{"--plan needs at least 2 primary periods in --secondary"};
  const bool marked = !o.value("marked").empty();
  const bool super = !o.value("superpopulation").empty();
  if (marked == super) throw UsageFault{"--plan needs one of --marked and --superpopulation"};
  const int groups = plan_groups(o);
  Plan plan;
  plan.design = !o.groups.empty() ? with_groups(periods, o.groups)
                : groups > 1      ? with_groups(periods, default_group_names(groups))
                                  : periods;
  const SurvivalTerms terms = survival_terms(o, plan.design);
  for (int g = 1; g <= groups; ++g) plan.truths.push_back(group_truth(o, plan.design, g, terms));
  refuse_too_many_animals(plan.design, plan.truths, marked ? "marked" : "superpopulation");
  PlanOptions& p = plan.options;
  p.survival = terms;
  p.nsim = whole_number(o, "nsim", 100, 1);
  p.seed = whole_number(o, "seed", 1, 0);
  if (!o.value("submodels").empty()) {
    for (double v : number_list("submodels", o.value("submodels"))) {
      if (v != std::floor(v) || v < 1) throw UsageFault{"--submodels: " + o.value("submodels") + " are not model numbers"};
      p.submodels.push_back(static_cast<int>(v));
    }
  }
  return plan;
}

/// The names of --groups: words separated by commas or blanks.
std::vector<std::string> group_names_of(const std::string& text) {
  std::vector<std::string> names;
  std::string word;
  for (char ch : text + ",") {
    if (ch == ',' || ch == ' ' || ch == '\t') {
      if (!word.empty()) names.push_back(word);
      word.clear();
    } else {
      word += ch;
    }
  }
  if (names.empty()) throw UsageFault{"--groups needs the names of the groups, such as F,M"};
  if (names.size() > static_cast<std::size_t>(kMaxGroups)) {
    throw UsageFault{"--groups: " + std::to_string(names.size()) + " names; at most " + std::to_string(kMaxGroups) +
                     " groups are allowed"};
  }
  if (const std::optional<std::string> fault = group_names_fault(names)) throw UsageFault{"--groups: " + *fault};
  return names;
}

Options parse_args(const std::vector<std::string>& args) {
  Options o;
  bool have_secondary = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--models") {
      o.models = true;
    } else if (a.rfind("--models=", 0) == 0) {
      o.models = true;
      std::istringstream list(a.substr(9));
      for (std::string item; std::getline(list, item, ';');) {
        if (item.find_first_not_of(' ') != std::string::npos) o.structures.push_back(item);
      }
      if (o.structures.empty()) throw UsageFault{"--models= needs structures, e.g. --models='PHI(.) P(T)'"};
    } else if (a == "--plan") {
      o.plan = true;
    } else if (a.rfind("--", 0) == 0 && std::find(std::begin(kPlanOptions), std::end(kPlanOptions), a.substr(2, a.find('=') == std::string::npos ? std::string::npos : a.find('=') - 2)) != std::end(kPlanOptions)) {
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) {
        o.values.emplace_back(name, a.substr(eq + 1));
      } else {
        if (i + 1 >= args.size()) throw UsageFault{a + " needs a value"};
        o.values.emplace_back(name, args[++i]);
      }
    } else if (a == "--groups") {
      if (i + 1 >= args.size()) throw UsageFault{"--groups needs the names of the groups, such as F,M"};
      o.groups = group_names_of(args[++i]);
    } else if (a.rfind("--groups=", 0) == 0) {
      o.groups = group_names_of(a.substr(9));
    } else if (a == "--secondary") {
      if (i + 1 >= args.size()) throw UsageFault{"--secondary needs a list such as 2,2,4,5,2"};
      o.secondary = args[++i];
      have_secondary = true;
    } else if (a.rfind("--secondary=", 0) == 0) {
      o.secondary = a.substr(12);
      have_secondary = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageFault{"unknown option " + a};
    } else if (!o.file.empty()) {
      throw UsageFault{"more than one input file (" + o.file + ", " + a + ")"};
    } else {
      o.file = a;
    }
  }
  if (o.help) return o;
  if (!have_secondary) throw UsageFault{"--secondary is required: the secondary occasions of each primary period"};
  if (o.plan) {
    if (!o.file.empty()) throw UsageFault{"--plan reads no input file (" + o.file + ")"};
    if (o.models) throw UsageFault{"--plan writes the models itself: choose them with --submodels"};
    return o;
  }
  if (!o.values.empty()) throw UsageFault{"--" + o.values.front().first + " belongs to --plan"};
  if (o.file.empty()) throw UsageFault{"no input file"};
  return o;
}

/// Warns of the periods of one secondary occasion, whose closed part estimates nothing.
void warn_single_occasions(const Design& design, std::ostream& err) {
  if (const std::optional<std::string> note = single_occasion_note(design)) {
    err << "quorvale-inp: warning: --secondary: " << *note << ".\n";
  }
}

}  // namespace

int inp_main(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = parse_args(args);
  } catch (const UsageFault& f) {
    err << "quorvale-inp: " << f.message << "\nTry 'quorvale-inp --help'.\n";
    return 1;
  }
  if (o.help) {
    out << (o.plan ? kPlanUsage : kUsage);
    return 0;
  }
  std::string where = o.file == "-" ? "standard input" : o.file;
  try {
    const Design design = parse_design(o.secondary);
    if (o.plan) {
      Plan plan;
      try {
        plan = plan_of(o, design);
      } catch (const UsageFault& f) {
        err << "quorvale-inp: " << f.message << "\nTry 'quorvale-inp --help'.\n";
        return 1;
      }
      out << plan_command_file(plan.design, plan.truths, plan.options) << std::flush;
      if (!out) {
        err << "quorvale-inp: cannot write the command file\n";
        return 1;
      }
      warn_single_occasions(design, err);
      return 0;
    }
    std::string text;
    if (o.file == "-") {
      std::ostringstream all;
      all << in.rdbuf();
      text = all.str();
    } else {
      std::ifstream file(o.file, std::ios::binary);
      if (!file) {
        err << "quorvale-inp: cannot open " << o.file << "\n";
        return 1;
      }
      std::ostringstream all;
      all << file.rdbuf();
      if (file.bad()) {
        err << "quorvale-inp: cannot read " << o.file << "\n";
        return 1;
      }
      text = all.str();
    }
    const std::vector<History> histories = read_inp(text, static_cast<int>(o.groups.size()));
    // Several frequencies on every history are groups, named G1, G2, ...
    // unless --groups names them.
    const int groups = static_cast<int>(histories.front().frequencies.size());
    const Design grouped = !o.groups.empty() ? with_groups(design, o.groups)
                           : groups > 1      ? with_groups(design, default_group_names(groups))
                                             : design;
    const std::string command =
        command_file(grouped, histories, CommandOptions{o.file == "-" ? "" : o.file, o.models}, o.structures);
    out << command << std::flush;
    if (!out) {
      err << "quorvale-inp: cannot write the command file\n";
      return 1;
    }
    warn_single_occasions(design, err);
    return 0;
  } catch (const ConvertError& e) {
    err << "quorvale-inp: ";
    if (o.plan) {
      err << e.what() << "\n";
      return 1;
    }
    if (e.line() > 0) {
      err << where << ":" << e.line() << ": ";
    } else if (std::string_view(e.what()).rfind("--secondary", 0) != 0 &&
               std::string_view(e.what()).rfind("--models", 0) != 0) {
      err << where << ": ";
    }
    err << e.what() << "\n";
    return 1;
  }
}

}  // namespace quorvale::convert
