#pragma once
// The robust design of a converted data set: secondary occasions of every
// primary period, the parameter numbers S(I) the likelihood gives each
// quantity, and the cohorts of the model tabulated from encounter histories.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/inp.h"
#include "model/robust_layout.h"

namespace quorvale::convert {

/// Primary periods and their secondary occasions, and the groups of
/// animals: the likelihood's layout of a model with the fewest parameters
/// it needs (NPAR = needed()).
struct Design : RobustLayout {
  Design() = default;
  /// Periods with occasions[ip - 1] secondary occasions each, for the
  /// groups named (none: one group, written without GROUPS).
  explicit Design(const std::vector<int>& occasions, std::vector<std::string> names = {})
      : RobustLayout(occasions, 0, static_cast<int>(names.size())), group_names(std::move(names)) {}

  /// Names of the groups, in the order of the frequencies; empty for one group without a name.
  std::vector<std::string> group_names;

  /// Secondary occasions of all periods together: the length of a history.
  int total_occasions() const;
  /// The list as given on the command line, "2,2,4,5,2".
  std::string text() const;
  /// Secondary occasions of every period, period 1 first.
  std::vector<int> occasion_list() const;
  /// True when the groups have names: the model is written with GROUPS.
  bool named_groups() const { return !group_names.empty(); }
  /// Name of group g (1..groups()).
  const std::string& group_name(int g) const { return group_names[static_cast<std::size_t>(g - 1)]; }
};

/// Reads a list such as "2,2,4,5,2" and checks it against the program's
/// limits; throws ConvertError (line 0) naming the limit that is exceeded.
Design parse_design(std::string_view list);

/// The design for the groups named, each with all of `design`'s periods;
/// throws ConvertError (line 0) when they need more cohorts or parameters
/// than the program holds.
Design with_groups(const Design& design, std::vector<std::string> names);

/// The names G1, G2, ... of `groups` groups the input does not name.
std::vector<std::string> default_group_names(int groups);

/// One cohort of the model, in the order the likelihood expects them.
struct Cohort {
  int group = 1;      ///< the group of animals (1..)
  bool open = false;  ///< false: captures within a period; true: a release between periods
  int period = 0;     ///< closed: the period ip of the captures; open: the release period i
  int jp = 0;         ///< closed: 1 for first captures, else 1 + the period of the last release
  long long size = 0;              ///< animals in the cohort
  std::vector<long long> cells;    ///< observed counts of every cell but the last (remainder)
};

/// Cohort and cell counts of the histories: for every group, closed cohorts
/// (ip, jp) for ip = 1..M, jp = 1..ip, then open cohorts i = 1..M-1. Throws
/// ConvertError with the history's line for a history of the wrong length,
/// without a capture or with another number of frequencies than groups, and
/// when the counts outgrow the program's 32-bit integers.
std::vector<Cohort> tabulate(const Design& design, const std::vector<History>& histories);

/// Cell of a closed cohort for a history within one period (`occasions` of
/// '0'/'1'): h + 1, where occasion t is a capture when binary digit kk - t of
/// h is 0; the never-caught history is the last cell 2^kk.
int closed_cell(std::string_view occasions);

}  // namespace quorvale::convert
