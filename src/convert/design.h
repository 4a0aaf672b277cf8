#pragma once
// The robust design of a converted data set: secondary occasions of every
// primary period, the parameter numbers S(I) the likelihood gives each
// quantity, and the cohorts of the model tabulated from encounter histories.

#include <string>
#include <string_view>
#include <vector>

#include "convert/inp.h"
#include "model/robust_layout.h"

namespace quorvale::convert {

/// Primary periods and their secondary occasions: the likelihood's layout
/// of a model with the fewest parameters it needs (NPAR = needed()).
struct Design : RobustLayout {
  Design() = default;
  /// Periods with occasions[ip - 1] secondary occasions each.
  explicit Design(const std::vector<int>& occasions) : RobustLayout(occasions) {}

  /// Secondary occasions of all periods together: the length of a history.
  int total_occasions() const;
  /// The list as given on the command line, "2,2,4,5,2".
  std::string text() const;
};

/// Reads a list such as "2,2,4,5,2" and checks it against the program's
/// limits; throws ConvertError (line 0) naming the limit that is exceeded.
Design parse_design(std::string_view list);

/// One cohort of the model, in the order the likelihood expects them.
struct Cohort {
  bool open = false;  ///< false: captures within a period; true: a release between periods
  int period = 0;     ///< closed: the period ip of the captures; open: the release period i
  int jp = 0;         ///< closed: 1 for first captures, else 1 + the period of the last release
  long long size = 0;              ///< animals in the cohort
  std::vector<long long> cells;    ///< observed counts of every cell but the last (remainder)
};

/// Cohort and cell counts of the histories: closed cohorts (ip, jp) for
/// ip = 1..M, jp = 1..ip, then open cohorts i = 1..M-1. Throws ConvertError
/// with the history's line for a history of the wrong length or without a
/// capture, and when the counts outgrow the program's 32-bit integers.
std::vector<Cohort> tabulate(const Design& design, const std::vector<History>& histories);

/// Cell of a closed cohort for a history within one period (`occasions` of
/// '0'/'1'): h + 1, where occasion t is a capture when binary digit kk - t of
/// h is 0; the never-caught history is the last cell 2^kk.
int closed_cell(std::string_view occasions);

}  // namespace quorvale::convert
