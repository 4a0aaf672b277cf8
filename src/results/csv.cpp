#include "results/csv.h"

#include <charconv>
#include <cmath>

#include "simulate/simstats.h"
#include "base/text.h"
#include "stats/distributions.h"

namespace quorvale {

namespace {

/// A number at full precision (shortest text that reads back to the same
/// double); empty for a value that is not finite.
std::string num(double v) {
  if (!std::isfinite(v)) return "";
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

/// Appends one record of fields.
void record(std::string& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    out += csv_field(fields[i]);
  }
  out += "\r\n";
}

std::string estimates_table(const RunResults& results) {
  std::string out;
  record(out, {"fit", "name", "index", "label", "estimate", "se", "wald_lower", "wald_upper", "logit_lower",
               "logit_upper", "fixed", "on_bound"});
  for (const FitReport& r : results.fits) {
    for (const ParameterEstimate& e : r.parameters) {
      const std::optional<Interval> ci = e.logit_ci();
      const std::string lo = ci ? num(ci->lower) : std::string();
      const std::string hi = ci ? num(ci->upper) : std::string();
      record(out, {std::to_string(r.sequence), r.full_name, std::to_string(e.index), e.label, num(e.estimate),
                   num(e.se), num(e.lower), num(e.upper), lo, hi, e.fixed() ? "true" : "false",
                   e.on_bound() ? "true" : "false"});
    }
  }
  return out;
}

std::string models_table(const RunResults& results) {
  std::string out;
  record(out, {"fit", "name", "k", "lnl", "aic", "aicc", "optimizer_code", "inversion_code", "g", "g_df", "g_p",
               "pooled", "pooled_df", "pooled_p"});
  for (const FitReport& r : results.fits) {
    record(out, {std::to_string(r.sequence), r.full_name, std::to_string(r.nest), num(r.lnL), num(r.aic),
                 num(r.aic + aicc_correction(r.nest, r.sample_size)), std::to_string(code_number(r.optimizer)),
                 std::to_string(code_number(r.inversion)), num(r.G.statistic), std::to_string(r.G.df),
                 num(r.G.probability), num(r.pooled.statistic), std::to_string(r.pooled.df),
                 num(r.pooled.probability)});
  }
  return out;
}

std::string tests_table(const RunResults& results) {
  std::string out;
  record(out, {"test", "rank", "order", "name", "source", "npar", "lnl", "aic", "aicc", "qaic", "qaicc",
               "delta_aicc", "weight_aicc", "c_hat", "n"});
  int test = 0;
  for (const ModelComparison& c : results.tests) {
    ++test;
    int rank = 0;
    for (const ComparedModel& m : c.ranked) {
      record(out, {std::to_string(test), std::to_string(++rank), std::to_string(m.order), m.full_name,
                   m.from_file ? "model_file" : "this_run", std::to_string(m.K), num(m.lnL), num(m.crit[0]),
                   num(m.crit[1]), num(m.crit[2]), num(m.crit[3]), num(m.delta_aicc), num(m.weight_aicc),
                   num(c.chat), std::to_string(c.n)});
    }
  }
  return out;
}

std::string simulation_table(const RunResults& results) {
  std::string out;
  record(out, {"simulation", "replicate", "submodel", "name", "optimizer_code", "inversion_code", "included", "lnl",
               "aic", "index", "label", "generating", "estimate", "se", "wald_covers", "logit_covers", "bias",
               "relative_bias", "rmse", "empirical_sd", "mean_se", "coverage_wald", "coverage_logit",
               "not_converged"});
  int sim = 0;
  for (const SimulationTotals& t : results.simulations) {
    ++sim;
    // The planning figures of each submodel and estimated parameter, on
    // every row of that submodel and parameter.
    std::vector<std::vector<std::string>> figures;
    for (int n = 1; n <= t.NSUB && n <= static_cast<int>(t.estimated.size()); ++n) {
      const std::vector<bool>& estimated = t.estimated[static_cast<std::size_t>(n - 1)];
      for (std::size_t i = 0; i < estimated.size(); ++i) {
        std::vector<std::string> row(8);
        if (estimated[i] && t.NCONV(n) >= 1) {
          const CoverageRow v = t.coverage_row(static_cast<int>(i) + 1, n);
          row = {num(v.bias), num(v.relative_bias), num(v.rmse), num(v.empirical_sd), num(v.mean_se),
                 num(v.wald), num(v.logit), std::to_string(t.NFAIL(n))};
        }
        figures.push_back(std::move(row));
      }
    }
    const std::size_t npar = t.estimated.empty() ? 0 : t.estimated.front().size();
    for (const ReplicateFit& f : t.fits) {
      const std::string name = f.submodel >= 1 && static_cast<std::size_t>(f.submodel) <= t.names.size()
                                   ? trimmed(t.names[static_cast<std::size_t>(f.submodel - 1)])
                                   : std::string();
      for (std::size_t i = 0; i < f.estimates.size(); ++i) {
        std::vector<std::string> fields = {std::to_string(sim), std::to_string(f.replicate), std::to_string(f.submodel), name,
                     std::to_string(code_number(f.optimizer)), std::to_string(code_number(f.inversion)),
                     f.included ? "true" : "false", num(f.lnL), num(f.aic), std::to_string(i + 1),
                     i < t.labels.size() ? t.labels[i] : std::string(),
                     i < t.generating.size() ? num(t.generating[i]) : std::string(), num(f.estimates[i]),
                     i < f.errors.size() ? num(f.errors[i]) : std::string(),
                     i < f.wald_covers.size() ? (f.wald_covers[i] ? "true" : "false") : std::string(),
                     i < f.logit_covers.size() ? (f.logit_covers[i] ? "true" : "false") : std::string()};
        const std::size_t at = static_cast<std::size_t>(f.submodel - 1) * npar + i;
        if (at < figures.size()) fields.insert(fields.end(), figures[at].begin(), figures[at].end());
        fields.resize(24);
        record(out, fields);
      }
    }
  }
  return out;
}

std::string averaged_table(const RunResults& results) {
  std::string out;
  record(out, {"test", "criterion", "quantity", "index", "label", "estimate", "se", "lower", "upper",
               "best_model", "best_weight"});
  int test = 0;
  for (const ModelComparison& c : results.tests) {
    ++test;
    if (!c.average || c.average->models.empty()) continue;
    const ModelAverage& a = *c.average;
    const AveragedModel& best = a.models[a.best];
    for (const auto& [kind, values] : {std::pair{"parameter", &a.parameters}, std::pair{"abundance", &a.abundance}}) {
      for (const AveragedValue& v : *values) {
        record(out, {std::to_string(test), a.quasi ? "QAICc" : "AICc", kind, std::to_string(v.index), v.label,
                     num(v.estimate), num(v.se), num(v.ci.lower), num(v.ci.upper), best.name, num(best.weight)});
      }
    }
  }
  return out;
}

}  // namespace

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::vector<std::pair<std::string, std::string>> results_csv(const RunResults& results) {
  return {{"estimates.csv", estimates_table(results)},
          {"models.csv", models_table(results)},
          {"tests.csv", tests_table(results)},
          {"simulation.csv", simulation_table(results)},
          {"averaged.csv", averaged_table(results)}};
}

}  // namespace quorvale
