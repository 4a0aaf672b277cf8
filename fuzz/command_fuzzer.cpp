// Feeds arbitrary bytes to the program as its command input and runs it to
// the end: any crash, hang or sanitizer report is a finding. The last byte
// of the input chooses whether the run also writes the result files
// (json=, csv= and report=, with threads=1), and the next bit whether every
// fit takes the exact gradient (gradient=exact), so every kind of run stays
// covered by one corpus, and names and labels holding any bytes reach the
// JSON, CSV and page writers.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pelmar.h"

namespace {

/// The commands with every path kept inside the scratch folder. Commands can
/// name files to write (AICSAVE =, PARFILE =), and the fuzzer may run as
/// root: a name must not reach out of the folder. Every '/' becomes '_'
/// unless it belongs to a comment marker ("/*" or "*/"): a word cannot start
/// with "/*" (that starts a comment), so no name is absolute, and a '/' kept
/// after '*' only leads into a folder of the scratch folder. The second of
/// two dots in a row becomes '_', so no name holds "..". The input is
/// otherwise as given.
std::string confined(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (c == '/') {
      const bool opens = k + 1 < text.size() && text[k + 1] == '*';
      const bool closes = k > 0 && text[k - 1] == '*';
      if (!opens && !closes) text[k] = '_';
    } else if (c == '.' && k > 0 && text[k - 1] == '.') {
      text[k] = '_';
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Procedures may write files named in the commands: keep them in a
  // scratch folder of their own.
  char dir[] = "/tmp/quorvale-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(confined(data, size));
  std::ostringstream out;
  std::ostringstream err;
  // No input file named: the commands come from `in` either way.
  std::vector<std::string> words;
  if (size > 0 && (data[size - 1] & 1) != 0) {
    words = {"json=results.json", "csv=tables", "report=report.html", "threads=1"};
  }
  // The next bit fits every model with the exact gradient.
  if (size > 0 && (data[size - 1] & 2) != 0) words.push_back("gradient=exact");
  quorvale::Clock clock([] { return std::tm{}; });
  quorvale::pelmar({in, out, err}, &words, clock);
  return 0;
}
