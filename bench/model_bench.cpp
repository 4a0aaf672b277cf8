// Reading a PROC MODEL of the largest size the limits allow: 1200 cohorts of
// 64 cells each, every statement echoed and traced into the listing.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "driver/pelmar.h"

namespace {

std::string largest_model() {
  std::string text = "PROC MODEL NPAR=6;\n";
  for (int c = 0; c < 1200; ++c) {
    text += " COHORT=6400;\n";
    for (int k = 0; k < 64; ++k) text += "  100 : S(1)*(1-S(2))*S(3);\n";
  }
  return text + "PROC STOP;\n";
}

void BM_ReadLargestModel(benchmark::State& state) {
  const std::string commands = largest_model();
  std::vector<std::string> words;  // commands come from the input stream
  for (auto _ : state) {
    std::istringstream in(commands);
    std::ostringstream out;
    std::ostringstream err;
    int status = quorvale::pelmar({in, out, err}, &words);
    if (status != 0) state.SkipWithError("the run failed");
    benchmark::DoNotOptimize(out.str().size());
  }
  state.counters["statements"] = 1200.0 * 65.0 + 2.0;
}
BENCHMARK(BM_ReadLargestModel)->Unit(benchmark::kMillisecond);

}  // namespace
