#pragma once
// The progress line of PROC SIMULATE on a terminal: one line on the error
// stream, rewritten in place for every replicate and erased at the end.
// Nothing is written when standard error is a file or a pipe, so that the
// error stream of a batch run stays as it is.

#include <iosfwd>
#include <string>

namespace quorvale {

/// A line showing the replicate being drawn and fitted.
class ProgressLine {
 public:
  /// A line on `out`; nullptr makes it silent.
  explicit ProgressLine(std::ostream* out) : out_(out) {}
  /// Erases the line, also when the run ends with an error.
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  /// The standard error stream when it is a terminal, else nullptr.
  static std::ostream* terminal();

  /// Shows replicate r of n.
  void show(int r, int n);

 private:
  std::ostream* out_;
  std::size_t shown_ = 0;  ///< characters of the line now shown
};

}  // namespace quorvale
