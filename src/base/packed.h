#pragma once
// Packed symmetric storage: the lower triangle row by row, element (i, j),
// j <= i, 1-based, at position i(i-1)/2 + j; the diagonal of row i is the
// last of that row, at i(i+1)/2.

#include <cstddef>

namespace quorvale {

/// 0-based offset of element (i, j), 1-based with j <= i, in packed storage.
constexpr std::size_t packed_index(int i, int j) {
  return static_cast<std::size_t>(i) * static_cast<std::size_t>(i - 1) / 2 +
         static_cast<std::size_t>(j) - 1;
}

}  // namespace quorvale
