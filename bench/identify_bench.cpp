// PROC IDENTIFIABLE on the design of 10 primary periods of 5 occasions
// (55 closed cohorts of 64 cells, 9 open cohorts, NPAR = 126): the baseline
// and both pair scans, 1 + 126 * 125 = 15751 likelihood evaluations with
// their trace lines, written to a listing kept in memory.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <sstream>

#include "designs.h"
#include "driver/run.h"
#include "identify/identf.h"

namespace quorvale {
namespace {

/// A run positioned on PROC IDENTIFIABLE with the model of M periods of kk occasions in its store.
struct Setup {
  std::istringstream in{"PROC IDENTIFIABLE;\nPROC STOP;\n"};
  std::ostringstream out;
  std::ostringstream err;
  std::unique_ptr<Run> run = std::make_unique<Run>(in, out, err);

  Setup(int M, int kk) {
    std::mt19937_64 rng(1234);
    ModelStore& m = run->model;
    bench::robust_design(m, M, kk);
    bench::random_counts(m, rng);
    m.NSIG = 5;
    m.MODDEF = 1;
    run->reader.fillsg();
    run->reader.getcmd();
  }
};

/// The whole procedure: options, map reset, table, baseline and both scans.
void identify(benchmark::State& state, int M, int kk) {
  for (auto _ : state) {
    state.PauseTiming();
    Setup s(M, kk);
    state.ResumeTiming();
    identf(*s.run);
    benchmark::DoNotOptimize(s.run->model.P(1, 1));
  }
}

BENCHMARK_CAPTURE(identify, periods10_occasions5, 10, 5)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace quorvale
