// The exact gradient of F through the cells, the map and the transform.

#include "model/gradient.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

#include "model/adjoint.h"

namespace quorvale {

namespace {

/// Derivative of unit_map at x: 0.5 cos(x) (sine), or the slope of the
/// fractional part of |x|, the sign of x (from the right at 0).
double unit_map_slope(double x, bool sine) {
  if (sine) return 0.5 * std::cos(x);
  return x < 0.0 ? -1.0 : 1.0;
}

}  // namespace

MapTerms map_terms(const ModelStore& store, const double* par, int I, ParameterScale scale) {
  MapTerms out;
  const int nest = store.NEST;
  const auto add = [&out, nest](int slot, double v) {
    if (slot >= 1 && slot <= nest) out.terms[out.count++] = {slot, v};
  };
  const int k = store.POINT(I);
  if (k < 0) {
    add(-k, 1.0);  // a fixed parameter is its slot's value, on either scale
    return out;
  }
  if (scale == ParameterScale::Natural) {
    add(k, 1.0);
    return out;
  }
  // S = lo + (hi - lo) u(par[k]), lo and hi constants or u of another slot.
  const bool sine = store.ISINE == 1;
  const int jl = store.POINTL(I);
  const int ju = store.POINTU(I);
  const double lo = jl > 0 ? unit_map(par[jl], sine) : store.PARL(k);
  const double hi = ju > 0 ? unit_map(par[ju], sine) : store.PARU(k);
  const double u = unit_map(par[k], sine);
  add(k, (hi - lo) * unit_map_slope(par[k], sine));
  if (jl > 0) add(jl, (1.0 - u) * unit_map_slope(par[jl], sine));
  if (ju > 0) add(ju, u * unit_map_slope(par[ju], sine));
  return out;
}

namespace {

/// Adds g dS(I)/dPAR(k) to grad[k - 1] for every estimated slot k that
/// S(I) = ss_value(store, par, I, scale) reads.
void add_through_map(const ModelStore& store, const double* par, int I, ParameterScale scale, double g,
                     std::span<double> grad) {
  const MapTerms t = map_terms(store, par, I, scale);
  for (int j = 0; j < t.count; ++j) grad[static_cast<std::size_t>(t.terms[j].slot - 1)] += g * t.terms[j].factor;
}

}  // namespace

EstResult est_gradient(const ModelStore& store, const RdDesign& design, std::span<const double> x, ParameterScale scale,
                       Mat1<double>& P, std::span<double> grad) {
  const EstResult r = est_core(store, design, x, scale, P);
  if (r.status == EstStatus::Ok) gradient_from_cells(store, design, x, scale, P, grad);
  return r;
}

void gradient_from_cells(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                         ParameterScale scale, const Mat1<double>& P, std::span<double> grad) {
  const int npar = store.NPAR;
  const int nest = store.NEST;
  assert(static_cast<int>(grad.size()) >= nest);
  const std::vector<double> par = working_values(store, x);
  std::vector<double> by_parameter;
  likelihood_adjoint(store, design.layout, par, scale, P, by_parameter);

  // Through the map and the transform to the working slots.
  std::fill_n(grad.begin(), nest, 0.0);
  for (int I = 1; I <= npar; ++I) {
    const double g = by_parameter[static_cast<std::size_t>(I)];
    if (g != 0.0) add_through_map(store, par.data(), I, scale, g, grad);
  }
}


void linear_gradient(const LinearDesign& design, std::span<const double> beta, std::span<const double> slot_grad,
                     std::span<double> beta_grad) {
  const int K = design.coefficients();
  std::vector<double> v(static_cast<std::size_t>(design.slots));
  design.probabilities(beta, v);
  std::fill_n(beta_grad.begin(), K, 0.0);
  for (int s = 1; s <= design.slots; ++s) {
    const double vs = v[static_cast<std::size_t>(s - 1)];
    // d logit^-1(eta) / d eta = v (1 - v).
    const double g = slot_grad[static_cast<std::size_t>(s - 1)] * vs * (1.0 - vs);
    for (int k = 0; k < K; ++k) beta_grad[static_cast<std::size_t>(k)] += g * design.at(s, k);
  }
}

}  // namespace quorvale
