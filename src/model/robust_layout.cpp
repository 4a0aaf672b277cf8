#include "model/robust_layout.h"

namespace quorvale {

int RobustLayout::periods_for(long long ncohrt) {
  if (ncohrt < 1) return 0;
  long long M = 1;
  while (cohorts_for(M) < ncohrt) ++M;
  return cohorts_for(M) == ncohrt ? static_cast<int>(M) : 0;
}

RobustLayout::RobustLayout(std::span<const int> occasions, int npar, int groups)
    : RobustLayout(static_cast<int>(occasions.size()),
                   [occasions](int ip) { return occasions[static_cast<std::size_t>(ip - 1)]; }, npar, groups) {}

std::vector<int> RobustLayout::cohort_cells() const {
  std::vector<int> cells;
  cells.reserve(static_cast<std::size_t>(cohorts()));
  for (int g = 1; g <= groups_; ++g) {
    for (int ip = 1; ip <= periods(); ++ip) cells.insert(cells.end(), static_cast<std::size_t>(ip), closed_cells(ip));
    for (int i = 1; i < periods(); ++i) cells.push_back(open_cells(i));
  }
  return cells;
}

}  // namespace quorvale
