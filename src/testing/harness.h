#pragma once
// Test helpers: a run context over string streams, and rendering of tokens.

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "listing/run_end.h"

namespace quorvale::testing {

/// A fixed clock: Mon Dec  7 05:17:10 2026.
inline Clock fixed_clock() {
  return Clock([] {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_wday = 1;
    t.tm_hour = 5;
    t.tm_min = 17;
    t.tm_sec = 10;
    return t;
  });
}

/// A run whose commands come from a string and whose listing and error
/// stream are kept in strings.
struct StringRun {
  explicit StringRun(const std::string& commands)
      : in(commands), run(in, out, err, fixed_clock()) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  Run run;

  /// The listing written so far.
  std::string listing() {
    run.listing.flush();
    return out.str();
  }
  /// Reads the first statement as the driver does at start-up.
  void start() {
    run.reader.fillsg();
    run.reader.getcmd();
  }
  /// The tokens of the current statement as [T1][T2]...
  std::string tokens() const {
    std::string s;
    for (int i = 1; i <= run.status.NTOK; ++i) {
      s += "[";
      s += run.token(i).trimmed();
      s += "]";
    }
    return s;
  }
};

/// Runs `body`, which must end the run through a fatal error; returns the
/// text written to the error stream.
inline std::string expect_fatal(StringRun& r, const std::function<void()>& body) {
  try {
    body();
  } catch (const RunEnd& end) {
    return r.err.str() + "STOP " + end.stop_text;
  }
  return "(no fatal error)";
}

/// Lines of a listing that begin with `start`.
inline std::vector<std::string> lines_starting(const std::string& listing, const std::string& start) {
  std::vector<std::string> found;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(start, 0) == 0) found.push_back(line);
  }
  return found;
}

}  // namespace quorvale::testing
