#pragma once
// The pieces the JSON results are built of, shared by the writer of the
// whole document and that of the simulations: objects with room made for
// their members, numbers that are null when not finite.

#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "simulate/simulation_values.h"

namespace quorvale::json_tree {

using Json = nlohmann::ordered_json;


/// An empty object with room for `members` members. An ordered object keeps
/// its members in a vector of (const key, value) pairs, which cannot be
/// moved: each time the vector grows it copies every member, subtrees and
/// all. Room made beforehand spares those copies.
inline Json object(std::size_t members) {
  Json j = Json::object();
  j.get_ref<Json::object_t&>().reserve(members);
  return j;
}

/// Adds a member to an object: `key` is not among its members yet, so it is
/// appended without the search for it that `object[key]` makes.
template <typename T>
inline void put(Json& object, const char* key, T&& value) {
  object.get_ref<Json::object_t&>().emplace_back(key, std::forward<T>(value));
}

/// A number, or null when it is not finite; the value it had is then named
/// under "nonfinite" of the same object.
inline void number(Json& object, const char* key, double v) {
  if (std::isfinite(v)) {
    put(object, key, v);
    return;
  }
  put(object, key, nullptr);
  object["nonfinite"][key] = std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
}

/// An array of numbers; entries that are not finite are null.
inline Json numbers(const std::vector<double>& values) {
  Json a(values);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) a[i] = nullptr;
  }
  return a;
}

/// A two-number interval; null entries where not finite.
inline Json interval(double lower, double upper) { return numbers({lower, upper}); }

/// One PROC SIMULATE: its submodels, generating values, every refit, the
/// summaries and the planning figures.
Json simulation_json(const SimulationTotals& t);

}  // namespace quorvale::json_tree
