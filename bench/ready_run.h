#pragma once
// Pieces the fit benchmarks share: processor time, the likelihood
// evaluations a listing records, and a run with its model read.

#include <ctime>
#include <sstream>
#include <string>

#include "driver/run.h"
#include "model/model.h"

namespace quorvale::bench {

/// Processor time of this process in seconds (the machine may be shared).
inline double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

/// Counts the likelihood evaluations of a listing (one trace line each).
inline long evaluations(const std::string& listing) {
  long n = 0;
  for (std::size_t at = listing.find("nper,majper="); at != std::string::npos;
       at = listing.find("nper,majper=", at + 1))
    ++n;
  return n;
}

/// A run with the model of `commands` read and its PROC ESTIMATE statement current.
struct ReadyRun {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  Run run;
  explicit ReadyRun(const std::string& commands) : in(commands), run(in, out, err) {
    run.reader.fillsg();
    run.reader.getcmd();
    model(run);
  }
};

}  // namespace quorvale::bench
