#pragma once
// Model averaging over the fits of one model sequence: Akaike weights from
// AICc (QAICc when c-hat > 1), averaged estimates of every parameter and of
// the derived abundance per period, and unconditional standard errors
//   se = sqrt( sum_m w_m (Var_m + (theta_m - theta_bar)^2) ),
// Var_m multiplied by c-hat when c-hat > 1.

#include <span>
#include <string>
#include <vector>

#include "estimate/fit_report.h"
#include "stats/distributions.h"

namespace quorvale {

/// True when models are weighed by QAICc rather than AICc: c-hat above 1.
inline bool quasi_criterion(double chat) { return chat > 1.0; }

/// One averaged quantity.
struct AveragedValue {
  int index = 0;         ///< parameter I, or primary period for abundance
  std::string label;     ///< the parameter's label (the best model's)
  double estimate = 0.0;
  double se = 0.0;       ///< unconditional standard error
  Interval ci;           ///< 95%: logit scale for a probability, log-normal for abundance
  /// False when an averaged fit does not estimate it (a parameter not
  /// estimable, an abundance unavailable): estimate, se and ci are then NaN.
  bool available = true;
};

/// A fit's part in the average.
struct AveragedModel {
  std::string name;        ///< as typed
  double criterion = 0.0;  ///< its AICc or QAICc
  double weight = 0.0;
};

/// The model average of one sequence.
struct ModelAverage {
  bool quasi = false;   ///< weights from QAICc (c-hat > 1)
  double chat = 1.0;    ///< c-hat used
  std::vector<AveragedModel> models;       ///< the fits averaged, in sequence order
  std::size_t best = 0;                    ///< position of the largest weight in models
  std::vector<std::string> not_converged;  ///< fits left out: optimizer or inversion code not 0
  std::vector<std::string> impossible;     ///< fits left out: resting on an impossible point
  int from_file = 0;                       ///< models of the model file left out (no estimates)
  std::vector<AveragedValue> parameters;   ///< S(1..NPAR)
  std::vector<AveragedValue> abundance;    ///< N-hat by period, when every averaged fit has it
};

/// Averages `fits` (the PROC ESTIMATE fits of the sequence) with c-hat
/// `chat`; `from_file` models of the comparison had no estimates. With no
/// converged fit the average holds no models and no values.
ModelAverage model_average(std::span<const FitReport> fits, double chat, int from_file);

}  // namespace quorvale
