#pragma once
// The STRUCTURE statement: a model said in words (PHI(T) P(T) C(P)
// GAMMA(MARKOV,.) THETA(1)), expanded on the robust design of the model
// read into the fixed and equal parameters of the map.

namespace quorvale {

struct FitContext;

/// Reads the STRUCTURE statement in the buffer, sets the map it stands for
/// (on the default map), reads the next statement and lists the fixed and
/// equal parameters it produced, with the notes of any added for the last
/// period. Ends the run for an unknown part or level, a part given twice, a
/// level the design cannot carry or a model without a robust design.
void structure(FitContext& run);

}  // namespace quorvale
