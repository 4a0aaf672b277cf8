// Cost of the minimiser on Rosenbrock's function (evaluations are cheap, so
// this measures the minimiser's own work) and of the packed inversion.

#include <benchmark/benchmark.h>

#include <vector>

#include "estimate/optimizer.h"
#include "testing/rosenbrock.h"

namespace {

/// One full minimisation from the classic start, N variables.
void BM_OptmizRosenbrock(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<double> x(static_cast<std::size_t>(n)), h(static_cast<std::size_t>(n * (n + 1) / 2)),
      g(static_cast<std::size_t>(n)), w(static_cast<std::size_t>(3 * n));
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] = i % 2 == 0 ? -1.2 : 1.0;
    double f = 0.0;
    benchmark::DoNotOptimize(quorvale::optmiz(&quorvale::testing::rosenbrock, n, 5, 20000, x, h, g, f, w));
    state.counters["evaluations"] = w[1];
  }
}
BENCHMARK(BM_OptmizRosenbrock)->Arg(2)->Arg(10)->Arg(30);

/// Inversion of a diagonally dominant packed matrix of order N.
void BM_Matinv(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<double> base(static_cast<std::size_t>(n * (n + 1) / 2));
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) base[quorvale::packed_index(i, j)] = i == j ? n + 1.0 : 1.0 / (i + j);
  std::vector<double> a(base.size());
  for (auto _ : state) {
    a = base;
    benchmark::DoNotOptimize(quorvale::matinv(a, n));
  }
}
BENCHMARK(BM_Matinv)->Arg(10)->Arg(100)->Arg(420);

}  // namespace
