#include "model/linear_form.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "base/limits.h"
#include "model/robust_layout.h"

namespace quorvale {

namespace {

/// The words the formulas take for themselves.
constexpr std::string_view kFormulaWords[] = {"T", "G", "O", "P", "TREND"};

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> out(1);
  for (char ch : text) {
    if (ch == at) {
      out.emplace_back();
    } else {
      out.back() += ch;
    }
  }
  return out;
}

/// The order of factors within a term that makes equal terms compare equal.
bool factor_before(const FormulaFactor& a, const FormulaFactor& b) {
  return a.kind != b.kind ? a.kind < b.kind : a.name < b.name;
}

std::vector<FormulaFactor> sorted(std::vector<FormulaFactor> term) {
  std::sort(term.begin(), term.end(), factor_before);
  return term;
}

}  // namespace

std::optional<std::string> covariate_name_fault(std::string_view name) {
  const std::string shown(name);
  if (name.empty() || name.size() > kCovariateNameLength || !std::isalpha(static_cast<unsigned char>(name[0]))) {
    return "Covariate name " + shown + " is not a letter followed by letters or digits, " +
           std::to_string(kCovariateNameLength) + " characters at most.";
  }
  for (char ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) {
      return "Covariate name " + shown + " is not a letter followed by letters or digits, " +
             std::to_string(kCovariateNameLength) + " characters at most.";
    }
  }
  std::string upper(name);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (std::string_view w : kFormulaWords) {
    if (upper == w) return "Covariate name " + shown + " is a word of the formulas (1, T, G, O, P, TREND).";
  }
  return std::nullopt;
}

std::string covariate_outside_model() {
  return "COVARIATE outside PROC MODEL: covariates are given in PROC MODEL, one value per primary period "
         "(COVARIATE WINTER = 0.2 0.5 0.1).";
}

bool Formula::has_period_factor() const {
  for (const auto& term : terms) {
    if (term.size() == 1 && term[0].kind == FormulaFactor::Kind::Period) return true;
  }
  return false;
}

std::optional<std::string> parse_formula(const std::string& text, std::string_view part, std::string_view raw,
                                         std::span<const std::string> covariates, Formula& out) {
  out = Formula{};
  out.text = text;
  const std::string where = "in STRUCTURE part " + std::string(raw);
  bool one = false;
  std::vector<std::vector<FormulaFactor>> written;  // each term as written, factors in order
  for (const std::string& term_text : split(text, '+')) {
    if (term_text.empty()) return "Empty term " + where + ": terms are joined by + and factors by *.";
    const std::vector<std::string> words = split(term_text, '*');
    if (words.size() == 1 && words[0] == "1") {
      one = true;
      continue;
    }
    if (words.size() == 1 && words[0] == "P") {
      if (part != "C") return "P " + where + ": only C takes P, the capture probability's predictor.";
      out.capture = true;
      continue;
    }
    std::vector<FormulaFactor> factors;
    for (const std::string& w : words) {
      FormulaFactor f;
      if (w.empty()) return "Empty factor " + where + ": factors are joined by *.";
      if (w == "1") return "1 in a product " + where + ": write the constant as a term of its own.";
      if (w == "P") return "P in a product " + where + ": C takes P as a term of its own, such as C(P+1).";
      if (w == "T") {
        f.kind = FormulaFactor::Kind::Period;
      } else if (w == "G") {
        f.kind = FormulaFactor::Kind::Group;
      } else if (w == "O") {
        if (part != "P" && part != "C") return "O " + where + ": only P and C vary by occasion.";
        f.kind = FormulaFactor::Kind::Occasion;
      } else if (w == "TREND") {
        f.kind = FormulaFactor::Kind::Trend;
      } else if (std::find(covariates.begin(), covariates.end(), w) != covariates.end()) {
        f.kind = FormulaFactor::Kind::Covariate;
        f.name = w;
      } else {
        std::string known;
        for (const std::string& c : covariates) known += (known.empty() ? "" : ", ") + c;
        return "Unknown term " + w + " " + where + ": terms are 1, T, G, TREND, O (P and C), P (C) and " +
               (known.empty() ? std::string("the covariates of PROC MODEL (COVARIATE name = ...), of which there are none")
                              : "the covariates " + known) +
               ".";
      }
      if (std::find(factors.begin(), factors.end(), f) != factors.end()) {
        return "Interaction of " + w + " with itself " + where + ".";
      }
      factors.push_back(f);
    }
    written.push_back(std::move(factors));
  }
  out.constant = !out.capture || one;
  // A*B*C stands for every product of its factors, each term once, main
  // effects first. A product of n factors stands for 2^n - 1 terms, each
  // with a coefficient of its own: a formula of more terms than a model may
  // have parameters could never be fitted, and is refused before it is
  // written out (a long product would otherwise take hours to expand).
  std::string too_many = "Formula ";
  too_many += where;
  too_many += " stands for more terms than a model may have parameters (";
  too_many += std::to_string(MAXPAR);
  too_many += "): a product of n factors stands for 2^n - 1 terms.";
  std::vector<std::vector<FormulaFactor>> terms;
  for (const auto& factors : written) {
    const std::size_t n = factors.size();
    if (n >= 16 || (std::size_t{1} << n) - 1 > static_cast<std::size_t>(MAXPAR)) return too_many;
    for (std::size_t mask = 1; mask < (std::size_t{1} << n); ++mask) {
      std::vector<FormulaFactor> term;
      for (std::size_t i = 0; i < n; ++i) {
        if (mask & (std::size_t{1} << i)) term.push_back(factors[i]);
      }
      if (std::none_of(terms.begin(), terms.end(), [&](const auto& t) { return sorted(t) == sorted(term); })) {
        terms.push_back(std::move(term));
        if (terms.size() > static_cast<std::size_t>(MAXPAR)) return too_many;
      }
    }
  }
  std::stable_sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
  out.terms = std::move(terms);
  if (out.terms.empty() && !out.constant && !out.capture) return "Empty formula " + where + ".";
  return std::nullopt;
}

namespace {

/// One parameter of a part with what its factors read there.
struct Position {
  int parameter = 0;
  int period = 0;    ///< T's level and TREND's value
  int group = 1;     ///< G's level
  int occasion = 0;  ///< O's level
  int capture = 0;   ///< the p on the same occasion (C)
};

std::vector<Position> positions(FormulaPart which, const RobustLayout& d) {
  std::vector<Position> out;
  const int M = d.periods();
  for (int g = 1; g <= d.groups(); ++g) {
    switch (which) {
      case FormulaPart::Phi:
        for (int i = 1; i <= M - 1; ++i) out.push_back({d.phi(i, g), i, g, 0, 0});
        break;
      case FormulaPart::P:
        for (int ip = 1; ip <= M; ++ip) {
          for (int t = 1; t <= d.occasions(ip); ++t) out.push_back({d.p(ip, t, g), ip, g, t, 0});
        }
        break;
      case FormulaPart::C:
        for (int ip = 1; ip <= M; ++ip) {
          for (int t = 2; t <= d.occasions(ip); ++t) out.push_back({d.c(ip, t, g), ip, g, t, d.p(ip, t, g)});
        }
        break;
      case FormulaPart::Gamma:
      case FormulaPart::Gamma2:
        for (int j = 2; j <= M; ++j) out.push_back({d.gamma2(j, g), j, g, 0, 0});
        break;
      case FormulaPart::Gamma1:
        for (int j = 3; j <= M; ++j) out.push_back({d.gamma1(j, g), j, g, 0, 0});
        break;
    }
  }
  return out;
}

const char* part_name(FormulaPart which);

}  // namespace

LinearForms forms_of_design(const RobustLayout& d) {
  LinearForms forms;
  const std::size_t npar = static_cast<std::size_t>(d.npar()) + 1;
  forms.part.resize(npar);
  forms.formula.resize(npar, false);
  forms.row.resize(npar);
  forms.capture.resize(npar, 0);
  // Each name is built whole and moved in (assigning the characters into
  // the string in place draws a false -Wrestrict from g++ 12 at -O3).
  auto name = [&](int I, const char* part) {
    if (I >= 1 && static_cast<std::size_t>(I) < npar) forms.part[static_cast<std::size_t>(I)] = std::string(part);
  };
  const int M = d.periods();
  for (int g = 1; g <= d.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int t = 1; t <= d.occasions(ip); ++t) name(d.p(ip, t, g), "P");
      for (int t = 2; t <= d.occasions(ip); ++t) name(d.c(ip, t, g), "C");
      name(d.theta(ip, g), "THETA");
    }
    for (int i = 1; i <= M - 1; ++i) name(d.phi(i, g), "PHI");
    for (int j = 2; j <= M; ++j) name(d.gamma2(j, g), "GAMMA''");
    for (int j = 3; j <= M; ++j) name(d.gamma1(j, g), "GAMMA'");
  }
  return forms;
}

namespace {

const char* part_name(FormulaPart which) {
  switch (which) {
    case FormulaPart::Phi:
      return "PHI";
    case FormulaPart::P:
      return "P";
    case FormulaPart::C:
      return "C";
    case FormulaPart::Gamma:
      return "GAMMA";
    case FormulaPart::Gamma2:
      return "GAMMA''";
    case FormulaPart::Gamma1:
      return "GAMMA'";
  }
  return "";
}

/// The level of a categorical factor at a position.
int level_at(const FormulaFactor& f, const Position& p) {
  switch (f.kind) {
    case FormulaFactor::Kind::Period:
      return p.period;
    case FormulaFactor::Kind::Group:
      return p.group;
    default:
      return p.occasion;
  }
}

bool categorical(const FormulaFactor& f) {
  return f.kind == FormulaFactor::Kind::Period || f.kind == FormulaFactor::Kind::Group ||
         f.kind == FormulaFactor::Kind::Occasion;
}

/// One column of a term: the level each categorical factor must have.
struct TermColumn {
  std::string name;
  std::vector<int> levels;  ///< by factor of the term; 0 for a numeric one
};

}  // namespace

void lay_out_formula(const Formula& f, FormulaPart which, const RobustLayout& design,
                     const std::vector<std::string>& group_names, std::span<const Covariate> covariates,
                     LinearForms& forms) {
  const std::string part = part_name(which);
  const std::vector<Position> at = positions(which, design);
  if (forms.formula.size() < static_cast<std::size_t>(design.npar()) + 1) forms = forms_of_design(design);
  auto value_of = [&](const FormulaFactor& factor, const Position& p) {
    if (factor.kind == FormulaFactor::Kind::Trend) return static_cast<double>(p.period);
    for (const Covariate& c : covariates) {
      if (c.name == factor.name) return c.values[static_cast<std::size_t>(p.period - 1)];
    }
    return 0.0;
  };
  auto level_name = [&](const FormulaFactor& factor, int level) {
    std::string n = factor.kind == FormulaFactor::Kind::Period ? "T[" : factor.kind == FormulaFactor::Kind::Group ? "G[" : "O[";
    if (factor.kind == FormulaFactor::Kind::Group && !group_names.empty()) {
      n += group_names[static_cast<std::size_t>(level - 1)];
    } else {
      n += std::to_string(level);
    }
    return n + "]";
  };
  // The columns, term by term; a term's factor is coded by contrasts when
  // the term without it is in the formula too.
  std::vector<std::pair<std::size_t, TermColumn>> columns;  // term index (npos: the constant), column
  const std::size_t kConstant = static_cast<std::size_t>(-1);
  if (f.constant) columns.push_back({kConstant, TermColumn{part + ":1", {}}});
  for (std::size_t t = 0; t < f.terms.size(); ++t) {
    const auto& term = f.terms[t];
    std::vector<std::vector<int>> kept;  // by factor: its levels in the columns
    for (std::size_t i = 0; i < term.size(); ++i) {
      if (!categorical(term[i])) {
        kept.push_back({0});
        continue;
      }
      std::vector<FormulaFactor> without = term;
      without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
      const bool margin = without.empty() ? f.constant
                                          : std::any_of(f.terms.begin(), f.terms.end(), [&](const auto& other) {
                                              return sorted(other) == sorted(without);
                                            });
      std::vector<int> levels;
      for (const Position& p : at) levels.push_back(level_at(term[i], p));
      std::sort(levels.begin(), levels.end());
      levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
      if (margin && !levels.empty()) levels.erase(levels.begin());
      kept.push_back(std::move(levels));
    }
    // Every combination of the kept levels, the first factor slowest.
    std::vector<std::size_t> index(term.size(), 0);
    bool more = std::all_of(kept.begin(), kept.end(), [](const auto& l) { return !l.empty(); });
    while (more) {
      TermColumn col{part + ":", {}};
      for (std::size_t i = 0; i < term.size(); ++i) {
        const int level = kept[i][index[i]];
        col.levels.push_back(level);
        if (i > 0) col.name += ':';
        col.name += categorical(term[i]) ? level_name(term[i], level)
                                         : (term[i].kind == FormulaFactor::Kind::Trend ? "TREND" : term[i].name);
      }
      columns.push_back({t, std::move(col)});
      std::size_t i = term.size();
      more = false;
      while (i-- > 0) {
        if (++index[i] < kept[i].size()) {
          more = true;
          break;
        }
        index[i] = 0;
      }
    }
  }
  // The rows. A crossing of levels that no position has is no column at
  // all, with a numeric factor or without; a numeric column whose values
  // are 0 wherever its levels occur is kept, the user's to hear about.
  std::vector<SparseRow> rows(at.size());
  std::vector<std::pair<std::size_t, TermColumn>> used;
  for (const auto& [t, col] : columns) {
    bool crossed = false;  // some position has the column's level of every categorical factor
    const int k = static_cast<int>(forms.names.size() + used.size());
    for (std::size_t r = 0; r < at.size(); ++r) {
      double v = 1.0;
      bool here = true;
      if (t != kConstant) {
        const auto& term = f.terms[t];
        for (std::size_t i = 0; i < term.size() && here; ++i) {
          if (categorical(term[i])) {
            here = level_at(term[i], at[r]) == col.levels[i];
          } else {
            v *= value_of(term[i], at[r]);
          }
        }
      }
      if (!here) continue;
      crossed = true;
      if (v != 0.0) rows[r].push_back({k, v});
    }
    if (crossed) used.push_back({t, col});
  }
  for (const auto& [t, col] : used) {
    forms.names.push_back(col.name);
    forms.parts.push_back(part);
  }
  for (std::size_t r = 0; r < at.size(); ++r) {
    const std::size_t I = static_cast<std::size_t>(at[r].parameter);
    forms.part[I] = part;
    forms.formula[I] = true;
    forms.row[I] = std::move(rows[r]);
    forms.capture[I] = f.capture ? at[r].capture : 0;
  }
}

double inverse_logit(double eta) {
  if (eta >= 0.0) return 1.0 / (1.0 + std::exp(-eta));
  const double e = std::exp(eta);
  return e / (1.0 + e);
}

void LinearDesign::probabilities(std::span<const double> beta, std::span<double> out) const {
  const std::size_t K = names.size();
  for (int s = 1; s <= slots; ++s) {
    const double* row = X.data() + static_cast<std::size_t>(s - 1) * K;
    double eta = 0.0;
    for (std::size_t k = 0; k < K; ++k) eta += row[k] * beta[k];
    out[static_cast<std::size_t>(s - 1)] = inverse_logit(eta);
  }
}

std::vector<double> LinearDesign::start(std::span<const double> values) const {
  const std::size_t K = names.size();
  const std::size_t S = static_cast<std::size_t>(slots);
  std::vector<double> y(S);
  for (std::size_t s = 0; s < S; ++s) {
    const double v = std::clamp(values[s], 0.001, 0.999);
    y[s] = std::log(v / (1.0 - v));
  }
  // Normal equations X'X b = X'y, solved by Cholesky; the design has full rank.
  std::vector<double> A(K * K, 0.0);
  std::vector<double> b(K, 0.0);
  for (std::size_t s = 0; s < S; ++s) {
    const double* row = X.data() + s * K;
    for (std::size_t i = 0; i < K; ++i) {
      if (row[i] == 0.0) continue;
      b[i] += row[i] * y[s];
      for (std::size_t j = 0; j <= i; ++j) A[i * K + j] += row[i] * row[j];
    }
  }
  for (std::size_t j = 0; j < K; ++j) {
    double d = A[j * K + j];
    for (std::size_t k = 0; k < j; ++k) d -= A[j * K + k] * A[j * K + k];
    d = d > 0.0 ? std::sqrt(d) : 1.0;
    A[j * K + j] = d;
    for (std::size_t i = j + 1; i < K; ++i) {
      double v = A[i * K + j];
      for (std::size_t k = 0; k < j; ++k) v -= A[i * K + k] * A[j * K + k];
      A[i * K + j] = v / d;
    }
  }
  for (std::size_t i = 0; i < K; ++i) {
    double v = b[i];
    for (std::size_t k = 0; k < i; ++k) v -= A[i * K + k] * b[k];
    b[i] = v / A[i * K + i];
  }
  for (std::size_t i = K; i-- > 0;) {
    double v = b[i];
    for (std::size_t k = i + 1; k < K; ++k) v -= A[k * K + i] * b[k];
    b[i] = v / A[i * K + i];
  }
  return b;
}

namespace {

/// Names the first column of `d` that the columns before it span, with those
/// it is a combination of; none when the columns are independent.
std::optional<std::string> rank_fault(const LinearDesign& d) {
  const std::size_t K = d.names.size();
  const std::size_t S = static_cast<std::size_t>(d.slots);
  std::vector<std::vector<double>> basis;   // orthonormal
  std::vector<std::vector<double>> within;  // each basis vector in the original columns
  for (std::size_t k = 0; k < K; ++k) {
    std::vector<double> v(S);
    for (std::size_t s = 0; s < S; ++s) v[s] = d.X[s * K + k];
    double norm0 = 0.0;
    for (double x : v) norm0 += x * x;
    norm0 = std::sqrt(norm0);
    std::vector<double> coef(K, 0.0);  // v = column k - sum coef[m] column m
    coef[k] = 1.0;
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t j = 0; j < basis.size(); ++j) {
        double r = 0.0;
        for (std::size_t s = 0; s < S; ++s) r += basis[j][s] * v[s];
        for (std::size_t s = 0; s < S; ++s) v[s] -= r * basis[j][s];
        for (std::size_t m = 0; m < K; ++m) coef[m] -= r * within[j][m];
      }
    }
    double norm = 0.0;
    for (double x : v) norm += x * x;
    norm = std::sqrt(norm);
    if (norm <= 1e-9 * norm0 || norm0 == 0.0) {
      double largest = 0.0;
      for (std::size_t m = 0; m < k; ++m) largest = std::max(largest, std::fabs(coef[m]));
      std::string with;
      for (std::size_t m = 0; m < k; ++m) {
        if (std::fabs(coef[m]) > 1e-6 * largest && largest > 0.0) with += (with.empty() ? "" : ", ") + d.names[m];
      }
      return "The linear forms have deficient rank: " + d.names[k] + " is confounded with " + with +
             " (a covariate that is constant where it is used, or terms that repeat each other); leave one of them out.";
    }
    for (double& x : v) x /= norm;
    for (double& c : coef) c /= norm;
    basis.push_back(std::move(v));
    within.push_back(std::move(coef));
  }
  return std::nullopt;
}

}  // namespace

std::string bound_refusal(int parameter) {
  std::string message = "S(";
  message += std::to_string(parameter);
  message += ") has bounds other than 0 and 1: a model with linear forms keeps each probability within 0 and 1 "
             "through the logit, and takes no bound from CONSTRAINT.";
  return message;
}

std::optional<std::string> build_linear_design(const LinearForms& forms, const SlotMap& map, LinearDesign& out) {
  out = LinearDesign{};
  const int npar = static_cast<int>(map.point.size()) - 1;
  const int nest = map.nest;
  auto formula = [&](int I) { return static_cast<std::size_t>(I) < forms.formula.size() && forms.formula[static_cast<std::size_t>(I)]; };
  auto part_of = [&](int I) {
    return static_cast<std::size_t>(I) < forms.part.size() && !forms.part[static_cast<std::size_t>(I)].empty()
               ? forms.part[static_cast<std::size_t>(I)]
               : std::string("S");
  };
  std::vector<int> root(static_cast<std::size_t>(nest) + 1, 0);      // lowest parameter of each slot
  std::vector<int> by_form(static_cast<std::size_t>(nest) + 1, 0);   // a parameter giving the slot's row
  for (int I = 1; I <= npar; ++I) {
    const int k = map.point[static_cast<std::size_t>(I)];
    if (k < 1 || k > nest) continue;
    if (!map.unit_bounds[static_cast<std::size_t>(I)]) return bound_refusal(I);
    if (root[static_cast<std::size_t>(k)] == 0) root[static_cast<std::size_t>(k)] = I;
    if (!formula(I)) continue;
    int& first = by_form[static_cast<std::size_t>(k)];
    if (first == 0) {
      first = I;
    } else if (forms.row[static_cast<std::size_t>(I)] != forms.row[static_cast<std::size_t>(first)] ||
               forms.capture[static_cast<std::size_t>(I)] != forms.capture[static_cast<std::size_t>(first)]) {
      return "S(" + std::to_string(first) + ") and S(" + std::to_string(I) +
             ") are set equal, but their linear forms give them different predictors.";
    }
  }
  // The columns part by part in the order of the structure's words, within a
  // part in the order the slots reach them: a part's formula columns all at
  // once, a slot without a formula its own.
  static constexpr std::string_view kPartOrder[] = {"PHI", "P", "C", "GAMMA", "GAMMA''", "GAMMA'", "THETA", "S"};
  std::vector<int> column_of(forms.names.size(), -1);
  std::vector<int> own(static_cast<std::size_t>(nest) + 1, -1);
  for (std::string_view part : kPartOrder) {
    for (int k = 1; k <= nest; ++k) {
      const int I = by_form[static_cast<std::size_t>(k)];
      const int r = root[static_cast<std::size_t>(k)];
      if (I == 0) {
        if (part_of(r) != part) continue;
        own[static_cast<std::size_t>(k)] = static_cast<int>(out.names.size());
        out.names.push_back(part_of(r) + ":S(" + std::to_string(r) + ")");
        out.parts.push_back(part_of(r));
        continue;
      }
      if (forms.part[static_cast<std::size_t>(I)] != part) continue;
      for (std::size_t c = 0; c < forms.names.size(); ++c) {
        if (forms.parts[c] == part && column_of[c] < 0) {
          column_of[c] = static_cast<int>(out.names.size());
          out.names.push_back(forms.names[c]);
          out.parts.push_back(std::string(part));
        }
      }
    }
  }
  // A part outside the list above cannot occur; a slot of one would have no column.
  for (int k = 1; k <= nest; ++k) {
    if (by_form[static_cast<std::size_t>(k)] == 0 && own[static_cast<std::size_t>(k)] < 0) {
      own[static_cast<std::size_t>(k)] = static_cast<int>(out.names.size());
      out.names.push_back("S(" + std::to_string(root[static_cast<std::size_t>(k)]) + ")");
      out.parts.push_back("S");
    }
  }
  const std::size_t K = out.names.size();
  out.slots = nest;
  out.X.assign(static_cast<std::size_t>(nest) * K, 0.0);
  // Rows without the capture predictor first, then C(P+...) adds p's row.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 1; k <= nest; ++k) {
      double* row = out.X.data() + static_cast<std::size_t>(k - 1) * K;
      const int I = by_form[static_cast<std::size_t>(k)];
      if (I == 0) {
        if (pass == 0) row[own[static_cast<std::size_t>(k)]] = 1.0;
        continue;
      }
      const int cap = forms.capture[static_cast<std::size_t>(I)];
      if ((cap != 0) != (pass == 1)) continue;
      for (const auto& [c, v] : forms.row[static_cast<std::size_t>(I)]) row[column_of[static_cast<std::size_t>(c)]] += v;
      if (cap != 0) {
        const int pk = map.point[static_cast<std::size_t>(cap)];
        if (pk < 1 || pk > nest) {
          return "C(" + std::string("P+...) of S(") + std::to_string(I) + ") adds the predictor of S(" +
                 std::to_string(cap) + "), which is not estimated.";
        }
        const double* prow = out.X.data() + static_cast<std::size_t>(pk - 1) * K;
        for (std::size_t c = 0; c < K; ++c) row[c] += prow[c];
      }
    }
  }
  for (std::size_t c = 0; c < K; ++c) {
    bool reached = false;
    for (int k = 0; k < nest && !reached; ++k) reached = out.X[static_cast<std::size_t>(k) * K + c] != 0.0;
    if (!reached) {
      return "The coefficient " + out.names[c] +
             " reaches no estimated parameter (those it would move are fixed, or its covariate is 0 there).";
    }
  }
  return rank_fault(out);
}

}  // namespace quorvale
