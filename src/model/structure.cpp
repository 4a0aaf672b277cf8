#include "model/structure.h"

#include <array>
#include <cctype>
#include <utility>

namespace quorvale {

void ParameterMap::fix(int i, double value) {
  Setting& s = s_[static_cast<std::size_t>(i)];
  s.kind = Setting::Kind::Fixed;
  s.root = 0;
  s.value = value;
}

int ParameterMap::root_of(int i) const {
  const Setting& s = s_[static_cast<std::size_t>(i)];
  return s.kind == Setting::Kind::Equal ? s.root : i;
}

void ParameterMap::tie(int a, int b) {
  int ra = root_of(a);
  int rb = root_of(b);
  if (ra == rb) return;
  if (rb < ra) std::swap(ra, rb);
  // Every member of rb's group (rb itself included) now shares ra, so each
  // equality names the lowest member of its group.
  for (int i = 1; i <= npar(); ++i) {
    if (root_of(i) == rb && s_[static_cast<std::size_t>(i)].kind != Setting::Kind::Fixed) {
      s_[static_cast<std::size_t>(i)] = Setting{Setting::Kind::Equal, ra, 0.0};
    }
  }
}

int ParameterMap::estimated() const {
  int n = 0;
  for (int i = 1; i <= npar(); ++i) n += (*this)[i].kind == Setting::Kind::Free ? 1 : 0;
  return n;
}

bool ParameterMap::operator==(const ParameterMap& other) const {
  if (npar() != other.npar()) return false;
  for (int i = 1; i <= npar(); ++i) {
    const Setting& a = (*this)[i];
    const Setting& b = other[i];
    if (a.kind != b.kind || a.root != b.root || a.value != b.value) return false;
  }
  return true;
}

namespace {

std::string upper(std::string_view w) {
  std::string u(w);
  for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return u;
}

/// Level words of a time variation, "." "T" "T*O".
std::optional<Variation> variation(std::string_view level) {
  if (level == ".") return Variation::Constant;
  if (level == "T") return Variation::Period;
  if (level == "T*O") return Variation::Occasion;
  return std::nullopt;
}

const char* variation_word(Variation v) {
  switch (v) {
    case Variation::Constant:
      return ".";
    case Variation::Period:
      return "T";
    case Variation::Occasion:
      return "T*O";
  }
  return "";
}

/// A level with the group factor taken off: "G" is "." by group and "G*T"
/// is "T" by group; "G*." leaves nothing a level can be.
struct GroupLevel {
  std::string rest;       ///< the level without G
  bool by_group = false;  ///< G was there
};

GroupLevel group_factor(const std::string& level) {
  if (level == "G") return {".", true};
  if (level.rfind("G*", 0) == 0) {
    std::string rest = level.substr(2);
    return {rest == "." ? std::string() : rest, true};
  }
  return {level, false};
}

/// Level word of a variation, with G in front for one by group.
std::string level_word(Variation v, bool by_group) {
  std::string word = by_group ? "G" : "";
  if (by_group && v == Variation::Constant) return word;
  if (by_group) word += '*';
  word += variation_word(v);
  return word;
}

/// Variation of a part that only says whether it is by period.
Variation by_period(bool yes) { return yes ? Variation::Period : Variation::Constant; }

/// A part's word: its name and its level in parentheses, "PHI(G*T)".
std::string part_word(const char* part, const std::string& level) {
  std::string word = part;
  word += '(';
  word += level;
  word += ')';
  return word;
}

/// The words of each part; THETA(1) too.
std::string phi_word(const Structure& s) {
  if (s.phi_form) return part_word("PHI", s.phi_form->text);
  return part_word("PHI", level_word(by_period(s.phi_by_period), s.phi_by_group));
}
std::string p_word(const Structure& s) {
  return part_word("P", s.p_form ? s.p_form->text : level_word(s.p, s.p_by_group));
}
std::string c_word(const Structure& s) {
  if (s.c_form) return part_word("C", s.c_form->text);
  return part_word("C", s.c_is_p ? "P" : level_word(s.c, s.c_by_group));
}
std::string gamma_word(const Structure& s) {
  if (s.emigration == Emigration::None) return part_word("GAMMA", "NONE");
  std::string level = s.emigration == Emigration::Random ? "RANDOM," : "MARKOV,";
  level += s.gamma_form ? s.gamma_form->text : level_word(by_period(s.gamma_by_period), s.gamma_by_group);
  return part_word("GAMMA", level);
}
std::string theta_word(const Structure& s) {
  return part_word("THETA", s.theta ? level_word(*s.theta, s.theta_by_group) : "1");
}

/// Whether a level that is none of a part's words is to be read as a
/// formula: it has a +, a word only formulas take, or the model has
/// covariates. Otherwise the part's list of levels is the better message.
bool formula_meant(const std::string& level, std::span<const std::string> covariates) {
  if (!covariates.empty() || level.find('+') != std::string::npos) return true;
  std::string word;
  for (char ch : level + "*") {
    if (ch == '*' || ch == ',') {
      if (word == "TREND" || word == "1") return true;
      word.clear();
    } else {
      word += ch;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> parse_structure(const std::vector<std::string>& words, Structure& out, int groups,
                                           std::span<const std::string> covariates) {
  static constexpr std::array<std::string_view, 5> kParts = {"PHI", "P", "C", "GAMMA", "THETA"};
  std::array<bool, kParts.size()> seen{};
  out = Structure{};
  // The levels a part takes, the group ones only where there are groups to tell apart.
  const bool grouped = groups > 1;
  const auto takes = [grouped](const char* plain, const char* with_groups) {
    return std::string(grouped ? with_groups : plain);
  };
  for (const std::string& raw : words) {
    const std::string w = upper(raw);
    const std::size_t open = w.find('(');
    if (open == std::string::npos || w.back() != ')' || open == 0) {
      return "STRUCTURE part " + raw + " is not a part with its level in parentheses, such as PHI(T).";
    }
    const std::string part = w.substr(0, open);
    const std::string level = w.substr(open + 1, w.size() - open - 2);
    std::size_t k = 0;
    while (k < kParts.size() && kParts[k] != part) ++k;
    if (k == kParts.size()) return "Unknown STRUCTURE part " + raw + ": the parts are PHI, P, C, GAMMA and THETA.";
    if (seen[k]) return "STRUCTURE part " + part + " given twice (" + raw + ").";
    seen[k] = true;
    const std::string bad = "Unknown level in STRUCTURE part " + raw + ": ";
    const GroupLevel g = group_factor(level);
    const std::optional<Variation> v = variation(g.rest);
    // A level that is none of the part's words is a formula, or the part's
    // list of levels when it does not look like one.
    auto formula = [&](const std::string& text, std::optional<Formula>& into,
                       const std::string& takes_message) -> std::optional<std::string> {
      Formula f;
      const std::optional<std::string> fault = parse_formula(text, part, raw, covariates, f);
      if (fault) return formula_meant(text, covariates) ? *fault : bad + takes_message;
      into = std::move(f);
      return std::nullopt;
    };
    if (part == "PHI") {
      if (!v || *v == Variation::Occasion) {
        if (auto fault = formula(level, out.phi_form, takes("PHI takes . or T.", "PHI takes ., T, G or G*T."))) {
          return fault;
        }
        out.phi_by_period = true;
        out.phi_by_group = grouped;
        continue;
      }
      out.phi_by_period = *v == Variation::Period;
      out.phi_by_group = g.by_group;
    } else if (part == "P") {
      if (!v) {
        if (auto fault =
                formula(level, out.p_form, takes("P takes ., T or T*O.", "P takes ., T, T*O, G, G*T or G*T*O."))) {
          return fault;
        }
        out.p = Variation::Occasion;
        out.p_by_group = grouped;
        continue;
      }
      out.p = *v;
      out.p_by_group = g.by_group;
    } else if (part == "C") {
      if (level == "P") {
        out.c_is_p = true;
      } else if (v) {
        out.c = *v;
        out.c_by_group = g.by_group;
      } else {
        if (auto fault = formula(level, out.c_form,
                                 takes("C takes P, ., T or T*O.", "C takes P, ., T, T*O, G, G*T or G*T*O."))) {
          return fault;
        }
        out.c = Variation::Occasion;
        out.c_by_group = grouped;
        continue;
      }
    } else if (part == "GAMMA") {
      out.gamma_given = true;
      if (level == "NONE") {
        out.emigration = Emigration::None;
        out.gamma_by_period = false;
      } else {
        const std::size_t comma = level.find(',');
        const std::string kind = level.substr(0, comma);
        const std::string time_text = comma == std::string::npos ? "" : level.substr(comma + 1);
        const GroupLevel time = group_factor(time_text);
        const std::string gamma_takes =
            takes("GAMMA takes NONE, RANDOM,. RANDOM,T MARKOV,. or MARKOV,T.",
                  "GAMMA takes NONE, RANDOM,. RANDOM,T RANDOM,G RANDOM,G*T MARKOV,. MARKOV,T MARKOV,G "
                  "or MARKOV,G*T.");
        if ((kind == "RANDOM" || kind == "MARKOV") && !time_text.empty() && time.rest != "." && time.rest != "T") {
          if (auto fault = formula(time_text, out.gamma_form, gamma_takes)) return fault;
          out.emigration = kind == "RANDOM" ? Emigration::Random : Emigration::Markov;
          out.gamma_by_period = true;
          out.gamma_by_group = grouped;
          continue;
        }
        if ((kind != "RANDOM" && kind != "MARKOV") || (time.rest != "." && time.rest != "T")) {
          return bad + gamma_takes;
        }
        out.emigration = kind == "RANDOM" ? Emigration::Random : Emigration::Markov;
        out.gamma_by_period = time.rest == "T";
        out.gamma_by_group = time.by_group;
      }
    } else {
      if (level == "1") {
        out.theta.reset();
      } else if (v && *v != Variation::Occasion) {
        out.theta = *v;
        out.theta_by_group = g.by_group;
      } else {
        return bad + takes("THETA takes 1, . or T.", "THETA takes 1, ., T, G or G*T.");
      }
    }
  }
  // The parts not named are the most general: each group its own.
  out.phi_by_group = seen[0] ? out.phi_by_group : grouped;
  out.p_by_group = seen[1] ? out.p_by_group : grouped;
  out.c_by_group = seen[2] ? out.c_by_group : grouped;
  out.gamma_by_group = seen[3] ? out.gamma_by_group : grouped;
  return std::nullopt;
}

std::optional<std::string> check_structure(const Structure& s, const RobustLayout& d) {
  if (d.groups() == 1) {
    // A group term asks for groups to tell apart.
    const std::array<std::pair<bool, std::string>, 5> by_group = {{
        {s.phi_by_group, phi_word(s)},
        {s.p_by_group, p_word(s)},
        {!s.c_is_p && s.c_by_group, c_word(s)},
        {s.emigration != Emigration::None && s.gamma_by_group, gamma_word(s)},
        {s.theta && s.theta_by_group, theta_word(s)},
    }};
    auto has_group = [](const std::optional<Formula>& f) {
      if (!f) return false;
      for (const auto& term : f->terms) {
        for (const FormulaFactor& x : term) {
          if (x.kind == FormulaFactor::Kind::Group) return true;
        }
      }
      return false;
    };
    for (const auto& [grouped, word] : by_group) {
      if (grouped) {
        return "STRUCTURE part " + word + " has a group term, but the model has no groups (PROC MODEL GROUPS = ...).";
      }
    }
    const std::array<std::pair<bool, std::string>, 4> formula_groups = {{
        {has_group(s.phi_form), phi_word(s)},
        {has_group(s.p_form), p_word(s)},
        {has_group(s.c_form), c_word(s)},
        {s.emigration != Emigration::None && has_group(s.gamma_form), gamma_word(s)},
    }};
    for (const auto& [grouped, word] : formula_groups) {
      if (grouped) {
        return "STRUCTURE part " + word + " has a group term, but the model has no groups (PROC MODEL GROUPS = ...).";
      }
    }
  }
  const int M = d.periods();
  if (s.emigration == Emigration::None) return std::nullopt;
  const std::string word = gamma_word(s);
  std::string why;
  if (M < 2) {
    why = " needs at least two primary periods";
  } else if (s.emigration == Emigration::Markov && M < 3) {
    why = " needs at least three primary periods (gamma' starts in period 3)";
  } else if (s.gamma_by_period && !s.gamma_form && M < 3) {
    why = " needs at least three primary periods (gamma'' by period)";
  } else {
    return std::nullopt;
  }
  const std::string has = ": the design has " + std::to_string(M) + (M == 1 ? " primary period." : " primary periods.");
  if (s.gamma_given) return word + why + has;
  // The level a structure without GAMMA stands for is held to the same design.
  return "STRUCTURE without a GAMMA part stands for " + word + ", which" + why + has +
         " Write the GAMMA part, such as GAMMA(NONE).";
}

ParameterMap structure_map(const Structure& s, const RobustLayout& d, std::vector<std::string>& notes,
                           LastPeriod last) {
  const int M = d.periods();
  const int groups = d.groups();
  ParameterMap map(d.npar());
  // A part shared by the groups keeps its values in the first group's
  // parameters; one by group in each group's own.
  const auto holder = [](bool by_group, int g) { return by_group ? g : 1; };
  // The first period with a recapture holds the constant c of C(.).
  int first_c = 0;
  for (int ip = M; ip >= 1; --ip) first_c = d.occasions(ip) >= 2 ? ip : first_c;
  for (int g = 1; g <= groups; ++g) {
    if (!s.theta) {
      // theta is read only by the power variant; 1 leaves the recaptures as they are.
      for (int ip = 1; ip <= M; ++ip) map.fix(d.theta(ip, g), 1.0);
    } else {
      const int h = holder(s.theta_by_group, g);
      for (int ip = 1; ip <= M; ++ip) {
        map.tie(d.theta(ip, g), d.theta(*s.theta == Variation::Constant ? 1 : ip, h));
      }
    }
    const int hp = holder(s.p_by_group, g);
    const int hc = holder(s.c_by_group, g);
    for (int ip = 1; ip <= M; ++ip) {
      const int kk = d.occasions(ip);
      for (int t = 1; t <= kk; ++t) {
        const int root = s.p == Variation::Occasion ? d.p(ip, t, hp)
                         : s.p == Variation::Period ? d.p(ip, 1, hp)
                                                    : d.p(1, 1, hp);
        map.tie(d.p(ip, t, g), root);
      }
      for (int t = 2; t <= kk; ++t) {
        if (s.c_is_p) {
          map.tie(d.c(ip, t, g), d.p(ip, t, g));
        } else {
          const int root = s.c == Variation::Occasion ? d.c(ip, t, hc)
                           : s.c == Variation::Period ? d.c(ip, 2, hc)
                                                      : d.c(first_c, 2, hc);
          map.tie(d.c(ip, t, g), root);
        }
      }
    }
    const int hphi = holder(s.phi_by_group, g);
    for (int i = 1; i <= M - 1; ++i) map.tie(d.phi(i, g), d.phi(s.phi_by_period ? i : 1, hphi));
  }
  switch (s.emigration) {
    case Emigration::None:
      for (int g = 1; g <= groups; ++g) {
        for (int j = 2; j <= M; ++j) map.fix(d.gamma2(j, g), 0.0);
        for (int j = 3; j <= M; ++j) map.fix(d.gamma1(j, g), 0.0);
      }
      break;
    case Emigration::Random:
      for (int g = 1; g <= groups; ++g) {
        for (int j = 3; j <= M; ++j) map.tie(d.gamma1(j, g), d.gamma2(j, g));
      }
      [[fallthrough]];
    case Emigration::Markov:
      for (int g = 1; g <= groups; ++g) {
        const int h = holder(s.gamma_by_group, g);
        for (int j = 2; j <= M; ++j) map.tie(d.gamma2(j, g), d.gamma2(s.gamma_by_period ? j : 2, h));
        for (int j = 3; j <= M; ++j) map.tie(d.gamma1(j, g), d.gamma1(s.gamma_by_period ? j : 3, h));
      }
      // A formula's gamma's are each their own predictor: no equality joins them.
      if (!s.gamma_by_period || s.gamma_form) break;
      if (last == LastPeriod::Needed) {
        const bool phi_by_period = s.phi_form ? s.phi_form->has_period_factor() : s.phi_by_period;
        last = phi_by_period ? LastPeriod::Both : LastPeriod::None;
      }
      if (last != LastPeriod::None && M >= 3) {
        // Survival into the last period and availability in it reach the
        // cells only together, in every group.
        const std::string final_period = std::to_string(M);
        const std::string before = std::to_string(M - 1);
        const std::string why = std::string(groups > 1 ? " in each group" : "") +
                                ": the last period's availability is confounded with survival into it";
        const bool both = last == LastPeriod::Both && s.emigration == Emigration::Markov && M >= 4;
        for (int g = 1; g <= groups; ++g) {
          map.tie(d.gamma2(M, g), d.gamma2(M - 1, g));
          if (both) map.tie(d.gamma1(M, g), d.gamma1(M - 1, g));
        }
        notes.push_back("gamma''(" + final_period + ") = gamma''(" + before + ")" + why);
        if (both) notes.push_back("gamma'(" + final_period + ") = gamma'(" + before + ")" + why);
      }
      break;
  }
  return map;
}

LinearForms structure_forms(const Structure& s, const RobustLayout& design, const std::vector<std::string>& group_names,
                            std::span<const Covariate> covariates) {
  LinearForms forms = forms_of_design(design);
  if (s.p_form) lay_out_formula(*s.p_form, FormulaPart::P, design, group_names, covariates, forms);
  if (s.c_form) lay_out_formula(*s.c_form, FormulaPart::C, design, group_names, covariates, forms);
  if (s.phi_form) lay_out_formula(*s.phi_form, FormulaPart::Phi, design, group_names, covariates, forms);
  if (s.gamma_form && s.emigration == Emigration::Random) {
    lay_out_formula(*s.gamma_form, FormulaPart::Gamma, design, group_names, covariates, forms);
  } else if (s.gamma_form && s.emigration == Emigration::Markov) {
    lay_out_formula(*s.gamma_form, FormulaPart::Gamma2, design, group_names, covariates, forms);
    lay_out_formula(*s.gamma_form, FormulaPart::Gamma1, design, group_names, covariates, forms);
  }
  return forms;
}

std::string structure_words(const Structure& s) {
  std::string words = phi_word(s);
  for (const std::string& w : {p_word(s), c_word(s), gamma_word(s)}) {
    words += ' ';
    words += w;
  }
  if (s.theta) {
    words += ' ';
    words += theta_word(s);
  }
  return words;
}

std::string structure_name(const Structure& s) {
  std::string name;
  for (char ch : structure_words(s)) name += ch == ' ' ? "" : std::string(1, ch);
  const std::size_t gamma = name.find("GAMMA(");
  if (gamma != std::string::npos) name.erase(gamma + 3, 2);  // GAM(...) keeps the name short
  return name;
}

}  // namespace quorvale
