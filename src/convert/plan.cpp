#include "convert/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <sstream>
#include <utility>

#include "convert/identifiability.h"
#include "model/likelihood.h"
#include "model/store.h"
#include "model/structure.h"

namespace quorvale::convert {

namespace {

/// The cell probabilities of every cohort of the design under the truth,
/// as the likelihood computes them (one column per cohort, of its cells).
Mat1<double> cell_probabilities(const Design& d, const std::vector<Truth>& truths, ModelStore& m) {
  const std::vector<double> S = truth_values(d, truths);
  m.group_names = d.group_names;
  m.set_cohorts(d.cohort_cells());
  m.NPAR = d.npar();
  m.size_parameters();
  m.NEST = d.npar();
  m.NSIG = 5;
  for (int I = 1; I <= m.NPAR; ++I) m.POINT(I) = I;
  Mat1<double> P = m.P;
  const EstResult r =
      est_core(m, std::span<const double>(S.data() + 1, static_cast<std::size_t>(m.NPAR)), ParameterScale::Natural, P);
  if (r.status != EstStatus::Ok) throw std::logic_error("plan: the design does not fit the likelihood");
  return P;
}

/// Whole animals in `n` cells of probabilities p[0..n-1] (adding up to 1)
/// out of `size`: each cell's expected number rounded down, the animals left
/// given to the cells with the largest remainders, so that all cells hold
/// `size`. The last cell is the remainder the model adds; it is not returned.
std::vector<long long> whole_cells(long long size, const double* p, int n) {
  std::vector<long long> cells(static_cast<std::size_t>(n), 0);
  std::vector<std::pair<double, int>> rest;
  long long left = size;
  for (int k = 0; k < n; ++k) {
    const double e = std::max(0.0, static_cast<double>(size) * p[k]);
    const long long w = std::min(static_cast<long long>(std::floor(e)), left);
    cells[static_cast<std::size_t>(k)] = w;
    left -= w;
    rest.emplace_back(e - static_cast<double>(w), k);
  }
  std::stable_sort(rest.begin(), rest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; left > 0 && i < rest.size(); ++i, --left) ++cells[static_cast<std::size_t>(rest[i].second)];
  cells.pop_back();
  return cells;
}

/// The estimated slots of a parameter map: free parameters numbered in
/// order, equal ones on their root's slot, fixed ones off the slots; every
/// slot with the bounds 0 and 1.
SlotMap slots_of(const ParameterMap& map) {
  SlotMap slots;
  slots.point.assign(static_cast<std::size_t>(map.npar()) + 1, 0);
  slots.unit_bounds.assign(static_cast<std::size_t>(map.npar()) + 1, true);
  for (int I = 1; I <= map.npar(); ++I) {
    const Setting& s = map[I];
    int& point = slots.point[static_cast<std::size_t>(I)];
    if (s.kind == Setting::Kind::Free) {
      point = ++slots.nest;
    } else if (s.kind == Setting::Kind::Equal) {
      point = slots.point[static_cast<std::size_t>(s.root)];
    } else {
      point = -1;
    }
  }
  return slots;
}

/// The words of a text separated by blanks.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

std::string SurvivalTerms::formula(bool by_group) const {
  std::vector<std::string> names;
  if (trend) names.emplace_back("TREND");
  for (const Covariate& c : covariates) names.push_back(c.name);
  std::string f;
  for (const std::string& n : names) {
    if (!f.empty()) f += '+';
    if (by_group) f += "G*";
    f += n;
  }
  return f;
}

std::vector<double> survival_with_terms(const std::vector<double>& base, double trend,
                                        const std::vector<Covariate>& covariates, const std::vector<double>& effects) {
  std::vector<double> phi;
  for (std::size_t i = 0; i < base.size(); ++i) {
    double eta = std::log(base[i] / (1.0 - base[i])) + trend * static_cast<double>(i);
    for (std::size_t c = 0; c < covariates.size() && c < effects.size(); ++c) {
      const std::vector<double>& x = covariates[c].values;
      if (i < x.size() && !x.empty()) eta += effects[c] * (x[i] - x[0]);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", inverse_logit(eta));
    phi.push_back(std::strtod(buf, nullptr));
  }
  return phi;
}

std::vector<LinearVariant> linear_variants(const Design& d, const std::vector<ModelTemplate>& models,
                                           const std::vector<int>& chosen, const SurvivalTerms& terms,
                                           const std::vector<double>& truth, const std::string& option) {
  std::vector<LinearVariant> out;
  std::vector<std::string> covariate_names;
  for (const Covariate& c : terms.covariates) covariate_names.push_back(c.name);
  std::vector<bool> survival(static_cast<std::size_t>(d.npar()) + 1, false);
  for (int g = 1; g <= d.groups(); ++g) {
    for (int i = 1; i < d.periods(); ++i) survival[static_cast<std::size_t>(d.phi(i, g))] = true;
  }
  std::vector<std::string> written;  // the structures of the variants so far
  int number = 0;
  for (const ModelTemplate& m : models) {
    ++number;
    if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), number) == chosen.end()) continue;
    // The template with survival by interval: the variant restricts it.
    ModelSpec spec = m.spec;
    spec.phi_by_period = true;
    std::vector<std::string> notes;
    const ParameterMap by_interval = grouped_map(d, spec, notes);
    const std::string words = template_words(spec);
    const std::string structure = "PHI(" + terms.formula(spec.phi_by_group) + ")" + words.substr(words.find(' '));
    if (std::find(written.begin(), written.end(), structure) != written.end() || !identifiable(d, by_interval)) {
      continue;
    }
    written.push_back(structure);
    // The structure as the program reads it, with the equalities it leaves out.
    Structure s;
    std::optional<std::string> fault = parse_structure(words_of(structure), s, d.groups(), covariate_names);
    if (!fault) fault = check_structure(s, d);
    if (fault) throw ConvertError(0, "--" + option + ": " + *fault);
    std::vector<std::string> variant_notes;
    ParameterMap map = structure_map(s, d, variant_notes);
    LinearVariant v;
    v.of = number;
    v.structure = structure;
    for (int I = 1; I <= d.npar(); ++I) {
      const Setting& want = by_interval[I];
      if (survival[static_cast<std::size_t>(I)] || want.kind != Setting::Kind::Equal ||
          map[I].kind != Setting::Kind::Free) {
        continue;
      }
      map.tie(I, want.root);
      v.equalities.push_back("S(" + std::to_string(I) + ")=S(" + std::to_string(want.root) + ");");
    }
    for (int I = 1; I <= d.npar() && static_cast<std::size_t>(I) < truth.size(); ++I) {
      const double value = truth[static_cast<std::size_t>(I)];
      if (map[I].kind != Setting::Kind::Free || value < 0.01 || value > 0.99) continue;
      char shown[32];
      std::snprintf(shown, sizeof shown, "%.6g", value);
      v.starts.push_back("S(" + std::to_string(I) + ")=" + shown + ";");
    }
    LinearDesign design;
    if (const std::optional<std::string> rank =
            build_linear_design(structure_forms(s, d, d.group_names, terms.covariates), slots_of(map), design)) {
      throw ConvertError(0, "--" + option + ": the model " + structure + " cannot be fitted. " + *rank);
    }
    v.name.push_back(m.name.substr(0, m.name.find(' ')));
    v.name.push_back("PHI(" + terms.formula(spec.phi_by_group) + ")");
    if (!spec.p_by_group) v.name.emplace_back(spec.p_by_period ? "P(T)" : "P(.)");
    v.description = "Model " + std::to_string(number) + " with survival linear on the logit scale, " +
                    structure.substr(0, structure.find(' '));
    if (d.groups() > 1) v.description += spec.phi_by_group ? ", each group its own" : ", shared by the groups";
    if (!v.equalities.empty()) {
      // Each note is "gamma''(5) = gamma''(4): why".
      std::string ties;
      for (std::size_t k = 0; k < notes.size(); ++k) {
        ties += (k == 0 ? "" : k + 1 == notes.size() ? " and " : ", ") + notes[k].substr(0, notes[k].find(':'));
      }
      v.description += ". Constrained as the model with survival by interval: " + ties +
                       " (the last period's availability is confounded with survival into it)";
    }
    out.push_back(std::move(v));
  }
  return out;
}

std::vector<double> truth_values(const Design& d, const std::vector<Truth>& truths) {
  std::vector<double> S(static_cast<std::size_t>(d.npar()) + 1, 0.0);
  auto at = [](const std::vector<double>& v, int i) { return v[static_cast<std::size_t>(i)]; };
  const int M = d.periods();
  for (int g = 1; g <= d.groups(); ++g) {
    const Truth& truth = truths[static_cast<std::size_t>(g - 1)];
    for (int ip = 1; ip <= M; ++ip) {
      for (int t = 1; t <= d.occasions(ip); ++t) S[static_cast<std::size_t>(d.p(ip, t, g))] = at(truth.p, ip - 1);
      for (int t = 2; t <= d.occasions(ip); ++t) S[static_cast<std::size_t>(d.c(ip, t, g))] = at(truth.c, ip - 1);
      S[static_cast<std::size_t>(d.theta(ip, g))] = 1.0;
    }
    for (int i = 1; i < M; ++i) S[static_cast<std::size_t>(d.phi(i, g))] = at(truth.phi, i - 1);
    for (int j = 2; j <= M; ++j) S[static_cast<std::size_t>(d.gamma2(j, g))] = at(truth.gamma2, j - 2);
    for (int j = 3; j <= M; ++j) S[static_cast<std::size_t>(d.gamma1(j, g))] = at(truth.gamma1, j - 3);
  }
  return S;
}

std::vector<double> expected_sizes(const Design& d, const std::vector<Truth>& truths) {
  ModelStore m;
  const Mat1<double> P = cell_probabilities(d, truths, m);
  const int M = d.periods();
  std::vector<double> sizes;
  for (int g = 1; g <= d.groups(); ++g) {
    const Truth& truth = truths[static_cast<std::size_t>(g - 1)];
    // Pr(next caught in j | released after i), j = i+1..M.
    auto next = [&](int i, int j) { return P(j - i, d.open_cohort(i, g)); };
    std::vector<double> E(static_cast<std::size_t>(M) + 1, 0.0);  // newly marked
    if (truth.marked.empty()) {
      // Present and available in period 1: caught there with p*(1), else
      // first caught in j as an animal released after period 1 would be.
      double miss = 1.0;
      for (int t = 1; t <= d.occasions(1); ++t) miss *= 1.0 - truth.p[0];
      E[1] = truth.superpopulation * (1.0 - miss);
      for (int j = 2; j <= M; ++j) E[static_cast<std::size_t>(j)] = truth.superpopulation * miss * next(1, j);
    } else {
      for (int i = 1; i <= M; ++i) E[static_cast<std::size_t>(i)] = truth.marked[static_cast<std::size_t>(i - 1)];
    }
    // Released after period i: the newly marked and the recaptured of period i.
    std::vector<double> R(static_cast<std::size_t>(M) + 1, 0.0);
    for (int i = 1; i < M; ++i) {
      double r = E[static_cast<std::size_t>(i)];
      for (int j = 1; j < i; ++j) r += R[static_cast<std::size_t>(j)] * next(j, i);
      R[static_cast<std::size_t>(i)] = r;
    }
    for (int ip = 1; ip <= M; ++ip) {
      sizes.push_back(E[static_cast<std::size_t>(ip)]);
      for (int jp = 2; jp <= ip; ++jp) sizes.push_back(R[static_cast<std::size_t>(jp - 1)] * next(jp - 1, ip));
    }
    for (int i = 1; i < M; ++i) sizes.push_back(R[static_cast<std::size_t>(i)]);
  }
  return sizes;
}

std::vector<Cohort> expected_cohorts(const Design& d, const std::vector<Truth>& truths) {
  ModelStore m;
  const Mat1<double> P = cell_probabilities(d, truths, m);
  const std::vector<double> sizes = expected_sizes(d, truths);
  const int M = d.periods();
  std::vector<Cohort> cohorts;
  auto whole = [](double v) { return static_cast<long long>(std::llround(v)); };
  for (int g = 1; g <= d.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        const int c = d.closed_cohort(ip, jp, g);
        Cohort k;
        k.group = g;
        k.period = ip;
        k.jp = jp;
        k.size = whole(sizes[static_cast<std::size_t>(c - 1)]);
        k.cells = whole_cells(k.size, P.column(c), d.closed_cells(ip));
        cohorts.push_back(std::move(k));
      }
    }
    for (int i = 1; i < M; ++i) {
      const int c = d.open_cohort(i, g);
      Cohort k;
      k.group = g;
      k.open = true;
      k.period = i;
      k.size = whole(sizes[static_cast<std::size_t>(c - 1)]);
      k.cells = whole_cells(k.size, P.column(c), d.open_cells(i));
      cohorts.push_back(std::move(k));
    }
  }
  return cohorts;
}

}  // namespace quorvale::convert
