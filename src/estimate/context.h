#pragma once
// The fitting context: the model context plus what the fits of a model
// sequence share.

#include <string>
#include <vector>

#include "estimate/saved_models.h"
#include "estimate/work.h"
#include "model/context.h"

namespace quorvale {

/// Adds the saved-model table, the estimates file and the estimation work
/// areas. PROC ESTIMATE, PROC TEST, PROC SIMULATE and PROC IDENTIFIABLE take it.
struct FitContext : ModelContext {
  using ModelContext::ModelContext;

  SavedModels saved;
  EstimatesFile estimates;
  EstimationWork work;
  /// Parameters (1..NPAR) the STRUCTURE statement of the fit being set up
  /// fixed or set equal; empty without one.
  std::vector<bool> structured;
  /// The gradient a fit uses when its statement names none: exact with the
  /// parameter word gradient=exact, and inside PROC SIMULATE with its GRADIENT=EXACT.
  bool exact_gradient_default = false;
  /// The words of that statement run together ("PHI(T)P(T)C(P)GAM(MARKOV,.)"); empty without one.
  std::string structure_name;
};

}  // namespace quorvale
