// The likelihood for the exact-gradient optimizer, the last evaluation kept.

#include "estimate/exact_objective.h"

#include <algorithm>
#include <cstring>

#include "model/gradient.h"

namespace quorvale {

ExactObjective::ExactObjective(ModelStore& store, Listing& listing, ParameterScale scale)
    : store_(store), listing_(listing), scale_(scale), design_(evaluation_design(store, read_)) {}

EstResult ExactObjective::evaluate(std::span<const double> x, bool reuse) {
  const int nest = store_.NEST;
  for (int k = 1; k <= nest; ++k) store_.PAR(k) = x[static_cast<std::size_t>(k - 1)];
  const std::size_t n = static_cast<std::size_t>(nest);
  // Bit for bit: P and the den = 1 periods of the last evaluation are those of x.
  const bool same = reuse && last_x_.size() == n && std::memcmp(last_x_.data(), x.data(), n * sizeof(double)) == 0;
  if (!same) {
    last_ = est_core(store_, design_, x, scale_, store_.P);
    last_x_.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
  }
  report_evaluation(store_, listing_, design_, last_, scale_);
  return last_;
}

double ExactObjective::value(std::span<const double> x) { return evaluate(x, false).F; }

double ExactObjective::value_and_gradient(std::span<const double> x, std::span<double> grad) {
  const EstResult r = evaluate(x, true);
  gradient_from_cells(store_, design_, x, scale_, store_.P, grad);
  return r.F;
}

}  // namespace quorvale
