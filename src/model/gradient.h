#pragma once
// The exact gradient of the likelihood kernel F with respect to the
// coordinates the optimizer moves: the cell derivatives (model/
// cell_derivatives.h) taken through the logarithm of each cell, then through
// the parameter map and the bounding transform to the working slots, and for
// a fit with linear forms through logit^-1(X beta) to the coefficients.

#include <span>

#include "model/cell_derivatives.h"
#include "model/likelihood.h"
#include "model/linear_form.h"
#include "model/ss.h"
#include "model/store.h"

namespace quorvale {

/// The estimated slots S(I) = ss_value(store, par, I, scale) reads, each
/// with dS(I)/dPAR(slot) at the working values par (1-based): at most three
/// (the parameter's own slot and the slots of its lower and upper bounds).
struct MapTerms {
  struct Term {
    int slot = 0;
    double factor = 0.0;
  };
  Term terms[3];
  int count = 0;
};
MapTerms map_terms(const ModelStore& store, const double* par, int I, ParameterScale scale);

/// est_core at x on `scale` in `design` (the same cells into P and the same
/// F, bit for bit) and the gradient of F by x: grad[k - 1] = dF/dPAR(k),
/// k = 1..NEST. A cell at or below the probability floor enters F as the
/// constant floor and adds nothing. The derivative of the absolute-value
/// transform at a whole number (where the fractional part jumps) is taken
/// from the right. The gradient is left as it was when the design fails its check.
EstResult est_gradient(const ModelStore& store, const RdDesign& design, std::span<const double> x, ParameterScale scale,
                       Mat1<double>& P, std::span<double> grad);

/// The gradient of est_gradient from the cells P that est_core gave at x
/// (no evaluation): grad[k - 1] = dF/dPAR(k), k = 1..NEST. The design
/// must have passed its check.
void gradient_from_cells(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                         ParameterScale scale, const Mat1<double>& P, std::span<double> grad);

/// The gradient by the coefficients beta of a fit with linear forms, whose
/// slots are logit^-1(X beta), from the gradient by the slots:
/// beta_grad[k] = sum over slots s of slot_grad[s - 1] X(s, k) v(1 - v), v the slot's value.
void linear_gradient(const LinearDesign& design, std::span<const double> beta, std::span<const double> slot_grad,
                     std::span<double> beta_grad);

}  // namespace quorvale
