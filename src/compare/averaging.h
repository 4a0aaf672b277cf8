#pragma once
// Model averaging over the fits of one model sequence: Akaike weights from
// AICc (QAICc when c-hat > 1), averaged estimates of every parameter and of
// the derived abundance per group and period (and of all groups together),
// and unconditional standard errors
//   se = sqrt( sum_m w_m (Var_m + (theta_m - theta_bar)^2) ),
// Var_m multiplied by c-hat when c-hat > 1.

#include <span>
#include <string>
#include <vector>

#include "compare/comparison.h"
#include "estimate/fit_report.h"

namespace quorvale {

/// Averages `fits` (the PROC ESTIMATE fits of the sequence) with c-hat
/// `chat`; `from_file` models of the comparison had no estimates. With no
/// converged fit the average holds no models and no values.
ModelAverage model_average(std::span<const FitReport> fits, double chat, int from_file);

}  // namespace quorvale
