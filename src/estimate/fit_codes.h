#pragma once
// The outcome codes of the minimiser and of the inversion of the information
// matrix, as the fits carry them and the listing and the result files show them.

namespace quorvale {

/// Outcome of optmiz; the number is what numerr prints and the "@@" line shows.
enum class OptimizerCode : int {
  Converged = 0,           ///< estimated to NSIG digits
  StartNotPositive = 129,  ///< the Hessian was not initialized positive definite (never: optmiz starts from the identity)
  RoundingDominant = 130,  ///< no downhill progress is possible; rounding errors dominated before NSIG digits
  EvaluationLimit = 131,   ///< the function evaluation count reached MAXFN before NSIG digits
};

/// Outcome of matinv, the inversion of the information matrix.
enum class InversionCode : int {
  Inverted = 0,               ///< the covariance matrix is available
  NotPositiveDefinite = 130,  ///< the matrix failed the positive-definiteness test
};

/// The code as stored in IEROPT and IERINV and printed in the listing.
constexpr int code_number(OptimizerCode c) { return static_cast<int>(c); }
constexpr int code_number(InversionCode c) { return static_cast<int>(c); }

}  // namespace quorvale
