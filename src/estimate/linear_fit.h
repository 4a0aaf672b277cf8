#pragma once
// Fits with linear forms on the logit scale: the design on the fit's slots,
// the coefficients' start, and the information matrix taken in the
// coefficients with the slots' covariance by the delta method.

#include <span>
#include <vector>

#include "estimate/cell_blocks.h"
#include "estimate/fit_codes.h"
#include "estimate/fit_report.h"
#include "model/linear_form.h"

namespace quorvale {

struct FitContext;
struct ModelStore;

/// The estimated slots of the store's parameter map, with which parameters
/// have constant bounds 0 and 1.
SlotMap slot_map(const ModelStore& m);

/// Builds the design of the store's linear forms on the map the set-up
/// left (a fault ends the run) and the coefficients the fit starts from:
/// those that best give the start values of slots 1..NEST in PAR (natural
/// scale) on the logit scale.
void set_up_linear(FitContext& run);

/// The square root of each coefficient's expected information at `beta`,
/// whose slots' values are in WORK(1..NEST) (1 where it is 0 or not
/// finite): the scales the optimizer measures the coefficients in, so that
/// its first steps, taken as if the Hessian were the identity, are of a
/// sensible size. Evaluates the likelihood NEST + 2 times; P holds the cells
/// at `beta` afterwards.
std::vector<double> coefficient_scales(FitContext& run, std::span<const double> beta);

/// The expected information in the coefficients at `beta` (packed, order
/// K) from exact cell derivatives: J' I J with I the slots' information at
/// the slots beta gives. P holds the cells there afterwards.
std::vector<double> exact_coefficient_information(FitContext& run, std::span<const double> beta);

/// The information in the coefficients and what follows from it.
struct LinearInformation {
  InversionCode code = InversionCode::Inverted;
  std::vector<double> information;      ///< packed, order K: the information in the coefficients
  std::vector<double> beta_covariance;  ///< packed, order K
  std::vector<bool> beta_undetermined;  ///< by coefficient (0-based): no information on it
  std::vector<double> slot_covariance;  ///< packed, order NEST: J cov(beta) J'
  std::vector<bool> slot_undetermined;  ///< by slot (1-based): reached by an undetermined coefficient
};

/// From the derivative blocks of the slots (one per slot 1..NEST) at the
/// estimates, with P at the estimates: the information in the coefficients
/// `beta` is J' I J with J = d slot / d beta = p(1 - p) X, inverted; a
/// coefficient that reaches only slots moving no cell (`change` by slot,
/// 1-based, at or below `no_change`) or whose row of the information is
/// zero is left out of the inversion.
LinearInformation linear_information(const ModelStore& m, std::span<const double> beta,
                                     const CellBlocks& dprob, const std::vector<double>& change,
                                     double no_change);

/// The same from the slots' information matrix (packed, order NEST) taken
/// from exact cell derivatives: the information in the coefficients is
/// J' I J; a coefficient whose row of it is zero is left out.
LinearInformation linear_information_from_slots(const ModelStore& m, std::span<const double> beta,
                                                const std::vector<double>& slot_information);

/// The derivatives of the cells in each coefficient of the store's linear
/// forms at `beta`, from the slots' blocks `dprob`: block k, in every cell,
/// the sum over the slots s, in slot order, of J(s, k) times slot s's block,
/// with J = d slot / d beta = p(1 - p) X. Present on the cohorts of every
/// slot the coefficient reaches (J(s, k) != 0).
CellBlocks coefficient_blocks(const LinearDesign& d, std::span<const double> beta, const CellBlocks& dprob);

/// Each part of the store's linear forms whose formula holds a covariate,
/// against that covariate (FitReport::covariate_effects): the part's
/// estimated parameters with the period whose value each reads. None
/// without linear forms or off the robust-design layout.
std::vector<CovariateEffect> covariate_effects(const ModelStore& m);

/// The coefficients of a fit as the report shows them: estimate, standard
/// error and 95% interval (estimate -+ 1.96 se).
std::vector<CoefficientEstimate> coefficient_estimates(const LinearDesign& d, std::span<const double> beta,
                                                       const LinearInformation& info);

}  // namespace quorvale
