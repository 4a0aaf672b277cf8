#pragma once
// Parameter values: S(I) as the rest of the program sees it, from the
// optimizer's working vector through the parameter map and the bounding
// transform.

#include "model/store.h"

namespace quorvale {

class Listing;

/// Maps a working value into [0, 1]: 0.5*sin(x) + 0.5 (sine), or the fractional part of |x| (ABS).
double unit_map(double x, bool sine);

/// S(I) with working values par[k] = PAR(k) and the map, bounds and mode of the store; 1 <= I <= NPAR.
double ss_value(const ModelStore& store, const double* par, int I);

/// S(I) of the store; I > NPAR writes the "I= NPAR=" line and ends the run with a fatal error.
double ss(const ModelStore& store, Listing& listing, int I);

/// Writes the "I= NPAR=" line and raises the fatal error of a parameter number above NPAR.
[[noreturn]] void ss_beyond_npar(Listing& listing, int I, int NPAR);

}  // namespace quorvale
