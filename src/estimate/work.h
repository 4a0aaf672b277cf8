#pragma once
// Work areas of the estimation: the optimizer's point, its matrix and
// gradient, the derivative blocks of the cell probabilities and the
// variance-covariance matrix. Sized to the model being fitted.

#include <vector>

#include "estimate/cell_blocks.h"
#include "model/arrays.h"

namespace quorvale {

/// Work areas shared by PROC ESTIMATE, PROC SIMULATE and PROC IDENTIFIABLE.
struct EstimationWork {
  Vec1<double> WORK;          ///< the optimizer's point; natural-scale estimates after a fit (1..NPAR)
  std::vector<double> VC;     ///< packed symmetric matrix of order NEST
  CellBlocks DPROB;           ///< derivative blocks of the cells, one per slot, on the cohorts each moves
  std::vector<double> WOPT;   ///< optimizer work; element 2 evaluations, 3 digits
  std::vector<double> beta;   ///< the coefficients of a fit with linear forms, as the fit left them
  double F = 0.0;             ///< the generating model's likelihood value in a simulation; a fit reads none
};

}  // namespace quorvale
