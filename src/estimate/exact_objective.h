#pragma once
// The likelihood as the exact-gradient optimizer asks for it: values at
// trial points, and value with gradient at each point it moves to.

#include <optional>
#include <span>
#include <vector>

#include "model/likelihood.h"
#include "model/store.h"

namespace quorvale {

class Listing;

/// Evaluations of the store's likelihood at x (PAR(1..NEST) = x on `scale`,
/// P filled, the lines est writes). The optimizer asks for the gradient at
/// the point it evaluated last more often than not (it takes a full step as
/// it is): the cells of that evaluation then serve the gradient, bit for bit
/// those a new evaluation would give, and only the backward pass is added.
class ExactObjective {
 public:
  ExactObjective(ModelStore& store, Listing& listing, ParameterScale scale);

  /// F at x.
  double value(std::span<const double> x);
  /// F at x and dF/dPAR(k) into grad[k - 1], k = 1..NEST.
  double value_and_gradient(std::span<const double> x, std::span<double> grad);

 private:
  /// PAR(1..NEST) = x and the evaluation at x, or the last one when it was at x bit for bit.
  EstResult evaluate(std::span<const double> x, bool reuse);

  ModelStore& store_;
  Listing& listing_;
  ParameterScale scale_;
  std::optional<RdDesign> read_;  ///< the design read for the evaluations, when PROC MODEL kept none
  const RdDesign& design_;
  std::vector<double> last_x_;  ///< the point of the last evaluation; empty before the first
  EstResult last_;              ///< what it gave
};

}  // namespace quorvale
