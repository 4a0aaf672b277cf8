#include "compare/nesting.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

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

}  // namespace quorvale
