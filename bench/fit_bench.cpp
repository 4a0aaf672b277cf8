// A whole PROC ESTIMATE (mode 1: options, constraints, fit, derivatives,
// information matrix, results and goodness of fit) on two large designs:
// 10 primary periods of 5 occasions (NPAR 126) and 40 periods of 2
// occasions (NPAR 276). The theta parameters are fixed at 1, the last two
// gamma'' and gamma' pairs set equal, and recapture set equal to capture on
// each occasion, so that every estimated parameter is identifiable. Counters report the likelihood
// evaluations of the run and the share of its time spent inside the
// likelihood core (evaluations times the core's time per evaluation).

#include <benchmark/benchmark.h>

#include <ctime>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pelmar.h"
#include "driver/run.h"
#include "estimate/estmat.h"
#include "designs.h"
#include "ready_run.h"
#include "model/likelihood.h"
#include "model/model.h"

namespace quorvale {
namespace {

/// A command file for M periods of kk occasions with counts drawn from a
/// plausible model, and the PROC ESTIMATE that fits it.
std::string design(int M, int kk) {
  const RobustLayout L = bench::robust_layout(M, kk);
  std::string text = "PROC MODEL NPAR=" + std::to_string(L.npar()) + ";\n" + bench::cohort_statements(M, kk);
  text += "PROC ESTIMATE MAXFN=100000;\n CONSTRAINT;\n";
  for (int ip = 1; ip <= M; ++ip) {
    for (int t = 2; t <= kk; ++t) {
      text += "  S(" + std::to_string(L.c(ip, t)) + ")=S(" + std::to_string(L.p(ip, t)) + ");\n";
    }
  }
  for (int ip = 1; ip <= M; ++ip) text += "  S(" + std::to_string(L.theta(ip)) + ")=1;\n";
  text += "  S(" + std::to_string(L.gamma2(M)) + ")=S(" + std::to_string(L.gamma2(M - 1)) + ");\n";
  text += "  S(" + std::to_string(L.gamma1(M)) + ")=S(" + std::to_string(L.gamma1(M - 1)) + ");\n";
  return text + "PROC STOP;\n";
}

using bench::cpu_seconds;
using bench::evaluations;
using bench::ReadyRun;

/// Processor seconds of one evaluation of the core at the start of a fit.
double core_seconds(const std::string& commands) {
  ReadyRun r(commands);
  ModelStore& m = r.run.model;
  m.NEST = m.NPAR;
  m.NSIG = 5;
  m.ISINE = 1;
  for (int i = 1; i <= m.NPAR; ++i) {
    m.POINT(i) = i;
    m.PARL(i) = 0.0;
    m.PARU(i) = 1.0;
  }
  std::vector<double> x(static_cast<std::size_t>(m.NPAR), 0.1);
  Mat1<double> P = m.P;
  const int reps = 300;
  const double t0 = cpu_seconds();
  double sink = 0.0;
  for (int r = 0; r < reps; ++r) sink += est_core(m, x, ParameterScale::Working, P).F;
  const double t1 = cpu_seconds();
  benchmark::DoNotOptimize(sink);
  return (t1 - t0) / reps;
}

/// The fit alone (set-up, optimizer, return to the natural scale), or with
/// `results` the whole PROC ESTIMATE with its results and goodness of fit.
void fit(benchmark::State& state, int M, int kk, bool results) {
  const std::string commands = design(M, kk);
  const double per_evaluation = core_seconds(commands);
  long evals = 0;
  double seconds = 0.0;
  int code = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ReadyRun r(commands);
    const std::size_t before = r.out.str().size();
    state.ResumeTiming();
    const double t0 = cpu_seconds();
    if (results) {
      estmat(r.run, EstimateMode::Full);
    } else {
      fit_model(r.run, EstimateMode::Full);
    }
    r.run.listing.flush();
    const double t1 = cpu_seconds();
    state.PauseTiming();
    seconds = t1 - t0;
    evals = evaluations(r.out.str().substr(before));
    code = r.run.model.IEROPT;
    state.ResumeTiming();
  }
  state.counters["optimizer_code"] = code;
  state.counters["evaluations"] = static_cast<double>(evals);
  state.counters["core_us_per_eval"] = per_evaluation * 1e6;
  state.counters["cpu_ms"] = seconds * 1e3;
  state.counters["likelihood_share"] = evals * per_evaluation / seconds;
}

BENCHMARK_CAPTURE(fit, periods10_occasions5, 10, 5, false)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(fit, periods40_occasions2, 40, 2, false)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(fit, periods10_occasions5_with_results, 10, 5, true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(fit, periods40_occasions2_with_results, 40, 2, true)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quorvale
