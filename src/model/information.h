#pragma once
// The expected information matrix of the estimated slots from the exact
// cell derivatives, accumulated cohort by cohort: only the derivatives of
// one cohort by the slots it depends on are held at a time.

#include <span>
#include <vector>

#include "model/likelihood.h"
#include "model/store.h"

namespace quorvale {

/// est_core at x on `scale` (the cells into P, F returned) and the expected
/// information of slots 1..NEST, packed into VC (element (a, b), b <= a, at
/// packed_index(a, b)): the sum over cohorts c of NREL(c) times the sum over
/// its cells of D_a D_b / P for cells with P > 0, D_a the derivative of the
/// cell by slot a (the sum over every S(I) that reads slot a of dP/dS(I)
/// times dS(I)/dslot, through the map and on the working scale the
/// transform). VC is left as it was when the design fails its check.
EstResult exact_information(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                            ParameterScale scale, Mat1<double>& P, std::vector<double>& VC);

}  // namespace quorvale
