#include "identify/identf.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "estimate/context.h"
#include "estimate/consrt.h"
#include "estimate/estmat.h"
#include "estimate/linear_fit.h"
#include "estimate/parameter_table.h"
#include "estimate/setup.h"
#include "input/option_words.h"
#include "input/fields.h"
#include "model/likelihood.h"

namespace quorvale {

namespace {

/// Default constant added to one coordinate and subtracted from the other (0.05 in single precision).
constexpr double kDefaultAdd = static_cast<double>(0.05F);
/// Default constant multiplying one coordinate and dividing the other (1.05 in single precision).
constexpr double kDefaultMultiply = static_cast<double>(1.05F);

/// The constants of the two scans.
struct Moves {
  double add = kDefaultAdd;            ///< ADD
  double multiply = kDefaultMultiply;  ///< MULTIPLY
};

// Parameter numbers, slots and counts reach 420, more than the two-column
// fields of this procedure's lines hold; numbers that fit are written
// exactly as the fixed layouts say.

/// The options of PROC IDENTIFIABLE.
constexpr OptionSpec kIdentifyOptions[] = {{"ADD", OptionForm::Value}, {"MULTIPLY", OptionForm::Value}};

/// Reads ADD and MULTIPLY from the PROC statement.
Moves read_options(FitContext& run) {
  Moves moves;
  for (int w = 3; w <= run.status.NTOK; ++w) {
    if (run.token(w) == "ADD") {
      moves.add = option_real(run, w);
    } else if (run.token(w) == "MULTIPLY") {
      moves.multiply = option_real(run, w);
    }
  }
  run.reader.warn_unknown_options(scan_options(run.instr, run.status.NTOK, kIdentifyOptions), "PROC IDENTIFIABLE");
  return moves;
}

/// Writes a line whose one item is an integer at the end of `layout` (an I2 field).
void count_line(Listing& lst, const Layout& layout, int v) {
  if (fits_field(v, 2)) {
    lst.put(layout, {v});
    return;
  }
  const std::string& text = layout.text();  // ends in ",I2)"
  std::string wide = text.substr(0, text.size() - 3);
  wide += int_field(v, 2);
  wide += ")";
  lst.put(Layout(wide), {v});
}

/// Prints the counts of parameters and the two constants.
void print_header(FitContext& run, const Moves& moves) {
  static const Layout in_model("(/6X,33HNumber of parameters in model  = ,I2)");
  static const Layout set_equal("(/6X,33HNumber of parameters set equal = ,I2)");
  static const Layout fixed("(/6X,33HNumber of parameters fixed     = ,I2)");
  static const Layout estimated("(/6X,33HNumber of parameters estimated = ,I2)");
  static const Layout added("(/6X,33HConstant added or subtracted   = ,F6.4)");
  static const Layout multiplied("(/6X,33HConstant multiplied or divided = ,F6.4)");
  const ModelStore& m = run.model;
  Listing& lst = run.listing;
  lst.linchk(12);
  count_line(lst, in_model, m.NPAR);
  count_line(lst, set_equal, m.NEQUAL);
  count_line(lst, fixed, m.NFIXED);
  count_line(lst, estimated, m.NEST);
  lst.put(added, {moves.add});
  lst.put(multiplied, {moves.multiply});
}

/// The baseline evaluation and the two pair scans over the estimated
/// coordinates 1..NEST, each followed by its verdict line.
IdentifiabilityScan scan_estimated(FitContext& run, const Moves& moves) {
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  // Only the estimated coordinates reach the cells: a slot above NEST holds
  // a fixed constant (or nothing), and moving it would show a change of 0
  // that says nothing about the model. The coordinates are the values the
  // set-up gave, the parameters themselves: nothing maps them.
  std::vector<double> X(m.PAR.base() + 1, m.PAR.base() + 1 + m.NEST);
  est(m, lst, X, ParameterScale::Natural);
  const Mat1<double> P0 = m.P;
  const auto change_at = [&](std::span<const double> x) {
    est(m, lst, x, ParameterScale::Natural);
    return largest_change(m, P0, m.P);
  };
  IdentifiabilityScan scan;
  scan.additive = scan_pairs(X, PairMove::Add, moves.add, change_at);
  print_verdict(lst, scan.additive);
  scan.multiplicative = scan_pairs(X, PairMove::Multiply, moves.multiply, change_at);
  print_verdict(lst, scan.multiplicative);
  // The values stay as the blocks and the table left them; P keeps the
  // probabilities of the last moved point.
  for (int k = 1; k <= m.NEST; ++k) m.PAR(k) = X[static_cast<std::size_t>(k - 1)];
  return scan;
}

/// Names the coordinates of a fit with linear forms: its coefficients on
/// the logit scale, numbered as the fit's table of coefficients lists them.
void print_coefficient_numbers(Listing& lst, const LinearDesign& d) {
  static const Layout text("(/1X,A)");
  static const Layout number("(1X,I5,3H = ,A)");
  const int K = d.coefficients();
  lst.linchk(K + 2);
  std::string line = "The coordinates are the ";
  line += std::to_string(K);
  line += K == 1 ? " coefficient" : " coefficients";
  line += " on the logit scale, numbered as the fit lists them:";
  lst.put(text, {line});
  for (int k = 1; k <= K; ++k) lst.put(number, {k, d.names[static_cast<std::size_t>(k - 1)]});
}

/// The scan of a fit with linear forms: its coordinates are the
/// coefficients, from those its fit starts at; every moved point reaches
/// the cells through the slots logit^-1(X beta) on the natural scale. Only
/// the additive scan is run: a coefficient is often 0 at the start (a slot
/// at 0.5, or an effect with nothing to add), where multiplying and dividing
/// move nothing and would report a pair that says nothing about the model.
IdentifiabilityScan scan_coefficients(FitContext& run, const Moves& moves) {
  static const Layout text("(/1X,A/1X,A)");
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  const LinearDesign& d = m.linear->design;
  std::vector<double> beta = m.linear->start;
  print_coefficient_numbers(lst, d);
  std::vector<double> slots(static_cast<std::size_t>(m.NEST));
  d.probabilities(beta, slots);
  const std::vector<double> start = slots;
  est(m, lst, slots, ParameterScale::Natural);
  const Mat1<double> P0 = m.P;
  const auto change_at = [&](std::span<const double> x) {
    d.probabilities(x, slots);
    est(m, lst, slots, ParameterScale::Natural);
    return largest_change(m, P0, m.P);
  };
  IdentifiabilityScan scan;
  scan.coordinates = d.names;
  scan.additive = scan_pairs(beta, PairMove::Add, moves.add, change_at);
  print_verdict(lst, scan.additive);
  lst.put(text, {"The multiplicative scan is left out: a coefficient on the logit scale is often 0,",
                 "which multiplying and dividing leave where it is."});
  // The slots keep the values of the start coefficients, the point scanned.
  for (int k = 1; k <= m.NEST; ++k) m.PAR(k) = start[static_cast<std::size_t>(k - 1)];
  return scan;
}

}  // namespace

void print_verdict(Listing& lst, const PairScan& scan) {
  static const Layout line("(/1X,A,G14.8,A,I2,A,I2,1H.)");
  const std::initializer_list<Item> items{"The minimum maximum change observed was ", scan.change,
                                          " for parameters ", scan.i, " and ", scan.j};
  if (fits_field(scan.i, 2) && fits_field(scan.j, 2)) {
    lst.put(line, items);
  } else {
    std::string wide = "(/1X,A,G14.8,A,";
    wide += int_field(scan.i, 2);
    wide += ",A,";
    wide += int_field(scan.j, 2);
    wide += ",1H.)";
    lst.put(Layout(wide), items);
  }
}

double largest_change(const ModelStore& m, const Mat1<double>& P0, const Mat1<double>& P) {
  double change = 0.0;
  for (int c = 1; c <= m.NCOHRT; ++c) {
    const double* before = P0.column(c);
    const double* after = P.column(c);
    const int n = m.NCLASS(c);
    for (int k = 0; k < n; ++k) {
      const double d = std::fabs(before[k] - after[k]);
      if (d > change) change = d;  // false for NaN
    }
  }
  return change;
}

IdentifiabilityScan identf(FitContext& run) {
  ModelStore& m = run.model;
  const Moves moves = read_options(run);
  default_map(m);
  read_setup_blocks(run, SetupUse::Estimate);
  print_header(run, moves);
  parameter_table(run, ParameterTableFor::Identify);
  if (m.linear) {
    // The design on the map the table's checks left, as a fit's; the slots
    // at the start coefficients are the point scanned.
    set_up_linear(run);
    std::vector<double> slots(static_cast<std::size_t>(m.NEST));
    m.linear->design.probabilities(m.linear->start, slots);
    for (int k = 1; k <= m.NEST; ++k) m.PAR(k) = slots[static_cast<std::size_t>(k - 1)];
  }
  if (run.status.IDEBUG == 1) debug_dump(run, ParameterScale::Natural);
  return m.linear ? scan_coefficients(run, moves) : scan_estimated(run, moves);
}

}  // namespace quorvale
