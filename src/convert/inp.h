#pragma once
// Encounter histories in the ".inp" form: one record per history, the
// captures over all secondary occasions as a string of 0 and 1, a frequency
// for every group of animals ("0110 12 7;": 12 of the first group, 7 of the
// second) and ";", with comments between "/*" and "*/" anywhere.

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

/// One record: a capture history and how many animals of each group have it.
struct History {
  std::string occasions;  ///< '1' caught, '0' not caught, one character per secondary occasion
  /// Animals with this history, group by group; negative: not released
  /// after the last capture.
  std::vector<long long> frequencies;
  int line = 0;  ///< input line where the history stands
};

/// Reads every record of an ".inp" text, each with `groups` frequencies, or
/// with as many as the first record when `groups` is 0. Throws ConvertError
/// with the line of the first fault: a character other than 0 and 1 in a
/// history (a "." for a missing occasion included), a missing or malformed
/// frequency, a frequency 0 where there is one group or frequencies all 0,
/// more frequencies than groups allowed or another number of them than
/// expected, a missing ";", an unclosed comment, or no history at all.
std::vector<History> read_inp(std::string_view text, int groups = 0);

}  // namespace quorvale::convert
