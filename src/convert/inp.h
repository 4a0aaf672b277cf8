#pragma once
// Encounter histories in the ".inp" form: one record per history, the
// captures over all secondary occasions as a string of 0 and 1, a frequency
// and ";", with comments between "/*" and "*/" anywhere.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvale::convert {

/// A fault in the input or the design; the converter stops on the first one.
class ConvertError : public std::runtime_error {
 public:
  /// A fault found on input line `line` (0: not tied to a line).
  ConvertError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
  /// Input line of the fault; 0 when it concerns the command line or the whole file.
  int line() const { return line_; }

 private:
  int line_;
};

/// One record: the captures of a group of animals and how many they are.
struct History {
  std::string occasions;   ///< '1' caught, '0' not caught, one character per secondary occasion
  long long frequency = 0;  ///< animals with this history; negative: not released after the last capture
  int line = 0;            ///< input line where the history stands
};

/// Reads every record of an ".inp" text. Throws ConvertError with the line
/// of the first fault: a character other than 0 and 1 in a history (a "."
/// for a missing occasion included), a missing, malformed or zero
/// frequency, more than one frequency, a missing ";", an unclosed comment,
/// or no history at all.
std::vector<History> read_inp(std::string_view text);

}  // namespace quorvale::convert
