#pragma once
// The progress line of PROC SIMULATE on a terminal: one line on the run's
// error stream, rewritten in place for every replicate and erased at the end.
// Nothing is written when that stream is a file or a pipe, so that the error
// stream of a batch run stays as it is.

#include <cstddef>

namespace quorvale {

class Listing;

/// A line showing the replicate being drawn and fitted.
class ProgressLine {
 public:
  /// A line on the error stream of `listing`; silent unless that stream is a terminal.
  explicit ProgressLine(Listing& listing);
  /// Erases the line, also when the run ends with an error.
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  /// Shows replicate r of n.
  void show(int r, int n);

 private:
  Listing* listing_;       ///< where the line goes; nullptr when silent
  std::size_t shown_ = 0;  ///< characters of the line now shown
};

}  // namespace quorvale
