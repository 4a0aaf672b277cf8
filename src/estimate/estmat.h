#pragma once
// PROC ESTIMATE: options, the CONSTRAINT and INITIAL blocks, the fit by the
// quasi-Newton optimizer and the results of the fitted model.

namespace quorvale {

struct FitContext;

/// How estmat is called.
enum class EstimateMode {
  Full = 1,   ///< a PROC ESTIMATE statement: read the set-up, fit, report
  Refit = 3,  ///< PROC SIMULATE's refit of the current set-up to a replicate
};

/// The estimation driver; entered with the PROC ESTIMATE statement current
/// in Full mode, returns with the next PROC statement current.
void estmat(FitContext& run, EstimateMode mode);

/// The set-up and the fit alone: everything estmat does before the results
/// (with ISIMUL set, Full mode stops after the set-up).
void fit_model(FitContext& run, EstimateMode mode);

/// PROC ESTIMATE as the driver dispatches it.
void estimate(FitContext& run);

/// Prints the parameter map (values, bounds, S(I), pointers) between two warnings.
void debug_dump(FitContext& run);

}  // namespace quorvale
