#include "results/run_results.h"

#include "model/store.h"

namespace quorvale {

DataSummary DataSummary::of(const ModelStore& m) {
  DataSummary d;
  for (int c = 1; c <= m.NCOHRT; ++c) {
    CohortData cohort;
    cohort.size = m.NREL(c);
    for (int k = 1; k <= m.NCLASS(c); ++k) cohort.counts.push_back(m.NOBS(k, c));
    d.cohorts.push_back(std::move(cohort));
  }
  return d;
}

}  // namespace quorvale
