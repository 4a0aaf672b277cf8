#include "simulate/draw.h"

#include <algorithm>
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
  return DrawLayout{layout};
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
  const RobustLayout& L = layout.layout;
  const int M = L.periods();
  std::vector<int> NRECAP(static_cast<std::size_t>(M) + 1);
  // Group after group from the one stream; a group's open part first, as
  // its counts give the sizes of the group's closed-part cohorts.
  for (int g = 1; g <= L.groups(); ++g) {
    std::fill(NRECAP.begin(), NRECAP.end(), 0);
    for (int i = 1; i <= M - 1; ++i) {
      const int j = L.open_cohort(i, g);
      draw_cohort(m.P.column(j), m.NCLASS(j), m.NREL(j), seed, m.NOBS.column(j));
      for (int c = 1; c <= m.NCLASS(j) - 1; ++c) {
        NRECAP[static_cast<std::size_t>(i + c)] += m.NOBS(c, j);
        m.NREL(L.closed_cohort(i + c, i + 1, g)) = m.NOBS(c, j);
      }
      const int first_caught = m.NREL(j) - NRECAP[static_cast<std::size_t>(i)];
      m.NREL(L.closed_cohort(i, 1, g)) = first_caught < 0 ? 0 : first_caught;
    }
    for (int ip = 1; ip <= M; ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        const int j = L.closed_cohort(ip, jp, g);
        draw_cohort(m.P.column(j), m.NCLASS(j), m.NREL(j), seed, m.NOBS.column(j));
      }
    }
  }
}

}  // namespace quorvale
