#include "convert/templates.h"

#include "convert/identifiability.h"

namespace quorvale::convert {

Structure structure_of(const ModelSpec& spec) {
  Structure s;
  s.phi_by_period = spec.phi_by_period;
  s.p = spec.p_by_period ? Variation::Period : Variation::Constant;
  s.c_is_p = true;
  s.emigration = spec.emigration;
  s.gamma_by_period = spec.emigration != Emigration::None && spec.gamma_by_period;
  return s;
}

ParameterMap hypothesis_map(const Design& d, const ModelSpec& spec, bool last_gamma_tied, bool last_gamma1_tied) {
  std::vector<std::string> notes;
  const LastPeriod last = !last_gamma_tied ? LastPeriod::None : last_gamma1_tied ? LastPeriod::Both : LastPeriod::Gamma2;
  return structure_map(structure_of(spec), d, notes, last);
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
                    describe(spec), {}, ParameterMap(0)};
    // The structure adds the ties of the last period's gamma's it needs.
    t.map = structure_map(structure_of(spec), d, t.notes);
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
