#pragma once
// The results of one run as values, in run order: what the JSON document,
// the CSV tables and the report page are rendered from.

#include <string>
#include <vector>

#include "compare/comparison.h"
#include "estimate/fit_report.h"
#include "identify/scan.h"
#include "simulate/simulation_values.h"

namespace quorvale {

/// One cohort of the data PROC MODEL read.
struct CohortData {
  int size = 0;             ///< NREL: animals of the cohort
  std::vector<int> counts;  ///< NOBS of each cell, the remainder cell included
  /// On the robust-design layout: "closed" (period, and the release period
  /// of animals recaptured for the first time there, 0 for those caught for
  /// the first time) or "open" (release period); empty otherwise.
  std::string kind;
  int period = 0;
  int release_period = 0;
};

/// The data of the model in force.
struct DataSummary {
  std::vector<int> occasions;     ///< secondary occasions per primary period, on the robust-design layout
  std::vector<int> first_caught;  ///< animals caught for the first time, per primary period
  std::vector<CohortData> cohorts;
};

/// Everything a run computed that the result files show.
struct RunResults {
  std::string parameter_line;  ///< the words of the parameter line, blank-separated
  std::string command_file;    ///< the command file; empty for standard input
  std::string title;           ///< the title of PROC TITLE in force at the end; empty when none
  bool has_data = false;       ///< a PROC MODEL was read
  DataSummary data;
  std::vector<FitReport> fits;                       ///< every PROC ESTIMATE
  std::vector<ModelComparison> tests;                ///< every PROC TEST that compared models
  std::vector<SimulationTotals> simulations;         ///< every PROC SIMULATE
  std::vector<IdentifiabilityScan> identifiability;  ///< every PROC IDENTIFIABLE

  /// The adjusted standard errors of fit f from the comparison of its sequence; none when c-hat was 1.
  const AdjustedErrors* adjusted_errors(std::size_t f) const;
};

}  // namespace quorvale
