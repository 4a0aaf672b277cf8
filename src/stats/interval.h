#pragma once
// A 95% interval, as the procedures compute it and the results show it.

namespace quorvale {

/// Lower and upper end of an interval.
struct Interval {
  double lower = 0.0;
  double upper = 0.0;
};

}  // namespace quorvale
