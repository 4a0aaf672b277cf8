#pragma once
// How PROC SIMULATE accumulates its replicates: every refit counted and
// summed, the likelihood-ratio tests of each replicate's fits counted, and,
// once the last replicate is in, the summaries computed from the totals.

#include <vector>

#include "model/linear_form.h"
#include "model/robust_layout.h"
#include "simulate/simstats.h"
#include "simulate/simulation_values.h"

namespace quorvale {

/// Accumulates one refit: counted as converged or not, its estimates and
/// errors kept for the planning figures when it converged, then, when
/// included, added to the sums and the goodness of fit of the summaries.
void add_fit(SimulationTotals& t, const ReplicateFit& f);

/// Counts the likelihood-ratio tests of one replicate's fits (submodels 1..NSUB in order).
void add_pairs(SimulationTotals& t, const std::vector<FitSummary>& fits);

/// Computes the summaries once every fit is in: the means and standard
/// errors of each submodel with a fit in the sums, the planning row of each
/// parameter it estimates when one of its fits converged, the planning rows
/// of N-hat, the spread of the estimates over the fits kept, and the
/// summaries of the coefficients of each submodel with linear forms.
void summarise(SimulationTotals& t);

/// The planning row of parameter I of submodel n over its converged fits; at least one converged.
CoverageRow coverage_of(const SimulationTotals& t, int I, int n);

/// The coefficients of a submodel with linear forms on `design`, with their
/// true values: for each estimated slot k of the submodel's map `point`
/// (POINT(I) of parameters 1..NPAR at I - 1) the generating value S[I - 1]
/// of its lowest parameter I, and the projection of those values on the
/// design (LinearDesign::start; see CoefficientTruth).
std::vector<CoefficientTruth> coefficient_truths(const LinearDesign& design, const std::vector<int>& point,
                                                 const std::vector<double>& S);

/// The summary of coefficient k (0-based) of submodel n (1..NSUB) from its
/// sums: mean and standard error over the NCONV(n) fits in the summaries
/// (when there is one), planning figures over the converged fits (when one
/// converged) about its true value.
CoefficientSummary coefficient_summary(const SimulationTotals& t, int n, std::size_t k);

/// p* of every period of every group of `layout` from the values S(1..NPAR)
/// (S[I - 1]), group by group.
std::vector<PeriodCatch> catch_probabilities(const RobustLayout& layout, const std::vector<double>& S);

/// The probability that the log-normal interval of `a` holds the period's
/// true N = n + F, F the animals missed when each present is caught with
/// probability p_star (the failures before the n-th success); 0 when the
/// interval is not defined.
double chance_covered(const ReplicateAbundance& a, double p_star);

/// The N-hat planning rows of submodel n (1..NSUB) over its converged fits,
/// one for each group and period that has p* in (0, 1] and an N-hat from at
/// least one of them, in the order of t.catch_probabilities.
std::vector<AbundanceCoverageRow> abundance_coverage(const SimulationTotals& t, int n);

/// The spread of every parameter submodel n (1..NSUB) estimates over the
/// converged replicate fits kept; empty when none was kept.
std::vector<ReplicateSpread> replicate_spread(const SimulationTotals& t, int n);

/// The median of `values` (the mean of the two middle ones for an even
/// count); NaN when there is none or one of them is NaN.
double median_of(std::vector<double> values);

}  // namespace quorvale
