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

}  // namespace

std::optional<std::string> parse_structure(const std::vector<std::string>& words, Structure& out) {
  static constexpr std::array<std::string_view, 5> kParts = {"PHI", "P", "C", "GAMMA", "THETA"};
  std::array<bool, kParts.size()> seen{};
  out = Structure{};
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
    const std::optional<Variation> v = variation(level);
    if (part == "PHI") {
      if (!v || *v == Variation::Occasion) return bad + "PHI takes . or T.";
      out.phi_by_period = *v == Variation::Period;
    } else if (part == "P") {
      if (!v) return bad + "P takes ., T or T*O.";
      out.p = *v;
    } else if (part == "C") {
      if (level == "P") {
        out.c_is_p = true;
      } else if (v) {
        out.c = *v;
      } else {
        return bad + "C takes P, ., T or T*O.";
      }
    } else if (part == "GAMMA") {
      out.gamma_given = true;
      if (level == "NONE") {
        out.emigration = Emigration::None;
        out.gamma_by_period = false;
      } else {
        const std::size_t comma = level.find(',');
        const std::string kind = level.substr(0, comma);
        const std::string time = comma == std::string::npos ? "" : level.substr(comma + 1);
        if ((kind != "RANDOM" && kind != "MARKOV") || (time != "." && time != "T")) {
          return bad + "GAMMA takes NONE, RANDOM,. RANDOM,T MARKOV,. or MARKOV,T.";
        }
        out.emigration = kind == "RANDOM" ? Emigration::Random : Emigration::Markov;
        out.gamma_by_period = time == "T";
      }
    } else {
      if (level == "1") {
        out.theta.reset();
      } else if (v && *v != Variation::Occasion) {
        out.theta = *v;
      } else {
        return bad + "THETA takes 1, . or T.";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> check_structure(const Structure& s, const RobustLayout& d) {
  const int M = d.periods();
  if (s.emigration == Emigration::None) return std::nullopt;
  const std::string word = std::string("GAMMA(") + (s.emigration == Emigration::Random ? "RANDOM" : "MARKOV") +
                           (s.gamma_by_period ? ",T)" : ",.)");
  std::string why;
  if (M < 2) {
    why = " needs at least two primary periods";
  } else if (s.emigration == Emigration::Markov && M < 3) {
    why = " needs at least three primary periods (gamma' starts in period 3)";
  } else if (s.gamma_by_period && M < 3) {
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
  ParameterMap map(d.npar());
  if (!s.theta) {
    // theta is read only by the power variant; 1 leaves the recaptures as they are.
    for (int ip = 1; ip <= M; ++ip) map.fix(d.theta(ip), 1.0);
  } else if (*s.theta == Variation::Constant) {
    for (int ip = 2; ip <= M; ++ip) map.tie(d.theta(ip), d.theta(1));
  }
  // The first period with a recapture holds the constant c of C(.).
  int first_c = 0;
  for (int ip = M; ip >= 1; --ip) first_c = d.occasions(ip) >= 2 ? ip : first_c;
  for (int ip = 1; ip <= M; ++ip) {
    const int kk = d.occasions(ip);
    if (s.p != Variation::Occasion) {
      const int root = s.p == Variation::Period ? d.p(ip, 1) : d.p(1, 1);
      for (int t = 1; t <= kk; ++t) map.tie(d.p(ip, t), root);
    }
    for (int t = 2; t <= kk; ++t) {
      if (s.c_is_p) {
        map.tie(d.c(ip, t), d.p(ip, t));
      } else if (s.c == Variation::Period) {
        map.tie(d.c(ip, t), d.c(ip, 2));
      } else if (s.c == Variation::Constant) {
        map.tie(d.c(ip, t), d.c(first_c, 2));
      }
    }
  }
  if (!s.phi_by_period) {
    for (int i = 2; i <= M - 1; ++i) map.tie(d.phi(i), d.phi(1));
  }
  switch (s.emigration) {
    case Emigration::None:
      for (int j = 2; j <= M; ++j) map.fix(d.gamma2(j), 0.0);
      for (int j = 3; j <= M; ++j) map.fix(d.gamma1(j), 0.0);
      break;
    case Emigration::Random:
      for (int j = 3; j <= M; ++j) map.tie(d.gamma1(j), d.gamma2(j));
      [[fallthrough]];
    case Emigration::Markov:
      if (!s.gamma_by_period) {
        for (int j = 3; j <= M; ++j) map.tie(d.gamma2(j), d.gamma2(2));
        for (int j = 4; j <= M; ++j) map.tie(d.gamma1(j), d.gamma1(3));
        break;
      }
      if (last == LastPeriod::Needed) last = s.phi_by_period ? LastPeriod::Both : LastPeriod::None;
      if (last != LastPeriod::None && M >= 3) {
        // Survival into the last period and availability in it reach the
        // cells only together.
        const std::string final_period = std::to_string(M);
        const std::string before = std::to_string(M - 1);
        const std::string why = ": the last period's availability is confounded with survival into it";
        map.tie(d.gamma2(M), d.gamma2(M - 1));
        notes.push_back("gamma''(" + final_period + ") = gamma''(" + before + ")" + why);
        if (last == LastPeriod::Both && s.emigration == Emigration::Markov && M >= 4) {
          map.tie(d.gamma1(M), d.gamma1(M - 1));
          notes.push_back("gamma'(" + final_period + ") = gamma'(" + before + ")" + why);
        }
      }
      break;
  }
  return map;
}

std::string structure_words(const Structure& s) {
  std::string words = std::string("PHI(") + (s.phi_by_period ? "T" : ".") + ")";
  words += std::string(" P(") + variation_word(s.p) + ")";
  words += s.c_is_p ? std::string(" C(P)") : std::string(" C(") + variation_word(s.c) + ")";
  switch (s.emigration) {
    case Emigration::None:
      words += " GAMMA(NONE)";
      break;
    case Emigration::Random:
      words += std::string(" GAMMA(RANDOM,") + (s.gamma_by_period ? "T" : ".") + ")";
      break;
    case Emigration::Markov:
      words += std::string(" GAMMA(MARKOV,") + (s.gamma_by_period ? "T" : ".") + ")";
      break;
  }
  if (s.theta) words += std::string(" THETA(") + variation_word(*s.theta) + ")";
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
