#pragma once
// The derivatives of the likelihood kernel F by every parameter S(I) in one
// backward pass over the cells (reverse mode): each cell's weight
// dF/dP = -NOBS/P is carried back through the products that formed it, the
// prefix tree of the closed histories and the survival and availability
// chains of the open part. It costs a few evaluations whatever the number
// of parameters, where the derivatives of every cell by every parameter
// (model/cell_derivatives.h) cost one pass per parameter a cell contains.

#include <span>
#include <vector>

#include "model/likelihood.h"
#include "model/robust_layout.h"
#include "model/ss.h"
#include "model/store.h"

namespace quorvale {

/// dF/dS(I) into by_parameter[I], I = 1..NPAR (by_parameter is resized to
/// NPAR + 1 and cleared), at the working values par (PAR(0..NPAR) with the
/// point in slots 1..NEST: working_values) on `scale` in the layout L of a design that
/// passed its check, with P holding the cells est_core gives there. A cell at
/// or below the probability floor enters F as the constant floor and adds
/// nothing; a period where no capture is possible (den = 1) has constant
/// cells; the never-caught cell of a closed period is constant (its
/// histories are conditioned on a capture); the switch of the power variant
/// enters through its sign only.
void likelihood_adjoint(const ModelStore& store, const RobustLayout& L, std::span<const double> par,
                        ParameterScale scale, const Mat1<double>& P, std::vector<double>& by_parameter);

}  // namespace quorvale
