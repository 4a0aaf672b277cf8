#include "estimate/cell_blocks.h"

#include <algorithm>
#include <cassert>
#include <numeric>

namespace quorvale {

void CellBlocks::reset(std::vector<int> cells) {
  for (int& n : cells) n = std::max(n, 0);
  cells_ = std::move(cells);
  values_.clear();
  present_.clear();
  first_.assign(1, 0);
}

std::size_t CellBlocks::total_cells() const {
  return std::accumulate(cells_.begin(), cells_.end(), std::size_t{0},
                         [](std::size_t sum, int n) { return sum + static_cast<std::size_t>(n); });
}

const double* CellBlocks::find(int b, int j) const {
  const std::span<const Cohort> in = present(b);
  const auto at = std::lower_bound(in.begin(), in.end(), j, [](const Cohort& c, int k) { return c.cohort < k; });
  return at != in.end() && at->cohort == j ? values(*at) : nullptr;
}

void CellBlocks::start_block() { first_.push_back(present_.size()); }

CellBlocks::Cohort CellBlocks::append(int j) {
  assert(blocks() >= 1 && j >= 1 && j <= cohorts());
  assert(present(blocks() - 1).empty() || present(blocks() - 1).back().cohort < j);
  const Cohort c{j, values_.size()};
  values_.resize(values_.size() + static_cast<std::size_t>(cells(j)), 0.0);
  present_.push_back(c);
  ++first_.back();
  return c;
}

void CellBlocks::append_unless_zero(int j, const double* v) {
  const int n = cells(j);
  if (std::all_of(v, v + n, [](double x) { return x == 0.0; })) return;
  const Cohort c = append(j);
  std::copy_n(v, n, values(c));
}

CellBlocks CellBlocks::from_dense(std::vector<int> cells, std::span<const double> dense, int n) {
  CellBlocks out(std::move(cells));
  const std::size_t total = out.total_cells();
  assert(dense.size() >= static_cast<std::size_t>(std::max(n, 0)) * total);
  for (int b = 0; b < n; ++b) {
    out.start_block();
    const double* block = dense.data() + static_cast<std::size_t>(b) * total;
    for (int j = 1; j <= out.cohorts(); ++j) {
      out.append_unless_zero(j, block);
      block += out.cells(j);
    }
  }
  return out;
}

std::vector<double> CellBlocks::dense() const {
  const std::size_t total = total_cells();
  std::vector<std::size_t> offset(cells_.size() + 1, 0);
  for (std::size_t j = 0; j < cells_.size(); ++j) offset[j + 1] = offset[j] + static_cast<std::size_t>(cells_[j]);
  std::vector<double> out(static_cast<std::size_t>(blocks()) * total, 0.0);
  for (int b = 0; b < blocks(); ++b) {
    for (const Cohort& c : present(b)) {
      std::copy_n(values(c), cells(c.cohort),
                  out.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(b) * total +
                                                            offset[static_cast<std::size_t>(c.cohort - 1)]));
    }
  }
  return out;
}

}  // namespace quorvale
