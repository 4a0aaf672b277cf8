// Feeds arbitrary bytes to the program as its command input and runs it to
// the end: any crash, hang or sanitizer report is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pelmar.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Procedures may write files named in the commands: keep them in a
  // scratch folder of their own.
  char dir[] = "/tmp/quorvale-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  std::ostringstream out;
  std::ostringstream err;
  std::vector<std::string> words;  // no parameters: commands come from `in`
  quorvale::Clock clock([] { return std::tm{}; });
  quorvale::pelmar({in, out, err}, &words, clock);
  return 0;
}
