// Parameter values through the parameter map and the bounding transform.

#include "model/ss.h"

#include <cmath>

#include "listing/layout.h"
#include "listing/listing.h"

namespace quorvale {

double unit_map(double x, bool sine) {
  if (sine) return 0.5 * std::sin(x) + 0.5;
  // Fractional part of |x| with the integer part truncated toward zero. The
  // truncation stays in floating point, so it is exact for every finite x
  // (from 2^52 on every double is an integer and the map gives 0); infinite
  // x gives NaN, as sin(x) does.
  const double a = std::fabs(x);
  return a - std::trunc(a);
}

ParameterScale transform_scale(const ModelStore& store) {
  return store.NOTRAN == 1 ? ParameterScale::Natural : ParameterScale::Working;
}

double ss_value(const ModelStore& store, const double* par, int I, ParameterScale scale) {
  const int k = store.POINT(I);
  if (k < 0) return par[-k];  // fixed: the constant, whatever the scale
  if (scale == ParameterScale::Natural) return par[k];
  const bool sine = store.ISINE == 1;
  // A bound taken from another slot is that slot's value through the unit
  // map alone, not through its own bounds.
  const int jl = store.POINTL(I);
  const int ju = store.POINTU(I);
  const double lo = jl > 0 ? unit_map(par[jl], sine) : store.PARL(k);
  const double hi = ju > 0 ? unit_map(par[ju], sine) : store.PARU(k);
  return lo + (hi - lo) * unit_map(par[k], sine);
}

double ss(const ModelStore& store, Listing& listing, int I, ParameterScale scale) {
  if (I > store.NPAR) ss_beyond_npar(listing, I, store.NPAR);
  return ss_value(store, store.PAR.base(), I, scale);
}

void ss_beyond_npar(Listing& listing, int I, int NPAR) {
  listing.put(Layout("(/11X,2HI=,I10,5HNPAR=,I10)"), {I, NPAR});
  listing.error("S(I) IN CELL PROBABILITY WITH I > NPAR");
}

}  // namespace quorvale
