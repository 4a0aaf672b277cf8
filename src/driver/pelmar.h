#pragma once
// The program's main sequence: start-up, the procedure loop and the end.

#include <iosfwd>
#include <string>
#include <vector>

#include "driver/clock.h"

namespace quorvale {

/// Where a run reads and writes: standard streams, or strings in tests.
struct RunIo {
  std::istream& in;   ///< parameter line, and commands when no input file is named
  std::ostream& out;  ///< prompt, and the listing when no listing file is named
  std::ostream& err;  ///< fatal messages, progress and termination lines
  bool err_terminal = false;  ///< whether `err` is a terminal: progress is shown only then
};

/// Runs the program once. With `words` given they are the parameter line
/// (no prompt, nothing read for it); otherwise the line is read from `io.in`.
/// Returns the exit status: 0 for a normal end, 1 for any failure.
int pelmar(RunIo io, const std::vector<std::string>* words, Clock clock = Clock());

/// Command-line entry: handles --help and --version, then runs the program.
int program_main(int argc, char** argv);

}  // namespace quorvale
