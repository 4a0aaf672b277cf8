// What linear forms on the logit scale cost a fit: the same model fitted in
// its usual form and written as a formula spanning the same space, on the
// design of 10 primary periods of 5 occasions the fit benchmarks use (NPAR
// 126; recapture equal to capture, theta 1, the last period's gamma's tied:
// 74 estimated parameters or coefficients). PHI(1+T) spans the space of
// PHI(T), P(1+T*O) that of P(T*O); the optimizer works on the 74 slots in
// the first case and on the 74 coefficients in the others, each evaluation
// computing logit^-1(X beta) first.
//
// The counts are those expected under the model, rounded, what rounding
// leaves over put on each cohort's likeliest cell, so that no count sits on
// a cell of probability 0.
//
// Counters: the likelihood evaluations of the fit, its coordinates, the
// final function value (equal values: both forms reached the same optimum),
// the optimizer's code and the processor time of one fit. The medians over
// five repetitions compare the times; under callgrind
// (bench/linear_cost.py) the first fit of each benchmark in the process is
// the one instrumented, for instruction counts that do not depend on the
// load of the machine.

#include <benchmark/benchmark.h>

#include <ctime>
#include <set>
#include <sstream>
#include <string>

#include "designs.h"
#include "ready_run.h"
#include "driver/run.h"
#include "estimate/estmat.h"
#include "model/model.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QUORVALE_CALLGRIND_START() CALLGRIND_START_INSTRUMENTATION
#define QUORVALE_CALLGRIND_STOP() CALLGRIND_STOP_INSTRUMENTATION
#else
#define QUORVALE_CALLGRIND_START() ((void)0)
#define QUORVALE_CALLGRIND_STOP() ((void)0)
#endif

namespace quorvale {
namespace {

constexpr int kPeriods = 10;
constexpr int kOccasions = 5;

/// The command file: PROC MODEL with the robust layout STRUCTURE needs, and
/// one PROC ESTIMATE with `structure`.
std::string commands(const std::string& structure) {
  std::string text = bench::structured_model(kPeriods, kOccasions);
  text += "PROC ESTIMATE MAXFN=100000;\n STRUCTURE ";
  text += structure;
  text += ";\nPROC STOP;\n";
  return text;
}

using bench::cpu_seconds;
using bench::evaluations;
using bench::ReadyRun;

/// One fit of `structure` (set-up, optimizer, slots at the estimates) per iteration.
void linear_fit(benchmark::State& state, const std::string& structure) {
  static std::set<std::string> instrumented;  // benchmarks whose first fit callgrind has counted
  const std::string text = commands(structure);
  long evals = 0;
  double seconds = 0.0;
  double value = 0.0;
  int code = 0;
  int coordinates = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ReadyRun r(text);
    const std::size_t before = r.out.str().size();
    const bool count = instrumented.insert(structure).second;
    state.ResumeTiming();
    const double t0 = cpu_seconds();
    if (count) QUORVALE_CALLGRIND_START();
    const FitReport report = fit_model(r.run, EstimateMode::Full);
    if (count) QUORVALE_CALLGRIND_STOP();
    r.run.listing.flush();
    const double t1 = cpu_seconds();
    state.PauseTiming();
    seconds = t1 - t0;
    evals = evaluations(r.out.str().substr(before));
    value = report.function_value;
    code = r.run.model.IEROPT;
    coordinates = r.run.model.linear ? r.run.model.linear->design.coefficients() : r.run.model.NEST;
    state.ResumeTiming();
  }
  state.counters["evaluations"] = static_cast<double>(evals);
  state.counters["coordinates"] = coordinates;
  state.counters["function_value"] = value;
  state.counters["optimizer_code"] = code;
  state.counters["cpu_ms"] = seconds * 1e3;
}

BENCHMARK_CAPTURE(linear_fit, phi_T_level, std::string("PHI(T) P(T*O) C(P) GAMMA(MARKOV,T)"))
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK_CAPTURE(linear_fit, phi_1_plus_T_formula, std::string("PHI(1+T) P(T*O) C(P) GAMMA(MARKOV,T)"))
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK_CAPTURE(linear_fit, p_1_plus_T_times_O_formula, std::string("PHI(T) P(1+T*O) C(P) GAMMA(MARKOV,T)"))
    ->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(false);

}  // namespace
}  // namespace quorvale
