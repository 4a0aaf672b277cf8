#pragma once
// The estimate file of PROC SIMULATE (option PARFILE): a text file that
// receives the estimates of every fit. It is opened by the procedure and
// stays open until the end of the run.

#include <fstream>
#include <string>
#include <string_view>

namespace quorvale {

/// The open estimate file of the run, if any.
class SimulationFile {
 public:
  /// Closes any file open and opens `name` for writing from its beginning
  /// (created when missing); false when the close or the open fails.
  bool open(const std::string& name);
  /// Closes the file if one is open; false when its last records could not be written.
  bool close();
  /// Whether a file is open.
  bool is_open() const { return out_.is_open(); }
  /// Appends records and hands them to the system at once, so that a
  /// failure shows here; false when the file is not open or writing failed
  /// (the file is then closed).
  bool write(std::string_view records);
  /// Name of the file last opened.
  const std::string& name() const { return name_; }
  /// Message of a failed write or close of the file, naming it.
  std::string failure() const { return "Error writing the file of parameter estimates " + name_ + "."; }

 private:
  std::ofstream out_;
  std::string name_;
};

}  // namespace quorvale
