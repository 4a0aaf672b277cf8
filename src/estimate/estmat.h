#pragma once
// PROC ESTIMATE: options, the CONSTRAINT and INITIAL blocks, the fit by the
// quasi-Newton optimizer and the results of the fitted model.

#include <optional>
#include <span>

#include "estimate/fit_report.h"
#include "input/option_words.h"
#include "model/ss.h"

namespace quorvale {

struct FitContext;

/// How estmat is called.
enum class EstimateMode {
  Full,           ///< a PROC ESTIMATE statement: read the set-up, fit, report every table
  SetupOnly,      ///< a set-up of PROC SIMULATE: read and print the set-up, no fit
  QuietRefit,     ///< a refit of the current set-up to a replicate: warnings and "@@" line only
  ReportedRefit,  ///< the same refit with every table (PROC SIMULATE with DETAIL)
};

/// The estimation driver; entered with the PROC ESTIMATE statement current
/// in Full and SetupOnly mode, returns with the next PROC statement current.
/// Gives the fit's report, none in SetupOnly mode.
std::optional<FitReport> estmat(FitContext& run, EstimateMode mode);

/// The options of PROC ESTIMATE, which PROC SIMULATE's statement also takes
/// for its generating model.
std::span<const OptionSpec> estimate_options();

/// The set-up (Full and SetupOnly mode) and the fit alone: everything estmat
/// computes before the results. It prints the set-up's tables, the DEBUG
/// dumps, the trace lines and the cell-sum warnings as they arise, nothing
/// of the fit's outcome: the report holds the optimizer's outcome. After a
/// fit the estimates are on the natural scale in WORK and PAR(1..NEST), and
/// P holds the cells of the optimizer's last evaluation, not necessarily
/// those at the estimates.
FitReport fit_model(FitContext& run, EstimateMode mode);

/// PROC ESTIMATE as the driver dispatches it.
void estimate(FitContext& run);

/// Prints the parameter map (values, bounds, S(I) of PAR on `scale`,
/// pointers) between two warnings.
void debug_dump(FitContext& run, ParameterScale scale);

}  // namespace quorvale
