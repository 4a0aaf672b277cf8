#pragma once
// The one exception that ends a run from deep inside a procedure. The driver
// catches it once, writes the termination line and sets the exit status.

#include <string>
#include <utility>

namespace quorvale {

/// Ends the run: `stop_text` follows "STOP " on the error stream. `message`
/// is the fatal message, if any; the driver repeats it after the place of
/// the statement that caused it.
struct RunEnd {
  std::string stop_text;
  int exit_status = 1;
  std::string message = {};
};

/// Termination texts written after "STOP ".
inline constexpr const char* kNormalEnd = "PELMAR NORMAL TERMINATION";
inline constexpr const char* kErrorEnd = "PELMAR ERROR TERMINATION";
inline constexpr const char* kDimensionAbort = "PROGRAM ABORT -- DIMENSIONS EXCEEDED";

}  // namespace quorvale
