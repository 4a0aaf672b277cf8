#include "results/html.h"

#include "results/html_page.h"

namespace quorvale {

namespace page {

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
  const bool grouped = !d.groups.empty();
  if (M > 0 && grouped) {
    add("<p>");
    integer(static_cast<long long>(M));
    add(" primary periods, ");
    integer(static_cast<long long>(d.cohorts.size()));
    add(" cohorts of ");
    integer(static_cast<long long>(d.groups.size()));
    add(d.groups.size() == 1 ? " group of animals.</p><table>" : " groups of animals.</p><table>");
    columns({{"Period", ""}, {"Secondary occasions", "."}, {"Group", "", true}, {"Animals first caught", ""},
             {"Animals caught", ""}});
    // Each group's closed cohorts of a period: the one of animals released in
    // no earlier period holds those first caught, all of them those caught.
    long long first_total = 0;
    for (std::size_t g = 1; g <= d.groups.size(); ++g) {
      for (std::size_t ip = 1; ip <= M; ++ip) {
        long long first = 0;
        long long caught = 0;
        for (const CohortData& c : d.cohorts) {
          if (c.kind != "closed" || c.period != static_cast<int>(ip) || c.group != static_cast<int>(g)) continue;
          if (c.release_period == 0) first += c.size;
          caught += c.size;
        }
        first_total += first;
        row("/data/occasions", static_cast<long long>(ip - 1));
        cell(static_cast<long long>(ip));
        cell(d.occasions[ip - 1]);
        text_cell(d.groups[g - 1]);
        cell(first);
        cell(caught);
        add("</tr>");
      }
    }
    add("</tbody><tfoot><tr><th class=\"t\">All</th><th></th><th></th><th>");
    integer(first_total);
    add("</th><th></th></tr></tfoot></table>");
  } else if (M > 0) {
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
  if (grouped && M > 0) {
    columns({{"Cohort", ""}, {"Group", "group", true}, {"Animals", "size"}, {"Counts by cell", "", true}});
  } else {
    columns({{"Cohort", ""}, {"Animals", "size"}, {"Counts by cell", "", true}});
  }
  for (std::size_t c = 0; c < d.cohorts.size(); ++c) {
    row("/data/cohorts", static_cast<long long>(c));
    cell(static_cast<long long>(c + 1));
    if (grouped && M > 0) {
      const std::size_t g = static_cast<std::size_t>(d.cohorts[c].group);
      text_cell(g >= 1 && g <= d.groups.size() ? d.groups[g - 1] : std::string());
    }
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

void Page::tail() {
  add("<script>");
  add(kScript);
  add("</script>\n</body></html>\n");
}

}  // namespace page

void write_results_html(const RunResults& results, const TextSink& sink) {
  page::Page page(results, sink);
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
