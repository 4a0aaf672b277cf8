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
  /// Appends records; false when the file is not open or writing failed.
  bool write(std::string_view records);

 private:
  std::ofstream out_;
};

}  // namespace quorvale
