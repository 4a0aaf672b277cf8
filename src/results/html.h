#pragma once
// The run's results as one self-contained HTML page for a person to read:
// warnings, the data, the model comparisons, every fit with its estimates
// and figures, the simulations and the identifiability scans. No external
// resources; styles and figures are inline, and the page prints whole.

#include <string>
#include <string_view>

#include "results/run_results.h"

namespace quorvale {

/// The page of the results; `json` is the results document, embedded in the
/// page as data. Every number shown in a table names the value of that
/// document it shows (attribute data-json on its row, data-key on its cell).
std::string results_html(const RunResults& results, std::string_view json);

}  // namespace quorvale
