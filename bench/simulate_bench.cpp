// PROC SIMULATE on the bundled example's design (three primary periods of
// 2, 3 and 2 secondary occasions, NPAR = 19): NSIM = 100 replicates drawn
// from a model with c = p, theta = 1 and no emigration, each refitted by
// three submodels. Reports the processor time per replicate, the likelihood
// evaluations per replicate and the share of the run spent in them: the
// evaluations are counted by their trace lines in the listing, and one
// evaluation is timed on the store the simulation leaves, with its trace
// line and without (the pure evaluation core).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <span>
#include <string>

#include "model/likelihood.h"
#include "model/model.h"
#include "simulate/rdsimlte.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

constexpr int kReplicates = 100;

/// The example's cohorts; only the sizes of cohorts 4, 7 and 8 survive into the replicates.
const char* const kModel =
    "PROC MODEL NPAR=19 ADDCELL;\n"
    " COHORT = 200; 76 : p; 62 : p; 62 : p;\n"
    " COHORT = 103; 14 : p; 11 : p; 14 : p; 11 : p; 18 : p; 15 : p; 20 : p;\n"
    " COHORT = 107; 13 : p; 12 : p; 14 : p; 12 : p; 19 : p; 16 : p; 21 : p;\n"
    " COHORT = 120; 40 : p; 40 : p; 40 : p;\n"
    " COHORT = 20; 6 : p; 7 : p; 7 : p;\n"
    " COHORT = 89; 29 : p; 30 : p; 30 : p;\n"
    " COHORT = 200; 107 : phi; 20 : phi;\n"
    " COHORT = 210; 89 : phi;\n";

/// theta fixed at 1 and c = p in every period.
const char* const kBase =
    " CONSTRAINT; S(17)=1; S(18)=1; S(19)=1;\n"
    "  S(3)=S(2); S(7)=S(5); S(8)=S(6); S(11)=S(10);\n";

std::string commands() {
  std::string text = kModel;
  text += "PROC SIMULATE NSIM=" + std::to_string(kReplicates) + " SEED=12345;\n";
  text += kBase;
  text += "  S(14)=0; S(15)=0; S(16)=0;\n";
  text += " INITIAL; S(1)=0.4; S(2)=0.5; S(4)=0.3; S(5)=0.4; S(6)=0.5;\n";
  text += "  S(9)=0.6; S(10)=0.5; S(12)=0.8; S(13)=0.7;\n";
  text += "PROC ESTIMATE NAME=RANDOM;\n";
  text += kBase;
  text += "  S(15)=S(14); S(16)=S(14);\n";
  text += "PROC ESTIMATE NAME=NONE;\n";
  text += kBase;
  text += "  S(14)=0; S(15)=0; S(16)=0;\n";
  text += "PROC ESTIMATE NAME=CONSTANT;\n";
  text += kBase;
  text += "  S(14)=0; S(15)=0; S(16)=0; S(2)=S(1); S(5)=S(4); S(6)=S(4);\n";
  text += "  S(10)=S(9);\n";
  text += "PROC STOP;\n";
  return text;
}

int count_lines(const std::string& text, const std::string& start) {
  int n = 0;
  for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) ++n;
  return n;
}

/// Processor seconds used so far: the machine is shared, so wall time says little.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

/// Processor seconds of one call of `f`, the least of five batches of `reps` calls.
template <typename F>
double per_call(int reps, F&& f) {
  double best = 1e30;
  for (int batch = 0; batch < 5; ++batch) {
    const double t0 = cpu_seconds();
    for (int i = 0; i < reps; ++i) f();
    best = std::min(best, (cpu_seconds() - t0) / reps);
  }
  return best;
}

void BM_Simulate100ThreeSubmodels(benchmark::State& state) {
  const std::string text = commands();
  double seconds = 0.0;
  double est_seconds = 0.0;
  double core_seconds = 0.0;
  double evaluations = 0.0;
  for (auto _ : state) {
    testing::StringRun r(text);
    r.start();
    model(r.run);
    const double t0 = cpu_seconds();
    const SimulationTotals totals = simlte(r.run, r.run.simfile);
    seconds += cpu_seconds() - t0;
    benchmark::DoNotOptimize(totals.NSUB);
    state.PauseTiming();
    const std::string listing = r.listing();
    evaluations += count_lines(listing, "\n nper,majper=");
    // The cost of one evaluation on the store the simulation leaves, with
    // its trace line into the listing and without.
    ModelStore& m = r.run.model;
    // As in the fits, the working values go through the transform.
    std::span<const double> x(m.PAR.base() + 1, static_cast<std::size_t>(m.NEST));
    const ParameterScale working = ParameterScale::Working;
    est_seconds += per_call(2000, [&] { benchmark::DoNotOptimize(est(m, r.run.listing, x, working)); });
    Mat1<double> P = m.P;
    core_seconds += per_call(2000, [&] { benchmark::DoNotOptimize(est_core(m, x, working, P).F); });
    state.ResumeTiming();
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_replicate"] = 1000.0 * seconds / runs / kReplicates;
  state.counters["evaluations_per_replicate"] = evaluations / runs / kReplicates;
  state.counters["us_per_evaluation"] = 1e6 * est_seconds / runs;
  state.counters["us_per_evaluation_core"] = 1e6 * core_seconds / runs;
  state.counters["likelihood_share"] = evaluations * (est_seconds / runs) / seconds;
  state.counters["likelihood_core_share"] = evaluations * (core_seconds / runs) / seconds;
}
BENCHMARK(BM_Simulate100ThreeSubmodels)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace quorvale
