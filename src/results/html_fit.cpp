#include "results/html_page.h"

namespace quorvale::page {

void Page::coefficients(std::size_t f) {
  const FitReport& fit = r_.fits[f];
  add("<h3>Coefficients on the logit scale</h3><table class=\"coefficients\">");
  columns({{"K", ""}, {"Coefficient", "name", true}, {"Part", "part", true}, {"Estimate", "estimate"}, {"SE", "se"},
           {"95% lower", "ci/0"}, {"95% upper", "ci/1"}, {"Notes", "", true}},
          numbered("/fits/", f) + "/betas");
  long long k = 0;
  for (const CoefficientEstimate& b : fit.betas) {
    add("<tr>");
    cell(++k);
    text_cell(b.name);
    text_cell(b.part);
    cell(b.estimate, Shown::Estimate);
    if (b.estimable) {
      cell(b.se, Shown::Estimate);
      cell(b.ci.lower, Shown::Estimate);
      cell(b.ci.upper, Shown::Estimate);
      add("<td class=\"t\"></td></tr>");
    } else {
      add("<td>unavailable</td><td>n/a</td><td>n/a</td><td class=\"t\">");
      flag("not estimable: no information in the data", true);
      add("</td></tr>");
    }
  }
  add("</tbody></table><p class=\"meta\">Each probability of a part written as a formula is the inverse logit of "
      "its predictor; intervals are the estimate ± 1.96 SE.</p>");
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
  const ModelAverage* avg = nullptr;
  if (const std::optional<std::size_t> compared = best_in(f)) {
    const std::optional<ModelAverage>& a = r_.tests[*compared].average;
    if (a && !a->models.empty()) avg = &*a;
  }
  if (avg) sets.push_back(averaged_parameters(*avg, "model-averaged"));
  std::vector<PeriodValues> captures;
  std::vector<PeriodValues> abundances;
  if (fit.groups.empty()) {
    captures.push_back(capture_values(fit, "estimate"));
    abundances.push_back(abundance_values(fit, "estimate"));
    if (avg && !avg->abundance.empty()) abundances.push_back(averaged_abundance(*avg, "model-averaged"));
  } else {
    // One series per group, and all groups together, whose animals caught are the strokes.
    const int groups = static_cast<int>(fit.groups.size());
    for (int g = 1; g <= groups; ++g) captures.push_back(capture_values(fit, series_name("estimate", 0, fit.groups, g), g));
    for (std::size_t k = 0; k < (avg ? 2U : 1U); ++k) {
      const char* set = k == 0 ? "estimate" : "model-averaged";
      for (int g = 1; g <= groups; ++g) {
        const std::string name = series_name(set, k, fit.groups, g);
        abundances.push_back(k == 0 ? abundance_values(fit, name, g) : averaged_abundance(*avg, name, g));
        abundances.back().caught.clear();
      }
      if (fit.total_abundance.empty()) continue;
      std::string name = "all groups";
      if (k > 0) {
        name += ' ';
        name += set;
      }
      abundances.push_back(k == 0 ? abundance_values(fit, name, 0) : averaged_abundance(*avg, name, 0));
    }
  }
  add("<div class=\"figures\">");
  const int groups = fit.groups.empty() ? 1 : static_cast<int>(fit.groups.size());
  if (const std::optional<RobustLayout> part = open_part(r_.data, fit.npar, groups)) {
    // A figure of values the model fixes (no temporary emigration) is left out; the table shows them.
    for (Chart chart : {survival_chart(*part, sets, id + "-survival", fit.groups),
                        emigration_chart(*part, sets, id + "-emigration", fit.groups)}) {
      if (has_estimate(chart)) figure(chart);
    }
  }
  if (!fit.abundance.empty()) {
    figure(capture_chart(captures, id + "-pstar"));
    figure(abundance_chart(abundances, id + "-abundance"));
  }
  if (!fit.cohorts.empty()) figure(goodness_chart(fit, id + "-gof"));
  for (std::size_t k = 0; k < fit.covariate_effects.size(); ++k) {
    figure(covariate_chart(fit, fit.covariate_effects[k], numbered(id + "-covariate-", k + 1)));
  }
  add("</div>");
  if (!fit.betas.empty()) coefficients(f);

  add("<table class=\"estimates\">");
  if (fit.groups.empty()) {
    columns({{"S(i)", "index"}, {"Parameter", "label", true}, {"Estimate", "estimate"}, {"SE", "se"},
             {"95% lower", "logit_ci/0"}, {"95% upper", "logit_ci/1"}, {"Notes", "", true}},
            base + "/parameters");
  } else {
    columns({{"S(i)", "index"}, {"Group", "group", true}, {"Parameter", "label", true}, {"Estimate", "estimate"},
             {"SE", "se"}, {"95% lower", "logit_ci/0"}, {"95% upper", "logit_ci/1"}, {"Notes", "", true}},
            base + "/parameters");
  }
  for (std::size_t i = 0; i < fit.parameters.size(); ++i) {
    const ParameterEstimate& e = fit.parameters[i];
    add("<tr>");
    cell(e.index);
    if (!fit.groups.empty()) text_cell(fit.group_name(e.group));
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
    if (fit.groups.empty()) {
      columns({{"Period", "period"}, {"Caught", "caught"}, {"p*", "p_star"}, {"SE", "p_star_se"}, {"N̂", "estimate"},
               {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
              base + "/derived/abundance");
    } else {
      columns({{"Group", "group", true}, {"Period", "period"}, {"Caught", "caught"}, {"p*", "p_star"},
               {"SE", "p_star_se"}, {"N̂", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
              base + "/derived/abundance");
    }
    for (const PeriodAbundance& a : fit.abundance) {
      add("<tr>");
      if (!fit.groups.empty()) text_cell(fit.group_name(a.group));
      cell(a.period);
      cell(a.caught);
      cell(a.p_star, Shown::Estimate);
      cell(a.p_star_se, Shown::Estimate);
      estimate_cells(a.available(), a.estimate, a.se, a.ci, Shown::Fixed2);
    }
    add("</tbody></table>");
    if (!fit.total_abundance.empty()) {
      add("<table class=\"abundance\">");
      columns({{"All groups", "", true}, {"Period", "period"}, {"Caught", "caught"}, {"N̂", "estimate"}, {"SE", "se"},
               {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
              base + "/derived/total_abundance");
      for (const PeriodAbundance& a : fit.total_abundance) {
        add("<tr><td class=\"t\">all groups</td>");
        cell(a.period);
        cell(a.caught);
        estimate_cells(a.available(), a.estimate, a.se, a.ci, Shown::Fixed2);
      }
      add("</tbody></table>");
    }
    add("<p class=\"meta\">N̂ = animals caught / p*; the interval is log-normal on N̂ minus the animals caught.");
    if (!fit.total_abundance.empty()) {
      add(" All groups: the sum of the groups' N̂, its standard error from their joint covariance.");
    }
    for (const std::vector<PeriodAbundance>* rows : {&fit.abundance, &fit.total_abundance}) {
      for (const PeriodAbundance& a : *rows) {
        if (a.available()) continue;
        std::string which = " Period ";
        which += std::to_string(a.period);
        if (!fit.groups.empty()) {
          which += a.group == 0 ? ", all groups" : ", group ";
          which += fit.group_name(a.group);
        }
        text(which + ": N̂ unavailable, " + a.unavailable + ".");
      }
    }
    add("</p>");
  }
  add("</details>\n");
}

}  // namespace quorvale::page
