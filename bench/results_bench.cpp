// The cost of the result files: the bundled example's whole run in-process,
// listing only, then with json= and csv=, then with the report page
// (written to a temporary folder). The ratio to the first is the share the
// files add.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pelmar.h"

namespace {

namespace fs = std::filesystem;

enum class Files { None, JsonAndCsv, Report };

void run_example(benchmark::State& state, Files files) {
  const fs::path dir = fs::temp_directory_path() / "quorvale_results_bench";
  fs::create_directories(dir);
  const std::string commands = std::string(QUORVALE_SOURCE_DIR) + "/examples/robust-example.cmd";
  std::vector<std::string> words = {"i=" + commands, "l=" + (dir / "run.lst").string()};
  if (files == Files::JsonAndCsv) {
    words.push_back("json=" + (dir / "run.json").string());
    words.push_back("csv=" + (dir / "tables").string());
  }
  if (files == Files::Report) words.push_back("report=" + (dir / "run.html").string());
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    if (quorvale::pelmar({in, out, err}, &words) != 0) state.SkipWithError("the run failed");
  }
  fs::remove_all(dir);
}

void BM_BundledExampleListingOnly(benchmark::State& state) { run_example(state, Files::None); }
BENCHMARK(BM_BundledExampleListingOnly)->Unit(benchmark::kMillisecond);

void BM_BundledExampleWithJsonAndCsv(benchmark::State& state) { run_example(state, Files::JsonAndCsv); }
BENCHMARK(BM_BundledExampleWithJsonAndCsv)->Unit(benchmark::kMillisecond);

void BM_BundledExampleWithReport(benchmark::State& state) { run_example(state, Files::Report); }
BENCHMARK(BM_BundledExampleWithReport)->Unit(benchmark::kMillisecond);

}  // namespace
