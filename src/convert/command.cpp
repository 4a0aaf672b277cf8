#include "convert/command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "convert/command_writing.h"
#include "convert/identifiability.h"
#include "convert/plan.h"
#include "convert/templates.h"

namespace quorvale::convert {

namespace writing {

/// Appends one statement made of `pieces` joined by `joint`, ended by ";".
/// The first line starts with `first`, the others with `cont` (which begins
/// with a blank, so that no word runs on into the line before); lines break
/// between pieces before kLineWidth.
void put_statement(std::string& out, const std::string& first, const std::vector<std::string>& pieces,
                   const std::string& joint, const std::string& cont) {
  std::string line = first;
  bool fresh = true;  // no piece on this line yet
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string piece = pieces[i] + (i + 1 == pieces.size() ? ";" : "");
    if (!fresh && line.size() + joint.size() + piece.size() > kLineWidth) {
      out += line + "\n";
      line = cont;
      fresh = true;
    }
    line += (fresh ? "" : joint) + piece;
    fresh = false;
  }
  if (pieces.empty()) line += ";";
  out += line + "\n";
}

/// Appends a comment of running text, word-wrapped, the first line opened by
/// "/*" and the others indented by three blanks. A ";" would end the
/// statement and a "*/" the comment early: they become "," and " /".
void put_comment(std::string& out, std::string text) {
  for (char& ch : text) ch = ch == ';' ? ',' : ch;
  for (std::size_t at = text.find("*/"); at != std::string::npos; at = text.find("*/", at)) text[at] = ' ';
  std::string line = "/*";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!word.empty()) {
      if (line.size() + 1 + word.size() + 3 > kLineWidth) {
        out += line + "\n";
        line = "  ";
      }
      line += " " + word;
    }
    start = end + 1;
  }
  out += line + " */\n";
}

/// A name fit for the title and the comments: its last path component,
/// every character but letters, digits and ".-_+" replaced by "_", at most
/// 50 characters so that the PROC TITLE line fits.
std::string plain_name(const std::string& source) {
  std::string name = source.substr(source.find_last_of("/\\") == std::string::npos ? 0 : source.find_last_of("/\\") + 1);
  for (char& ch : name) {
    const bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                      ch == '.' || ch == '-' || ch == '_' || ch == '+';
    if (!keep) ch = '_';
  }
  if (name.size() > 50) name.resize(50);
  return name.empty() ? "standard input" : name;
}

/// "S(n)".
std::string S(int n) { return "S(" + std::to_string(n) + ")"; }

/// Right-aligned in `width` columns.
std::string right(long long v, std::size_t width) {
  std::string s = std::to_string(v);
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

/// The occasions of every period as running text: "2, 2, 4, 5 and 2".
std::string occasions_text(const Design& d) {
  std::string s;
  for (int ip = 1; ip <= d.periods(); ++ip) {
    s += (ip == 1 ? "" : ip == d.periods() ? " and " : ", ") + std::to_string(d.occasions(ip));
  }
  return s;
}

/// The factors of a closed cell of group g, as pieces ending in "*" but the last.
std::vector<std::string> closed_factors(const Design& d, int ip, int h, int g = 1) {
  const int kk = d.occasions(ip);
  std::vector<std::string> factors;
  bool caught = false;
  for (int t = 1; t <= kk; ++t) {
    const bool capture = ((h >> (kk - t)) & 1) == 0;
    const int par = caught ? d.c(ip, t, g) : d.p(ip, t, g);
    factors.push_back(capture ? S(par) : "(1-" + S(par) + ")");
    caught = caught || capture;
  }
  for (std::size_t i = 0; i + 1 < factors.size(); ++i) factors[i] += "*";
  return factors;
}

/// The factors of open cell j of release period i of group g.
std::vector<std::string> open_factors(const Design& d, int i, int j, int g) {
  std::vector<std::string> factors;
  for (int k = i; k < j; ++k) factors.push_back(S(d.phi(k, g)) + "*");
  factors.push_back("PSTAR(" + std::to_string(j) + ")*");
  factors.push_back(j == i + 1 ? "(1-" + S(d.gamma2(j, g)) + ")"
                               : "A(" + std::to_string(i) + "," + std::to_string(j) + ")");
  return factors;
}

/// Longest label written: the tables of estimates show 20 characters of a
/// label and the estimate right after them.
constexpr std::size_t kLabelWidth = 19;

/// The LABELS block: every parameter named by its symbol and a word or two,
/// short enough (kLabelWidth) that the tables of estimates keep a blank
/// before the next column; a comment says what each symbol means. With
/// named groups each label ends with its group's name, the word dropped
/// where it would not fit, the group's number where the name would not.
void put_labels(std::string& out, const Design& d) {
  const auto num = [](int v) { return std::to_string(v); };
  // The labels, in parameter order, each of its group.
  std::vector<std::pair<int, std::string>> labels;  // parameter, label
  bool by_number = false;
  auto label = [&](int par, int g, const std::string& symbol, const std::string& word) {
    std::string text = symbol + " " + word;
    if (d.named_groups()) {
      const std::string& name = d.group_name(g);
      if (text.size() + 2 + name.size() <= kLabelWidth) {
        text += ", " + name;
      } else if (symbol.size() + 2 + name.size() <= kLabelWidth) {
        text = symbol + ", " + name;
      } else {
        text = symbol + ", " + num(g);
        by_number = true;
      }
    }
    labels.emplace_back(par, text);
  };
  const int M = d.periods();
  for (int g = 1; g <= d.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int t = 1; t <= d.occasions(ip); ++t) label(d.p(ip, t, g), g, "p(" + num(ip) + "," + num(t) + ")", "capture");
      for (int t = 2; t <= d.occasions(ip); ++t) label(d.c(ip, t, g), g, "c(" + num(ip) + "," + num(t) + ")", "recapture");
    }
    for (int i = 1; i < M; ++i) label(d.phi(i, g), g, "phi(" + num(i) + ")", "survival");
    for (int j = 2; j <= M; ++j) label(d.gamma2(j, g), g, "gamma''(" + num(j) + ")", "leave");
    for (int j = 3; j <= M; ++j) label(d.gamma1(j, g), g, "gamma'(" + num(j) + ")", "stay out");
    for (int ip = 1; ip <= M; ++ip) label(d.theta(ip, g), g, "theta(" + num(ip) + ")", "exponent");
  }
  std::string explanation =
      "Labels: p(i,t) capture and c(i,t) recapture in period i on occasion t, phi(i) survival from period i to i+1, "
      "gamma''(j) unavailable in j if available in j-1 (leave), gamma'(j) unavailable in j if unavailable in j-1 "
      "(stay out), theta(i) the recapture exponent of period i.";
  if (d.named_groups()) {
    explanation += " Each label ends with its group";
    if (by_number) {
      explanation += ", by number where the name does not fit:";
      for (int g = 1; g <= d.groups(); ++g) explanation += (g == 1 ? " " : ", ") + num(g) + " " + d.group_name(g);
    }
    explanation += ".";
  }
  put_comment(out, explanation);
  out += "LABELS;\n";
  for (const auto& [par, text] : labels) out += "  " + S(par) + "=" + text + ";\n";
}

/// The cohorts and their cells, the remainder cells left to ADDCELL; with
/// named groups a comment opens each group's cohorts.
void put_cohorts(std::string& out, const Design& d, const std::vector<Cohort>& cohorts) {
  const auto num = [](int v) { return std::to_string(v); };
  const int M = d.periods();
  // The explanation goes with the first cohort statement: each statement,
  // comments included, must fit the program's statement buffer.
  put_comment(out,
              "Cohorts: for each period ip, the animals first caught in ip, then those released after period jp-1 "
              "and next caught in ip (jp = 2..ip), cells by capture history within ip. Then for each period i, "
              "the animals released after i, cells by the period they are next caught in. ADDCELL adds every "
              "cohort's last cell (never caught). The cell expressions are for reading only: PSTAR(j) is caught "
              "at least once in period j, A(i,j) is available in j and missed in between." +
                  std::string(d.named_groups() ? " The groups one after the other, each with all the cohorts and "
                                                 "its own parameters."
                                               : ""));
  int group = 0;  // group of the cohorts written so far
  for (const Cohort& c : cohorts) {
    if (d.named_groups() && c.group != group) {
      group = c.group;
      put_comment(out, "Group " + d.group_name(group) + " (" + num(group) + " of " + num(d.groups()) +
                           "): cohorts " + num(d.closed_cohort(1, 1, group)) + " to " +
                           num(d.open_cohort(M - 1, group)) + ", parameters S(" + num(d.p(1, 1, group)) +
                           ") to S(" + num(d.theta(M, group)) + ").");
    }
    std::string what;
    if (!c.open) {
      what = c.jp == 1 ? "period " + num(c.period) + ", first caught"
                       : "period " + num(c.period) + ", released after period " + num(c.jp - 1);
    } else {
      what = "released after period " + num(c.period) + ", next caught in period " + num(c.period + 1) + ".." +
             num(M);
    }
    // The comment goes to a line of its own where the one line would be too long.
    const std::string statement = " COHORT = " + std::to_string(c.size);
    const std::string comment = " /* " + what + " */;";
    out += statement + (statement.size() + comment.size() > kLineWidth ? "\n  " : "") + comment + "\n";
    for (std::size_t k = 0; k < c.cells.size(); ++k) {
      const int h = static_cast<int>(k);
      const std::vector<std::string> factors = c.open ? open_factors(d, c.period, c.period + 1 + h, c.group)
                                                      : closed_factors(d, c.period, h, c.group);
      put_statement(out, "  " + right(c.cells[k], 9) + " : ", factors, "", "              ");
    }
  }
}

/// The limit on evaluations a model of several groups is written with: each
/// group's block adds as many parameters as one group has, and the default
/// 1000 evaluations leave the larger fits short of convergence.
std::string more_evaluations(const Design& d) {
  if (d.groups() == 1) return {};
  std::string words = "MAXFN=";
  words += std::to_string(1000 * d.groups());
  return words + " ";
}


/// The name as the listing's tables show it: the program reads a word of
/// more than 10 characters as several tokens of 10, and the tables show the
/// first two tokens of the name, 10 columns each.
std::string shown_name(const std::vector<std::string>& words) {
  std::vector<std::string> tokens;
  for (const std::string& w : words) {
    for (std::size_t at = 0; at < w.size() && tokens.size() < 2; at += 10) tokens.push_back(w.substr(at, 10));
  }
  std::string shown;
  for (std::size_t i = 0; i < 2; ++i) {
    std::string t = i < tokens.size() ? tokens[i] : std::string();
    t.resize(10, ' ');
    shown += t;
  }
  return shown;
}

void put_items(std::string& out, const std::string& first, const std::vector<std::string>& items) {
  std::string line = first;
  for (const std::string& item : items) {
    if (line.size() + 1 + item.size() > kLineWidth) {
      out += line + "\n";
      line = " ";
    }
    line += " " + item;
  }
  out += line + "\n";
}

/// The words of a text separated by blanks.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

/// A linear variant of a plan: its comment, PROC ESTIMATE, STRUCTURE, the
/// equalities its structure leaves out and its start. `shown` holds the names as the
/// tables show them of the models written before; a name that repeats one
/// of them is led by the number of the model it follows.
void put_variant(std::string& out, const Design& d, const LinearVariant& v, std::vector<std::string>& shown) {
  put_comment(out, v.description + "." +
                       (v.starts.empty() ? std::string()
                                         : " Its refits start from the truth: a fit over coefficients started at "
                                           "0.5 can stop short of the maximum."));
  std::vector<std::string> name = v.name;
  if (std::find(shown.begin(), shown.end(), shown_name(name)) != shown.end()) {
    name.insert(name.begin(), "LINEAR-" + std::to_string(v.of));
  }
  shown.push_back(shown_name(name));
  std::string joined;
  for (const std::string& w : name) joined += (joined.empty() ? "" : " ") + w;
  out += "PROC ESTIMATE " + more_evaluations(d) + "NAME=" + joined + ";\n STRUCTURE " + v.structure + ";\n";
  if (!v.equalities.empty()) put_items(out, " CONSTRAINT;", v.equalities);
  if (!v.starts.empty()) put_items(out, " INITIAL;", v.starts);
}

void put_models(std::string& out, const Design& d, const std::vector<int>& chosen, bool test,
                const std::vector<LinearVariant>& variants) {
  std::vector<std::string> omitted;
  const std::vector<ModelTemplate> models = standard_models(d, omitted);
  for (int k : chosen) {
    if (k < 1 || k > static_cast<int>(models.size())) {
      throw ConvertError(0, "--submodels: there is no model " + std::to_string(k) + "; this design has models 1 to " +
                                std::to_string(models.size()));
    }
  }
  const std::string groups =
      d.groups() == 1 ? std::string()
                      : " With " + std::to_string(d.groups()) +
                            " groups: capture by group and period in every model, survival by period and the "
                            "gamma's constant, each either shared by the groups (PHI(T), GAMMA(RANDOM,.)) or "
                            "each group's own (PHI(G*T), GAMMA(RANDOM,G)). A level without G is the same for "
                            "all groups.";
  put_comment(out,
              "Competing models. Within every period capture and recapture are one probability (c = p on every "
              "occasion) and theta is fixed at 1 (no power variant)." + groups +
                  " Each model is identifiable from the design: the information matrix of its free parameters "
                  "has full rank." +
                  std::string(single_occasion_note(d) ? " For the periods of one occasion that rests on the open "
                                                        "part alone (see the note above)."
                                                      : ""));
  std::vector<std::string> shown;  // the names as the tables show them, of the models written so far
  int number = 0;
  for (const ModelTemplate& m : models) {
    ++number;
    if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), number) == chosen.end()) continue;
    std::string text = "Model " + std::to_string(number) + ": " + m.description + ".";
    for (const std::string& n : m.notes) text += " Constrained: " + n + ".";
    put_comment(out, text);
    // An analysis (PROC TEST follows) asks for the abundance of every period
    // too; the refits of a planned study's simulation do not need it.
    out += std::string("PROC ESTIMATE ") + (test ? "DERIVED " : "") + more_evaluations(d) + "NAME=" + m.name + ";\n";
    out += " STRUCTURE " + template_words(m.spec) + ";\n";
    shown.push_back(shown_name(words_of(m.name)));
    for (const LinearVariant& v : variants) {
      if (v.of == number) put_variant(out, d, v, shown);
    }
  }
  if (!omitted.empty()) {
    std::string text = "Not fitted, with " + std::to_string(d.periods()) + " primary periods:";
    for (std::size_t i = 0; i < omitted.size(); ++i) text += (i == 0 ? " " : ", ") + omitted[i];
    put_comment(out, text + ".");
  }
  if (test) out += "PROC TEST AVERAGE;\n";
}

/// The name of a chosen structure, as words with what tells the models
/// apart first: temporary emigration, then survival and capture, then
/// recapture and theta when they are not C(P) and THETA(1). A part written
/// as a formula shows it ("PHI(G+T)", "RANDOM(TREND)"). The tables of the
/// listing show the first 20 characters (see shown_name).
std::vector<std::string> structure_name_words(const Structure& s) {
  // A level as its words say it: by group (G), by period (T), by occasion (O).
  const auto level = [](Variation v, bool by_group) {
    const std::string g = by_group ? "G" : "";
    if (v == Variation::Constant) return "(" + (by_group ? g : std::string(".")) + ")";
    return "(" + (by_group ? g + "*" : std::string()) + (v == Variation::Period ? "T)" : "T*O)");
  };
  const auto varies = [](bool by_period) { return by_period ? Variation::Period : Variation::Constant; };
  // The level of a part, or its formula when it has one.
  const auto level_or_formula = [&level](const std::optional<Formula>& form, Variation v, bool by_group) {
    return form ? "(" + form->text + ")" : level(v, by_group);
  };
  std::vector<std::string> words;
  const std::string by = level_or_formula(s.gamma_form, varies(s.gamma_by_period), s.gamma_by_group);
  words.push_back(s.emigration == Emigration::None     ? "NO-EMIG"
                  : s.emigration == Emigration::Random ? "RANDOM" + by
                                                       : "MARKOV" + by);
  const std::string phi = "PHI" + level_or_formula(s.phi_form, varies(s.phi_by_period), s.phi_by_group);
  const std::string p = "P" + level_or_formula(s.p_form, s.p, s.p_by_group);
  if (phi.size() + p.size() <= 10) {
    words.push_back(phi + p);
  } else {
    words.push_back(phi);
    words.push_back(p);
  }
  if (!s.c_is_p) words.push_back("C" + level_or_formula(s.c_form, s.c, s.c_by_group));
  if (s.theta) words.push_back("THETA" + level(*s.theta, s.theta_by_group));
  return words;
}

/// Why structure `s`, which the design carries, cannot be fitted: a model
/// the design does not identify, or linear forms the program would refuse;
/// none when it can. The equalities its map adds go to `notes`; a structure
/// with linear forms is checked in their coefficients (its map leaves every
/// parameter of a formula's part free), their design kept in `linear`.
std::optional<std::string> identification_fault(const Design& d, const Structure& s, std::vector<std::string>& notes,
                                                LinearDesign& linear) {
  const ParameterMap map = structure_map(s, d, notes);
  if (s.linear()) {
    if (const std::optional<std::string> refused = linear_design(d, s, map, linear)) {
      return structure_words(s) + ": " + *refused;
    }
  }
  if (!identifiable(d, map, s.linear() ? &linear : nullptr)) {
    return structure_words(s) + " is not identifiable with " + std::to_string(d.periods()) + " primary periods";
  }
  return std::nullopt;
}

/// The chosen structures, each as a fit, and PROC TEST.
void put_structures(std::string& out, const Design& d, const std::vector<std::string>& chosen) {
  put_comment(out, "Chosen models, each checked to be identifiable from the design: the information matrix "
                   "of its free parameters has full rank." +
                       std::string(single_occasion_note(d) ? " For the periods of one occasion that rests on the "
                                                             "open part alone (see the note above)."
                                                           : ""));
  int number = 0;
  std::vector<std::string> shown;  // the names as the tables show them, of the models written so far
  for (const std::string& text : chosen) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    Structure s;
    std::optional<std::string> fault = parse_structure(words, s, d.groups());
    if (!fault) fault = check_structure(s, d);
    std::vector<std::string> notes;
    LinearDesign linear;
    if (!fault) fault = identification_fault(d, s, notes, linear);
    if (fault) throw ConvertError(0, "--models: " + *fault);
    std::string comment = "Model " + std::to_string(++number) + ": " + structure_words(s) + ".";
    for (const std::string& n : notes) comment += " Constrained: " + n + ".";
    if (s.linear()) {
      comment += " Linear forms: " + std::to_string(linear.coefficients()) +
                 " coefficients on the logit scale, checked in place of the free parameters.";
    }
    put_comment(out, comment);
    // Two models whose names differ only after the 20 characters the tables
    // show could not be told apart there: the later one is numbered.
    std::vector<std::string> name = structure_name_words(s);
    if (std::find(shown.begin(), shown.end(), shown_name(name)) != shown.end()) {
      name.insert(name.begin(), "MODEL-" + std::to_string(number));
    }
    shown.push_back(shown_name(name));
    // Long names and formulas break between words: the program reads 80 columns.
    std::vector<std::string> proc = {"PROC", "ESTIMATE", "DERIVED"};
    const std::string maxfn = more_evaluations(d);  // "MAXFN=n " or nothing
    if (!maxfn.empty()) proc.push_back(maxfn.substr(0, maxfn.size() - 1));
    proc.push_back("NAME=" + name.front());
    proc.insert(proc.end(), name.begin() + 1, name.end());
    put_statement(out, "", proc, " ", "    ");
    std::vector<std::string> parts;
    std::istringstream structure_text(structure_words(s));
    for (std::string w; structure_text >> w;) parts.push_back(w);
    put_statement(out, " STRUCTURE ", parts, " ", "    ");
  }
  out += "PROC TEST AVERAGE;\n";
}

/// A value as the command file writes it.
std::string value_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

/// PROC MODEL with the design, the covariates of the periods, the labels
/// and the cohorts.
void put_model(std::string& out, const Design& d, const std::vector<Cohort>& cohorts,
               const std::vector<Covariate>& covariates) {
  const int M = d.periods();
  std::vector<std::string> words = {"PROC", "MODEL", "NPAR=" + std::to_string(d.npar()), "ADDCELL", "PRIMARY",
                                    "PERIODS", "=", std::to_string(M), "SECONDARY", "="};
  for (int ip = 1; ip <= M; ++ip) words.push_back(std::to_string(d.occasions(ip)));
  words.push_back("INTERVALS");
  words.push_back("=");
  for (int i = 1; i < M; ++i) words.push_back("1");
  if (d.named_groups()) {
    words.push_back("GROUPS");
    words.push_back("=");
    words.insert(words.end(), d.group_names.begin(), d.group_names.end());
  }
  put_statement(out, "", words, " ", "    ");
  for (const Covariate& c : covariates) {
    std::vector<std::string> values = {"COVARIATE", c.name, "="};
    for (double x : c.values) values.push_back(value_text(x));
    put_statement(out, "", values, " ", "    ");
  }
  put_labels(out, d);
  put_cohorts(out, d, cohorts);
  if (const std::optional<std::string> note = single_occasion_note(d)) put_comment(out, "Note: " + *note + ".");
}

}  // namespace writing

using namespace writing;

std::optional<std::string> single_occasion_note(const Design& d) {
  std::vector<int> single;
  for (int ip = 1; ip <= d.periods(); ++ip) {
    if (d.occasions(ip) == 1) single.push_back(ip);
  }
  if (single.empty()) return std::nullopt;
  std::string periods;
  for (std::size_t i = 0; i < single.size(); ++i) {
    periods += (i == 0 ? "" : i + 1 == single.size() ? " and " : ", ") + std::to_string(single[i]);
  }
  if (single.size() == 1) {
    return "period " + periods +
           " has one secondary occasion: its closed part estimates nothing (one capture in a period says "
           "nothing of the chance of being caught there), so its capture probability, and its abundance, rest "
           "only on the animals released before it and recaptured there (the open part) or on an equality with "
           "other periods";
  }
  return "periods " + periods +
         " have one secondary occasion each: their closed parts estimate nothing (one capture in a period says "
         "nothing of the chance of being caught there), so their capture probabilities, and their abundance, rest "
         "only on the animals released before them and recaptured there (the open part) or on an equality with "
         "other periods";
}

std::string constraint_block(const ParameterMap& map) {
  std::vector<std::string> items;
  for (int i = 1; i <= map.npar(); ++i) {
    const Setting& s = map[i];
    if (s.kind == Setting::Kind::Equal) items.push_back(S(i) + "=" + S(s.root) + ";");
    if (s.kind == Setting::Kind::Fixed) {
      const std::string v = s.value == 0.0 ? "0" : s.value == 1.0 ? "1" : std::to_string(s.value);
      items.push_back(S(i) + "=" + v + ";");
    }
  }
  std::string out = " CONSTRAINT;\n";
  std::string line = "  ";
  for (const std::string& item : items) {
    if (line.size() > 2 && line.size() + 1 + item.size() > kLineWidth) {
      out += line + "\n";
      line = "  ";
    }
    line += (line.size() > 2 ? " " : "") + item;
  }
  if (line.size() > 2) out += line + "\n";
  return out;
}

std::string closed_expression(const Design& design, int ip, int h) {
  std::string s;
  for (const std::string& f : closed_factors(design, ip, h)) s += f;
  return s;
}

std::string command_file(const Design& d, const std::vector<History>& histories, const CommandOptions& options,
                         const std::vector<std::string>& structures) {
  const std::vector<Cohort> cohorts = tabulate(d, histories);
  long long animals = 0;
  long long lost = 0;
  for (const History& h : histories) {
    for (long long f : h.frequencies) {
      animals += std::llabs(f);
      lost += f < 0 ? -f : 0;
    }
  }
  const int M = d.periods();
  const std::string name = plain_name(options.source);
  std::string out;
  out += "PROC TITLE Robust design: " + name + ";\n";
  std::string groups;
  if (d.named_groups()) {
    groups = " " + std::to_string(d.groups()) + (d.groups() == 1 ? " group" : " groups") +
             ", a frequency for each in this order:";
    for (int g = 1; g <= d.groups(); ++g) {
      long long n = 0;
      for (const History& h : histories) n += std::llabs(h.frequencies[static_cast<std::size_t>(g - 1)]);
      groups += (g == 1 ? " " : ", ") + d.group_name(g) + " (" + std::to_string(n) + " animals)";
    }
    groups += ".";
  }
  put_comment(out, "Written by quorvale-inp from " + name + ": " + std::to_string(histories.size()) +
                       " encounter histories, " + std::to_string(animals) + " animals (" + std::to_string(lost) +
                       " not released after their last capture), " + std::to_string(M) + " primary periods of " +
                       occasions_text(d) + " secondary occasions." + groups);
  put_model(out, d, cohorts);
  if (!structures.empty()) {
    put_structures(out, d, structures);
  } else if (options.models) {
    put_models(out, d);
  }
  out += "PROC STOP;\n";
  return out;
}

}  // namespace quorvale::convert
