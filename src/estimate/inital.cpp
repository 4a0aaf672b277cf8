#include "estimate/inital.h"

#include <vector>

#include "estimate/context.h"
#include "input/fields.h"
#include "model/linear_form.h"

namespace quorvale {

namespace {

/// Sets the start of every slot that is not a fixed parameter's constant.
/// Before any CONSTRAINT block every slot is its parameter's own, so this
/// is every position 1..NPAR; after one, the constants keep their values.
void set_free_slots(ModelStore& m, double v) {
  std::vector<bool> constant(static_cast<std::size_t>(m.NPAR) + 1, false);
  for (int i = 1; i <= m.NPAR; ++i) {
    if (m.POINT(i) < 0 && -m.POINT(i) <= m.NPAR) constant[static_cast<std::size_t>(-m.POINT(i))] = true;
  }
  for (int k = 1; k <= m.NPAR; ++k) {
    if (!constant[static_cast<std::size_t>(k)]) m.PAR(k) = v;
  }
}

/// Starts every free parameter from the estimates of row `row` of the
/// sequence: the slot of a group of equal parameters takes the estimate of
/// its lowest-numbered member; fixed constants keep their values.
void read_estimates(FitContext& run, int row) {
  ModelStore& m = run.model;
  std::vector<double> S(static_cast<std::size_t>(m.NPAR));
  if (!run.estimates.read(row, S)) run.listing.error("Attempt to read direct access file failed.");
  for (int i = m.NPAR; i >= 1; --i) {
    if (m.POINT(i) > 0) m.PAR(m.POINT(i)) = S[static_cast<std::size_t>(i - 1)];
  }
}

/// RETAIN: starting values from an earlier model of the sequence.
void retain(FitContext& run, SetupUse use) {
  static const Layout simulate_line("(/5X,A)");
  static const Layout message("(6X,A)");
  ModelStore& m = run.model;
  const SavedModels& t = run.saved;
  if (use == SetupUse::Simulation) {
    run.listing.linchk(2);
    run.listing.put(simulate_line, {"RETAIN statement not valid for PROC SIMULATE usage."});
    return;
  }
  if (t.NMOD <= 1) {
    run.listing.put(message, {"ERROR on RETAIN statement -- No previous models to get initial values from."});
    set_free_slots(m, 0.5);
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

void inital(FitContext& run, SetupUse use) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  for (;;) {
    run.reader.getcmd();
    const Token& first = run.token(1);
    if (first == "ALL") {
      run.reader.echo_as(EchoLevel::Detail);
      set_free_slots(m, value(run.instr, 3, lst));
      run.reader.warn_left_over(3, "INITIAL");
    } else if (first == "STRUCTURE") {
      return;  // out of place here: the set-up says so
    } else if (first.first() == 'S') {
      run.reader.echo_as(EchoLevel::Detail);
      const int i = nparm(first.view(), lst);
      if (i < 1 || i > m.NPAR || m.POINT(i) < 1) {
        lst.error("Attempt to assign value to fixed parameter or bad index.");
      }
      m.PAR(m.POINT(i)) = value(run.instr, 3, lst);
      run.reader.warn_left_over(3, "INITIAL");
    } else if (first == "RETAIN") {
      retain(run, use);
      run.reader.warn_left_over(run.token(2) == "=" ? 3 : 2, "INITIAL");
    } else if (first == "PROC" || first == "CONSTRAINT") {
      return;
    } else if (first == "COVARIATE") {
      lst.error(covariate_outside_model());
    } else {
      lst.error("Unrecognized command after PROC ESTIMATE.");
    }
  }
}

}  // namespace quorvale
