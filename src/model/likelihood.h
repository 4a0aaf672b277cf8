#pragma once
// The robust-design likelihood: expected cell probabilities of every cohort
// (closed-population capture inside each primary period, survival and
// Markovian temporary emigration between periods) and the negative
// product-multinomial log-likelihood kernel of the observed counts.
//
// The cohort and parameter layout is RobustLayout's (model/robust_layout.h):
// NCOHRT = M(M+1)/2 + M - 1 fixes M, the cells of each cohort are checked
// against it, and the open-part parameters are the last 4M - 4 of NPAR.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/robust_layout.h"
#include "model/ss.h"
#include "model/store.h"

namespace quorvale {

class Listing;

/// Reads M from NCOHRT and checks cells and parameter numbers before any cell is computed.
RdDesign rd_design(const ModelStore& store);

/// The design kept with the store when PROC MODEL laid it out, else the one
/// read from its cohorts now.
RdDesign laid_out(const ModelStore& store);

/// Text that ends the run for a design that failed its check.
std::string rd_design_message(const RdDesign& design, const ModelStore& store);

/// Result of one evaluation.
struct EstResult {
  EstStatus status = EstStatus::Ok; ///< the design's status; Ok when F and the cells are set
  double F = 0.0;                   ///< minus the sum of NOBS * ln(max(P, eps))
  std::vector<int> den_one;         ///< periods whose capture probabilities gave den = 1, in order
};

/// Probability floor inside the logarithm, 10^(-nsig) rounded once to double.
double probability_floor(int nsig);

/// The working values an evaluation at x reads: PAR(0..NPAR) of the store
/// with slots 1..NEST from x.
std::vector<double> working_values(const ModelStore& store, std::span<const double> x);

/// Every S(I) the layout L reads, once, from the working values par
/// (1-based, slots 1..NEST and the fixed values above) on `scale`, into S
/// (1-based, NPAR + 1 entries); the entries no cell reads are left as they are.
void layout_values(const ModelStore& store, const RobustLayout& L, const double* par, ParameterScale scale, double* S);

// The evaluation reads the store and writes only the cells of the layout
// into P (NCOHRT columns or more, each as long as its cohort), nothing when the design check
// fails; it holds no state, so threads may evaluate points at once. A period
// with den = 1 (no capture possible) is flagged in den_one, and its histories
// get probability 0, its remainder cell 1.
/// Pure evaluation at x (x[k-1] = PAR(k), k <= NEST), values on `scale`, in
/// the design `design` of the store's cohorts: the cells into P, and F.
EstResult est_core(const ModelStore& store, const RdDesign& design, std::span<const double> x, ParameterScale scale,
                   Mat1<double>& P);
/// The same with the design read from the store's cohorts first.
EstResult est_core(const ModelStore& store, std::span<const double> x, ParameterScale scale, Mat1<double>& P);

// The trace line is "nper,majper=" with NCOHRT and M; the den = 1 lines are
// "ip,jp,i,den:" with the period, the cohort in it, the history and den, each
// followed by S(1)..S(NPAR). A design that fails its check ends the run.
/// The likelihood as the program calls it: PAR(1..NEST) = x on `scale`, P
/// of the store filled, trace lines; returns F. Evaluated in the design kept
/// with the store when PROC MODEL laid it out, else in the design read from
/// its cohorts.
double est(ModelStore& store, Listing& listing, std::span<const double> x, ParameterScale scale);

/// The design an evaluation of the store uses: the one PROC MODEL laid out,
/// else the one read from its cohorts now (kept in `read`).
const RdDesign& evaluation_design(const ModelStore& store, std::optional<RdDesign>& read);

/// What est writes after an evaluation `r` in design `d`: a design that
/// failed its check ends the run; else the trace line and the den = 1 lines.
void report_evaluation(const ModelStore& store, Listing& listing, const RdDesign& d, const EstResult& r,
                       ParameterScale scale);

}  // namespace quorvale
