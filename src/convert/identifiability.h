#pragma once
// Local identifiability of a model template from the design alone: the
// expected information matrix of the free parameters at a generic point,
// computed from the likelihood's own cell probabilities, must be of full rank.
// For a structure with linear forms the free coordinates are the
// coefficients on the logit scale, at a point the forms can take.

#include <optional>
#include <string>

#include "convert/design.h"
#include "convert/templates.h"
#include "model/linear_form.h"

namespace quorvale::convert {

/// Smallest pivot of the Cholesky factorisation of the information matrix of
/// the free parameters, scaled to unit diagonal, at generic point number
/// `point` (0, 1, ...). Near 1: well separated; near 0: some free parameter
/// is a combination of the others. 0 when a free parameter reaches no cell.
/// With `linear` (the design of the map's linear forms, linear_design) the
/// coordinates are its coefficients, at those that best give the generic
/// values of the slots on the logit scale.
double identifiability_margin(const Design& design, const ParameterMap& map, int point,
                              const LinearDesign* linear = nullptr);

/// Pivot below which a free parameter counts as not identifiable: far above
/// the finite-difference noise of a confounded pair (about 1e-16), far below
/// the pivots of the identifiable templates.
inline constexpr double kIdentifiableMargin = 1e-9;

/// True when the margin clears kIdentifiableMargin at a generic point (a
/// second one is tried when the first does not).
bool identifiable(const Design& design, const ParameterMap& map, const LinearDesign* linear = nullptr);

/// The design of the linear forms of structure `s` on the slots of its map
/// `map` (free parameters in order, as the margin takes them): the message
/// when the program would refuse them (deficient rank, naming the confounded
/// coefficients, or a coefficient reaching no estimated slot); none when
/// `out` is set.
std::optional<std::string> linear_design(const Design& design, const Structure& s, const ParameterMap& map,
                                         LinearDesign& out);

}  // namespace quorvale::convert
