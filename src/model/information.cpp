// The expected information from exact cell derivatives, cohort by cohort.

#include "model/information.h"

#include <algorithm>
#include <cassert>
#include <vector>

#include "base/packed.h"
#include "model/cell_derivatives.h"
#include "model/gradient.h"

namespace quorvale {

EstResult exact_information(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                            ParameterScale scale, Mat1<double>& P, std::vector<double>& VC) {
  CellDerivatives D;
  const EstResult r = est_core_derivatives(store, design, x, scale, P, D);
  if (r.status != EstStatus::Ok) return r;
  const int nest = store.NEST;
  VC.assign(static_cast<std::size_t>(nest) * static_cast<std::size_t>(nest + 1) / 2, 0.0);

  // The working values the map reads: slots 1..NEST from x, the rest from the store.
  const std::vector<double> par = working_values(store, x);

  // Each parameter's slots and factors, once.
  std::vector<MapTerms> terms(static_cast<std::size_t>(store.NPAR) + 1);
  for (int I = 1; I <= store.NPAR; ++I) terms[static_cast<std::size_t>(I)] = map_terms(store, par.data(), I, scale);

  std::vector<int> slots;
  std::vector<double> by_slot;
  for (int c = 1; c <= store.NCOHRT; ++c) {
    const CellBlock& b = D.cohort(c);
    const int n = b.cells;
    // The cohort's derivatives by the slots its parameters read (through
    // the map and, on the working scale, the transform), parameters sharing
    // a slot added together.
    slots.clear();
    for (int I : b.parameters) {
      const MapTerms& t = terms[static_cast<std::size_t>(I)];
      for (int j = 0; j < t.count; ++j)
        if (std::find(slots.begin(), slots.end(), t.terms[j].slot) == slots.end()) slots.push_back(t.terms[j].slot);
    }
    std::sort(slots.begin(), slots.end());
    by_slot.assign(slots.size() * static_cast<std::size_t>(n), 0.0);
    for (std::size_t k = 0; k < b.parameters.size(); ++k) {
      const MapTerms& t = terms[static_cast<std::size_t>(b.parameters[k])];
      for (int j = 0; j < t.count; ++j) {
        const std::size_t col =
            static_cast<std::size_t>(std::lower_bound(slots.begin(), slots.end(), t.terms[j].slot) - slots.begin());
        for (int h = 0; h < n; ++h)
          by_slot[col * static_cast<std::size_t>(n) + static_cast<std::size_t>(h)] +=
              b.at(h, static_cast<int>(k)) * t.terms[j].factor;
      }
    }
    const double* p = P.column(c);
    const double released = static_cast<double>(store.NREL(c));
    for (std::size_t a = 0; a < slots.size(); ++a) {
      const double* da = by_slot.data() + a * static_cast<std::size_t>(n);
      for (std::size_t e = 0; e <= a; ++e) {
        const double* de = by_slot.data() + e * static_cast<std::size_t>(n);
        double cohort = 0.0;
        for (int h = 0; h < n; ++h)
          if (p[h] > 0.0) cohort += da[h] * de[h] / p[h];
        VC[packed_index(slots[a], slots[e])] += released * cohort;
      }
    }
  }
  return r;
}

}  // namespace quorvale
