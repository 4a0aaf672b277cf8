#include "compare/nesting.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace quorvale {

namespace {

using Map = std::span<const ParameterEstimate>;

/// Two constants of the maps taken as the same value.
bool same(double a, double b) { return std::fabs(a - b) <= 1e-12 * std::max({1.0, std::fabs(a), std::fabs(b)}); }

/// Position of the first parameter of `map` on free slot `slot`; npos when none.
std::size_t on_slot(Map map, int slot) {
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i].slot == slot) return i;
  }
  return map.size();
}

/// Parameters i and j are equal under `map`: one slot, or both fixed at one value.
bool equal_in(Map map, std::size_t i, std::size_t j) {
  if (map[i].fixed() != map[j].fixed()) return false;
  return map[i].fixed() ? same(map[i].estimate, map[j].estimate) : map[i].slot == map[j].slot;
}

/// The least (`below`) or greatest value parameter i can take under `map`,
/// following bounds by other parameters; a chain that does not end gives
/// the widest value.
double extreme(Map map, std::size_t i, bool below, std::size_t depth = 0) {
  const ParameterEstimate& p = map[i];
  if (p.fixed()) return p.estimate;
  const int by = below ? p.lower_by : p.upper_by;
  if (by == 0) return below ? p.lower_bound : p.upper_bound;
  const std::size_t k = on_slot(map, by);
  if (k == map.size() || depth > map.size()) {
    return below ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  return extreme(map, k, below, depth + 1);
}

/// The general model's bound of parameter i by the parameter on slot `by`
/// (i above it when `below`) holds in the reduced model.
bool parameter_bound_holds(Map reduced, Map general, std::size_t i, int by, bool below) {
  const std::size_t k = on_slot(general, by);
  if (k == general.size()) return false;
  const ParameterEstimate& r = reduced[i];
  const ParameterEstimate& q = reduced[k];
  if (equal_in(reduced, i, k)) return true;
  if (r.fixed() && q.fixed()) return below ? r.estimate >= q.estimate : r.estimate <= q.estimate;
  if (r.fixed() || q.fixed()) return false;
  return (below ? r.lower_by : r.upper_by) == q.slot;
}

}  // namespace

bool nested_in(Map reduced, Map general) {
  if (reduced.size() != general.size()) return false;
  for (std::size_t i = 0; i < general.size(); ++i) {
    const ParameterEstimate& g = general[i];
    const ParameterEstimate& r = reduced[i];
    if (g.fixed()) {
      if (!r.fixed() || !same(r.estimate, g.estimate)) return false;
      continue;
    }
    for (std::size_t j = i + 1; j < general.size(); ++j) {
      if (general[j].slot == g.slot && !equal_in(reduced, i, j)) return false;
    }
    if (g.lower_by != 0) {
      if (!parameter_bound_holds(reduced, general, i, g.lower_by, true)) return false;
    } else if (extreme(reduced, i, true) < g.lower_bound && !same(extreme(reduced, i, true), g.lower_bound)) {
      return false;
    }
    if (g.upper_by != 0) {
      if (!parameter_bound_holds(reduced, general, i, g.upper_by, false)) return false;
    } else if (extreme(reduced, i, false) > g.upper_bound && !same(extreme(reduced, i, false), g.upper_bound)) {
      return false;
    }
  }
  return true;
}

namespace {

/// The logit-scale predictor of each parameter of a fit that it estimates:
/// its design row, or for a fit without forms the indicator of its slot.
struct Predictors {
  const FitReport& fit;
  int columns() const { return fit.betas.empty() ? fit.slots : static_cast<int>(fit.betas.size()); }
  /// Column c (0-based) of the row of estimated slot `slot` (1-based).
  double at(int slot, int c) const {
    if (fit.betas.empty()) return slot == c + 1 ? 1.0 : 0.0;
    return fit.beta_design[static_cast<std::size_t>(slot - 1) * fit.betas.size() + static_cast<std::size_t>(c)];
  }
};

/// An orthonormal basis of the span of some vectors, to test others against.
class Span {
 public:
  explicit Span(std::size_t n) : n_(n) {}
  /// Adds v to the span (nothing when it lies in it already).
  void add(std::vector<double> v) {
    const double norm = residual(v);
    if (norm > 0.0) {
      for (double& x : v) x /= norm;
      basis_.push_back(std::move(v));
    }
  }
  /// Whether v lies in the span, to rounding.
  bool holds(std::vector<double> v) const {
    double size = 0.0;
    for (double x : v) size = std::max(size, std::fabs(x));
    return residual(v) <= 1e-9 * std::max(size, 1.0);
  }

 private:
  /// Takes v's projection on the basis off v; its norm after, 0 below rounding.
  double residual(std::vector<double>& v) const {
    double before = 0.0;
    for (double x : v) before += x * x;
    for (int pass = 0; pass < 2; ++pass) {
      for (const std::vector<double>& q : basis_) {
        double r = 0.0;
        for (std::size_t i = 0; i < n_; ++i) r += q[i] * v[i];
        for (std::size_t i = 0; i < n_; ++i) v[i] -= r * q[i];
      }
    }
    double after = 0.0;
    for (double x : v) after += x * x;
    return after <= 1e-20 * before ? 0.0 : std::sqrt(after);
  }
  std::size_t n_;
  std::vector<std::vector<double>> basis_;
};

bool unit_bounds(const ParameterEstimate& p) {
  return p.fixed() || (p.lower_by == 0 && p.upper_by == 0 && p.lower_bound == 0.0 && p.upper_bound == 1.0);
}

}  // namespace

bool nested_in(const FitReport& reduced, const FitReport& general) {
  if (reduced.betas.empty() && general.betas.empty()) return nested_in(reduced.parameters, general.parameters);
  const Map r = reduced.parameters;
  const Map g = general.parameters;
  if (r.size() != g.size()) return false;
  std::vector<std::size_t> free;  // the parameters the general model estimates
  for (std::size_t i = 0; i < g.size(); ++i) {
    if (!unit_bounds(g[i]) || !unit_bounds(r[i])) return false;
    if (g[i].fixed()) {
      if (!r[i].fixed() || !same(r[i].estimate, g[i].estimate)) return false;
    } else {
      free.push_back(i);
    }
  }
  const Predictors pg{general};
  const Predictors pr{reduced};
  Span span(free.size());
  for (int c = 0; c < pg.columns(); ++c) {
    std::vector<double> v(free.size());
    for (std::size_t a = 0; a < free.size(); ++a) v[a] = pg.at(g[free[a]].slot, c);
    span.add(std::move(v));
  }
  for (int c = 0; c < pr.columns(); ++c) {
    std::vector<double> v(free.size(), 0.0);
    for (std::size_t a = 0; a < free.size(); ++a) {
      if (!r[free[a]].fixed()) v[a] = pr.at(r[free[a]].slot, c);
    }
    if (!span.holds(std::move(v))) return false;
  }
  std::vector<double> constants(free.size(), 0.0);
  for (std::size_t a = 0; a < free.size(); ++a) {
    const ParameterEstimate& p = r[free[a]];
    if (!p.fixed()) continue;
    const double x = p.estimate;
    if (x > 0.0 && x < 1.0) {
      constants[a] = std::log(x / (1.0 - x));
    } else if (x == 0.0 || x == 1.0) {
      std::vector<double> alone(free.size(), 0.0);
      alone[a] = 1.0;
      if (!span.holds(std::move(alone))) return false;
    } else {
      return false;
    }
  }
  return span.holds(std::move(constants));
}

}  // namespace quorvale
