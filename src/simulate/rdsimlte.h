#pragma once
// PROC SIMULATE: a Monte-Carlo study of the estimators. A generating model
// and up to MAXMOD submodels are set up like PROC ESTIMATE; every replicate
// draws new cohort counts from the generating model and refits each
// submodel; estimates, standard errors and test outcomes are accumulated and
// summarised, and every fit can be written to an estimate file.

#include <array>
#include <cstdint>
#include <vector>

namespace quorvale {

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

/// PROC SIMULATE, entered with its PROC statement current; returns with the first statement after the
/// last submodel's block current, and hands back what it accumulated.
SimulationTotals simlte(FitContext& run, SimulationFile& file);

/// PROC SIMULATE as the driver dispatches it.
void rdsimlte(FitContext& run, SimulationFile& file);

}  // namespace quorvale
