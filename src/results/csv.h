#pragma once
// The run's results as tidy CSV tables (RFC 4180): estimates.csv,
// models.csv, tests.csv, ratio_tests.csv, simulation.csv, averaged.csv and
// abundance.csv in one folder, and betas.csv when some fit has linear forms
// on the logit scale. A run that fits groups of animals has a group
// column in estimates.csv and averaged.csv (the group's name; "all groups"
// for the abundance of all groups together, as in abundance.csv).

#include <string>
#include <utility>
#include <vector>

#include "results/run_results.h"

namespace quorvale {

/// One field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);

/// The tables by file name, each with its header row; every line ends in CRLF.
std::vector<std::pair<std::string, std::string>> results_csv(const RunResults& results);

/// The name of every table results_csv may write, whatever the run: the
/// files a run must be free to write before it knows which it writes.
std::vector<std::string> results_csv_names();

}  // namespace quorvale
