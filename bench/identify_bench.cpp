// PROC IDENTIFIABLE on the design of 10 primary periods of 5 occasions
// (55 closed cohorts of 64 cells, 9 open cohorts, NPAR = 126): the baseline
// and both pair scans, 1 + 126 * 125 = 15751 likelihood evaluations with
// their trace lines, written to a listing kept in memory.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <sstream>

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
    int c = 0;
    for (int ip = 1; ip <= M; ++ip)
      for (int jp = 1; jp <= ip; ++jp) m.NCLASS(++c) = 1 << kk;
    for (int i = 1; i < M; ++i) m.NCLASS(++c) = M - i + 1;
    m.NCOHRT = c;
    for (int cc = 1; cc <= c; ++cc)
      for (int h = 1; h <= m.NCLASS(cc); ++h) m.NOBS(h, cc) = static_cast<int>(rng() % 50);
    m.NPAR = M * (2 * kk - 1) + 4 * M - 4;
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
