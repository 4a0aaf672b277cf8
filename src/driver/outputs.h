#pragma once
// The files a run writes: found before the first procedure (the commands
// read ahead name the model and estimate files), checked against each other
// and the inputs, and the result files written at the end, all or none.

#include <string>
#include <vector>

namespace quorvale {

struct Run;
struct RunParams;
class Reader;

/// A file a statement of the run names: PROC TEST's model file (AICSAVE),
/// which the run reads and replaces, or PROC SIMULATE's estimate file (PARFILE).
struct NamedFile {
  bool model_file = false;  ///< AICSAVE of PROC TEST, else PARFILE of PROC SIMULATE
  std::string name;         ///< as typed
  std::string place;        ///< "FILE:LINE" of the statement
};

/// The files the statements of `commands` name, found by reading every
/// statement as the run will, in order.
std::vector<NamedFile> files_named(const Reader& source, const std::string& commands);

/// Before the first procedure: every file the run will write is checked
/// against every other and against the command file, and each must be
/// creatable; a clash or a file that cannot be written ends the run with
/// every file untouched.
void check_outputs(Run& run, const RunParams& params, const std::vector<NamedFile>& named);

/// Writes the result files the parameter line asked for, all of them or
/// none; a failure ends the run.
void write_results(Run& run, const RunParams& params);

}  // namespace quorvale
