#pragma once
// The report page's building blocks: the page being written with its
// primitives (text, numbers, table rows, figures) and the helpers its
// sections share. Each section is written by its own file.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "results/figures.h"
#include "results/format.h"
#include "results/html.h"
#include "results/svg.h"

namespace quorvale::page {

/// How a number is shown.
enum class Shown {
  Estimate,  ///< four significant digits
  Fixed2,    ///< two decimals (criteria, log-likelihoods, chi-squares)
  Weight,    ///< three decimals
  Percent,   ///< a share as a percentage with one decimal
  Integer,   ///< rounded to a whole number
};

/// A column of a table: its heading, the member of the row's object it shows, left-aligned text.
struct Column {
  std::string_view label;
  std::string_view key;
  bool text = false;
};

/// The page being written, handed on in pieces: the text of one piece is
/// written into memory the last one used rather than the whole page into
/// fresh pages.
class Page {
 public:
  Page(const RunResults& r, const TextSink& sink) : r_(r), sink_(sink) { out_.reserve(kRoom); }

  /// Hands on the text written so far once it makes a piece, all of it with `all`.
  void hand_on(bool all = false) {
    if (out_.empty() || (!all && out_.size() < kPiece)) return;
    sink_(out_);
    out_.clear();
  }

  /// Appends markup as it is.
  void add(std::string_view text) { out_ += text; }
  /// Appends text, escaped.
  void text(std::string_view text) { append_escaped(out_, text); }
  /// Appends a whole number.
  void integer(long long v) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, res.ptr);
  }

  /// A number as shown.
  void number(double v, Shown how) {
    if (!std::isfinite(v)) {
      out_ += "n/a";
      return;
    }
    switch (how) {
      case Shown::Estimate: out_ += format_significant(v, 4); break;
      case Shown::Fixed2: append_fixed(out_, v, 2); break;
      case Shown::Weight: append_fixed(out_, v, 3); break;
      case Shown::Percent:
        append_fixed(out_, 100.0 * v, 1);
        out_ += '%';
        break;
      case Shown::Integer: integer(std::llround(v)); break;
    }
  }

  /// A table head; a column with a key shows that member of each row's object ("." the object itself).
  /// With `items`, row k of the body shows the array's element k (attribute data-items of the body).
  void columns(std::initializer_list<Column> heads, std::string_view items = {}) {
    out_ += "<thead><tr>";
    for (const Column& c : heads) {
      out_ += c.text ? "<th class=\"t\"" : "<th";
      if (!c.key.empty()) {
        out_ += " data-key=\"";
        out_ += c.key;
        out_ += '"';
      }
      out_ += '>';
      out_ += c.label;
      out_ += "</th>";
    }
    out_ += "</tr></thead>";
    if (items.empty()) {
      out_ += "<tbody>";
    } else {
      out_ += "<tbody data-items=\"";
      out_ += items;
      out_ += "\">";
    }
  }
  /// A number cell.
  void cell(double v, Shown how) {
    out_ += "<td>";
    number(v, how);
    out_ += "</td>";
  }
  /// A whole-number cell.
  void cell(long long v) {
    out_ += "<td>";
    integer(v);
    out_ += "</td>";
  }
  /// The cells of an estimate, its SE and its interval, then the row's end;
  /// "unavailable" and "n/a" when the value is not available.
  void estimate_cells(bool available, double estimate, double se, const Interval& ci, Shown how) {
    if (!available) {
      out_ += "<td>unavailable</td><td>n/a</td><td>n/a</td><td>n/a</td></tr>";
      return;
    }
    cell(estimate, how);
    cell(se, how);
    cell(ci.lower, how);
    cell(ci.upper, how);
    out_ += "</tr>";
  }
  /// A text cell.
  void text_cell(std::string_view text) {
    out_ += "<td class=\"t\">";
    append_escaped(out_, text);
    out_ += "</td>";
  }
  /// Opens a row showing the object of the results document at `pointer` (and `index` under it, when given).
  void row(std::string_view pointer, long long index = -1, bool best = false) {
    out_ += best ? "<tr class=\"best\" data-json=\"" : "<tr data-json=\"";
    out_ += pointer;
    if (index >= 0) {
      out_ += '/';
      integer(index);
    }
    out_ += "\">";
  }
  /// A small label after a name or in the notes; `bad` marks a problem.
  void flag(std::string_view text, bool bad = false) {
    out_ += bad ? "<span class=\"flag bad\">" : "<span class=\"flag\">";
    append_escaped(out_, text);
    out_ += "</span>";
  }
  /// A figure of the page.
  void figure(const Chart& chart) {
    out_ += "<figure>";
    append_chart_svg(out_, chart);
    out_ += "</figure>";
  }

  void head();                        ///< the document's head, styles, title and run line
  void warnings();                    ///< the warnings of the run, when there are any
  void data();                        ///< periods, occasions, animals and cohorts
  void comparison(std::size_t t);     ///< the table of PROC TEST t, best model first
  void fit(std::size_t f);            ///< fit f: its criteria, figures and estimates
  void simulation(std::size_t s);     ///< PROC SIMULATE s: spread and coverage by submodel
  void identifiability();             ///< the scans of PROC IDENTIFIABLE
  void tail();                        ///< the print script and the end of the document

 private:
  /// True when fit f is ranked first in a comparison.
  bool best(std::size_t f) const { return best_in(f).has_value(); }
  /// The comparison that ranks fit f first, if any.
  std::optional<std::size_t> best_in(std::size_t f) const;
  /// The model average of comparison t, when PROC TEST was given AVERAGE.
  void average(std::size_t t);
  /// The coefficients of fit f, a fit with linear forms.
  void coefficients(std::size_t f);

  static constexpr std::size_t kPiece = std::size_t{64} << 10;
  static constexpr std::size_t kRoom = std::size_t{96} << 10;  ///< a piece and a fit's section

  const RunResults& r_;
  const TextSink& sink_;
  std::string out_;
};

/// `prefix` followed by the number n.
inline std::string numbered(std::string_view prefix, std::size_t n) {
  std::string s(prefix);
  s += std::to_string(n);
  return s;
}

inline std::string fit_anchor(std::size_t f) { return numbered("fit-", f + 1); }

/// What an optimizer code means.
inline const char* optimizer_text(OptimizerCode c) {
  switch (c) {
    case OptimizerCode::Converged: return "converged";
    case OptimizerCode::StartNotPositive: return "the Hessian was not positive definite at the start";
    case OptimizerCode::RoundingDominant: return "rounding errors dominated before the digits asked for";
    case OptimizerCode::EvaluationLimit: return "the limit of evaluations was reached first";
  }
  return "unknown code";
}

/// True when some value of the chart is estimated rather than fixed.
inline bool has_estimate(const Chart& c) {
  for (const ChartSeries& s : c.series) {
    for (const ChartMark& m : s.marks) {
      if (!m.hollow && std::isfinite(m.value)) return true;
    }
  }
  return false;
}

inline bool converged(const FitReport& f) {
  return f.optimizer == OptimizerCode::Converged && f.inversion == InversionCode::Inverted;
}

}  // namespace quorvale::page
