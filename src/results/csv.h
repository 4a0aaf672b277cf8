#pragma once
// The run's results as tidy CSV tables (RFC 4180): estimates.csv,
// models.csv, tests.csv and simulation.csv in one folder.

#include <string>
#include <utility>
#include <vector>

#include "results/run_results.h"

namespace quorvale {

/// One field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);

/// The tables by file name, each with its header row; every line ends in CRLF.
std::vector<std::pair<std::string, std::string>> results_csv(const RunResults& results);

}  // namespace quorvale
