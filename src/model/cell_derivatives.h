#pragma once
// Exact derivatives of the robust-design cell probabilities with respect to
// the parameters S(I) each cell contains, on the natural scale of S.
//
// They are formed in the same pass as the cells, along the same products:
// the closed cells along the prefix tree of the capture histories (with the
// division by the probability of being caught at least once), the open
// cells along the survival product and the availability chain. Every cell
// of a cohort contains the same parameters, so the derivatives of a cohort
// are one dense block: its cells by the parameters it contains. The cohorts
// (ip, 1..ip) of a closed period have the same cells and share one block.

#include <span>
#include <vector>

#include "model/likelihood.h"
#include "model/robust_layout.h"
#include "model/ss.h"
#include "model/store.h"

namespace quorvale {

/// The cells of one cohort differentiated by the parameters they contain.
struct CellBlock {
  int cells = 0;                ///< cells of the cohort, the remainder included
  std::vector<int> parameters;  ///< the S numbers the cells contain, each once
  std::vector<double> d;        ///< d[k * cells + h]: dP(h + 1) / dS(parameters[k])

  /// dP(h + 1)/dS(parameters[k]), h and k from 0.
  double at(int h, int k) const {
    return d[static_cast<std::size_t>(k) * static_cast<std::size_t>(cells) + static_cast<std::size_t>(h)];
  }
  /// dP(h + 1)/dS(I), h from 0: 0 when the cells do not contain S(I).
  double of(int h, int I) const;
};

/// The blocks of every cohort of a design.
struct CellDerivatives {
  std::vector<CellBlock> blocks;  ///< one per closed period and per open cohort, group by group
  std::vector<int> block_of;      ///< block_of[c - 1]: index in blocks of cohort c's block

  /// The block of cohort c (1..NCOHRT).
  const CellBlock& cohort(int c) const { return blocks[static_cast<std::size_t>(block_of[static_cast<std::size_t>(c - 1)])]; }
};

/// est_core at x on `scale` in `design` (the same cells into P and the same
/// F, bit for bit), and with them the derivative of every cell with respect
/// to every S(I) it contains, into D. A period where no capture is possible
/// (den = 1) has its cells fixed at 0 and 1 and derivatives 0. In the power
/// variant the switching parameter enters through its sign only and has
/// derivative 0; the recapture parameters it replaces are not contained.
/// D is left empty when the design fails its check.
EstResult est_core_derivatives(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                               ParameterScale scale, Mat1<double>& P, CellDerivatives& D);

}  // namespace quorvale
