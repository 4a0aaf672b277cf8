#pragma once
// PROC SIMULATE: a Monte-Carlo study of the estimators. A generating model
// and up to MAXMOD submodels are set up like PROC ESTIMATE; every replicate
// draws new cohort counts from the generating model and refits each
// submodel; estimates, standard errors and test outcomes are accumulated and
// summarised, and every fit can be written to an estimate file.

#include <utility>

#include "simulate/simulation_values.h"

namespace quorvale {

struct FitContext;
class Listing;
class SimulationFile;

/// How the driver runs PROC SIMULATE.
struct SimulationSettings {
  bool keep_fits = false;  ///< keep every refit in the totals' fits
  /// Refits run at once. With 1 every replicate is drawn and refitted in
  /// turn; with more, replicates are drawn in turn from the one random
  /// stream and refitted on private copies of the model by that many
  /// threads, and everything is written in replicate order, so that the
  /// listing, the estimate file and the totals are the same for any number.
  int threads = 1;
  int shard = 0;   ///< K of shard=K/N: refit only the K-th of N blocks of replicates; 0 all
  int shards = 0;  ///< N of shard=K/N
  /// The data, command input and parameter words of the run; PROC SIMULATE
  /// adds its models' maps.
  StudyIdentity study{};
};

/// First and last replicate of shard K of N of `nsim` replicates: contiguous blocks.
std::pair<int, int> shard_range(int nsim, int K, int N);

/// PROC SIMULATE, entered with its PROC statement current; returns with the first statement after the
/// last submodel's block current, and hands back what it accumulated.
SimulationTotals simlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings = {});

/// PROC SIMULATE as the driver dispatches it.
SimulationTotals rdsimlte(FitContext& run, SimulationFile& file, const SimulationSettings& settings);

}  // namespace quorvale
