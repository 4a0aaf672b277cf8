// PROC SIMULATE on the bundled example's design (examples/robust-example.cmd:
// five primary periods of 2, 2, 4, 5 and 2 occasions, NPAR = 41) with three
// submodels of its own (no, random and Markovian temporary emigration, with
// constant survival and capture by period), drawn from the first of them.
// Replicates per second of wall time with threads=1 and threads=2, the
// speedup, the processor time of all threads per replicate and the machine's
// core count; the two listings must be the same.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "model/model.h"
#include "simulate/rdsimlte.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

constexpr int kReplicates = 200;

/// The PROC ESTIMATE block of the example named `name`, up to the next comment.
std::string block(const std::string& text, const std::string& name) {
  const std::size_t at = text.find("PROC ESTIMATE NAME=" + name + ";");
  if (at == std::string::npos) throw std::runtime_error("no model " + name + " in the example");
  return text.substr(at, text.find("\n/*", at) + 1 - at);
}

std::string commands() {
  std::ifstream in(std::string(QUORVALE_SOURCE_DIR) + "/examples/robust-example.cmd");
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  const std::size_t model = text.find("PROC MODEL");
  const std::size_t models = text.find("/* Competing models");
  std::string out = text.substr(model, models - model);
  std::string generating = block(text, "NO-EMIG PHI(.)P(T)");
  generating.replace(0, generating.find(';') + 1,
                     "PROC SIMULATE NSIM=" + std::to_string(kReplicates) + " SEED=12345 NAME=GENERATING;");
  out += generating;
  out += " INITIAL; S(1)=0.5; S(4)=0.4; S(7)=0.3; S(14)=0.35; S(23)=0.45; S(26)=0.8;\n";
  out += block(text, "NO-EMIG PHI(.)P(T)") + block(text, "RANDOM(.) PHI(.)P(T)") + block(text, "MARKOV(.) PHI(.)P(T)");
  return out + "PROC STOP;\n";
}

/// Wall seconds of one simulation with `threads`; the processor seconds of
/// all its threads into `cpu`, its listing into `listing`.
double simulate(const std::string& text, int threads, double& cpu, std::string& listing) {
  testing::StringRun r(text);
  r.start();
  model(r.run);
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  const SimulationTotals totals = simlte(r.run, r.run.simfile, SimulationSettings{false, threads});
  cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - t0;
  benchmark::DoNotOptimize(totals.NSUB);
  listing = r.listing();
  return wall.count();
}

void BM_SimulateExampleThreads(benchmark::State& state) {
  const std::string text = commands();
  double best1 = 1e30;
  double best2 = 1e30;
  double cpu1 = 1e30;
  double cpu2 = 1e30;
  bool same = true;
  for (auto _ : state) {
    std::string one;
    std::string two;
    double c1 = 0.0;
    double c2 = 0.0;
    best1 = std::min(best1, simulate(text, 1, c1, one));
    best2 = std::min(best2, simulate(text, 2, c2, two));
    cpu1 = std::min(cpu1, c1);
    cpu2 = std::min(cpu2, c2);
    same = same && one == two && one.find("\n@@") != std::string::npos;
  }
  if (!same) state.SkipWithError("the listings of threads=1 and threads=2 differ");
  state.counters["replicates_per_s_threads1"] = kReplicates / best1;
  state.counters["replicates_per_s_threads2"] = kReplicates / best2;
  state.counters["speedup"] = best1 / best2;
  // Processor time of all threads per replicate: what the threads add in
  // copying, recording and replaying, whatever else the machine runs.
  state.counters["cpu_ms_per_replicate_threads1"] = 1000.0 * cpu1 / kReplicates;
  state.counters["cpu_ms_per_replicate_threads2"] = 1000.0 * cpu2 / kReplicates;
  state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}
BENCHMARK(BM_SimulateExampleThreads)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace quorvale
