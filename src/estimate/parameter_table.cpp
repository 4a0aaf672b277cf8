#include "estimate/parameter_table.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "estimate/context.h"
#include "listing/layout.h"

namespace quorvale {

namespace {

/// Closeness to a bound below which a start value is moved inside (0.01 in single precision).
constexpr double kNudge = static_cast<double>(0.01F);

/// Columns that v needs: its digits, and one more for a minus sign.
int digits(int v) {
  long long a = std::llabs(static_cast<long long>(v));
  int n = 1;
  while (a >= 10) {
    a /= 10;
    ++n;
  }
  return v < 0 ? n + 1 : n;
}

}  // namespace

bool fits_field(int v, int w) { return digits(v) <= w; }

std::string int_field(int v, int w) {
  std::string field = "I";  // appended, not concatenated: g++ 12 at -O3 warns of the concatenation
  field += std::to_string(fits_field(v, w) ? w : digits(v));
  return field;
}

ParameterBounds parameter_bounds(const ModelStore& m, int I) {
  const int k = std::abs(m.POINT(I));
  return ParameterBounds{m.POINTL(I) > 0 ? m.PAR(m.POINTL(I)) : m.PARL(k),
                         m.POINTU(I) > 0 ? m.PAR(m.POINTU(I)) : m.PARU(k)};
}

std::string bound_text(int pointer, double constant, int digits) {
  static const Layout constant_bound("(F8.3)");
  if (pointer < 1) return constant_bound.write_internal({constant}, 8);
  std::string number = std::to_string(pointer);
  if (static_cast<int>(number.size()) < digits) number.insert(0, static_cast<std::size_t>(digits) - number.size(), '0');
  const std::string text = "S(" + number + ")";
  return std::string(text.size() < 8 ? 8 - text.size() : 0, ' ') + text;
}

void parameter_table(FitContext& run, ParameterTableFor use) {
  static const Layout estimate_top("(////27X,14HLower    Upper)");
  static const Layout estimate_heading("(1X,47H  I   Parameter   S(I)    Bound    Bound  Label)");
  static const Layout estimate_rule(
      "(2X,3H---,2X,9(1H-),2X,6(1H-),2X,           1X,5(1H-),4X,5(1H-),2X,20(1H-))");
  static const Layout estimate_row("(1X,I3,I8,1X,F10.3,1X,2(A8,1X),1X,A36)");
  static const Layout identify_row("(5X,I3,5X,I3,3X,F8.3,1X,2(A8,1X),1X,A)");
  static const Layout identify_top("(////31X,14HLower    Upper)");
  static const Layout identify_heading("(5X,47H  I   Parameter   S(I)    Bound    Bound  Label)");
  static const Layout identify_rule(
      "(6X,3H---,2X,9(1H-),2X,6(1H-),2X,           1X,5(1H-),4X,5(1H-),2X,20(1H-))");
  const bool estimate = use == ParameterTableFor::Estimate;
  ModelStore& m = run.model;
  Listing& lst = run.listing;
  lst.linchk(m.NPAR + 7);
  lst.put(estimate ? estimate_top : identify_top, {});
  lst.put(estimate ? estimate_heading : identify_heading, {});
  lst.put(estimate ? estimate_rule : identify_rule, {});
  const int slot_digits = estimate ? 3 : 2;
  for (int I = 1; I <= m.NPAR; ++I) {
    const int k = std::abs(m.POINT(I));
    const ParameterBounds b = parameter_bounds(m, I);
    const double v = m.PAR(k);
    const std::string lo_text = bound_text(m.POINTL(I), m.PARL(k), slot_digits);
    const std::string hi_text = bound_text(m.POINTU(I), m.PARU(k), slot_digits);
    const std::initializer_list<Item> items{I, m.POINT(I), v, lo_text, hi_text, m.LABEL(I)};
    if (estimate) {
      lst.put(estimate_row, items);
    } else if (fits_field(I, 3) && fits_field(m.POINT(I), 3)) {
      lst.put(identify_row, items);
    } else {
      lst.put(Layout("(5X," + int_field(I, 3) + ",5X," + int_field(m.POINT(I), 3) + ",3X,F8.3,1X,2(A8,1X),1X,A)"), items);
    }
    if (b.lower > b.upper || b.lower > v || v > b.upper) {
      lst.warn(estimate ? "Boundary error -- value reset to 0 < S(I) < 1."
                        : "BOUNDARY ERROR -- VALUE RESET TO 0 < S(I) < 1.");
      m.POINTL(I) = 0;
      m.POINTU(I) = 0;
      m.PARL(k) = 0.0;
      m.PARU(k) = 1.0;
    }
    if (estimate && m.POINT(I) > 0) {
      if (std::fabs(b.lower - m.PAR(k)) < kNudge) m.PAR(k) = b.lower + kNudge;
      if (std::fabs(b.upper - m.PAR(k)) < kNudge) m.PAR(k) = b.upper - kNudge;
    }
  }
}

}  // namespace quorvale
