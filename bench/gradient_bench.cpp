// The exact gradient against difference gradients (gradient_designs.h).
//
// Fits: a whole PROC ESTIMATE (set-up, optimizer, information matrix,
// results and goodness of fit) on 10 and 20 primary periods of 5 occasions
// (NPAR 126 and 256), with the full structure PHI(T) P(T*O) C(P)
// GAMMA(MARKOV,T) and the reduced PHI(.) P(T) C(P) GAMMA(RANDOM,.), each as
// it is and with GRADIENT=EXACT. Counters: the evaluations the listing
// reports (an exact gradient counts as one), the processor time of the
// least costly iteration (cpu_ms) and of the fit alone, set-up and
// optimizer (fit_cpu_ms, least of three), the optimizer's code and the
// final function value (the two forms of a fit should reach the same one).
//
// Simulation: the bundled example's 12 models refitted to replicates drawn
// from model 12's structure, PROC SIMULATE ... COVERAGE on one thread, as it
// is and with GRADIENT=EXACT (which every submodel takes). Counters:
// replicates per second of processor time and likelihood evaluations (trace
// lines) per replicate.
//
// tools/exact-gradient-speed.sh times the same command files as whole runs
// of the program and checks that the two forms reach the same optima.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "gradient_designs.h"
#include "ready_run.h"
#include "estimate/estmat.h"
#include "model/model.h"
#include "simulate/rdsimlte.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using bench::cpu_seconds;
using bench::ReadyRun;

const char* gradient_option(bool exact) { return exact ? " GRADIENT=EXACT" : ""; }

/// One whole PROC ESTIMATE of `structure` on M periods of kk occasions per iteration.
void gradient_fit(benchmark::State& state, int M, int kk, const char* structure, bool exact) {
  const std::string text = bench::fit_commands(M, kk, structure, gradient_option(exact));
  double least = 1e30;
  FitReport report;
  for (auto _ : state) {
    state.PauseTiming();
    ReadyRun r(text);
    state.ResumeTiming();
    const double t0 = cpu_seconds();
    const std::optional<FitReport> fitted = estmat(r.run, EstimateMode::Full);
    r.run.listing.flush();
    const double t1 = cpu_seconds();
    state.PauseTiming();
    least = std::min(least, t1 - t0);
    if (!fitted || fitted->exact_gradient != exact) {
      state.SkipWithError("the fit did not take the gradient asked for");
      break;
    }
    if (r.out.str().find("impossible point") != std::string::npos) {
      state.SkipWithError("the fit rests on an impossible point");
      break;
    }
    report = *fitted;
    state.ResumeTiming();
  }
  // The fit alone (set-up and optimizer to the optimum), without the
  // information matrix, results and listing every fit shares.
  double fit_least = 1e30;
  for (int i = 0; i < 3; ++i) {
    ReadyRun r(text);
    const double t0 = cpu_seconds();
    fit_model(r.run, EstimateMode::Full);
    fit_least = std::min(fit_least, cpu_seconds() - t0);
  }
  state.counters["evaluations"] = report.evaluations;
  state.counters["cpu_ms"] = least * 1e3;
  state.counters["fit_cpu_ms"] = fit_least * 1e3;
  state.counters["optimizer_code"] = static_cast<double>(code_number(report.optimizer));
  state.counters["function_value"] = report.function_value;
}

const char* const kFull = bench::kFullStructure;
const char* const kReduced = bench::kReducedStructure;

BENCHMARK_CAPTURE(gradient_fit, periods10_occasions5_full_difference, 10, 5, kFull, false)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods10_occasions5_full_exact, 10, 5, kFull, true)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods10_occasions5_reduced_difference, 10, 5, kReduced, false)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods10_occasions5_reduced_exact, 10, 5, kReduced, true)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods20_occasions5_full_difference, 20, 5, kFull, false)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods20_occasions5_full_exact, 20, 5, kFull, true)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods20_occasions5_reduced_difference, 20, 5, kReduced, false)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(gradient_fit, periods20_occasions5_reduced_exact, 20, 5, kReduced, true)
    ->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr int kReplicates = 50;

/// One PROC SIMULATE of kReplicates replicates and 12 submodels on one thread per iteration.
void gradient_simulate(benchmark::State& state, bool exact) {
  std::ifstream in(std::string(QUORVALE_SOURCE_DIR) + "/examples/robust-example.cmd");
  std::stringstream example;
  example << in.rdbuf();
  const std::string text = bench::simulation_commands(example.str(), kReplicates, gradient_option(exact));
  double least = 1e30;
  long evaluations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    testing::StringRun r(text);
    r.start();
    model(r.run);
    state.ResumeTiming();
    const double t0 = cpu_seconds();
    const SimulationTotals totals = simlte(r.run, r.run.simfile, SimulationSettings{false, 1});
    const double t1 = cpu_seconds();
    state.PauseTiming();
    least = std::min(least, t1 - t0);
    const std::string listing = r.listing();
    if (totals.NSUB != 12 || listing.find("B I A S   A N D   C O V E R A G E") == std::string::npos) {
      state.SkipWithError("not the 12 submodels of the example with their coverage block");
      break;
    }
    evaluations = bench::evaluations(listing);
    state.ResumeTiming();
  }
  state.counters["replicates_per_second"] = kReplicates / least;
  state.counters["evaluations_per_replicate"] = static_cast<double>(evaluations) / kReplicates;
}

BENCHMARK_CAPTURE(gradient_simulate, example_12_submodels_difference, false)
    ->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(gradient_simulate, example_12_submodels_exact, true)
    ->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace quorvale
