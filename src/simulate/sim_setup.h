#pragma once
// PROC SIMULATE's options and the estimation set-ups it keeps: the
// generating model's and one per submodel, put back into the store before
// each draw and each refit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/ss.h"
#include "model/store.h"
#include "simulate/ran.h"

namespace quorvale {

struct FitContext;

/// Starting seed when the SEED option is not given.
inline constexpr std::int32_t kDefaultSeed = 7654321;
/// Replicates when the NSIM option is not given.
inline constexpr int kDefaultReplicates = 5;
/// Width of the estimate file's name as kept and printed.
inline constexpr std::size_t kFileNameWidth = 30;

/// The options of the PROC SIMULATE statement.
struct SimOptions {
  int NSIM = kDefaultReplicates;  ///< replicates
  std::int32_t seed = odd_seed(kDefaultSeed);  ///< starting seed, odd
  bool parfile = false;           ///< write the estimate file
  std::string file_name = std::string(kFileNameWidth, ' ');  ///< its name, blank-padded
  bool detail = false;            ///< print every fit and the per-replicate tables
  bool error_test = false;        ///< leave fits with a positive return code out
  bool coverage = false;          ///< print bias, RMSE and interval coverage after the summaries
};

/// One estimation set-up as the estimation driver leaves it in the store.
struct SavedSetup {
  std::vector<int> POINT, POINTL, POINTU;  ///< parameter map of parameters 1..NPAR
  std::vector<double> PAR, PARL, PARU;     ///< start values (on `scale`) and bounds of slots 1..NPAR
  int NEST = 0, NFIXED = 0, NEQUAL = 0;    ///< parameter counts
  int NSIG = 0, MAXFN = 0, ISINE = 0;      ///< optimizer settings and transform
  bool exact_gradient = false;             ///< GRADIENT=EXACT
  ParameterScale scale = ParameterScale::Working;  ///< Natural: the values are S itself (TRANSFORM=NO)
  std::optional<LinearFit> linear;                 ///< the linear forms and their design, for a fit with them

  /// Copies the set-up of parameters 1..NPAR out of the store.
  void save(const ModelStore& m);
  /// Puts the set-up back into the store.
  void restore(ModelStore& m) const;
};

/// Reads the options of the PROC SIMULATE statement.
SimOptions read_simulate_options(FitContext& run);

/// A submodel's name up to its last non-blank character, at least one character.
std::string cut_name(const std::string& name);

}  // namespace quorvale
