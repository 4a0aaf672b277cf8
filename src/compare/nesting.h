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

}  // namespace quorvale
