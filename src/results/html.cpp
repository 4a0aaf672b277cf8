#include "results/html.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>

#include "results/figures.h"
#include "base/text.h"
#include "results/svg.h"

namespace quorvale {

namespace {

// Styles for the screen and for print; collapsed sections open before printing.
constexpr std::string_view kStyle = R"(
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;margin:0 auto;max-width:1120px;padding:1em 1.5em 3em;color:#222;background:#fff}
h1{font-size:1.55em;margin:.3em 0 .1em}h2{font-size:1.2em;border-bottom:1px solid #ccc;padding-bottom:.15em;margin-top:1.7em}
h3{font-size:1.03em;margin:1.1em 0 .3em}.meta{color:#555;font-size:.88em;margin:.1em 0}.meta code{font-size:1em}
table{border-collapse:collapse;margin:.4em 0 .9em;font-size:.92em}th,td{padding:.18em .55em;border-bottom:1px solid #e4e4e4;vertical-align:top}
th{background:#f4f4f4;font-weight:600}td,th{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}td.t,th.t,.estimates td:nth-child(2),.estimates td:last-child{text-align:left;white-space:normal}
tr.best td{background:#eef4fb}a{color:#1f5f9f}
.warnings{background:#fff6e0;border-left:4px solid #d99a00;padding:.4em 1em;margin:1em 0}.warnings ul{margin:.3em 0;padding-left:1.2em}.warnings li{white-space:pre-wrap}
.flag{display:inline-block;font-size:.78em;padding:0 .45em;border-radius:3px;background:#e9e9e9;margin:0 .25em .1em 0;white-space:nowrap}
.flag.bad{background:#fbe0dd;color:#8a1c12}.w{display:inline-block;height:.65em;background:#1f5f9f;vertical-align:middle;margin-right:.35em}
details{border:1px solid #ddd;border-radius:4px;margin:.6em 0;padding:.3em .9em}summary{cursor:pointer}details.fit>summary{font-weight:600}
summary .meta{font-weight:400;display:inline}.figures{display:flex;flex-wrap:wrap;gap:.8em 1.6em;margin:.4em 0}
figure{margin:0;max-width:100%;overflow-x:auto}svg.chart{display:block}
@media print{body{max-width:none;padding:0;font-size:10.5px}details{border:0;padding:0}summary{list-style:none}
figure,tr{break-inside:avoid}h2,h3{break-after:avoid}a{color:inherit;text-decoration:none}}
)";

constexpr std::string_view kScript =
    "addEventListener('beforeprint',function(){document.querySelectorAll('details').forEach(function(d){d.open=true})});"
    "function openTarget(){var e=location.hash&&document.getElementById(location.hash.slice(1));"
    "if(e&&e.tagName==='DETAILS')e.open=true}addEventListener('hashchange',openTarget);openTarget();";

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

  static constexpr std::size_t kPiece = std::size_t{64} << 10;
  static constexpr std::size_t kRoom = std::size_t{96} << 10;  ///< a piece and a fit's section

  const RunResults& r_;
  const TextSink& sink_;
  std::string out_;
};

/// `prefix` followed by the number n.
std::string numbered(std::string_view prefix, std::size_t n) {
  std::string s(prefix);
  s += std::to_string(n);
  return s;
}

std::string fit_anchor(std::size_t f) { return numbered("fit-", f + 1); }

/// What an optimizer code means.
const char* optimizer_text(OptimizerCode c) {
  switch (c) {
    case OptimizerCode::Converged: return "converged";
    case OptimizerCode::StartNotPositive: return "the Hessian was not positive definite at the start";
    case OptimizerCode::RoundingDominant: return "rounding errors dominated before the digits asked for";
    case OptimizerCode::EvaluationLimit: return "the limit of evaluations was reached first";
  }
  return "unknown code";
}

/// True when some value of the chart is estimated rather than fixed.
bool has_estimate(const Chart& c) {
  for (const ChartSeries& s : c.series) {
    for (const ChartMark& m : s.marks) {
      if (!m.hollow && std::isfinite(m.value)) return true;
    }
  }
  return false;
}

bool converged(const FitReport& f) {
  return f.optimizer == OptimizerCode::Converged && f.inversion == InversionCode::Inverted;
}

std::optional<std::size_t> Page::best_in(std::size_t f) const {
  for (std::size_t t = 0; t < r_.tests.size(); ++t) {
    const ModelComparison& c = r_.tests[t];
    for (std::size_t at : c.by_criterion) {
      const ComparedModel& m = c.ranked[at];
      if (m.from_file) continue;  // the best model fitted in this run
      if (m.fit == f) return t;
      break;
    }
  }
  return std::nullopt;
}

void Page::head() {
  const std::string title = r_.title.empty() ? "Quorvale results" : r_.title;
  add("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
      "script-src 'unsafe-inline'; img-src data:\">\n"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n<meta name=\"generator\" content=\"quorvale ");
  add(QUORVALE_VERSION);
  add("\"><title>");
  text(title);
  add("</title>\n<style>");
  add(kStyle);
  add("</style></head>\n<body>\n<header><h1>");
  text(title);
  add("</h1><p class=\"meta\">Quorvale ");
  add(QUORVALE_VERSION);
  if (!r_.command_file.empty()) {
    add(" · command file <code>");
    text(r_.command_file);
    add("</code>");
  }
  add(" · parameter line <code>");
  text(r_.parameter_line);
  add("</code></p><p class=\"meta\">The listing is the reference output; this page shows the same values.</p></header>\n");
}

void Page::warnings() {
  std::vector<std::string> items;
  for (std::size_t f = 0; f < r_.fits.size(); ++f) {
    const FitReport& fit = r_.fits[f];
    const std::string who = "Model " + std::to_string(fit.sequence) + " (" + fit.full_name + "): ";
    if (fit.optimizer != OptimizerCode::Converged) {
      items.push_back(who + "not converged, optimizer code " + std::to_string(code_number(fit.optimizer)) + ": " +
                      optimizer_text(fit.optimizer) + ".");
    }
    if (fit.inversion != InversionCode::Inverted) {
      items.push_back(who + "the information matrix could not be inverted (code " +
                      std::to_string(code_number(fit.inversion)) + "): no standard errors.");
    }
    for (const std::string& w : fit.warnings) items.push_back(who + w);
  }
  for (const ModelComparison& c : r_.tests) {
    if (c.chat_without_dfc) {
      items.push_back("PROC TEST: the most general model (" + trimmed(c.most_general) +
                      ") has no degrees of freedom left, so c-hat is 1.");
    }
  }
  for (const SimulationTotals& t : r_.simulations) {
    int left_out = 0;
    for (const ReplicateFit& f : t.fits) left_out += f.included ? 0 : 1;
    if (left_out > 0) {
      items.push_back("PROC SIMULATE: " + std::to_string(left_out) + " replicate fits were left out of the summaries.");
    }
  }
  if (items.empty()) return;
  add("<section class=\"warnings\" id=\"warnings\"><strong>Warnings of this run</strong><ul>");
  for (const std::string& item : items) {
    add("<li>");
    text(item);
    add("</li>");
  }
  add("</ul></section>\n");
}

void Page::data() {
  if (!r_.has_data) return;
  const DataSummary& d = r_.data;
  const std::size_t M = d.occasions.size();
  add("<section id=\"data\"><h2>Data</h2>");
  if (M > 0) {
    add("<p>");
    integer(static_cast<long long>(M));
    add(" primary periods, ");
    integer(static_cast<long long>(d.cohorts.size()));
    add(" cohorts.</p><table>");
    columns({{"Period", ""}, {"Secondary occasions", "."}, {"Animals first caught", ""}, {"Animals caught", ""}});
    // Closed cohorts (ip, jp), jp = 1..ip, come period by period: the first
    // holds the animals first caught in ip, all of them those caught in ip.
    std::size_t c = 0;
    long long first_total = 0;
    for (std::size_t ip = 1; ip <= M; ++ip) {
      long long first = 0;
      long long caught = 0;
      for (std::size_t jp = 1; jp <= ip && c < d.cohorts.size(); ++jp, ++c) {
        if (jp == 1) first = d.cohorts[c].size;
        caught += d.cohorts[c].size;
      }
      first_total += first;
      row("/data/occasions", static_cast<long long>(ip - 1));
      cell(static_cast<long long>(ip));
      cell(d.occasions[ip - 1]);
      cell(first);
      cell(caught);
      add("</tr>");
    }
    add("</tbody><tfoot><tr><th class=\"t\">All</th><th></th><th>");
    integer(first_total);
    add("</th><th></th></tr></tfoot></table>");
  } else {
    add("<p>");
    integer(static_cast<long long>(d.cohorts.size()));
    add(" cohorts (not laid out as a robust design).</p>");
  }
  add("<details><summary>Cohorts and their counts</summary><table>");
  columns({{"Cohort", ""}, {"Animals", "size"}, {"Counts by cell", "", true}});
  for (std::size_t c = 0; c < d.cohorts.size(); ++c) {
    row("/data/cohorts", static_cast<long long>(c));
    cell(static_cast<long long>(c + 1));
    cell(d.cohorts[c].size);
    add("<td class=\"t\">");
    for (std::size_t k = 0; k < d.cohorts[c].counts.size(); ++k) {
      if (k > 0) add(" ");
      integer(d.cohorts[c].counts[k]);
    }
    add("</td></tr>");
  }
  add("</tbody></table></details></section>\n");
}

void Page::comparison(std::size_t t) {
  const ModelComparison& c = r_.tests[t];
  const std::string base = numbered("/tests/", t);
  add("<section class=\"comparison\" id=\"test-");
  integer(static_cast<long long>(t + 1));
  add("\"><h2>Model comparison");
  if (r_.tests.size() > 1) {
    add(" ");
    integer(static_cast<long long>(t + 1));
  }
  add("</h2><p class=\"meta\">Sample size n = ");
  integer(c.n);
  add("; c-hat ");
  number(c.chat, Shown::Estimate);
  const bool q = c.quasi();
  add(q ? "; ranked by QAICc (c-hat above 1): ΔQAICc from the smallest QAICc, and the Akaike weight of each model "
          "from it. Models in ranked order, best first.</p><table>"
        : "; ranked by AICc: ΔAICc from the smallest AICc, and the Akaike weight of each model. Models in ranked "
          "order, best first.</p><table>");
  const Column rank{"Rank", ""}, model{"Model", "name", true}, k_col{"K", "npar"}, lnl{"lnL", "lnl"};
  const Column aicc{"AICc", "aicc"}, qaicc{"QAICc", "qaicc"};
  const Column rest[] = {{"G", "g"}, {"df", "ndf"}, {"P(G)", "g_p"}, {"", ""}};
  if (q) {
    columns({rank, model, k_col, lnl, qaicc, {"ΔQAICc", "delta_qaicc"}, {"Weight", "weight_qaicc"}, aicc, rest[0],
             rest[1], rest[2], rest[3]});
  } else {
    columns({rank, model, k_col, lnl, aicc, {"ΔAICc", "delta_aicc"}, {"Weight", "weight_aicc"}, qaicc, rest[0],
             rest[1], rest[2], rest[3]});
  }
  const std::string models = base + "/models";
  for (std::size_t k = 0; k < c.by_criterion.size(); ++k) {
    const std::size_t at = c.by_criterion[k];
    const ComparedModel& m = c.ranked[at];
    row(models, static_cast<long long>(at), k == 0);
    cell(static_cast<long long>(k + 1));
    add("<td class=\"t\">");
    const std::optional<std::size_t> f = m.fit;
    if (f) {
      add("<a href=\"#");
      add(fit_anchor(*f));
      add("\">");
    }
    text(m.full_name);
    add(f ? "</a></td>" : "</td>");
    cell(m.K);
    cell(m.lnL, Shown::Fixed2);
    cell(m.crit[c.criterion], Shown::Fixed2);
    cell(c.delta(m), Shown::Fixed2);
    const double w = c.weight(m);
    add("<td><span class=\"w\" style=\"width:");
    append_fixed(out_, std::isfinite(w) ? 60.0 * w : 0.0, 1);
    add("px\"></span>");
    number(w, Shown::Weight);
    add("</td>");
    cell(m.crit[q ? 1 : 3], Shown::Fixed2);
    cell(m.G, Shown::Fixed2);
    cell(m.NDF);
    cell(m.PG, Shown::Estimate);
    add("<td class=\"t\">");
    if (m.from_file) flag("model file");
    if (f && !converged(r_.fits[*f])) flag("not converged", true);
    add("</td></tr>");
  }
  add("</tbody></table>");
  // A test of two models that are not nested (or not known to be) says nothing: left out.
  const bool any_nested = std::any_of(c.tests.begin(), c.tests.end(), [](const RatioTest& x) { return x.nested; });
  if (any_nested) {
    add("<details><summary>Likelihood-ratio tests of nested models</summary><table>");
    columns({{"General model", "general", true}, {"Reduced model", "reduced", true},
             {"χ²", "chi_square"}, {"df", "df"}, {"P", "p"}});
    const std::string tests = base + "/likelihood_ratio_tests";
    for (std::size_t k = 0; k < c.tests.size(); ++k) {
      const RatioTest& test = c.tests[k];
      if (!test.nested) continue;
      row(tests, static_cast<long long>(k));
      text_cell(c.ranked[test.general].full_name);
      text_cell(c.ranked[test.reduced].full_name);
      cell(test.chi, Shown::Fixed2);
      cell(test.df);
      cell(test.probability, Shown::Estimate);
      add("</tr>");
    }
    add("</tbody></table></details>");
  }
  if (c.average) average(t);
  add("</section>\n");
}

void Page::average(std::size_t t) {
  const ModelAverage& avg = *r_.tests[t].average;
  const std::string base = numbered("/tests/", t) + "/averaged";
  add("<h3>Model-averaged estimates</h3><p class=\"meta\">Weights from ");
  add(avg.quasi ? "QAICc" : "AICc");
  add(" over ");
  integer(static_cast<long long>(avg.models.size()));
  add(" converged fits (c-hat ");
  number(avg.chat, Shown::Estimate);
  add(")");
  if (!avg.not_converged.empty()) {
    add("; left out, not converged: ");
    for (std::size_t k = 0; k < avg.not_converged.size(); ++k) {
      if (k > 0) add(", ");
      text(avg.not_converged[k]);
    }
  }
  if (!avg.impossible.empty()) {
    add("; left out, resting on an impossible point: ");
    for (std::size_t k = 0; k < avg.impossible.size(); ++k) {
      if (k > 0) add(", ");
      text(avg.impossible[k]);
    }
  }
  if (avg.from_file > 0) {
    add("; left out, from the model file: ");
    integer(avg.from_file);
  }
  add(". Unconditional standard errors; 95% intervals on the logit scale for probabilities, log-normal for "
      "abundance.</p>");
  if (!avg.abundance.empty()) {
    add("<table class=\"averaged\">");
    columns({{"Period", "period"}, {"N̂", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
            base + "/abundance");
    for (const AveragedValue& v : avg.abundance) {
      add("<tr>");
      cell(v.index);
      if (!v.available) {
        add("<td>unavailable</td><td>n/a</td><td>n/a</td><td>n/a</td></tr>");
        continue;
      }
      cell(v.estimate, Shown::Fixed2);
      cell(v.se, Shown::Fixed2);
      cell(v.ci.lower, Shown::Fixed2);
      cell(v.ci.upper, Shown::Fixed2);
      add("</tr>");
    }
    add("</tbody></table>");
  }
  add("<details><summary>Model-averaged parameters</summary><table class=\"averaged\">");
  columns({{"S(i)", "index"}, {"Parameter", "", true}, {"Estimate", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"},
           {"95% upper", "ci/1"}},
          base + "/parameters");
  for (const AveragedValue& v : avg.parameters) {
    add("<tr>");
    cell(v.index);
    text_cell(v.label);
    if (!v.available) {
      add("<td>unavailable</td><td>n/a</td><td>n/a</td><td>n/a</td></tr>");
      continue;
    }
    cell(v.estimate, Shown::Estimate);
    cell(v.se, Shown::Estimate);
    cell(v.ci.lower, Shown::Estimate);
    cell(v.ci.upper, Shown::Estimate);
    add("</tr>");
  }
  add("</tbody></table></details>");
}

void Page::fit(std::size_t f) {
  const FitReport& fit = r_.fits[f];
  const std::string base = numbered("/fits/", f);
  const std::string id = numbered("f", f + 1);
  add("<details class=\"fit\" id=\"");
  add(fit_anchor(f));
  add(best(f) || r_.tests.empty() ? "\" open>" : "\">");
  add("<summary>");
  integer(fit.sequence);
  add(". ");
  text(fit.full_name);
  add(" <span class=\"meta\">K = ");
  integer(fit.nest);
  add(", AICc ");
  number(fit.aicc, Shown::Fixed2);
  add("</span> ");
  if (best(f)) flag("best model");
  if (fit.optimizer != OptimizerCode::Converged) flag("not converged", true);
  if (fit.inversion != InversionCode::Inverted) flag("no standard errors", true);
  if (!fit.sound()) flag("impossible point: no test of fit, left out of comparisons", true);
  add("</summary>");

  add("<table class=\"fit-summary\">");
  columns({{"K", "k"}, {"lnL", "lnl"}, {"AIC", "aic"}, {"AICc", "aicc"}, {"G", "g/statistic"}, {"df", "g/df"},
           {"P(G)", "g/p"}, {"Pooled χ²", "pooled/statistic"}, {"df", "pooled/df"}, {"Optimizer", "optimizer_code"},
           {"Inversion", "inversion_code"}, {"Evaluations", "evaluations"}});
  row(base);
  cell(fit.nest);
  cell(fit.lnL, Shown::Fixed2);
  cell(fit.aic, Shown::Fixed2);
  cell(fit.aicc, Shown::Fixed2);
  cell(fit.G.statistic, Shown::Fixed2);
  cell(fit.G.df);
  cell(fit.G.probability, Shown::Estimate);
  cell(fit.pooled.statistic, Shown::Fixed2);
  cell(fit.pooled.df);
  cell(code_number(fit.optimizer));
  cell(code_number(fit.inversion));
  cell(fit.evaluations);
  add("</tr></tbody></table>");

  // Figures: this fit's values, and beside the best model's the model average of its comparison.
  std::vector<ParameterValues> sets{ParameterValues::of(fit, "estimate")};
  std::vector<PeriodValues> captures{capture_values(fit, "estimate")};
  std::vector<PeriodValues> abundances{abundance_values(fit, "estimate")};
  const std::optional<std::size_t> compared = best_in(f);
  if (compared && r_.tests[*compared].average && !r_.tests[*compared].average->models.empty()) {
    const ModelAverage& avg = *r_.tests[*compared].average;
    sets.push_back(averaged_parameters(avg, "model-averaged"));
    if (!avg.abundance.empty()) abundances.push_back(averaged_abundance(avg, "model-averaged"));
  }
  add("<div class=\"figures\">");
  if (const std::optional<RobustLayout> part = open_part(r_.data, fit.npar)) {
    // A figure of values the model fixes (no temporary emigration) is left out; the table shows them.
    for (Chart chart : {survival_chart(*part, sets, id + "-survival"), emigration_chart(*part, sets, id + "-emigration")}) {
      if (has_estimate(chart)) figure(chart);
    }
  }
  if (!fit.abundance.empty()) {
    figure(capture_chart(captures, id + "-pstar"));
    figure(abundance_chart(abundances, id + "-abundance"));
  }
  if (!fit.cohorts.empty()) figure(goodness_chart(fit, id + "-gof"));
  add("</div>");

  add("<table class=\"estimates\">");
  columns({{"S(i)", "index"}, {"Parameter", "label", true}, {"Estimate", "estimate"}, {"SE", "se"},
           {"95% lower", "logit_ci/0"}, {"95% upper", "logit_ci/1"}, {"Notes", "", true}},
          base + "/parameters");
  for (std::size_t i = 0; i < fit.parameters.size(); ++i) {
    const ParameterEstimate& e = fit.parameters[i];
    add("<tr>");
    cell(e.index);
    add("<td>");  // left-aligned by the table's style, as are the notes
    text(e.label);
    add("</td>");
    cell(e.estimate, Shown::Estimate);
    if (e.fixed()) {
      add("<td></td><td></td><td></td><td>");
      flag("fixed");
    } else if (!e.estimable) {
      add("<td>unavailable</td><td>n/a</td><td>n/a</td><td>");
      flag("not estimable: no information in the data", true);
    } else {
      cell(e.se, Shown::Estimate);
      if (const std::optional<Interval> ci = e.logit_ci()) {
        cell(ci->lower, Shown::Estimate);
        cell(ci->upper, Shown::Estimate);
      } else {
        add("<td>n/a</td><td>n/a</td>");
      }
      add("<td>");
      if (e.on_bound()) flag("on a bound", true);
      // A parameter sharing its slot with an earlier one is set equal to it.
      for (std::size_t j = 0; j < i; ++j) {
        if (fit.parameters[j].slot == e.slot) {
          add("<span class=\"flag\">= S(");
          integer(fit.parameters[j].index);
          add(")</span>");
          break;
        }
      }
    }
    add("</td></tr>");
  }
  add("</tbody></table><p class=\"meta\">Intervals are 95% on the logit scale, mapped back to 0..1.</p>");
  if (!fit.abundance.empty()) {
    add("<h3>Abundance by period</h3><table class=\"abundance\">");
    columns({{"Period", "period"}, {"Caught", "caught"}, {"p*", "p_star"}, {"SE", "p_star_se"}, {"N̂", "estimate"},
             {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
            base + "/derived/abundance");
    for (const PeriodAbundance& a : fit.abundance) {
      add("<tr>");
      cell(a.period);
      cell(a.caught);
      cell(a.p_star, Shown::Estimate);
      cell(a.p_star_se, Shown::Estimate);
      if (!a.available()) {
        add("<td>unavailable</td><td>n/a</td><td>n/a</td><td>n/a</td></tr>");
        continue;
      }
      cell(a.estimate, Shown::Fixed2);
      cell(a.se, Shown::Fixed2);
      cell(a.ci.lower, Shown::Fixed2);
      cell(a.ci.upper, Shown::Fixed2);
      add("</tr>");
    }
    add("</tbody></table><p class=\"meta\">N̂ = animals caught / p*; the interval is log-normal on N̂ minus the "
        "animals caught.");
    for (const PeriodAbundance& a : fit.abundance) {
      if (a.available()) continue;
      text(" Period " + std::to_string(a.period) + ": N̂ unavailable, " + a.unavailable + ".");
    }
    add("</p>");
  }
  add("</details>\n");
}

void Page::simulation(std::size_t s) {
  const SimulationTotals& t = r_.simulations[s];
  add("<section class=\"simulation\" id=\"simulation-");
  integer(static_cast<long long>(s + 1));
  add("\"><h2>Simulation");
  if (r_.simulations.size() > 1) {
    add(" ");
    integer(static_cast<long long>(s + 1));
  }
  add("</h2><p class=\"meta\">");
  integer(t.NSIM);
  add(" replicates from seed ");
  integer(t.first_seed);
  add("; every submodel is refitted to each replicate.</p>");
  const std::string base = numbered("/simulations/", s);
  for (int n = 1; n <= t.NSUB; ++n) {
    const std::size_t k = static_cast<std::size_t>(n - 1);
    add("<h3>Submodel ");
    integer(n);
    add(": ");
    text(k < t.names.size() ? trimmed(t.names[k]) : std::string());
    add("</h3><p class=\"meta\">");
    integer(t.NCONV(n));
    add(" fits in the summaries, ");
    integer(t.NFAIL(n));
    add(" not converged or without standard errors; the table is over the ");
    integer(t.converged(n));
    add(" converged fits only.</p>");
    const std::vector<ReplicateSpread> spread = replicate_spread(t, n);
    if (!spread.empty()) {
      std::string id = numbered("s", s + 1);
      id += '-';
      id += std::to_string(n);
      add("<div class=\"figures\">");
      figure(replicate_chart(t, n, spread, std::move(id)));
      add("</div>");
    }
    if (t.converged(n) < 1 || k >= t.estimated.size()) continue;
    // The planning figures over the converged fits.
    add("<table class=\"replicates\">");
    columns({{"S(i)", "index"}, {"Parameter", "", true}, {"Generating", "generating"}, {"Mean", ""}, {"Bias", "bias"},
             {"RMSE", "rmse"}, {"Empirical SD", "empirical_sd"}, {"Mean SE", "mean_se"},
             {"Median SE", "median_se"}, {"SE above 10 × SD", "se_over_10_sd"},
             {"Coverage, logit scale", "coverage_logit"}, {"Coverage, as printed", "coverage_wald"}});
    const std::string rows = base + "/coverage/" + std::to_string(k) + "/parameters";
    long long row_index = 0;
    for (std::size_t i = 0; i < t.estimated[k].size(); ++i) {
      if (!t.estimated[k][i]) continue;
      const CoverageRow c = t.coverage_row(static_cast<int>(i) + 1, n);
      row(rows, row_index++);
      cell(static_cast<long long>(i + 1));
      text_cell(i < t.labels.size() ? t.labels[i] : std::string());
      cell(c.generating, Shown::Estimate);
      cell(c.generating + c.bias, Shown::Estimate);
      cell(c.bias, Shown::Estimate);
      cell(c.rmse, Shown::Estimate);
      cell(c.empirical_sd, Shown::Estimate);
      cell(c.mean_se, Shown::Estimate);
      cell(c.median_se, Shown::Estimate);
      cell(static_cast<long long>(c.wide_se));
      cell(c.logit, Shown::Percent);
      cell(c.wald, Shown::Percent);
      add("</tr>");
    }
    add("</tbody></table>");
  }
  add("<p class=\"meta\">Coverage: the share of the fits whose 95% interval holds the generating value, on the "
      "logit scale and as the listing prints it (estimate ± 1.96 SE).</p></section>\n");
}

void Page::identifiability() {
  if (r_.identifiability.empty()) return;
  add("<section id=\"identifiability\"><h2>Identifiability</h2><p class=\"meta\">The pair of parameters whose "
      "opposite moves change the cell probabilities least; a small change means the two cannot be told apart.</p>"
      "<table>");
  columns({{"Scan", ""}, {"Moves", "", true}, {"Largest change", "change"}, {"Pair", "", true}});
  for (std::size_t k = 0; k < r_.identifiability.size(); ++k) {
    const IdentifiabilityScan& s = r_.identifiability[k];
    for (const auto& [what, scan] : {std::pair{"additive", &s.additive}, std::pair{"multiplicative", &s.multiplicative}}) {
      row("/identifiability/" + std::to_string(k) + "/" + what);
      cell(static_cast<long long>(k + 1));
      text_cell(what);
      cell(scan->change, Shown::Estimate);
      add("<td class=\"t\">");
      if (scan->i > 0) {
        add("S(");
        integer(scan->i);
        add(") and S(");
        integer(scan->j);
        add(")");
      } else {
        add("none");
      }
      add("</td></tr>");
    }
  }
  add("</tbody></table></section>\n");
}

void Page::tail() {
  add("<script>");
  add(kScript);
  add("</script>\n</body></html>\n");
}

}  // namespace

void write_results_html(const RunResults& results, const TextSink& sink) {
  Page page(results, sink);
  page.head();
  page.warnings();
  page.data();
  for (std::size_t t = 0; t < results.tests.size(); ++t) {
    page.comparison(t);
    page.hand_on();
  }
  if (!results.fits.empty()) {
    page.add("<section id=\"fits\"><h2>Fits</h2><p class=\"meta\">Every PROC ESTIMATE of the run; click a model "
             "to open it.</p>\n");
    for (std::size_t f = 0; f < results.fits.size(); ++f) {
      page.fit(f);
      page.hand_on();
    }
    page.add("</section>\n");
  }
  for (std::size_t s = 0; s < results.simulations.size(); ++s) {
    page.simulation(s);
    page.hand_on();
  }
  page.identifiability();
  page.tail();
  page.hand_on(true);
}

}  // namespace quorvale
