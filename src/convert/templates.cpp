#include "convert/templates.h"

#include "convert/identifiability.h"

namespace quorvale::convert {

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

ParameterMap hypothesis_map(const Design& d, const ModelSpec& spec, bool last_gamma_tied, bool last_gamma1_tied) {
  const int M = d.periods();
  ParameterMap map(d.npar());
  // theta is read only by the power variant, never switched on here.
  for (int ip = 1; ip <= M; ++ip) map.fix(d.theta(ip), 1.0);
  // One capture probability per period (or one for all), recapture alike.
  for (int ip = 1; ip <= M; ++ip) {
    const int root = spec.p_by_period ? d.p(ip, 1) : d.p(1, 1);
    for (int t = 1; t <= d.occasions(ip); ++t) map.tie(d.p(ip, t), root);
    for (int t = 2; t <= d.occasions(ip); ++t) map.tie(d.c(ip, t), root);
  }
  if (!spec.phi_by_period) {
    for (int i = 2; i <= M - 1; ++i) map.tie(d.phi(i), d.phi(1));
  }
  switch (spec.emigration) {
    case Emigration::None:
      for (int j = 2; j <= M; ++j) map.fix(d.gamma2(j), 0.0);
      for (int j = 3; j <= M; ++j) map.fix(d.gamma1(j), 0.0);
      break;
    case Emigration::Random:
      for (int j = 3; j <= M; ++j) map.tie(d.gamma1(j), d.gamma2(j));
      [[fallthrough]];
    case Emigration::Markov:
      if (!spec.gamma_by_period) {
        for (int j = 3; j <= M; ++j) map.tie(d.gamma2(j), d.gamma2(2));
        for (int j = 4; j <= M; ++j) map.tie(d.gamma1(j), d.gamma1(3));
      } else if (last_gamma_tied && M >= 3) {
        map.tie(d.gamma2(M), d.gamma2(M - 1));
        if (last_gamma1_tied && M >= 4) map.tie(d.gamma1(M), d.gamma1(M - 1));
      }
      break;
  }
  return map;
}

namespace {

/// First word of a model's name: the emigration hypothesis.
std::string emigration_word(const ModelSpec& s) {
  switch (s.emigration) {
    case Emigration::None:
      return "NO-EMIG";
    case Emigration::Random:
      return s.gamma_by_period ? "RANDOM(T)" : "RANDOM(.)";
    case Emigration::Markov:
      return s.gamma_by_period ? "MARKOV(T)" : "MARKOV(.)";
  }
  return {};
}

/// The hypothesis in words.
std::string describe(const ModelSpec& s) {
  std::string text;
  switch (s.emigration) {
    case Emigration::None:
      text = "no temporary emigration";
      break;
    case Emigration::Random:
      text = std::string("random temporary emigration (gamma'' = gamma'), ") +
             (s.gamma_by_period ? "by period" : "constant");
      break;
    case Emigration::Markov:
      text = std::string("Markovian temporary emigration, gamma'' and gamma' ") +
             (s.gamma_by_period ? "by period" : "constant");
      break;
  }
  text += s.phi_by_period ? ", survival by period" : ", survival constant";
  text += s.p_by_period ? ", capture by period" : ", capture constant";
  return text;
}

}  // namespace

std::vector<ModelTemplate> standard_models(const Design& d, std::vector<std::string>& omitted) {
  const int M = d.periods();
  std::vector<ModelSpec> specs;
  for (bool phi : {false, true}) specs.push_back(ModelSpec{Emigration::None, false, phi, false});
  for (Emigration e : {Emigration::None, Emigration::Random, Emigration::Markov}) {
    for (bool gamma : {false, true}) {
      if (e == Emigration::None && gamma) continue;
      for (bool phi : {false, true}) specs.push_back(ModelSpec{e, gamma, phi, true});
    }
  }

  std::vector<ModelTemplate> kept;
  for (const ModelSpec& spec : specs) {
    ModelTemplate t{spec, emigration_word(spec) + " " + (spec.phi_by_period ? "PHI(T)" : "PHI(.)") +
                              (spec.p_by_period ? "P(T)" : "P(.)"),
                    describe(spec), {}, hypothesis_map(d, spec)};
    // Survival into the last period and availability in it reach the cells
    // only together; tie the last gamma's to the period before, as needed.
    if (!identifiable(d, t.map) && spec.emigration != Emigration::None && spec.gamma_by_period && M >= 3) {
      const std::string last = std::to_string(M);
      const std::string before = std::to_string(M - 1);
      const std::string why = ": the last period's availability is confounded with survival into it";
      t.map = hypothesis_map(d, spec, true);
      t.notes.push_back("gamma''(" + last + ") = gamma''(" + before + ")" + why);
      if (!identifiable(d, t.map) && spec.emigration == Emigration::Markov && M >= 4) {
        t.map = hypothesis_map(d, spec, true, true);
        t.notes.push_back("gamma'(" + last + ") = gamma'(" + before + ")" + why);
      }
    }
    bool repeated = false;
    for (const ModelTemplate& k : kept) {
      if (k.map == t.map) {
        omitted.push_back(t.name + " repeats " + k.name);
        repeated = true;
        break;
      }
    }
    if (repeated) continue;
    if (!identifiable(d, t.map)) {
      omitted.push_back(t.name + " is not identifiable");
      continue;
    }
    kept.push_back(std::move(t));
  }
  return kept;
}

}  // namespace quorvale::convert
