#include "simulate/draw.h"

#include <vector>

#include "base/limits.h"
#include "simulate/ran.h"

namespace quorvale {

std::optional<DrawLayout> draw_layout(const ModelStore& m, const RobustLayout& layout) {
  const int ncohrt = m.NCOHRT;
  const int M = layout.periods();
  if (M < 1 || ncohrt != layout.cohorts() || ncohrt > m.NCLASS.size() || ncohrt > m.NREL.size() ||
      ncohrt > m.NOBS.cols() || ncohrt > m.P.cols()) {
    return std::nullopt;
  }
  const std::vector<int> cells = layout.cohort_cells();
  for (int j = 1; j <= ncohrt; ++j) {
    const int n = cells[static_cast<std::size_t>(j - 1)];
    if (m.NCLASS(j) != n || n > MXCLAS) return std::nullopt;
    // The counts and probabilities hold every cell of every cohort.
    if (n > m.NOBS.rows(j) || n > m.P.rows(j)) return std::nullopt;
  }
  return DrawLayout{M, layout.open_cohort(1)};
}

void draw_cohort(const double* p, int n, int animals, std::int32_t& seed, int* counts) {
  if (n < 1 || n > MXCLAS) return;
  std::vector<double> cumprb(static_cast<std::size_t>(n) + 1);
  cumprb[0] = 0.0;
  for (int c = 1; c <= n; ++c) {
    cumprb[c] = cumprb[c - 1] + p[c - 1];
    counts[c - 1] = 0;
  }
  for (int a = 1; a <= animals; ++a) {
    const double u = static_cast<double>(ran(seed));
    int c = 1;
    while (c <= n && !(cumprb[c - 1] <= u && u < cumprb[c])) ++c;
    // A number the running sums do not reach (1.0 itself, or sums that
    // rounding or the model leave below it) is the last cell's animal.
    if (c > n) c = n;
    ++counts[c - 1];
  }
}

void draw_replicate(ModelStore& m, const DrawLayout& layout, std::int32_t& seed) {
  const int M = layout.M;
  const int F = layout.F;
  std::vector<int> NRECAP(static_cast<std::size_t>(M) + 1, 0);
  for (int i = 1; i <= M - 1; ++i) {
    const int j = F + i - 1;
    draw_cohort(m.P.column(j), m.NCLASS(j), m.NREL(j), seed, m.NOBS.column(j));
    for (int c = 1; c <= m.NCLASS(j) - 1; ++c) {
      NRECAP[static_cast<std::size_t>(i + c)] += m.NOBS(c, j);
      m.NREL(RobustLayout::closed_cohort(i + c, i + 1)) = m.NOBS(c, j);
    }
    const int first_caught = m.NREL(j) - NRECAP[static_cast<std::size_t>(i)];
    m.NREL(RobustLayout::closed_cohort(i, 1)) = first_caught < 0 ? 0 : first_caught;
  }
  for (int j = 1; j <= F - 1; ++j) {
    draw_cohort(m.P.column(j), m.NCLASS(j), m.NREL(j), seed, m.NOBS.column(j));
  }
}

}  // namespace quorvale
