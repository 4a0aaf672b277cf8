#pragma once
// Blocks of one value per cell of every cohort (the derivatives of the cell
// probabilities by one slot, or by one coefficient of a linear form), each
// held only on the cohorts where it is not all zeros. A slot moves the cells
// of a few cohorts only: its period's closed cohorts, and the open ones.

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace quorvale {

/// Blocks over cohorts 1..cohorts() of cells(j) cells each. A block holds
/// the cohorts it is present on, in cohort order, each with the position of
/// its values in one store shared by all blocks; a cohort absent from a
/// block reads as all zeros (+0.0).
class CellBlocks {
 public:
  /// A cohort present in a block: its number (1-based) and the position of
  /// its first value in the store.
  struct Cohort {
    int cohort = 0;
    std::size_t offset = 0;
  };

  CellBlocks() = default;
  /// No blocks, over cohorts of `cells[j-1]` cells (a negative count is 0).
  explicit CellBlocks(std::vector<int> cells) { reset(std::move(cells)); }

  /// Empties the blocks (keeping the store's capacity) over cohorts of `cells[j-1]` cells.
  void reset(std::vector<int> cells);

  int cohorts() const { return static_cast<int>(cells_.size()); }
  /// Cells of every cohort (cohort j at j-1): the shape of the blocks.
  const std::vector<int>& cell_counts() const { return cells_; }
  /// Cells of cohort j (1-based).
  int cells(int j) const { return cells_[static_cast<std::size_t>(j - 1)]; }
  /// Cells of every cohort together: the length of a dense block.
  std::size_t total_cells() const;
  int blocks() const { return static_cast<int>(first_.size()) - 1; }
  /// Values held in the store, over every block.
  std::size_t stored() const { return values_.size(); }

  /// The cohorts block b (0-based) is present on, in cohort order.
  std::span<const Cohort> present(int b) const {
    return {present_.data() + first_[static_cast<std::size_t>(b)],
            first_[static_cast<std::size_t>(b) + 1] - first_[static_cast<std::size_t>(b)]};
  }
  /// The cells(c.cohort) values of a present cohort.
  const double* values(const Cohort& c) const { return values_.data() + c.offset; }
  double* values(const Cohort& c) { return values_.data() + c.offset; }
  /// The values of cohort j in block b (0-based), none when it is absent there.
  const double* find(int b, int j) const;

  /// Starts block blocks(), with no cohort yet.
  void start_block();
  /// Appends cohort j to the last block, after every cohort it holds so
  /// far, with its values all +0.0; gives where they lie in the store (which
  /// the next append may move).
  Cohort append(int j);
  /// Appends cohort j to the last block with the cells(j) values `v`, unless
  /// every one is == 0.0 (+0 or -0): a NaN keeps the cohort present.
  void append_unless_zero(int j, const double* v);

  /// The blocks of `n` dense blocks of total_cells() values each, cohort by
  /// cohort (as `dense()` gives them), over cohorts of `cells[j-1]` cells.
  static CellBlocks from_dense(std::vector<int> cells, std::span<const double> dense, int n);
  /// Every block written out over all cells, cohort by cohort, absent
  /// cohorts as +0.0: blocks() blocks of total_cells() values.
  std::vector<double> dense() const;

 private:
  std::vector<int> cells_;            ///< cells of cohort j at j-1
  std::vector<double> values_;        ///< the values of every present cohort of every block
  std::vector<Cohort> present_;       ///< the present cohorts, block after block
  std::vector<std::size_t> first_{0};  ///< block b's cohorts are present_[first_[b] .. first_[b+1])
};

}  // namespace quorvale
