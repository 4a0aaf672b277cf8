#include "estimate/structure.h"

#include <cstdio>
#include <string>
#include <vector>

#include "estimate/consrt.h"
#include "estimate/context.h"
#include "estimate/linear_fit.h"
#include "listing/layout.h"
#include "model/likelihood.h"
#include "model/structure.h"

namespace quorvale {

namespace {

/// The words of the statement after STRUCTURE as typed: a word cut into
/// several tokens is taken once, and a part split by blanks inside its
/// parentheses ("GAMMA(MARKOV, .)") is joined up again.
std::vector<std::string> statement_words(const FitContext& run) {
  std::vector<std::string> words;
  int covered = 0;  // CMD position up to which the words are taken
  int depth = 0;
  for (int i = 2; i <= run.status.NTOK; ++i) {
    const int at = run.instr.TOKPOS[static_cast<std::size_t>(i)];
    if (at <= covered) continue;
    const std::string_view w = run.instr.raw_word(i);
    covered = at + static_cast<int>(w.size()) - 1;
    if (depth > 0) {
      words.back() += w;
    } else {
      words.emplace_back(w);
    }
    for (char ch : w) depth += ch == '(' ? 1 : ch == ')' ? -1 : 0;
  }
  return words;
}

/// A label without its trailing blanks.
std::string label_of(const ModelStore& m, int i) {
  const std::string& l = m.LABEL(i);
  return l.substr(0, l.find_last_not_of(' ') + 1);
}

}  // namespace

void structure(FitContext& run) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  Structure s;
  std::vector<std::string> covariates;
  for (const Covariate& c : m.covariates) covariates.push_back(c.name);
  if (const auto message = parse_structure(statement_words(run), s, m.groups(), covariates)) lst.error(*message);
  if (m.NPAR < 1 || m.NCOHRT < 1) lst.error("STRUCTURE needs the robust design of a PROC MODEL read before it.");
  const RdDesign design = laid_out(m);
  if (design.status != EstStatus::Ok) lst.error(rd_design_message(design, m));
  if (const auto message = check_structure(s, design.layout)) lst.error(*message);

  std::vector<std::string> notes;
  const ParameterMap map = structure_map(s, design.layout, notes);
  run.structured.assign(static_cast<std::size_t>(m.NPAR) + 1, false);
  run.structure_name = structure_name(s);
  std::vector<std::string> lines;
  for (int i = 1; i <= m.NPAR; ++i) {
    const Setting& set = map[i];
    if (set.kind == Setting::Kind::Free) continue;
    run.structured[static_cast<std::size_t>(i)] = true;
    std::string statement = "S(" + std::to_string(i) + ")=";
    std::string said = label_of(m, i) + " = ";
    if (set.kind == Setting::Kind::Fixed) {
      m.PAR(i) = set.value;
      m.PARL(i) = set.value;
      m.PARU(i) = set.value;
      m.POINT(i) = -i;
      char value[32];
      std::snprintf(value, sizeof value, "%g", set.value);
      statement += value;
      said += value;
    } else {
      m.POINT(i) = set.root;
      statement += "S(" + std::to_string(set.root) + ")";
      said += label_of(m, set.root);
    }
    statement += ";";
    if (statement.size() < 16) statement.resize(16, ' ');
    lines.push_back(statement + " /* " + said + " */");
  }
  renumber_map(m);
  if (s.linear()) {
    // The forms' design on the structure's own map: a design of deficient
    // rank is the statement's fault, named here; CONSTRAINT may change the
    // map, and the fit builds the design again on the final one.
    m.linear = LinearFit{structure_forms(s, design.layout, m.group_names, m.covariates), {}, {}};
    LinearDesign check;
    if (const auto message = build_linear_design(m.linear->forms, slot_map(m), check)) lst.error(*message);
  }

  run.reader.echo_as(EchoLevel::Statement);
  run.reader.getcmd();
  static const Layout empty_line("(2X)");
  static const Layout line("(6X,A)");
  lst.linchk(2);
  lst.put(empty_line, {});
  lst.put(line, {"STRUCTURE " + run.structure_name + " sets " + std::to_string(lines.size()) + " parameters:"});
  for (const std::string& l : lines) {
    lst.linchk(1);
    lst.put(line, {l});
  }
  for (const std::string& n : notes) {
    lst.linchk(1);
    lst.put(line, {"Note: added " + n + "."});
  }
}

}  // namespace quorvale
