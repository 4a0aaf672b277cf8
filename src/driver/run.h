#pragma once
// The run context: everything one run of the program shares between its
// procedures.

#include <iosfwd>

#include "driver/clock.h"
#include "driver/status.h"
#include "estimate/saved_models.h"
#include "estimate/work.h"
#include "input/instr.h"
#include "input/reader.h"
#include "listing/listing.h"
#include "model/store.h"
#include "simulate/parfile.h"

namespace quorvale {

/// The state of one run: status block, statement buffer, listing, reader,
/// model store, saved-model table, estimates file, estimation work areas
/// and clock. Procedures take it by reference.
struct Run {
  /// A run reading commands from `in` and writing the listing to `out`.
  Run(std::istream& in, std::ostream& out, std::ostream& err, Clock clock = Clock())
      : listing(status, instr, out, err), reader(status, instr, listing, in),
        clock(std::move(clock)) {}

  Status status;
  Instr instr;
  Listing listing;
  Reader reader;
  ModelStore model;
  SavedModels saved;
  EstimatesFile estimates;
  EstimationWork work;
  Clock clock;
  /// PROC SIMULATE's estimate file (option PARFILE), open until the end of the run.
  SimulationFile simfile;

  /// Token i of the current statement.
  const Token& token(int i) const { return instr.token(i); }
};

}  // namespace quorvale
