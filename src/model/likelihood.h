#pragma once
// The robust-design likelihood: expected cell probabilities of every cohort
// (closed-population capture inside each primary period, survival and
// Markovian temporary emigration between periods) and the negative
// product-multinomial log-likelihood kernel of the observed counts.
//
// Cohort layout for M primary periods: first the closed part, period ip
// (1..M) giving ip consecutive cohorts of 2^kk(ip) cells each (kk(ip) >= 1
// secondary occasions: the capture histories, then the remainder cell);
// then the open part, release period i (1..M-1) giving one cohort of
// M - i + 1 cells (first recaptured in period i+1..M, never recaptured).
// So NCOHRT = M(M+1)/2 + M - 1 fixes M, and the layout is checked against it.
//
// Parameters: period ip uses S(off+1..off+kk) for p and S(off+kk+1..off+2kk-1)
// for c (off = sum of 2kk-1 over earlier periods); the last 4M-4 parameters
// hold phi, gamma'', gamma' and theta, so NPAR >= sum(2kk-1) + 4M - 4.

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <string>

#include "base/limits.h"
#include "model/store.h"

namespace quorvale {

class Listing;

/// Number of cohorts of a robust design with M primary periods: M(M+1)/2 closed, M-1 open.
constexpr long long rd_cohorts(long long M) { return M * (M + 1) / 2 + M - 1; }

/// Most primary periods whose cohorts fit in the store (capped at MAXPER).
constexpr int rd_max_periods() {
  int M = 1;
  while (M < MAXPER && rd_cohorts(M + 1) <= MAXCHT) ++M;
  return M;
}

/// Size of the per-period work arrays of one evaluation.
inline constexpr int MAXRDP = rd_max_periods();

/// Why an evaluation was or was not made.
enum class EstStatus : std::uint8_t {
  Ok,               ///< the cells and F are computed
  NoCohorts,        ///< NCOHRT < 1
  CohortCount,      ///< NCOHRT is not M(M+1)/2 + M - 1 for any M
  TooManyPeriods,   ///< M above MAXPER: the dimension stop
  TooManyCohorts,   ///< NCOHRT above the cohorts the store holds
  ClosedCells,      ///< a closed cohort has not 2^kk cells (1 <= kk, <= MXCLAS) as its period's first
  OpenCells,        ///< open cohort i has not M - i + 1 cells
  NparTooSmall,     ///< NPAR below what the layout needs
  IndexBeyondNpar,  ///< the evaluation would read a parameter number above NPAR
};

/// The design read from the cohort list, or the first reason it does not fit.
struct RdDesign {
  EstStatus status = EstStatus::Ok;  ///< Ok, or the check that failed
  int M = 0;                         ///< primary periods (majper); 0 when NCOHRT fixes none
  int period = 0;                    ///< period (closed) or release period (open) of the bad cohort
  int cohort = 0;                    ///< the bad cohort
  int cells = 0;                     ///< its cell count
  int expected = 0;                  ///< cells it should have (0: any power of two 2..MXCLAS)
  int needed = 0;                    ///< NPAR the layout needs: sum(2kk-1) + 4M - 4
  int index = 0;                     ///< the parameter number above NPAR
  bool before_trace = false;         ///< that number is read before the trace line is written
  int nclosed = 0;                   ///< parameters of the closed part, sum(2kk-1)
  std::array<std::uint8_t, MAXRDP + 1> kk{};  ///< secondary occasions of period 1..M
};

/// Reads M from NCOHRT and checks cells and parameter numbers before any cell is computed.
RdDesign rd_design(const ModelStore& store);

/// Text that ends the run for a design that failed its check.
std::string rd_design_message(const RdDesign& design, const ModelStore& store);

/// Result of one evaluation.
struct EstResult {
  RdDesign design;                  ///< the design; status Ok when F and the cells are set
  double F = 0.0;                   ///< minus the sum of NOBS * ln(max(P, eps))
  std::bitset<MAXRDP + 1> den_one;  ///< periods whose capture probabilities gave den = 1
};

/// Probability floor inside the logarithm, 10^(-nsig) rounded once to double.
double probability_floor(int nsig);

// The evaluation reads the store and writes only the cells of the layout
// into P (MXCLAS rows, NCOHRT columns or more), nothing when the design check
// fails; it holds no state, so threads may evaluate points at once. A period
// with den = 1 (no capture possible) is flagged in den_one, and its histories
// get probability 0, its remainder cell 1.
/// Pure evaluation at working vector x (x[k-1] = PAR(k), k <= NEST): the cells into P, and F.
EstResult est_core(const ModelStore& store, std::span<const double> x, Mat1<double>& P);

// The trace line is "nper,majper=" with NCOHRT and M; the den = 1 lines are
// "ip,jp,i,den:" with the period, the cohort in it, the history and den, each
// followed by S(1)..S(NPAR). A design that fails its check ends the run.
/// The likelihood as the program calls it: PAR(1..NEST) = x, P of the store filled, trace lines; returns F.
double est(ModelStore& store, Listing& listing, std::span<const double> x);

}  // namespace quorvale
