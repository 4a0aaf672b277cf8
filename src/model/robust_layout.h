#pragma once
// Where the robust design puts its cohorts and its parameters.
//
// For M primary periods, period ip with kk(ip) >= 1 secondary occasions:
// cohorts first the closed part, period ip giving ip consecutive cohorts
// (ip, jp), jp = 1..ip, of 2^kk(ip) cells each; then the open part, release
// period i = 1..M-1 giving one cohort of M - i + 1 cells. So there are
// M(M+1)/2 + M - 1 cohorts, and that count alone fixes M.
//
// Parameters: period ip has p(ip, 1..kk) then c(ip, 2..kk), 2kk - 1 in all,
// one period after the other from S(1); the last 4M - 4 of the model's NPAR
// hold phi, gamma'', gamma' and theta, each counted back from NPAR. A model
// may have more parameters than the layout needs; the gap is unused.
//
// A model of several groups of animals repeats the design once per group:
// the cohorts of group 1, then those of group 2, and so on, and the
// parameters in one block per group of NPAR / groups each, numbered within
// the block as above and block g after block g - 1.

#include <concepts>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvale {

/// The cohorts and parameter numbers of one robust design.
class RobustLayout {
 public:
  /// Number of cohorts of a design with M primary periods: M(M+1)/2 closed, M - 1 open.
  static constexpr long long cohorts_for(long long M) { return M * (M + 1) / 2 + M - 1; }
  /// The M whose design has `ncohrt` cohorts; 0 when no M has that many.
  static int periods_for(long long ncohrt);

  /// No periods.
  RobustLayout() = default;
  /// Periods with occasions[ip - 1] secondary occasions (each at least 1),
  /// numbered for a model of `npar` parameters in `groups` blocks of npar /
  /// groups; npar 0 takes the fewest the layout needs.
  explicit RobustLayout(std::span<const int> occasions, int npar = 0, int groups = 1);
  /// M periods, period ip (1..M) with occasions_of(ip) secondary occasions;
  /// npar and groups as above.
  template <typename OccasionsOf>
    requires std::invocable<OccasionsOf, int>
  RobustLayout(int M, OccasionsOf&& occasions_of, int npar = 0, int groups = 1) : groups_(groups < 1 ? 1 : groups) {
    offset_.reserve(static_cast<std::size_t>(M) + 1);
    for (int ip = 1; ip <= M; ++ip) offset_.push_back(offset_.back() + 2 * occasions_of(ip) - 1);
    block_ = npar > 0 ? npar / groups_ : needed_per_group();
    npar_ = npar > 0 ? npar : block_ * groups_;
  }

  /// Primary periods M.
  int periods() const { return static_cast<int>(offset_.size()) - 1; }
  /// Secondary occasions kk of period ip (1..M).
  int occasions(int ip) const { return (at(ip) - at(ip - 1) + 1) / 2; }
  /// Cells of a closed cohort of period ip: 2^kk, the remainder included.
  int closed_cells(int ip) const { return 1 << occasions(ip); }
  /// Cells of open cohort i: one per later period and the never-recaptured one.
  int open_cells(int i) const { return periods() - i + 1; }
  /// Groups of animals, each with the whole design (1 without groups).
  int groups() const { return groups_; }
  /// Cohorts of one group, closed and open.
  int cohorts_per_group() const { return static_cast<int>(cohorts_for(periods())); }
  /// Number of cohorts of all groups.
  int cohorts() const { return groups_ * cohorts_per_group(); }
  /// Cells of cohorts 1..cohorts(), in order (cells[c - 1] for cohort c).
  std::vector<int> cohort_cells() const;
  /// The group (1..groups()) cohort c (1..cohorts()) belongs to.
  int group_of_cohort(int c) const { return (c - 1) / cohorts_per_group() + 1; }

  /// Cohort number of closed cohort (ip, jp), jp = 1..ip, of group 1: ip(ip-1)/2 + jp.
  static constexpr int closed_cohort(int ip, int jp) { return ip * (ip - 1) / 2 + jp; }
  /// Cohort number of closed cohort (ip, jp) of group g.
  int closed_cohort(int ip, int jp, int g) const { return (g - 1) * cohorts_per_group() + closed_cohort(ip, jp); }
  /// Cohort number of the open cohort released in period i (1..M-1) of group g.
  int open_cohort(int i, int g = 1) const {
    return (g - 1) * cohorts_per_group() + closed_cohort(periods(), periods()) + i;
  }

  /// Parameters of the closed part of one group: the sum of 2kk - 1 over the periods.
  int closed_parameters() const { return at(periods()); }
  /// Fewest parameters one group's block needs: closed_parameters() + 4M - 4.
  int needed_per_group() const { return closed_parameters() + 4 * periods() - 4; }
  /// Fewest parameters the layout needs: a block of needed_per_group() for every group.
  int needed() const { return groups_ * needed_per_group(); }
  /// NPAR of the model.
  int npar() const { return npar_; }
  /// Parameters of one group's block: NPAR / groups, the number the open part is counted back from.
  int block() const { return block_; }
  /// The group (1..groups()) parameter I (1..NPAR) belongs to.
  int group_of(int I) const { return block_ > 0 ? (I - 1) / block_ + 1 : 1; }
  /// Parameter I's number within its group's block.
  int in_block(int I) const { return block_ > 0 ? (I - 1) % block_ + 1 : I; }

  /// Capture probability p of period ip, occasion t (1..kk), of group g.
  int p(int ip, int t, int g = 1) const { return first(g) + at(ip - 1) + t; }
  /// Recapture probability c of period ip, occasion t (2..kk), of group g.
  int c(int ip, int t, int g = 1) const { return first(g) + at(ip - 1) + occasions(ip) + t - 1; }
  /// Survival phi from period i to i + 1 (used for i = 1..M-1) of group g.
  int phi(int i, int g = 1) const { return first(g) + block_ - 4 * periods() + 4 + i; }
  /// gamma'': unavailable in period j when available in j - 1 (used for j = 2..M), of group g.
  int gamma2(int j, int g = 1) const { return first(g) + block_ - 3 * periods() + 2 + j; }
  /// gamma': unavailable in period j when unavailable in j - 1 (used for j = 3..M), of group g.
  int gamma1(int j, int g = 1) const { return first(g) + block_ - 2 * periods() + j; }
  /// Recapture exponent theta of period ip (1..M) of group g, read by the power variant only.
  int theta(int ip, int g = 1) const { return first(g) + block_ - periods() + ip; }

 private:
  /// Parameters of periods 1..ip together (0 for ip = 0).
  int at(int ip) const { return offset_[static_cast<std::size_t>(ip)]; }
  /// Parameters before group g's block.
  int first(int g) const { return (g - 1) * block_; }

  std::vector<int> offset_{0};  ///< offset_[ip]: parameters of periods 1..ip
  int groups_ = 1;
  int block_ = 0;
  int npar_ = 0;
};

/// Why an evaluation was or was not made.
enum class EstStatus : std::uint8_t {
  Ok,               ///< the cells and F are computed
  NoCohorts,        ///< NCOHRT < 1
  CohortCount,      ///< NCOHRT is not M(M+1)/2 + M - 1 for any M
  TooManyPeriods,   ///< M above MAXPER: the dimension stop
  TooManyCohorts,   ///< NCOHRT above the cohorts the store holds
  ClosedCells,      ///< a closed cohort has not 2^kk cells (1 <= kk, <= MXCLAS) as its period's first
  OpenCells,        ///< open cohort i has not M - i + 1 cells
  NparTooSmall,     ///< NPAR below what the layout needs
  GroupCohorts,     ///< the cohorts do not make whole groups
  GroupBlocks,      ///< NPAR does not make one equal block per group
  IndexBeyondNpar,  ///< the evaluation would read a parameter number above NPAR
  NotLaidOut,       ///< no design has been read from the cohorts yet
};

/// The design read from the cohort list, or the first reason it does not fit.
struct RdDesign {
  EstStatus status = EstStatus::NotLaidOut;  ///< Ok, or the check that failed
  int M = 0;                         ///< primary periods (majper); 0 when NCOHRT fixes none
  int period = 0;                    ///< period (closed) or release period (open) of the bad cohort
  int cohort = 0;                    ///< the bad cohort
  int group = 0;                     ///< its group (several groups only)
  int cells = 0;                     ///< its cell count
  int expected = 0;                  ///< cells it should have (0: any power of two 2..MXCLAS)
  int needed = 0;                    ///< NPAR the layout needs: sum(2kk-1) + 4M - 4
  int index = 0;                     ///< the parameter number above NPAR
  bool before_trace = false;         ///< that number is read before the trace line is written
  /// The periods with their occasions, numbered for the model's NPAR; set
  /// once every cohort has passed (status Ok, NparTooSmall, IndexBeyondNpar).
  RobustLayout layout;
};

}  // namespace quorvale
