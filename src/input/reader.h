#pragma once
// The command reader: joins input lines into the statement buffer, finds the
// next statement and splits it into tokens.

#include <iosfwd>
#include <string>

#include "base/status.h"
#include "base/instr.h"
#include "listing/listing.h"

namespace quorvale {

/// Reads statements from the command input, one at a time.
class Reader {
 public:
  Reader(Status& status, Instr& instr, Listing& listing, std::istream& in);

  /// Reads the command input from `in` from now on.
  void set_input(std::istream& in) { in_ = &in; }

  /// Refills the statement buffer from the input, compacting it first.
  void fillsg();
  /// Echoes the previous statement, then makes the next statement current.
  void getcmd();

 private:
  /// Reads one input line as 80 columns; false at the end of the input.
  bool read_line80(std::string& line);

  Status& status_;
  Instr& instr_;
  Listing& listing_;
  std::istream* in_;
};

}  // namespace quorvale
