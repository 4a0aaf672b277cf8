#pragma once
// The run's results as one JSON document.

#include <stdexcept>
#include <string>

#include "base/atomic_file.h"
#include "results/run_results.h"

namespace quorvale {

/// Version of the document's layout; raised when a field changes meaning or goes.
inline constexpr int kResultsSchemaVersion = 1;

/// What write_results_json throws when the JSON library fails on a value,
/// with the library's message. The pieces handed on until then are no
/// document: the file they went to must not replace anything.
struct ResultsDocumentFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The JSON document of the results, ended by a newline, handed to `sink` in
/// pieces of some tens of KiB. Every string is written in UTF-8: bytes of a
/// name, label, warning or file name that are not UTF-8 are read as
/// ISO-8859-1. Throws ResultsDocumentFault.
void write_results_json(const RunResults& results, const TextSink& sink);

/// The object one PROC SIMULATE takes in the document's "simulations", as text.
std::string simulation_results_json(const SimulationTotals& totals);

}  // namespace quorvale
