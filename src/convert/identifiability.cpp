#include "convert/identifiability.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "model/likelihood.h"
#include "model/store.h"

namespace quorvale::convert {

namespace {

/// A generic value of parameter i, away from 0, 1 and from the values of
/// the other parameters: its kind sets the range, a golden-ratio sequence
/// over the slot and the point number the place within it.
double generic_value(const Design& d, int i, int slot, int point) {
  const double golden = 0.6180339887498949;
  double u = 0.5 + (slot + 7 * point) * golden;
  u -= std::floor(u);
  const int M = d.periods();
  // Its kind from its place in its group's block, as in group 1's.
  const int k = d.in_block(i);
  if (k <= d.closed_parameters()) return 0.3 + 0.35 * u;  // capture, recapture
  if (k <= d.phi(M - 1)) return 0.55 + 0.35 * u;    // survival
  if (k <= d.gamma2(M)) return 0.1 + 0.3 * u;       // gamma''
  if (k < d.theta(1)) return 0.4 + 0.4 * u;         // gamma'
  return 0.8 + 0.4 * u;                             // theta
}

}  // namespace

std::optional<std::string> linear_design(const Design& d, const Structure& s, const ParameterMap& map,
                                         LinearDesign& out) {
  const LinearForms forms = structure_forms(s, d, d.group_names, {});
  SlotMap slots;
  slots.nest = map.estimated();
  slots.point.assign(static_cast<std::size_t>(map.npar()) + 1, 0);
  slots.unit_bounds.assign(static_cast<std::size_t>(map.npar()) + 1, true);
  int free = 0;
  int fixed = slots.nest;
  for (int i = 1; i <= map.npar(); ++i) {
    const Setting& setting = map[i];
    int& point = slots.point[static_cast<std::size_t>(i)];
    if (setting.kind == Setting::Kind::Free) {
      point = ++free;
    } else if (setting.kind == Setting::Kind::Equal) {
      point = slots.point[static_cast<std::size_t>(setting.root)];
    } else {
      point = -(++fixed);
    }
  }
  return build_linear_design(forms, slots, out);
}

double identifiability_margin(const Design& d, const ParameterMap& map, int point, const LinearDesign* linear) {
  auto store = std::make_unique<ModelStore>();
  ModelStore& m = *store;
  const int M = d.periods();
  const std::vector<int> cohort_cells = d.cohort_cells();
  m.group_names = d.group_names;
  m.set_cohorts(cohort_cells);
  m.NPAR = d.npar();
  m.size_parameters();
  m.NSIG = 5;
  // Cohorts of one period of a group share their cells, so the first of
  // each period and the open cohorts of every group carry every distinct cell.
  std::vector<int> distinct;
  for (int g = 1; g <= d.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) distinct.push_back(d.closed_cohort(ip, 1, g));
    for (int i = 1; i < M; ++i) distinct.push_back(d.open_cohort(i, g));
  }

  // Free parameters take slots 1..NEST in order, fixed ones the slots after.
  const int nest = map.estimated();
  m.NEST = nest;
  std::vector<double> x;
  int fixed_slot = nest;
  for (int i = 1; i <= m.NPAR; ++i) {
    const Setting& s = map[i];
    if (s.kind == Setting::Kind::Free) {
      x.push_back(generic_value(d, i, static_cast<int>(x.size()) + 1, point));
      m.POINT(i) = static_cast<int>(x.size());
    } else if (s.kind == Setting::Kind::Equal) {
      m.POINT(i) = m.POINT(s.root);
    } else {
      m.POINT(i) = -(++fixed_slot);
      m.PAR(fixed_slot) = s.value;
    }
  }
  // The coordinates: the parameters themselves, or the coefficients of the
  // linear forms that best give the generic values on the logit scale (the
  // slots then take the values the forms give from them).
  std::vector<double> coordinates = linear ? linear->start(x) : x;
  if (coordinates.empty()) return 1.0;

  Mat1<double> P(cohort_cells);
  auto cells = [&](std::vector<double>& out) {
    if (linear) linear->probabilities(coordinates, x);
    est_core(m, linear ? x : coordinates, ParameterScale::Natural, P);  // the parameters themselves
    out.clear();
    for (int col : distinct) out.insert(out.end(), P.column(col), P.column(col) + m.NCLASS(col));
  };
  std::vector<double> base, plus, minus;
  cells(base);
  const std::size_t n = base.size();
  const double h = 1e-5;
  std::vector<std::vector<double>> D(coordinates.size(), std::vector<double>(n));
  for (std::size_t a = 0; a < D.size(); ++a) {
    const double keep = coordinates[a];
    coordinates[a] = keep + h;
    cells(plus);
    coordinates[a] = keep - h;
    cells(minus);
    coordinates[a] = keep;
    for (std::size_t k = 0; k < n; ++k) D[a][k] = (plus[k] - minus[k]) / (2 * h);
  }

  // Information matrix of one animal per cell group, scaled to unit diagonal.
  const std::size_t q = D.size();
  std::vector<double> G(q * q, 0.0);
  for (std::size_t a = 0; a < q; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      double s = 0.0;
      for (std::size_t k = 0; k < n; ++k) {
        if (base[k] > 1e-12) s += D[a][k] * D[b][k] / base[k];
      }
      G[a * q + b] = G[b * q + a] = s;
    }
  }
  for (std::size_t a = 0; a < q; ++a) {
    if (!(G[a * q + a] > 0.0)) return 0.0;
  }
  std::vector<double> scale(q);
  for (std::size_t a = 0; a < q; ++a) scale[a] = 1.0 / std::sqrt(G[a * q + a]);
  for (std::size_t a = 0; a < q; ++a)
    for (std::size_t b = 0; b < q; ++b) G[a * q + b] *= scale[a] * scale[b];

  // Cholesky in place; the pivot of column k is the squared distance of
  // parameter k's scaled derivative from those of parameters 1..k-1.
  double smallest = 1.0;
  for (std::size_t k = 0; k < q; ++k) {
    double pivot = G[k * q + k];
    for (std::size_t j = 0; j < k; ++j) pivot -= G[k * q + j] * G[k * q + j];
    smallest = std::min(smallest, pivot);
    if (pivot < 1e-14) return std::max(pivot, 0.0);
    const double root = std::sqrt(pivot);
    G[k * q + k] = root;
    for (std::size_t i = k + 1; i < q; ++i) {
      double s = G[i * q + k];
      for (std::size_t j = 0; j < k; ++j) s -= G[i * q + j] * G[k * q + j];
      G[i * q + k] = s / root;
    }
  }
  return smallest;
}

bool identifiable(const Design& design, const ParameterMap& map, const LinearDesign* linear) {
  // Full rank at one point is full rank almost everywhere (the cells are
  // analytic in the parameters), so a second point is tried only in case
  // the first happens to lie where the rank drops.
  return identifiability_margin(design, map, 0, linear) > kIdentifiableMargin ||
         identifiability_margin(design, map, 1, linear) > kIdentifiableMargin;
}

}  // namespace quorvale::convert
