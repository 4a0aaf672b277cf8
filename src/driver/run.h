#pragma once
// The run context: everything one run of the program shares between its
// procedures.

#include <iosfwd>

#include "driver/clock.h"
#include "estimate/context.h"
#include "results/run_results.h"
#include "simulate/parfile.h"
#include "simulate/rdsimlte.h"

namespace quorvale {

/// The state of one run: the fitting context plus the clock and PROC
/// SIMULATE's estimate file, which stays open until the end of the run.
struct Run : FitContext {
  /// A run reading commands from `in` and writing the listing to `out`.
  Run(std::istream& in, std::ostream& out, std::ostream& err, Clock clock = Clock())
      : FitContext(in, out, err), clock(std::move(clock)) {}

  Clock clock;
  /// PROC SIMULATE's estimate file (option PARFILE).
  SimulationFile simfile;
  /// What the procedures computed, for the result files.
  RunResults results;
  /// How PROC SIMULATE runs: refits kept for the result files (JSON= or
  /// CSV= given) and the refit threads (THREADS=).
  SimulationSettings simulation;
  /// The first of results.fits that belongs to the current model sequence.
  std::size_t sequence_start = 0;
};

}  // namespace quorvale
