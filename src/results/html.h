#pragma once
// The run's results as one self-contained HTML page for a person to read:
// warnings, the data, the model comparisons, every fit with its estimates
// and figures, the simulations and the identifiability scans. No external
// resources; styles and figures are inline, and the page prints whole.

#include <string>

#include "base/atomic_file.h"
#include "results/run_results.h"

namespace quorvale {

/// The page of the results. Every number a table shows names the value of the
/// JSON results document it shows: the row's data-json attribute holds the
/// pointer of an object, the cell's data-key the member under it.
/// The page is handed to `sink` in pieces of some tens of KiB.
void write_results_html(const RunResults& results, const TextSink& sink);

}  // namespace quorvale
