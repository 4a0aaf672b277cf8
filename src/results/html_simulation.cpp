#include "results/html_page.h"

namespace quorvale::page {

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
    const std::vector<ReplicateSpread> none;
    const std::vector<ReplicateSpread>& spread = k < t.spread.size() ? t.spread[k] : none;
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
      const CoverageRow& c = t.coverage_row(static_cast<int>(i) + 1, n);
      row(rows, row_index++);
      cell(static_cast<long long>(i + 1));
      text_cell(i < t.labels.size() ? t.labels[i] : std::string());
      cell(c.generating, Shown::Estimate);
      cell(c.mean, Shown::Estimate);
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
    // The coefficients of a submodel with linear forms, against their true values.
    const std::vector<CoefficientTruth>& names = t.coefficients_of(n);
    const std::vector<CoefficientSummary>& figures = t.coefficient_summaries_of(n);
    if (names.empty() || figures.size() != names.size()) continue;
    add("<table class=\"replicates\">");
    columns({{"Coefficient", "name", true}, {"True value", "true_value"}, {"Mean", "mean"}, {"Bias", "bias"},
             {"RMSE", "rmse"}, {"Empirical SD", "empirical_sd"}, {"Mean SE", "mean_se"},
             {"Median SE", "median_se"}, {"SE above 10 × SD", "se_over_10_sd"}, {"Coverage", "coverage"}});
    const std::string coefficient_rows = base + "/coverage/" + std::to_string(k) + "/coefficients";
    for (std::size_t j = 0; j < names.size(); ++j) {
      const CoefficientSummary& c = figures[j];
      row(coefficient_rows, static_cast<long long>(j));
      text_cell(names[j].name);
      cell(names[j].value, Shown::Estimate);
      cell(c.mean, Shown::Estimate);
      cell(c.bias, Shown::Estimate);
      cell(c.rmse, Shown::Estimate);
      cell(c.empirical_sd, Shown::Estimate);
      cell(c.mean_se, Shown::Estimate);
      cell(c.median_se, Shown::Estimate);
      cell(static_cast<long long>(c.wide_se));
      cell(c.coverage, Shown::Percent);
      add("</tr>");
    }
    add("</tbody></table>");
  }
  add("<p class=\"meta\">Coverage: the share of the fits whose 95% interval holds the generating value, on the "
      "logit scale and as the listing prints it (estimate ± 1.96 SE).");
  if (t.has_coefficients()) {
    add(" Coefficients are on the logit scale; the true value of each is the projection of the generating values "
        "on the submodel's design (exact when the generating model lies within the submodel), and its coverage "
        "that of estimate ± 1.96 SE.");
  }
  add("</p></section>\n");
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
        text(s.coordinate_name(scan->i));
        add(" and ");
        text(s.coordinate_name(scan->j));
      } else {
        add("none");
      }
      add("</td></tr>");
    }
  }
  add("</tbody></table></section>\n");
}

}  // namespace quorvale::page
