#pragma once
// PROC MODEL: reads the parameters, labels, cohorts and cells of the model
// into the model store, then completes the cohorts.

namespace quorvale {

struct ModelContext;

/// PROC MODEL: entered with its PROC statement current, returns at the next PROC statement.
void model(ModelContext& run);
/// The LABELS block: returns with the next COHORT or PROC statement current.
void labels(ModelContext& run);
/// Completes the cohorts with remainder cells and marks the model as defined.
void modout(ModelContext& run);

}  // namespace quorvale
