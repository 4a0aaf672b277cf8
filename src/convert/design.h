#pragma once
// The robust design of a converted data set: secondary occasions of every
// primary period, the parameter numbers S(I) the likelihood gives each
// quantity, and the cohorts of the model tabulated from encounter histories.

#include <string>
#include <string_view>
#include <vector>

#include "convert/inp.h"

namespace quorvale::convert {

/// Primary periods and their secondary occasions, with the parameter numbering of the likelihood.
struct Design {
  std::vector<int> kk;  ///< secondary occasions of period 1..M (kk[0] is period 1)

  /// Number of primary periods M.
  int periods() const { return static_cast<int>(kk.size()); }
  /// Secondary occasions of period ip (1..M).
  int occasions(int ip) const { return kk[static_cast<std::size_t>(ip - 1)]; }
  /// Secondary occasions of all periods together: the length of a history.
  int total_occasions() const;
  /// Parameters of the model: sum(2 kk - 1) + 4 M - 4.
  int npar() const;
  /// Cohorts of the model: M (M + 1) / 2 closed, M - 1 open.
  int cohorts() const;
  /// The list as given on the command line, "2,2,4,5,2".
  std::string text() const;

  /// Capture probability p of period ip, occasion t (1..kk).
  int p(int ip, int t) const { return offset(ip) + t; }
  /// Recapture probability c of period ip, occasion t (2..kk).
  int c(int ip, int t) const { return offset(ip) + occasions(ip) + t - 1; }
  /// Survival phi from period i to i + 1 (i = 1..M-1).
  int phi(int i) const { return npar() - 4 * periods() + 4 + i; }
  /// gamma'': unavailable in period j (2..M) when available in j - 1.
  int gamma2(int j) const { return npar() - 3 * periods() + 2 + j; }
  /// gamma': unavailable in period j (3..M) when unavailable in j - 1.
  int gamma1(int j) const { return npar() - 2 * periods() + j; }
  /// Recapture exponent theta of period ip, used by the power variant only.
  int theta(int ip) const { return npar() - periods() + ip; }
  /// Parameters of the periods before ip: sum of 2 kk - 1 over them.
  int offset(int ip) const;
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
