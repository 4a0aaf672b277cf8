#include "results/html_page.h"

namespace quorvale::page {

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
  const bool grouped = !avg.groups.empty();
  const auto group_name = [&avg](int g) {
    return g >= 1 && static_cast<std::size_t>(g) <= avg.groups.size() ? avg.groups[static_cast<std::size_t>(g - 1)]
                                                                        : std::string();
  };
  if (!avg.abundance.empty() && !grouped) {
    add("<table class=\"averaged\">");
    columns({{"Period", "period"}, {"N̂", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
            base + "/abundance");
    for (const AveragedValue& v : avg.abundance) {
      add("<tr>");
      cell(v.index);
      estimate_cells(v.available, v.estimate, v.se, v.ci, Shown::Fixed2);
    }
    add("</tbody></table>");
  }
  // With groups: each group's periods, then all groups together.
  for (const auto& [rows, key] : {std::pair{&avg.abundance, "/abundance"}, std::pair{&avg.total_abundance, "/total_abundance"}}) {
    if (!grouped || rows->empty()) continue;
    add("<table class=\"averaged\">");
    columns({{"Group", "", true}, {"Period", "period"}, {"N̂", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"},
             {"95% upper", "ci/1"}},
            base + key);
    for (const AveragedValue& v : *rows) {
      add("<tr>");
      text_cell(rows == &avg.total_abundance ? std::string("all groups") : group_name(v.group));
      cell(v.index);
      estimate_cells(v.available, v.estimate, v.se, v.ci, Shown::Fixed2);
    }
    add("</tbody></table>");
  }
  add("<details><summary>Model-averaged parameters</summary><table class=\"averaged\">");
  if (grouped) {
    columns({{"S(i)", "index"}, {"Group", "group", true}, {"Parameter", "", true}, {"Estimate", "estimate"},
             {"SE", "se"}, {"95% lower", "ci/0"}, {"95% upper", "ci/1"}},
            base + "/parameters");
  } else {
    columns({{"S(i)", "index"}, {"Parameter", "", true}, {"Estimate", "estimate"}, {"SE", "se"}, {"95% lower", "ci/0"},
             {"95% upper", "ci/1"}},
            base + "/parameters");
  }
  for (const AveragedValue& v : avg.parameters) {
    add("<tr>");
    cell(v.index);
    if (grouped) text_cell(group_name(v.group));
    text_cell(v.label);
    estimate_cells(v.available, v.estimate, v.se, v.ci, Shown::Estimate);
  }
  add("</tbody></table></details>");
}

}  // namespace quorvale::page
