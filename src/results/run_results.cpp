#include "results/run_results.h"

namespace quorvale {

const AdjustedErrors* RunResults::adjusted_errors(std::size_t f) const {
  for (const ModelComparison& c : tests) {
    for (const AdjustedErrors& a : c.adjusted) {
      if (a.fit == f) return &a;
    }
  }
  return nullptr;
}

}  // namespace quorvale
