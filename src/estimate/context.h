#pragma once
// The fitting context: the model context plus what the fits of a model
// sequence share.

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
};

}  // namespace quorvale
