#pragma once
// PROC SIMULATE: a Monte-Carlo study of the estimators. A generating model
// and up to MAXMOD submodels are set up like PROC ESTIMATE; every replicate
// draws new cohort counts from the generating model and refits each
// submodel; estimates, standard errors and test outcomes are accumulated and
// summarised, and every fit can be written to an estimate file.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "estimate/fit_report.h"

namespace quorvale {

/// One refit of one submodel to one replicate.
struct ReplicateFit {
  int replicate = 0;
  int submodel = 0;
  OptimizerCode optimizer = OptimizerCode::Converged;
  InversionCode inversion = InversionCode::Inverted;
  bool included = true;  ///< false when ERROR TEST left the fit out of the summaries
  double lnL = 0.0;
  double aic = 0.0;
  std::vector<double> estimates;  ///< S(1..NPAR)
  std::vector<double> errors;     ///< their standard errors
};

struct FitContext;
class SimulationFile;

/// What PROC SIMULATE accumulated, by parameter I (1..NPAR) and submodel n
/// (1..NSUB), and by pair k of submodels (1..NSUB(NSUB-1)/2).
class SimulationTotals {
 public:
  SimulationTotals() = default;
  /// Zeroed totals for `npar` parameters and `nmod` submodels.
  SimulationTotals(int npar, int nmod);

  int NSUB = 0;   ///< submodels read
  int NSIM = 0;   ///< replicates asked for
  std::int32_t seed = 0;  ///< the seed after the last draw
  std::int32_t first_seed = 0;  ///< the seed the first draw started from
  std::vector<std::string> names;   ///< names of submodels 1..NSUB
  std::vector<std::string> labels;  ///< labels of S(1..NPAR), trailing blanks removed
  std::vector<double> generating;   ///< the generating values S(1..NPAR)
  std::vector<ReplicateFit> fits;   ///< every refit, in order, when asked to keep them

  int npar() const { return npar_; }
  int NCONV(int n) const { return nconv_[idx(n)]; }
  double SUMS(int I, int n) const { return sums_[at(I, n)]; }
  double SUMS2(int I, int n) const { return sums2_[at(I, n)]; }
  double SUMSE(int I, int n) const { return sumse_[at(I, n)]; }
  double SUMSE2(int I, int n) const { return sumse2_[at(I, n)]; }
  const std::array<int, 4>& NGOF(int n) const { return ngof_[idx(n)]; }
  const std::array<int, 5>& NLRT(int k) const { return nlrt_[idx(k)]; }

  /// Fits of submodel n accumulated ("Converged").
  int& NCONV(int n) { return nconv_[idx(n)]; }
  /// Sum of the estimates S(I) of submodel n.
  double& SUMS(int I, int n) { return sums_[at(I, n)]; }
  /// Sum of their squares.
  double& SUMS2(int I, int n) { return sums2_[at(I, n)]; }
  /// Sum of the standard errors of S(I) of submodel n.
  double& SUMSE(int I, int n) { return sumse_[at(I, n)]; }
  /// Sum of their squares.
  double& SUMSE2(int I, int n) { return sumse2_[at(I, n)]; }
  /// Goodness-of-fit rejections of submodel n at the levels 0.01, 0.05, 0.10, 0.5.
  std::array<int, 4>& NGOF(int n) { return ngof_[idx(n)]; }
  /// Likelihood-ratio rejections of pair k at the levels 0.01, 0.05, 0.10, 0.5, 1.0.
  std::array<int, 5>& NLRT(int k) { return nlrt_[idx(k)]; }

 private:
  int npar_ = 0;                                        ///< parameters per submodel
  std::vector<int> nconv_;                              ///< NCONV by submodel
  std::vector<double> sums_, sums2_, sumse_, sumse2_;  ///< the sums, parameter fastest
  std::vector<std::array<int, 4>> ngof_;                ///< NGOF by submodel
  std::vector<std::array<int, 5>> nlrt_;                ///< NLRT by pair
  /// Position of submodel or pair n.
  static std::size_t idx(int n) { return static_cast<std::size_t>(n - 1); }
  /// Position of parameter I of submodel n.
  std::size_t at(int I, int n) const {
    return static_cast<std::size_t>(n - 1) * static_cast<std::size_t>(npar_) + static_cast<std::size_t>(I - 1);
  }
};

/// How the driver runs PROC SIMULATE.
struct SimulationSettings {
  bool keep_fits = false;  ///< keep every refit in the totals' fits
  /// Refits run at once. With 1 every replicate is drawn and refitted in
  /// turn; with more, replicates are drawn in turn from the one random
  /// stream and refitted on private copies of the model by that many
  /// threads, and everything is written in replicate order, so that the
  /// listing, the estimate file and the totals are the same for any number.
  int threads = 1;
};

/// PROC SIMULATE, entered with its PROC statement current; returns with the first statement after the
/// last submodel's block current, and hands back what it accumulated.
SimulationTotals simlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings = {});

/// PROC SIMULATE as the driver dispatches it.
SimulationTotals rdsimlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings);

}  // namespace quorvale
