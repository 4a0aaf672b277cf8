#pragma once
// Rosenbrock's function in n variables and its gradient, written out: a
// minimiser's classic test, with its minimum 0 at (1, ..., 1).

namespace quorvale::testing {

/// f(x) = sum over i of 100 (x[i+1] - x[i]^2)^2 + (1 - x[i])^2.
inline double rosenbrock(int n, const double* x) {
  double f = 0.0;
  for (int i = 0; i + 1 < n; ++i) {
    const double a = x[i + 1] - x[i] * x[i];
    const double b = 1.0 - x[i];
    f += 100.0 * a * a + b * b;
  }
  return f;
}

/// Its gradient into g.
inline void rosenbrock_gradient(int n, const double* x, double* g) {
  for (int i = 0; i < n; ++i) g[i] = 0.0;
  for (int i = 0; i + 1 < n; ++i) {
    const double a = x[i + 1] - x[i] * x[i];
    g[i] += -400.0 * a * x[i] - 2.0 * (1.0 - x[i]);
    g[i + 1] += 200.0 * a;
  }
}

}  // namespace quorvale::testing
