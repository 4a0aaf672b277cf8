#include "estimate/setup.h"

#include <span>
#include <string>

#include "estimate/context.h"
#include "estimate/consrt.h"
#include "estimate/inital.h"
#include "estimate/structure.h"
#include "input/fields.h"
#include "model/likelihood.h"
#include "model/linear_form.h"

namespace quorvale {

const Token& option_value(FitContext& run, int L) {
  if (L + 2 > run.status.NTOK) {
    const std::string key(run.token(L).trimmed());
    run.listing.error("Option " + key + " needs a value (" + key + " = value).");
  }
  return run.token(L + 2);
}

int option_int(FitContext& run, int L) {
  option_value(run, L);
  return ivalue(run.instr, L + 2, run.listing);
}

double option_real(FitContext& run, int L) {
  option_value(run, L);
  return value(run.instr, L + 2, run.listing);
}

void refuse_statement_words(FitContext& run) {
  // "PROC ESTIMATE NAME=A" without its ";" would take the statement after
  // it into the name and fit without that statement.
  static constexpr std::string_view kStatementWords[] = {"STRUCTURE", "CONSTRAINT", "INITIAL", "PROC"};
  run.reader.refuse_statement_words(kStatementWords);
}

double evaluate_at_work(FitContext& run, ParameterScale scale) {
  std::span<const double> x(run.work.WORK.base() + 1, static_cast<std::size_t>(run.model.NEST));
  return est(run.model, run.listing, x, scale);
}

void read_setup_blocks(FitContext& run, SetupUse use) {
  run.work.WORK.resize(run.model.NPAR);
  run.structured.clear();
  run.structure_name.clear();
  run.model.linear.reset();
  bool constrained = false;
  bool initialized = false;
  refuse_statement_words(run);
  run.reader.getcmd();
  for (;;) {
    const Token& first = run.token(1);
    if (first == "STRUCTURE") {
      if (!run.structure_name.empty()) run.listing.error("STRUCTURE given twice for one model.");
      if (constrained) run.listing.error("STRUCTURE must come before the CONSTRAINT statements it is added to.");
      if (initialized) run.listing.error("STRUCTURE must come before the INITIAL statements, which set start values on its map.");
      structure(run);
    } else if (first == "CONSTRAINT") {
      constrained = true;
      run.reader.echo_as(EchoLevel::Statement);
      consrt(run);
    } else if (first == "INITIAL") {
      initialized = true;
      run.reader.echo_as(EchoLevel::Statement);
      inital(run, use);
    } else if (first == "PROC") {
      break;
    } else if (first == "COVARIATE") {
      run.listing.error(covariate_outside_model());
    } else {
      run.listing.error("Unrecognized command after PROC ESTIMATE.");
    }
  }
  run.reader.echo_as(EchoLevel::Proc);
}

}  // namespace quorvale
