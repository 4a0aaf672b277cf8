#pragma once
// PROC TEST: compares the fits of the current model sequence by AIC, AICc,
// QAIC and QAICc and by likelihood-ratio tests, optionally merged with the
// fits kept in a model file, then starts a new model sequence.

namespace quorvale {

struct FitContext;

/// PROC TEST: entered with its PROC statement current, returns with the next statement current.
void dotest(FitContext& run);

}  // namespace quorvale
