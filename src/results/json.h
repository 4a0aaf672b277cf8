#pragma once
// The run's results as one JSON document.

#include <string>

#include "base/atomic_file.h"
#include "results/run_results.h"

namespace quorvale {

/// Version of the document's layout; raised when a field changes meaning or goes.
inline constexpr int kResultsSchemaVersion = 1;

/// The JSON document of the results, ended by a newline, handed to `sink` in
/// pieces of some tens of KiB.
void write_results_json(const RunResults& results, const TextSink& sink);

/// The object one PROC SIMULATE takes in the document's "simulations", as text.
std::string simulation_results_json(const SimulationTotals& totals);

}  // namespace quorvale
