#pragma once
// Pieces shared by the procedures that read an estimation set-up (PROC
// ESTIMATE, PROC SIMULATE, PROC IDENTIFIABLE).

#include "model/ss.h"

namespace quorvale {

class Token;
struct FitContext;

/// Whose set-up is read: RETAIN has no earlier fits to draw on in a simulation.
enum class SetupUse {
  Estimate,    ///< PROC ESTIMATE and PROC IDENTIFIABLE
  Simulation,  ///< the generating model and the submodels of PROC SIMULATE
};

/// The value token of an option written key = value (two places after the
/// key at `L`); a key at the end of the statement is a fatal error.
const Token& option_value(FitContext& run, int L);

/// The value of an option written key = value as an integer or a real; a
/// key at the end of the statement, a malformed number or one longer than
/// its field is a fatal error.
int option_int(FitContext& run, int L);
double option_real(FitContext& run, int L);

/// Ends the run when the current PROC statement holds the first word of a
/// statement of its set-up (STRUCTURE, CONSTRAINT, INITIAL) or PROC: its
/// ";" is missing. read_setup_blocks checks this first.
void refuse_statement_words(FitContext& run);

/// Evaluates the likelihood at WORK(1..NEST), values on `scale` (cells into
/// P); returns its value F.
double evaluate_at_work(FitContext& run, ParameterScale scale);

/// Sizes WORK to the model's NPAR, reads the next statement, then the
/// CONSTRAINT and INITIAL blocks in any number and order up to the next PROC
/// statement, which stays current.
void read_setup_blocks(FitContext& run, SetupUse use);

}  // namespace quorvale
