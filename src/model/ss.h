#pragma once
// Parameter values: S(I) as the rest of the program sees it, from the
// optimizer's working vector through the parameter map and the bounding
// transform.

#include "model/store.h"

namespace quorvale {

class Listing;

/// How the values PAR holds for the estimated slots are read. On the working
/// scale they are what the optimizer moves, mapped into their bounds by the
/// transform; on the natural scale they are the parameters themselves (the
/// start values of a fit with TRANSFORM=NO, and the estimates once fitted).
/// A parameter fixed at a constant is that constant on either scale.
enum class ParameterScale { Working, Natural };

/// The scale a fit's start values and objective are on, as the TRANSFORM
/// option read into the store chose it: Natural for TRANSFORM=NO.
ParameterScale transform_scale(const ModelStore& store);

/// Maps a working value into [0, 1]: 0.5*sin(x) + 0.5 (sine), or the fractional part of |x| (ABS).
double unit_map(double x, bool sine);

/// S(I) with values par[k] = PAR(k) on `scale` and the map, bounds and
/// transform of the store; 1 <= I <= NPAR.
double ss_value(const ModelStore& store, const double* par, int I, ParameterScale scale);

/// S(I) of the store's PAR on `scale`; I > NPAR writes the "I= NPAR=" line
/// and ends the run with a fatal error.
double ss(const ModelStore& store, Listing& listing, int I, ParameterScale scale);

/// Writes the "I= NPAR=" line and raises the fatal error of a parameter number above NPAR.
[[noreturn]] void ss_beyond_npar(Listing& listing, int I, int NPAR);

}  // namespace quorvale
