// Feeds arbitrary bytes to quorvale-merge as a shard's results, beside a
// sound shard of the same run: any crash, hang or sanitizer report is a
// finding; a refusal (exit 1) is the expected answer to most inputs.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/merge.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/quorvale-merge-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Two shards of one document: the input is shard 1, and a second name for
  // the same bytes stands in for shard 2, so the checks between shards run too.
  {
    std::ofstream shard("shard.json", std::ios::binary | std::ios::trunc);
    shard.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::ostringstream out;
  std::ostringstream err;
  quorvale::merge_main({"shard.json"}, out, err);
  quorvale::merge_main({"shard.json", "./shard.json"}, out, err);
  return 0;
}
