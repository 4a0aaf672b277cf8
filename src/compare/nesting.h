#pragma once
// Whether one fitted model is nested in another, decided from their
// parameter maps: which parameters are fixed and at what value, which share
// a slot (are set equal), and the bounds each is held within.

#include <span>

#include "estimate/fit_report.h"

namespace quorvale {

/// True when every restriction of `general` also holds in `reduced`: a
/// parameter fixed in the general model is fixed at the same value in the
/// reduced one; parameters equal in the general model are equal in the
/// reduced one (one slot, or fixed at one value); and wherever a parameter
/// can lie in the reduced model it stays within the general model's bounds
/// (a bound by another parameter holds when the reduced model keeps the same
/// bound, sets the two equal, or fixes both in that order). The reduced
/// model's parameter space is then part of the general model's. Maps of
/// different length are never nested.
bool nested_in(std::span<const ParameterEstimate> reduced, std::span<const ParameterEstimate> general);

/// The same for two fits, either of which may have linear forms on the
/// logit scale. Without forms it is the test of their maps above. With
/// them, every parameter fixed in `general` must be fixed at the same value
/// in `reduced`, every bound must be 0 and 1, and on the logit scale of the
/// parameters `general` estimates, the reduced model's predictors (its
/// design's columns, and its constants where it fixes a parameter that
/// `general` estimates) must lie in the span of the general model's; a
/// parameter the reduced model fixes at 0 or 1 asks that the general model
/// can move it alone.
bool nested_in(const FitReport& reduced, const FitReport& general);

}  // namespace quorvale
