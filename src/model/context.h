#pragma once
// The model context: the part of a run every procedure reads, from the
// statement being parsed to the model PROC MODEL stored.

#include <iosfwd>

#include "base/instr.h"
#include "base/status.h"
#include "input/reader.h"
#include "listing/listing.h"
#include "model/store.h"

namespace quorvale {

/// Status block, statement buffer, listing, command reader and model store.
/// PROC MODEL and PROC TITLE need no more than this.
struct ModelContext {
  /// A context reading commands from `in` and writing the listing to `out`.
  ModelContext(std::istream& in, std::ostream& out, std::ostream& err)
      : listing(status, instr, out, err), reader(status, instr, listing, in) {
    listing.set_where([this] { return reader.warning_place(); });
  }
  ModelContext(const ModelContext&) = delete;
  ModelContext& operator=(const ModelContext&) = delete;

  Status status;
  Instr instr;
  Listing listing;
  Reader reader;
  ModelStore model;

  /// Token i of the current statement.
  const Token& token(int i) const { return instr.token(i); }
};

}  // namespace quorvale
