// The JSON results of PROC SIMULATE: every refit as it came, the summaries
// and the planning figures, and what identifies a shard's study.

#include <string>
#include <vector>

#include "base/text.h"
#include "results/json.h"
#include "results/json_tree.h"
#include "simulate/simulation_values.h"

namespace quorvale {

namespace json_tree {

namespace {

Json summary_row(const MeanRow& v) {
  Json o = object(4);
  number(o, "mean", v.mean);
  number(o, "se", v.se);
  put(o, "ci", interval(v.lower, v.upper));
  return o;
}

/// N-hat of one period and group by one refit.
Json replicate_abundance_json(const ReplicateAbundance& a) {
  Json o = object(8);
  put(o, "group", a.group);
  put(o, "period", a.period);
  put(o, "caught", a.caught);
  number(o, "estimate", a.estimate);
  number(o, "se", a.se);
  // The bounds one by one, so that an infinite one is named as such.
  number(o, "lower", a.lower);
  number(o, "upper", a.upper);
  return o;
}

/// The N-hat planning row of one period and group.
Json abundance_row_json(const AbundanceCoverageRow& v) {
  Json o = object(10);
  put(o, "group", v.group);
  put(o, "period", v.period);
  put(o, "fits", v.fits);
  number(o, "true_n", v.true_n);
  number(o, "bias", v.bias);
  number(o, "relative_bias", v.relative_bias);
  number(o, "rmse", v.rmse);
  number(o, "mean_se", v.mean_se);
  number(o, "coverage", v.coverage);
  return o;
}

/// One coefficient of one refit of a submodel with linear forms.
Json replicate_coefficient_json(const ReplicateCoefficient& c) {
  Json o = object(6);
  number(o, "estimate", c.estimate);
  number(o, "se", c.se);
  number(o, "lower", c.lower);
  number(o, "upper", c.upper);
  put(o, "covers", c.covers);
  return o;
}

/// The planning row of one coefficient of a submodel; its figures when one
/// of the submodel's fits converged.
Json coefficient_row_json(const CoefficientTruth& truth, const CoefficientSummary& v) {
  Json o = object(11);
  put(o, "name", truth.name);
  number(o, "true_value", truth.value);
  if (v.planned) {
    number(o, "mean", v.mean);
    number(o, "bias", v.bias);
    number(o, "rmse", v.rmse);
    number(o, "empirical_sd", v.empirical_sd);
    number(o, "mean_se", v.mean_se);
    number(o, "median_se", v.median_se);
    put(o, "se_over_10_sd", v.wide_se);
    number(o, "coverage", v.coverage);
  }
  return o;
}

}  // namespace

Json simulation_json(const SimulationTotals& t) {
  Json j = object(14);
  put(j, "replicates", t.NSIM);
  put(j, "seed", t.first_seed);
  Json submodels = Json::array();
  for (const std::string& name : t.names) submodels.push_back(trimmed(name));
  put(j, "submodels", std::move(submodels));
  put(j, "labels", t.labels);
  put(j, "generating", numbers(t.generating));
  put(j, "group_names", t.group_names);
  Json catches = Json::array();
  for (const PeriodCatch& c : t.catch_probabilities) {
    Json o = object(4);
    put(o, "group", c.group);
    put(o, "period", c.period);
    number(o, "p_star", c.p_star);
    catches.push_back(std::move(o));
  }
  put(j, "generating_p_star", std::move(catches));
  // The coefficients of the submodels with linear forms and their true
  // values; only in a simulation that has such a submodel.
  const bool linear = t.has_coefficients();
  if (linear) {
    Json by_submodel = Json::array();
    for (const std::vector<CoefficientTruth>& list : t.coefficients) {
      Json a = Json::array();
      for (const CoefficientTruth& c : list) {
        Json o = object(4);
        put(o, "name", c.name);
        put(o, "part", c.part);
        number(o, "true_value", c.value);
        a.push_back(std::move(o));
      }
      by_submodel.push_back(std::move(a));
    }
    put(j, "coefficients", std::move(by_submodel));
  }
  Json fits = Json::array();
  for (const ReplicateFit& f : t.fits) {
    Json o = object(15);
    put(o, "replicate", f.replicate);
    put(o, "submodel", f.submodel);
    put(o, "optimizer_code", code_number(f.optimizer));
    put(o, "inversion_code", code_number(f.inversion));
    put(o, "included", f.included);
    number(o, "lnl", f.lnL);
    number(o, "aic", f.aic);
    put(o, "ndf", f.ndf);
    number(o, "g_p", f.gof_p);
    put(o, "estimates", numbers(f.estimates));
    put(o, "se", numbers(f.errors));
    put(o, "wald_covers", f.wald_covers);
    put(o, "logit_covers", f.logit_covers);
    Json abundance = Json::array();
    for (const ReplicateAbundance& a : f.abundance) abundance.push_back(replicate_abundance_json(a));
    put(o, "abundance", std::move(abundance));
    if (!f.coefficients.empty()) {
      Json coefficients = Json::array();
      for (const ReplicateCoefficient& c : f.coefficients) coefficients.push_back(replicate_coefficient_json(c));
      put(o, "coefficients", std::move(coefficients));
    }
    fits.push_back(std::move(o));
  }
  put(j, "fits", std::move(fits));
  Json summaries = Json::array();
  for (int n = 1; n <= t.NSUB && t.NSIM > 1; ++n) {
    Json s = object(5);
    put(s, "submodel", n);
    const int c = t.NCONV(n);
    put(s, "converged", c);
    Json rows = Json::array();
    for (int I = 1; I <= t.npar() && c >= 1 && I <= static_cast<int>(t.labels.size()); ++I) {
      Json row = object(3);
      put(row, "index", I);
      put(row, "estimate", summary_row(t.estimate_mean(I, n)));
      put(row, "se", summary_row(t.error_mean(I, n)));
      rows.push_back(std::move(row));
    }
    put(s, "parameters", std::move(rows));
    const std::vector<CoefficientTruth>& names = t.coefficients_of(n);
    const std::vector<CoefficientSummary>& figures = t.coefficient_summaries_of(n);
    if (!names.empty()) {
      Json coefficients = Json::array();
      for (std::size_t k = 0; k < names.size() && k < figures.size() && c >= 1; ++k) {
        Json row = object(3);
        put(row, "name", names[k].name);
        put(row, "estimate", summary_row(figures[k].estimate_mean));
        put(row, "se", summary_row(figures[k].error_mean));
        coefficients.push_back(std::move(row));
      }
      put(s, "coefficients", std::move(coefficients));
    }
    Json gof;
    for (std::size_t l = 0; l < 4; ++l) gof.push_back({{"level", kTestLevels[l]}, {"rejections", t.NGOF(n)[l]}});
    put(s, "goodness_of_fit_rejections", std::move(gof));
    summaries.push_back(std::move(s));
  }
  put(j, "summaries", std::move(summaries));
  Json lrt = Json::array();
  int k = 0;
  for (int a = 1; a < t.NSUB && t.NSIM > 1; ++a) {
    for (int b = a + 1; b <= t.NSUB; ++b) {
      ++k;
      Json o = object(3);
      put(o, "first", a);
      put(o, "second", b);
      Json levels = Json::array();
      for (std::size_t l = 0; l < 5; ++l) levels.push_back({{"level", kTestLevels[l]}, {"rejections", t.NLRT(k)[l]}});
      put(o, "rejections", std::move(levels));
      lrt.push_back(std::move(o));
    }
  }
  put(j, "likelihood_ratio_rejections", std::move(lrt));
  put(j, "coverage_printed", t.coverage);
  Json coverage = Json::array();
  for (int n = 1; n <= t.NSUB && n <= static_cast<int>(t.estimated.size()); ++n) {
    Json s = object(6);
    put(s, "submodel", n);
    const int c = t.converged(n);
    put(s, "converged", c);
    put(s, "not_converged", t.NFAIL(n));
    Json rows = Json::array();
    const std::vector<bool>& estimated = t.estimated[static_cast<std::size_t>(n - 1)];
    for (std::size_t i = 0; i < estimated.size(); ++i) {
      if (!estimated[i]) continue;
      Json row = object(10);
      put(row, "index", i + 1);
      if (c >= 1) {
        const CoverageRow& v = t.coverage_row(static_cast<int>(i) + 1, n);
        number(row, "generating", v.generating);
        number(row, "bias", v.bias);
        number(row, "relative_bias", v.relative_bias);
        number(row, "rmse", v.rmse);
        number(row, "empirical_sd", v.empirical_sd);
        number(row, "mean_se", v.mean_se);
        number(row, "median_se", v.median_se);
        put(row, "se_over_10_sd", v.wide_se);
        number(row, "coverage_wald", v.wald);
        number(row, "coverage_logit", v.logit);
      }
      rows.push_back(std::move(row));
    }
    put(s, "parameters", std::move(rows));
    Json abundance = Json::array();
    if (static_cast<std::size_t>(n) <= t.abundance_rows.size()) {
      for (const AbundanceCoverageRow& v : t.abundance_rows[static_cast<std::size_t>(n - 1)]) {
        abundance.push_back(abundance_row_json(v));
      }
    }
    put(s, "abundance", std::move(abundance));
    const std::vector<CoefficientTruth>& names = t.coefficients_of(n);
    const std::vector<CoefficientSummary>& figures = t.coefficient_summaries_of(n);
    if (!names.empty()) {
      Json coefficients = Json::array();
      for (std::size_t k = 0; k < names.size() && k < figures.size(); ++k) {
        coefficients.push_back(coefficient_row_json(names[k], figures[k]));
      }
      put(s, "coefficients", std::move(coefficients));
    }
    coverage.push_back(std::move(s));
  }
  put(j, "coverage", std::move(coverage));
  if (t.shard > 0) {
    // What identifies the study, so that the merge takes only shards of one run.
    put(j, "shard", Json{{"index", t.shard},
                         {"count", t.shards},
                         {"first", t.first},
                         {"last", t.last},
                         {"data", t.study.data},
                         {"commands", t.study.commands},
                         {"parameters", t.study.parameters},
                         {"generating_map", t.study.generating_map},
                         {"submodel_maps", t.study.submodel_maps}});
  }
  return j;
}

}  // namespace json_tree

std::string simulation_results_json(const SimulationTotals& totals) { return json_tree::simulation_json(totals).dump(); }

}  // namespace quorvale
