#include "results/html_page.h"

namespace quorvale::page {

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
      if (const std::optional<Interval> ci = e.logit_ci) {
        cell(ci->lower, Shown::Estimate);
        cell(ci->upper, Shown::Estimate);
      } else {
        add("<td>n/a</td><td>n/a</td>");
      }
      add("<td>");
      if (e.on_bound) flag("on a bound", true);
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
      estimate_cells(a.available(), a.estimate, a.se, a.ci, Shown::Fixed2);
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

}  // namespace quorvale::page
