#pragma once
// The figures of the report page, built from the run's results: survival by
// interval, temporary emigration by period, goodness of fit by cohort, and
// the spread of simulated estimates around their generating values.
//
// A figure draws one or more sets of values side by side: a fit's own, and
// for the best model of a PROC TEST with AVERAGE the model-averaged ones.
// For a model with groups of animals each group's values are a series of
// their own, named by the group (and, after the fit's own, by the set).

#include <optional>
#include <string>
#include <vector>

#include "compare/comparison.h"
#include "model/robust_layout.h"
#include "results/run_results.h"
#include "results/svg.h"

namespace quorvale {

/// Where a model of `npar` parameters in blocks for `groups` groups of
/// animals on the data's design keeps its survival and temporary-emigration
/// parameters; none when the data have no robust design of two periods or
/// more, or the model too few parameters for it.
std::optional<RobustLayout> open_part(const DataSummary& data, int npar, int groups = 1);

/// One value per parameter with its 95% interval, under one name.
struct ParameterValues {
  std::string name;
  std::vector<ChartMark> values;  ///< values[i - 1] for S(i); category unset, value NaN when absent
  /// The estimates of a fit with their logit-scale intervals; fixed ones hollow.
  static ParameterValues of(const FitReport& fit, std::string name);
};

/// One value per primary period with its 95% interval, under one name.
struct PeriodValues {
  std::string name;
  std::vector<ChartMark> values;  ///< values[ip - 1] for period ip; category unset
  std::vector<double> caught;     ///< animals caught in each period, when known
};

/// p* of each period of group `group` of a fit, with the logit-scale interval of its delta-method error.
PeriodValues capture_values(const FitReport& fit, std::string name, int group = 1);
/// N-hat of each period of group `group` of a fit (0: all groups together)
/// with its log-normal interval, and the animals caught.
PeriodValues abundance_values(const FitReport& fit, std::string name, int group = 1);
/// The model-averaged parameters: the averaged estimates with their intervals;
/// one fixed in every model (no error) hollow.
ParameterValues averaged_parameters(const ModelAverage& average, std::string name);
/// The model-averaged N-hat of each period of group `group` (0: all groups together).
PeriodValues averaged_abundance(const ModelAverage& average, std::string name, int group = 1);

/// The probability p* of being caught at least once in each period.
Chart capture_chart(const std::vector<PeriodValues>& sets, std::string id);
/// Abundance N-hat by period, with the animals caught of the first set that
/// has them as strokes.
Chart abundance_chart(const std::vector<PeriodValues>& sets, std::string id);

/// Survival phi(i) by interval i to i + 1, one series per set of values and
/// group of animals (`groups` their names, empty without groups).
Chart survival_chart(const RobustLayout& part, const std::vector<ParameterValues>& sets, std::string id,
                     const std::vector<std::string>& groups = {});

/// gamma'' and gamma' by period, one series per parameter, set of values and group of animals.
Chart emigration_chart(const RobustLayout& part, const std::vector<ParameterValues>& sets, std::string id,
                       const std::vector<std::string>& groups = {});

/// The fitted probabilities of one part of a fit with linear forms against a
/// covariate its formula holds: each point at the covariate's value in its
/// period, with the parameter's logit-scale interval; one series per group
/// of animals when the groups' probabilities differ.
Chart covariate_chart(const FitReport& fit, const CovariateEffect& effect, std::string id);

/// Each cohort's pooled Pearson chi-square as a bar, with its largest cell
/// term as a dot; for several groups of animals, one bar series per group.
Chart goodness_chart(const FitReport& fit, std::string id);

/// The name of the series of `set` (the k-th set of a figure) for group g
/// of `groups`: the set's name without groups; else the group's name,
/// followed by the set's for sets after the first.
std::string series_name(const std::string& set, std::size_t k, const std::vector<std::string>& groups, int g);

/// The estimates of submodel n across replicates against the generating values.
Chart replicate_chart(const SimulationTotals& t, int n, const std::vector<ReplicateSpread>& spread, std::string id);

/// A short name of parameter I for an axis: its label's first word when that
/// names one parameter (has a parenthesis, as p(1,2)), or else S(I).
std::string short_label(const std::string& label, int index);

}  // namespace quorvale
