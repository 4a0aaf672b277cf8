#pragma once
// The listing's summaries of a simulation study, rendered from its totals
// and the summaries computed from them.

#include "simulate/simulation_values.h"

namespace quorvale {

class Listing;

/// Prints the summaries after the last replicate: means and standard errors
/// by submodel, goodness-of-fit and likelihood-ratio rejections, and with
/// COVERAGE the planning block. `lst` may be any listing.
void print_summaries(Listing& lst, const SimulationTotals& totals);

/// Bias, RMSE, standard errors and interval coverage of every estimated
/// parameter of every submodel over its converged fits (option COVERAGE).
void print_coverage(Listing& lst, const SimulationTotals& totals);

}  // namespace quorvale
