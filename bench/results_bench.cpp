// The cost of the result files: the bundled example's whole run in-process,
// listing only, then with json= and csv= (written to a temporary folder).
// The ratio of the two is the share the result files add.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pelmar.h"

namespace {

namespace fs = std::filesystem;

void run_example(benchmark::State& state, bool result_files) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_results_bench";
  fs::create_directories(dir);
  const std::string commands = std::string(QUORVALE_SOURCE_DIR) + "/examples/robust-example.cmd";
  std::vector<std::string> words = {"i=" + commands, "l=" + (dir / "run.lst").string()};
  if (result_files) {
    words.push_back("json=" + (dir / "run.json").string());
    words.push_back("csv=" + (dir / "tables").string());
  }
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    if (quorvale::pelmar({in, out, err}, &words) != 0) state.SkipWithError("the run failed");
  }
  fs::remove_all(dir);
}

void BM_BundledExampleListingOnly(benchmark::State& state) { run_example(state, false); }
BENCHMARK(BM_BundledExampleListingOnly)->Unit(benchmark::kMillisecond);

void BM_BundledExampleWithJsonAndCsv(benchmark::State& state) { run_example(state, true); }
BENCHMARK(BM_BundledExampleWithJsonAndCsv)->Unit(benchmark::kMillisecond);

}  // namespace
