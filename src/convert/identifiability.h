#pragma once
// Local identifiability of a model template from the design alone: the
// expected information matrix of the free parameters at a generic point,
// computed from the likelihood's own cell probabilities, must be of full rank.

#include "convert/design.h"
#include "convert/templates.h"

namespace quorvale::convert {

/// Smallest pivot of the Cholesky factorisation of the information matrix of
/// the free parameters, scaled to unit diagonal, at generic point number
/// `point` (0, 1, ...). Near 1: well separated; near 0: some free parameter
/// is a combination of the others. 0 when a free parameter reaches no cell.
double identifiability_margin(const Design& design, const ParameterMap& map, int point);

/// Pivot below which a free parameter counts as not identifiable: far above
/// the finite-difference noise of a confounded pair (about 1e-16), far below
/// the pivots of the identifiable templates.
inline constexpr double kIdentifiableMargin = 1e-9;

/// True when the margin clears kIdentifiableMargin at a generic point (a
/// second one is tried when the first does not).
bool identifiable(const Design& design, const ParameterMap& map);

}  // namespace quorvale::convert
