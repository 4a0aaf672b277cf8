#include "results/run_results.h"

#include "model/likelihood.h"
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
  d.groups = m.group_names;
  const RdDesign design = laid_out(m);
  if (design.status != EstStatus::Ok) return d;
  const RobustLayout& L = design.layout;
  const auto cohort = [&d](int c) -> CohortData& { return d.cohorts[static_cast<std::size_t>(c - 1)]; };
  for (int ip = 1; ip <= L.periods(); ++ip) {
    d.occasions.push_back(L.occasions(ip));
    int first = 0;
    for (int g = 1; g <= L.groups(); ++g) first += m.NREL(L.closed_cohort(ip, 1, g));
    d.first_caught.push_back(first);
  }
  for (int g = 1; g <= L.groups(); ++g) {
    for (int ip = 1; ip <= L.periods(); ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        CohortData& c = cohort(L.closed_cohort(ip, jp, g));
        c.kind = "closed";
        c.period = ip;
        c.release_period = jp - 1;
        c.group = g;
      }
    }
    for (int i = 1; i < L.periods(); ++i) {
      CohortData& c = cohort(L.open_cohort(i, g));
      c.kind = "open";
      c.release_period = i;
      c.group = g;
    }
  }
  return d;
}

const AdjustedErrors* RunResults::adjusted_errors(std::size_t f) const {
  for (const ModelComparison& c : tests) {
    for (const AdjustedErrors& a : c.adjusted) {
      if (a.fit == f) return &a;
    }
  }
  return nullptr;
}

}  // namespace quorvale
