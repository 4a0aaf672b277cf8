#pragma once
// Results of a fitted model: standard errors from the expected information
// matrix, the covariance and correlation, the goodness-of-fit table with
// pooled tests, the log-likelihood and AIC, and the saving of the model's
// row. The listing shows them by estimate/results_listing.h.

#include <span>
#include <vector>

#include "estimate/cell_blocks.h"
#include "estimate/fit_report.h"

namespace quorvale {

struct ModelStore;
struct FitContext;
struct SavedModels;

/// Completes `report` for the fit just made (natural-scale estimates in
/// WORK(1..NEST)): standard errors, covariance, derived abundance, goodness
/// of fit, criteria and the flags of an impossible point. Evaluates at the
/// estimates itself, whatever P held before; writes nothing to the listing
/// but what the likelihood's own evaluations write; P holds the cells at the
/// estimates afterwards.
void complete_report(FitContext& run, FitReport& report);

/// The correlation of slots 1..k from their packed covariance `vc`, packed
/// the same way: cov(a, b) / sqrt(var(a) var(b)), 0 unless both variances
/// are positive; empty when `vc` holds fewer than k(k+1)/2 values.
std::vector<double> packed_correlation(const std::vector<double>& vc, int k);

/// Whether an estimated parameter lies within 1e-6 of its bounds' range
/// from one of them (ParameterEstimate::on_bound); a fixed one never does.
bool reaches_bound(const ParameterEstimate& e);

/// What the slots' derivative blocks leave besides the blocks themselves.
struct SlotDerivatives {
  std::vector<double> change;  ///< by slot (1-based): the largest change of a cell probability
  double no_change = 0.0;      ///< a change at or below this is rounding: the slot moves no cell
};

/// The difference quotients of every cell probability in every estimated
/// slot at WORK(1..NEST) on the natural scale, slot by slot into DPROB (one
/// block per slot, on the cohorts where it is not all zeros); P holds the
/// cells at WORK afterwards.
SlotDerivatives slot_derivatives(FitContext& run);

/// Completes the fit's row of the saved-model table from its report.
void save_row(SavedModels& t, const FitReport& r);

/// The expected information matrix of the blocks' slots (or coefficients),
/// packed into VC: element (a, b) is the sum over cohorts j, in cohort
/// order, of NREL(j) times the sum over its cells, in cell order, of
/// D_a * D_b / P, for cells with P > 0 and both derivatives non-zero.
void information_matrix(const ModelStore& m, const CellBlocks& d, std::vector<double>& VC);

/// The same from `n` dense blocks, each the derivatives of every cell
/// present, cohort by cohort (as tests hold them).
void information_matrix(const ModelStore& m, std::span<const double> dprob, int n, std::vector<double>& VC);

/// Pools sparse neighbouring cells of one cohort (observed O, expected E,
/// n cells) until every expected count is at least 2, two cells remain or
/// one degree of freedom is left; df is updated; returns the pooled Pearson
/// chi-square.
double cspool(std::span<double> O, std::span<double> E, int& df, int n);

}  // namespace quorvale
