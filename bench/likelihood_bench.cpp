// One likelihood evaluation, the production core (reading the design from
// the cohorts, and in the design kept with the model) against the literal
// evaluation, on two designs: 10 primary periods of 5 occasions (64-cell
// closed cohorts, 55 closed + 9 open = 64 cohorts, NPAR = 126) and 40
// periods of 2 occasions (820 + 39 = 859 cohorts, NPAR = 276).

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "designs.h"
#include "model/likelihood.h"
#include "testing/likelihood_reference.h"

namespace quorvale {
namespace {

/// A fitted-looking set-up: M periods of kk occasions, counts drawn, sine map, x drawn.
struct Setup {
  std::unique_ptr<ModelStore> store = std::make_unique<ModelStore>();
  std::vector<double> x;

  Setup(int M, int kk) {
    std::mt19937_64 rng(1234);
    ModelStore& m = *store;
    bench::robust_design(m, M, kk);
    bench::random_counts(m, rng);
    m.NEST = m.NPAR;
    m.ISINE = 1;
    m.NSIG = 5;
    std::uniform_real_distribution<double> u(-1.2, 1.2);
    for (int i = 1; i <= m.NPAR; ++i) {
      m.POINT(i) = i;
      m.PARL(i) = 0.0;
      m.PARU(i) = 1.0;
      x.push_back(u(rng));
    }
  }
};

/// The production core, cells into a table of the caller.
void core(benchmark::State& state, int M, int kk) {
  Setup s(M, kk);
  Mat1<double> P = s.store->P;
  for (auto _ : state) {
    const EstResult r = est_core(*s.store, s.x, ParameterScale::Working, P);
    benchmark::DoNotOptimize(r.F);
    benchmark::ClobberMemory();
  }
}

/// The production core in the design laid out once beforehand, as the
/// program evaluates after PROC MODEL has kept it with the model.
void kept(benchmark::State& state, int M, int kk) {
  Setup s(M, kk);
  s.store->design = rd_design(*s.store);
  Mat1<double> P = s.store->P;
  for (auto _ : state) {
    const EstResult r = est_core(*s.store, s.store->design, s.x, ParameterScale::Working, P);
    benchmark::DoNotOptimize(r.F);
    benchmark::ClobberMemory();
  }
}

/// The literal evaluation on the store.
void literal(benchmark::State& state, int M, int kk) {
  Setup s(M, kk);
  for (auto _ : state) {
    const double F = reference::est(*s.store, s.x);
    benchmark::DoNotOptimize(F);
    benchmark::ClobberMemory();
  }
}

BENCHMARK_CAPTURE(core, periods10_occasions5, 10, 5);
BENCHMARK_CAPTURE(kept, periods10_occasions5, 10, 5);
BENCHMARK_CAPTURE(literal, periods10_occasions5, 10, 5);
BENCHMARK_CAPTURE(core, periods40_occasions2, 40, 2);
BENCHMARK_CAPTURE(kept, periods40_occasions2, 40, 2);
BENCHMARK_CAPTURE(literal, periods40_occasions2, 40, 2);

}  // namespace
}  // namespace quorvale
