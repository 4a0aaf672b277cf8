#pragma once
// What PROC TEST yields, as values: the models compared with their criteria,
// differences and weights, the likelihood-ratio tests, the standard errors
// adjusted by c-hat and the model average. The result files render these.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "estimate/fit_report.h"

namespace quorvale {

/// True when models are weighed by QAICc rather than AICc: c-hat above 1.
inline bool quasi_criterion(double chat) { return chat > 1.0; }

/// One averaged quantity.
struct AveragedValue {
  int index = 0;         ///< parameter I, or primary period for abundance
  int group = 1;         ///< the group of animals of the parameter or abundance; 0 for all groups together
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
  std::vector<std::string> groups;         ///< names of the best model's groups of animals; empty without groups
  std::vector<AveragedValue> parameters;   ///< S(1..NPAR)
  /// N-hat by group and period (group after group), each when every averaged fit has it.
  std::vector<AveragedValue> abundance;
  /// N-hat of all groups together by period, each when every averaged fit has it.
  std::vector<AveragedValue> total_abundance;
};

/// One model of the comparison, as the saved-model table holds it, with its criteria.
struct ComparedModel {
  int order = 0;  ///< its row in the table before sorting
  std::string name;       ///< as the table holds it (20 characters)
  std::string full_name;  ///< as typed, for the result files
  double lnL = 0.0;
  int K = 0;
  int NDF = 0;
  int DFC = 0;
  double G = 0.0;
  double PG = 0.0;
  std::array<double, 4> crit{};  ///< AIC, AICc, QAIC and QAICc
  bool from_file = false;        ///< read from the model file, not fitted in this run
  bool sound = true;             ///< the fit rests on a possible point (FitReport::sound)
  double delta_aicc = 0.0;       ///< AICc minus the smallest AICc of the comparison
  double weight_aicc = 0.0;      ///< Akaike weight of the AICc
  double delta_qaicc = 0.0;      ///< QAICc minus the smallest QAICc of the comparison
  double weight_qaicc = 0.0;     ///< Akaike weight of the QAICc
  int rank = 0;                  ///< place by the criterion in force, 1 for the best model
  /// Index among the run's fits of the fit this model is: the latest fit
  /// before the comparison with its row number; none for a model of the model file.
  std::optional<std::size_t> fit;
};

/// The standard errors of one fit of the sequence adjusted for overdispersion.
struct AdjustedErrors {
  std::size_t fit = 0;     ///< index of the fit among the run's fits
  std::vector<double> se;  ///< se sqrt(c-hat) of each parameter S(1..NPAR), 0 when fixed
};

/// A likelihood-ratio test between two ranked models.
struct RatioTest {
  std::size_t general = 0;  ///< position of the general model in the ranking
  std::size_t reduced = 0;  ///< position of the reduced model
  double chi = 0.0;         ///< -2 (lnL reduced - lnL general); 0 when not positive
  int df = 0;
  double probability = 1.0;  ///< Pr(larger chi-square)
  bool error = false;        ///< the chi-square routine reported an error
  /// The reduced model is nested in the general one, by their parameter
  /// maps; never claimed for a model of the model file (its map is not kept).
  bool nested = false;
  bool maps_known = false;  ///< both models were fitted in this sequence, so their maps were compared
};

/// What PROC TEST computes from the models of the sequence.
struct ModelComparison {
  int n = 0;                      ///< sample size
  double chat = 1.0;              ///< overdispersion factor used
  bool chat_without_dfc = false;  ///< the most general model had DFC = 0, so c-hat is 1
  std::string most_general;       ///< name of the first model with the largest K
  std::vector<ComparedModel> models;  ///< in the order of the table
  std::vector<ComparedModel> ranked;  ///< sorted by the chosen criterion
  /// The criterion that selects models and weights the average: QAICc when
  /// c-hat > 1, else AICc (the column of `crit`, 3 or 1).
  int criterion = 1;
  /// Positions in `ranked`, best first by the criterion in force (fits that
  /// are not finite last); the same order as `ranked` unless SORTBY chose
  /// another criterion.
  std::vector<std::size_t> by_criterion;
  std::vector<RatioTest> tests;       ///< every pair of ranked models whose NDF differ
  std::vector<std::string> not_finite;  ///< names of the models ranked last: lnL or criterion not finite
  std::vector<std::string> impossible;  ///< names of the models ranked last: not sound
  std::optional<ModelAverage> average;  ///< with AVERAGE: the model-averaged estimates
  /// With c-hat above 1: the adjusted standard errors of every fit of the sequence, in order.
  std::vector<AdjustedErrors> adjusted;

  bool quasi() const { return criterion == 3; }
  const char* criterion_name() const { return quasi() ? "QAICc" : "AICc"; }
  /// Difference from the best model and Akaike weight by the criterion in force.
  double delta(const ComparedModel& m) const { return quasi() ? m.delta_qaicc : m.delta_aicc; }
  double weight(const ComparedModel& m) const { return quasi() ? m.weight_qaicc : m.weight_aicc; }
};

}  // namespace quorvale
