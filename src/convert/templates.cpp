#include "convert/templates.h"

#include <utility>

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

/// True when some part of the hypothesis is by group.
bool by_group(const ModelSpec& s) { return s.gamma_by_group || s.phi_by_group || s.p_by_group; }

/// Level of a part: ".", "T", "G" or "G*T".
std::string level(bool group, bool period) {
  if (group) return period ? "G*T" : "G";
  return period ? "T" : ".";
}

/// What a parameter of one group's block stands for, as far as groups share it.
enum class Part : std::uint8_t { Capture, Survival, Emigration, Theta };

/// One parameter of one group's block and its number in every group's block.
struct Counterpart {
  Part part = Part::Capture;  ///< what it is
  int one = 0;                ///< its number for one group
  std::vector<int> of_group;  ///< of_group[g - 1]: its number in group g's block
};

/// Every parameter of one group (`one`) with its numbers in the groups of `d`.
std::vector<Counterpart> counterparts(const Design& one, const Design& d) {
  std::vector<Counterpart> list;
  auto add = [&](Part part, int number, auto&& of_group) {
    Counterpart c{part, number, {}};
    for (int g = 1; g <= d.groups(); ++g) c.of_group.push_back(of_group(g));
    list.push_back(std::move(c));
  };
  const int M = one.periods();
  for (int ip = 1; ip <= M; ++ip) {
    for (int t = 1; t <= one.occasions(ip); ++t) add(Part::Capture, one.p(ip, t), [&](int g) { return d.p(ip, t, g); });
    for (int t = 2; t <= one.occasions(ip); ++t) add(Part::Capture, one.c(ip, t), [&](int g) { return d.c(ip, t, g); });
  }
  for (int i = 1; i < M; ++i) add(Part::Survival, one.phi(i), [&](int g) { return d.phi(i, g); });
  for (int j = 2; j <= M; ++j) add(Part::Emigration, one.gamma2(j), [&](int g) { return d.gamma2(j, g); });
  for (int j = 3; j <= M; ++j) add(Part::Emigration, one.gamma1(j), [&](int g) { return d.gamma1(j, g); });
  for (int ip = 1; ip <= M; ++ip) add(Part::Theta, one.theta(ip), [&](int g) { return d.theta(ip, g); });
  return list;
}

/// First word of a model's name: the emigration hypothesis.
std::string emigration_word(const ModelSpec& s) {
  std::string by = "(";
  by += level(s.gamma_by_group, s.gamma_by_period);
  by += ")";
  switch (s.emigration) {
    case Emigration::None:
      return "NO-EMIG";
    case Emigration::Random:
      return "RANDOM" + by;
    case Emigration::Markov:
      return "MARKOV" + by;
  }
  return {};
}

/// Second word of a model's name: survival, and capture where the set varies it.
std::string survival_word(const ModelSpec& s) {
  const std::string phi = "PHI(" + level(s.phi_by_group, s.phi_by_period) + ")";
  // Capture is by group and period in every model of several groups.
  if (s.p_by_group) return phi;
  return phi + (s.p_by_period ? "P(T)" : "P(.)");
}

/// The hypothesis in words.
std::string describe(const ModelSpec& s) {
  // How a part varies; in a model of groups a part without them is the same for all.
  const bool groups = by_group(s);
  const auto how = [groups](bool group, bool period) {
    if (group) return std::string(period ? "by group and period" : "by group");
    return std::string(period ? "by period" : "constant") + (groups ? " for all groups" : "");
  };
  std::string text;
  switch (s.emigration) {
    case Emigration::None:
      text = "no temporary emigration";
      break;
    case Emigration::Random:
      text = "random temporary emigration (gamma'' = gamma'), " + how(s.gamma_by_group, s.gamma_by_period);
      break;
    case Emigration::Markov:
      text = "Markovian temporary emigration, gamma'' and gamma' " + how(s.gamma_by_group, s.gamma_by_period);
      break;
  }
  text += ", survival " + how(s.phi_by_group, s.phi_by_period);
  text += ", capture " + how(s.p_by_group, s.p_by_period);
  return text;
}

}  // namespace

std::string template_words(const ModelSpec& spec) {
  if (!by_group(spec)) return structure_words(structure_of(spec));
  std::string words = "PHI(" + level(spec.phi_by_group, spec.phi_by_period) + ")";
  words += " P(" + level(spec.p_by_group, spec.p_by_period) + ") C(P)";
  const std::string gamma = level(spec.gamma_by_group, spec.gamma_by_period);
  switch (spec.emigration) {
    case Emigration::None:
      return words + " GAMMA(NONE)";
    case Emigration::Random:
      return words + " GAMMA(RANDOM," + gamma + ")";
    case Emigration::Markov:
      return words + " GAMMA(MARKOV," + gamma + ")";
  }
  return words;
}

ParameterMap grouped_map(const Design& d, const ModelSpec& spec, std::vector<std::string>& notes) {
  if (d.groups() == 1) return structure_map(structure_of(spec), d, notes);
  const Design one(d.occasion_list());
  std::vector<std::string> within_notes;
  const ParameterMap within = structure_map(structure_of(spec), one, within_notes);
  for (const std::string& n : within_notes) notes.push_back(n + ", in every group");
  const std::vector<Counterpart> list = counterparts(one, d);
  // number[g - 1][I]: group g's number of parameter I of one group.
  std::vector<std::vector<int>> number(static_cast<std::size_t>(d.groups()),
                                       std::vector<int>(static_cast<std::size_t>(one.npar()) + 1, 0));
  for (const Counterpart& c : list) {
    for (std::size_t g = 0; g < c.of_group.size(); ++g) number[g][static_cast<std::size_t>(c.one)] = c.of_group[g];
  }
  ParameterMap map(d.npar());
  for (const Counterpart& c : list) {
    const Setting& s = within[c.one];
    for (std::size_t g = 0; g < c.of_group.size(); ++g) {
      if (s.kind == Setting::Kind::Fixed) map.fix(c.of_group[g], s.value);
      if (s.kind == Setting::Kind::Equal) map.tie(c.of_group[g], number[g][static_cast<std::size_t>(s.root)]);
    }
  }
  for (const Counterpart& c : list) {
    const bool own = (c.part == Part::Capture && spec.p_by_group) || (c.part == Part::Survival && spec.phi_by_group) ||
                     (c.part == Part::Emigration && spec.gamma_by_group);
    if (own || within[c.one].kind == Setting::Kind::Fixed) continue;
    for (std::size_t g = 1; g < c.of_group.size(); ++g) map.tie(c.of_group[g], c.of_group[0]);
  }
  return map;
}

std::vector<ModelSpec> grouped_hypotheses() {
  std::vector<ModelSpec> specs;
  for (Emigration e : {Emigration::None, Emigration::Random, Emigration::Markov}) {
    for (bool gamma : {false, true}) {
      if (e == Emigration::None && gamma) continue;
      for (bool phi : {false, true}) specs.push_back(ModelSpec{e, false, true, true, gamma, phi, true});
    }
  }
  return specs;
}

std::vector<ModelTemplate> standard_models(const Design& d, std::vector<std::string>& omitted) {
  std::vector<ModelSpec> specs;
  if (d.groups() > 1) {
    specs = grouped_hypotheses();
  } else {
    for (bool phi : {false, true}) specs.push_back(ModelSpec{Emigration::None, false, phi, false});
    for (Emigration e : {Emigration::None, Emigration::Random, Emigration::Markov}) {
      for (bool gamma : {false, true}) {
        if (e == Emigration::None && gamma) continue;
        for (bool phi : {false, true}) specs.push_back(ModelSpec{e, gamma, phi, true});
      }
    }
  }

  std::vector<ModelTemplate> kept;
  for (const ModelSpec& spec : specs) {
    ModelTemplate t{spec, emigration_word(spec) + " " + survival_word(spec), describe(spec), {}, ParameterMap(0)};
    // The structure adds the ties of the last period's gamma's it needs.
    t.map = grouped_map(d, spec, t.notes);
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
