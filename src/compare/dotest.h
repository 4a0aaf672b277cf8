#pragma once
// PROC TEST: compares the fits of the current model sequence by AIC, AICc,
// QAIC and QAICc and by likelihood-ratio tests, optionally merged with the
// fits kept in a model file, then starts a new model sequence.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "compare/comparison.h"

namespace quorvale {

struct FitContext;

/// PROC TEST: entered with its PROC statement current, returns with the next
/// statement current. `fits` holds the reports of the run's fits so far, the
/// sequence's from `sequence_start` on (for AVERAGE and the adjusted standard
/// errors); none of them is changed. Gives the comparison, none when fewer
/// than two models were compared.
std::optional<ModelComparison> dotest(FitContext& run, std::span<const FitReport> fits = {},
                                      std::size_t sequence_start = 0);

}  // namespace quorvale
