#include "estimate/inital.h"

#include <span>

#include "driver/run.h"
#include "input/fields.h"

namespace quorvale {

namespace {

/// Reads the estimates of row `row` of the sequence into PAR(1..NPAR).
void read_estimates(Run& run, int row) {
  ModelStore& m = run.model;
  std::span<double> par(m.PAR.base() + 1, static_cast<std::size_t>(m.NPAR));
  if (!run.estimates.read(row, par)) run.listing.error("Attempt to read direct access file failed.");
}

/// RETAIN: starting values from an earlier model of the sequence.
void retain(Run& run) {
  static const Layout simulate_line("(/5X,A)");
  static const Layout message("(6X,A)");
  ModelStore& m = run.model;
  const SavedModels& t = run.saved;
  if (run.status.ISIMUL == 1) {
    run.listing.linchk(2);
    run.listing.put(simulate_line, {"RETAIN statement not valid for PROC SIMULATE usage."});
    return;
  }
  if (t.NMOD <= 1) {
    run.listing.put(message, {"ERROR on RETAIN statement -- No previous models to get initial values from."});
    for (int i = 1; i <= m.NPAR; ++i) m.PAR(i) = 0.5;
    return;
  }
  const Token& wanted = run.token(2) == "=" ? run.token(3) : run.token(2);
  const std::string name = std::string(wanted.view()) + std::string(10, ' ');
  int found = 0;
  for (int i = 1; i <= t.NMOD - 1; ++i) {
    if (t.NAMSAV(i) == name) found = i;
  }
  if (found == 0) {
    run.listing.put(message, {"ERROR ON RETAIN STATEMENT -- PREVIOUS MODEL NAMED WAS NOT FOUND."});
    run.listing.put(message, {"MODEL ESTIMATES FROM LAST MODEL WILL BE USED"});
    found = t.NMOD - 1;
  }
  read_estimates(run, found);
}

}  // namespace

void inital(Run& run) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  for (;;) {
    run.reader.getcmd();
    const Token& first = run.token(1);
    if (first == "ALL") {
      run.status.ECHOLV = 3;
      const double v = value(run.token(3).view(), lst);
      for (int i = 1; i <= m.NPAR; ++i) m.PAR(i) = v;
    } else if (first.first() == 'S') {
      run.status.ECHOLV = 3;
      const int i = nparm(first.view(), lst);
      if (i < 1 || i > m.NPAR || m.POINT(i) < 1) {
        lst.error("Attempt to assign value to fixed parameter or bad index.");
      }
      m.PAR(m.POINT(i)) = value(run.token(3).view(), lst);
    } else if (first == "RETAIN") {
      retain(run);
    } else if (first == "PROC" || first == "CONSTRAINT") {
      return;
    } else {
      lst.error("Unrecognized command after PROC ESTIMATE.");
    }
  }
}

}  // namespace quorvale
