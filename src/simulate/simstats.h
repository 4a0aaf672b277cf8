#pragma once
// The statistics PROC SIMULATE keeps over its replicates: the rejection
// counts at the test levels, the likelihood-ratio test of a pair of fits,
// the mean and standard error of a sum, and the records of the estimate file.

#include <span>
#include <string>

#include "simulate/simulation_values.h"

namespace quorvale {

/// Adds a goodness-of-fit probability to the rejection counts of the first
/// four levels: counted where it lies strictly below the level.
void count_gof(double probability, std::span<int, 4> counts);

/// Adds a likelihood-ratio probability to the rejection counts of the five
/// levels: counted where it lies at or below the level.
void count_lrt(double probability, std::span<int, 5> counts);

/// One fit as the likelihood-ratio test sees it.
struct FitSummary {
  double lnL = 0.0;  ///< maximised log-likelihood
  int NDF = 0;       ///< degrees of freedom of G; -1 marks a fit left out
};

/// The likelihood-ratio test of two fits.
struct PairTest {
  bool tested = false;     ///< false when a fit was left out or both have the same NDF
  bool first_general = true;  ///< the first fit is the general (smaller NDF) one
  double chi = 0.0;        ///< -2 (lnL reduced - lnL general); 0 when not positive
  int df = 0;              ///< NDF reduced - NDF general
  double probability = 1;  ///< Pr(larger chi-square); 1 when chi is 0 or df below 1
  bool cdtr_error = false;  ///< the chi-square routine reported an error
};

/// Tests fits a and b against each other: the one with the smaller NDF is
/// the general model.
PairTest pair_test(const FitSummary& a, const FitSummary& b);

/// Mean, standard error of the mean and 95% interval of c >= 1 values from
/// their sum and sum of squares: SE 0 for one value, and 0 where rounding
/// makes the sum of squared deviations negative (values all equal).
MeanRow mean_row(double sum, double sum2, int c);

/// The estimate-file records of one fit: replicate, submodel and AIC, then
/// the estimates and then the standard errors, eight to a record.
std::string estimate_records(int replicate, int submodel, double aic, std::span<const double> estimates,
                             std::span<const double> errors);

}  // namespace quorvale
