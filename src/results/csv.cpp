#include "results/csv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <string_view>

#include "base/text.h"
#include "simulate/simulation_values.h"

namespace quorvale {

namespace {

/// Appends `typed` as one field, quoted when it holds a comma, a quote or a
/// line break (a quote inside doubled); bytes that are not UTF-8 are read as
/// ISO-8859-1 and written in UTF-8.
void append_field(std::string& out, std::string_view typed) {
  std::string converted;
  const std::string_view text = utf8_view(typed, converted);
  bool plain = true;
  for (char c : text) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  }
  if (plain) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

/// One table written record by record into one buffer: fields separated by
/// commas, each record ended by CRLF.
class Table {
 public:
  explicit Table(std::initializer_list<std::string_view> header) {
    // Room for the bundled example's largest table (86 KiB) from the start:
    // grown from little, it would be copied over and over.
    out_.reserve(std::size_t{96} << 10);
    for (std::string_view name : header) text(name);
    end();
  }

  Table& text(std::string_view s) {
    separate();
    append_field(out_, s);
    return *this;
  }
  /// A number at full precision (shortest text that reads back to the same
  /// double); empty for a value that is not finite.
  Table& number(double v) {
    separate();
    if (std::isfinite(v)) put(v);
    return *this;
  }
  Table& whole(long long n) {
    separate();
    put(n);
    return *this;
  }
  Table& flag(bool b) { return text(b ? "true" : "false"); }
  Table& blank() { return text({}); }
  void end() {
    out_ += "\r\n";
    first_ = true;
  }
  std::string take() { return std::move(out_); }

 private:
  void separate() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  template <typename T>
  void put(T v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, res.ptr);
  }

  std::string out_;
  bool first_ = true;
};

/// A number as a field of its own, for figures repeated on many records.
std::string num(double v) {
  if (!std::isfinite(v)) return "";
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

/// What a table's group column shows for all groups together.
constexpr std::string_view kAllGroups = "all groups";

/// Some fit of the run has groups of animals.
bool any_groups(const RunResults& results) {
  for (const FitReport& r : results.fits) {
    if (!r.groups.empty()) return true;
  }
  return false;
}

std::string estimates_table(const RunResults& results) {
  // The group column only in a run that fits groups of animals.
  const bool grouped = any_groups(results);
  Table t = grouped ? Table({"fit", "name", "group", "index", "label", "estimate", "se", "wald_lower", "wald_upper",
                             "logit_lower", "logit_upper", "fixed", "on_bound", "estimable"})
                    : Table({"fit", "name", "index", "label", "estimate", "se", "wald_lower", "wald_upper",
                             "logit_lower", "logit_upper", "fixed", "on_bound", "estimable"});
  for (const FitReport& r : results.fits) {
    for (const ParameterEstimate& e : r.parameters) {
      t.whole(r.sequence).text(r.full_name);
      if (grouped) t.text(r.group_name(e.group));
      t.whole(e.index).text(e.label).number(e.estimate).number(e.se);
      t.number(e.lower).number(e.upper);
      if (const std::optional<Interval> ci = e.logit_ci) {
        t.number(ci->lower).number(ci->upper);
      } else {
        t.blank().blank();
      }
      t.flag(e.fixed()).flag(e.on_bound).flag(e.estimable).end();
    }
  }
  return t.take();
}

/// Every fit's abundance by period: group after group, then all groups together.
std::string abundance_table(const RunResults& results) {
  Table t({"fit", "name", "group", "period", "caught", "p_star", "p_star_se", "estimate", "se", "lower", "upper",
           "unavailable"});
  for (const FitReport& r : results.fits) {
    for (const std::vector<PeriodAbundance>* rows : {&r.abundance, &r.total_abundance}) {
      for (const PeriodAbundance& a : *rows) {
        t.whole(r.sequence).text(r.full_name).text(a.group == 0 ? kAllGroups : std::string_view(r.group_name(a.group)));
        t.whole(a.period).whole(a.caught).number(a.p_star).number(a.p_star_se).number(a.estimate).number(a.se);
        t.number(a.ci.lower).number(a.ci.upper).text(a.unavailable).end();
      }
    }
  }
  return t.take();
}

/// Some fit of the run has coefficients of linear forms.
bool any_coefficients(const RunResults& results) {
  for (const FitReport& r : results.fits) {
    if (!r.betas.empty()) return true;
  }
  return false;
}

/// Every coefficient of every fit with linear forms; lower, upper and se
/// empty for one that is not estimable.
std::string betas_table(const RunResults& results) {
  Table t({"fit", "name", "coefficient", "part", "estimate", "se", "lower", "upper", "estimable"});
  for (const FitReport& r : results.fits) {
    for (const CoefficientEstimate& b : r.betas) {
      t.whole(r.sequence).text(r.full_name).text(b.name).text(b.part).number(b.estimate);
      if (b.estimable) {
        t.number(b.se).number(b.ci.lower).number(b.ci.upper);
      } else {
        t.blank().blank().blank();
      }
      t.flag(b.estimable).end();
    }
  }
  return t.take();
}

std::string models_table(const RunResults& results) {
  Table t({"fit", "name", "k", "lnl", "aic", "aicc", "optimizer_code", "inversion_code", "g", "g_df", "g_p",
           "pooled", "pooled_df", "pooled_p", "impossible_cells", "sound"});
  for (const FitReport& r : results.fits) {
    t.whole(r.sequence).text(r.full_name).whole(r.nest).number(r.lnL).number(r.aic);
    t.number(r.aicc);
    t.whole(code_number(r.optimizer)).whole(code_number(r.inversion));
    t.number(r.G.statistic).whole(r.G.df).number(r.G.probability);
    t.number(r.pooled.statistic).whole(r.pooled.df).number(r.pooled.probability);
    t.whole(r.impossible_cells).flag(r.sound()).end();
  }
  return t.take();
}

std::string tests_table(const RunResults& results) {
  Table t({"test", "rank", "order", "name", "source", "npar", "lnl", "aic", "aicc", "qaic", "qaicc", "delta_aicc",
           "weight_aicc", "c_hat", "n", "delta_qaicc", "weight_qaicc", "criterion", "criterion_rank"});
  int test = 0;
  for (const ModelComparison& c : results.tests) {
    ++test;
    int rank = 0;
    for (const ComparedModel& m : c.ranked) {
      t.whole(test).whole(++rank).whole(m.order).text(m.full_name).text(m.from_file ? "model_file" : "this_run");
      t.whole(m.K).number(m.lnL);
      for (double crit : m.crit) t.number(crit);
      t.number(m.delta_aicc).number(m.weight_aicc).number(c.chat).whole(c.n);
      t.number(m.delta_qaicc).number(m.weight_qaicc).text(c.criterion_name()).whole(m.rank).end();
    }
  }
  return t.take();
}

std::string ratio_tests_table(const RunResults& results) {
  Table t({"test", "general", "reduced", "chi_square", "df", "p", "nested"});
  int test = 0;
  for (const ModelComparison& c : results.tests) {
    ++test;
    for (const RatioTest& r : c.tests) {
      t.whole(test).text(c.ranked[r.general].full_name).text(c.ranked[r.reduced].full_name);
      t.number(r.chi).whole(r.df).number(r.probability).flag(r.nested).end();
    }
  }
  return t.take();
}

/// The records of the N-hat of fit `f` of simulation `sim` (named `name`),
/// by group and period: the replicate's expected true N n / p* as the
/// generating value, then the submodel's planning figures of that period
/// and group, when it has them.
void abundance_records(Table& t, const SimulationTotals& s, const ReplicateFit& f, int sim, const std::string& name) {
  const std::size_t n = static_cast<std::size_t>(f.submodel);
  const std::vector<AbundanceCoverageRow>* rows =
      n >= 1 && n <= s.abundance_rows.size() ? &s.abundance_rows[n - 1] : nullptr;
  for (const ReplicateAbundance& a : f.abundance) {
    t.whole(sim).whole(f.replicate).whole(f.submodel).text(name);
    t.whole(code_number(f.optimizer)).whole(code_number(f.inversion)).flag(f.included);
    t.number(f.lnL).number(f.aic).blank().text("N-hat");
    const auto truth = std::find_if(s.catch_probabilities.begin(), s.catch_probabilities.end(),
                                    [&a](const PeriodCatch& c) { return c.group == a.group && c.period == a.period; });
    if (truth != s.catch_probabilities.end()) {
      t.number(a.caught / truth->p_star);
    } else {
      t.blank();
    }
    t.number(a.estimate).number(a.se).blank().blank();
    const AbundanceCoverageRow* v = nullptr;
    for (std::size_t k = 0; rows && k < rows->size(); ++k) {
      if ((*rows)[k].group == a.group && (*rows)[k].period == a.period) v = &(*rows)[k];
    }
    if (v) {
      t.number(v->bias).number(v->relative_bias).number(v->rmse).blank().number(v->mean_se);
      t.blank().blank().blank().blank().whole(s.NFAIL(f.submodel));
    } else {
      for (int k = 0; k < 10; ++k) t.blank();
    }
    t.text("abundance").whole(a.group).whole(a.period).whole(a.caught).number(a.lower).number(a.upper);
    if (v) {
      t.number(v->coverage);
    } else {
      t.blank();
    }
    t.end();
  }
}

/// The records of the coefficients of fit `f` of simulation `sim` (named
/// `name`), of a submodel with linear forms: the coefficient's number and
/// name, its true value as the generating value, the fit's estimate and
/// interval, then the submodel's planning figures of that coefficient, the
/// interval's coverage as that of the interval as printed.
void coefficient_records(Table& t, const SimulationTotals& s, const ReplicateFit& f, int sim, const std::string& name) {
  const std::vector<CoefficientTruth>& truths = s.coefficients_of(f.submodel);
  const std::vector<CoefficientSummary>& rows = s.coefficient_summaries_of(f.submodel);
  for (std::size_t k = 0; k < f.coefficients.size(); ++k) {
    const ReplicateCoefficient& c = f.coefficients[k];
    t.whole(sim).whole(f.replicate).whole(f.submodel).text(name);
    t.whole(code_number(f.optimizer)).whole(code_number(f.inversion)).flag(f.included);
    t.number(f.lnL).number(f.aic).whole(static_cast<long long>(k) + 1);
    if (k < truths.size()) {
      t.text(truths[k].name).number(truths[k].value);
    } else {
      t.blank().blank();
    }
    t.number(c.estimate).number(c.se).flag(c.covers).blank();
    if (k < rows.size() && rows[k].planned) {
      const CoefficientSummary& v = rows[k];
      t.number(v.bias).blank().number(v.rmse).number(v.empirical_sd).number(v.mean_se).number(v.median_se);
      t.whole(v.wide_se).number(v.coverage).blank().whole(s.NFAIL(f.submodel));
    } else {
      for (int i = 0; i < 10; ++i) t.blank();
    }
    t.text("coefficient").blank().blank().blank().number(c.lower).number(c.upper).blank();
    t.end();
  }
}

std::string simulation_table(const RunResults& results) {
  Table t({"simulation", "replicate", "submodel", "name", "optimizer_code", "inversion_code", "included", "lnl",
           "aic", "index", "label", "generating", "estimate", "se", "wald_covers", "logit_covers", "bias",
           "relative_bias", "rmse", "empirical_sd", "mean_se", "median_se", "se_over_10_sd", "coverage_wald",
           "coverage_logit", "not_converged", "quantity", "group", "period", "caught", "lower", "upper",
           "coverage_lognormal"});
  constexpr std::size_t kFigures = 10;
  int sim = 0;
  for (const SimulationTotals& s : results.simulations) {
    ++sim;
    // The planning figures of each submodel and estimated parameter, on
    // every row of that submodel and parameter; blank where not estimated.
    std::vector<std::vector<std::string>> figures;
    for (int n = 1; n <= s.NSUB && n <= static_cast<int>(s.estimated.size()); ++n) {
      const std::vector<bool>& estimated = s.estimated[static_cast<std::size_t>(n - 1)];
      for (std::size_t i = 0; i < estimated.size(); ++i) {
        std::vector<std::string> row(kFigures);
        if (estimated[i] && s.converged(n) >= 1) {
          const CoverageRow& v = s.coverage_row(static_cast<int>(i) + 1, n);
          row = {num(v.bias), num(v.relative_bias), num(v.rmse), num(v.empirical_sd), num(v.mean_se),
                 num(v.median_se), std::to_string(v.wide_se), num(v.wald), num(v.logit),
                 std::to_string(s.NFAIL(n))};
        }
        figures.push_back(std::move(row));
      }
    }
    const std::size_t npar = s.estimated.empty() ? 0 : s.estimated.front().size();
    for (const ReplicateFit& f : s.fits) {
      const std::string name = f.submodel >= 1 && static_cast<std::size_t>(f.submodel) <= s.names.size()
                                   ? trimmed(s.names[static_cast<std::size_t>(f.submodel - 1)])
                                   : std::string();
      for (std::size_t i = 0; i < f.estimates.size(); ++i) {
        t.whole(sim).whole(f.replicate).whole(f.submodel).text(name);
        t.whole(code_number(f.optimizer)).whole(code_number(f.inversion)).flag(f.included);
        t.number(f.lnL).number(f.aic).whole(static_cast<long long>(i) + 1);
        t.text(i < s.labels.size() ? std::string_view(s.labels[i]) : std::string_view());
        if (i < s.generating.size()) {
          t.number(s.generating[i]);
        } else {
          t.blank();
        }
        t.number(f.estimates[i]);
        if (i < f.errors.size()) {
          t.number(f.errors[i]);
        } else {
          t.blank();
        }
        for (const std::vector<bool>* covers : {&f.wald_covers, &f.logit_covers}) {
          if (i < covers->size()) {
            t.flag((*covers)[i]);
          } else {
            t.blank();
          }
        }
        const std::size_t at = static_cast<std::size_t>(f.submodel - 1) * npar + i;
        for (std::size_t k = 0; k < kFigures; ++k) {
          if (at < figures.size()) {
            t.text(figures[at][k]);
          } else {
            t.blank();
          }
        }
        t.text("parameter");
        for (int k = 0; k < 6; ++k) t.blank();
        t.end();
      }
      abundance_records(t, s, f, sim, name);
      coefficient_records(t, s, f, sim, name);
    }
  }
  return t.take();
}

std::string averaged_table(const RunResults& results) {
  bool grouped = false;
  for (const ModelComparison& c : results.tests) grouped = grouped || (c.average && !c.average->groups.empty());
  Table t = grouped ? Table({"test", "criterion", "quantity", "group", "index", "label", "estimate", "se", "lower",
                             "upper", "best_model", "best_weight"})
                    : Table({"test", "criterion", "quantity", "index", "label", "estimate", "se", "lower", "upper",
                             "best_model", "best_weight"});
  int test = 0;
  for (const ModelComparison& c : results.tests) {
    ++test;
    if (!c.average || c.average->models.empty()) continue;
    const ModelAverage& a = *c.average;
    const AveragedModel& best = a.models[a.best];
    for (const auto& [kind, values] : {std::pair{"parameter", &a.parameters}, std::pair{"abundance", &a.abundance},
                                       std::pair{"abundance", &a.total_abundance}}) {
      for (const AveragedValue& v : *values) {
        t.whole(test).text(a.quasi ? "QAICc" : "AICc").text(kind);
        if (grouped) {
          const std::size_t g = static_cast<std::size_t>(v.group);
          t.text(values == &a.total_abundance ? kAllGroups
                 : g >= 1 && g <= a.groups.size() ? std::string_view(a.groups[g - 1])
                                                  : std::string_view());
        }
        t.whole(v.index).text(v.label);
        t.number(v.estimate).number(v.se).number(v.ci.lower).number(v.ci.upper).text(best.name);
        t.number(best.weight).end();
      }
    }
  }
  return t.take();
}

}  // namespace

std::string csv_field(const std::string& text) {
  std::string field;
  append_field(field, text);
  return field;
}

std::vector<std::pair<std::string, std::string>> results_csv(const RunResults& results) {
  std::vector<std::pair<std::string, std::string>> tables{{"estimates.csv", estimates_table(results)},
                                                          {"models.csv", models_table(results)},
                                                          {"tests.csv", tests_table(results)},
                                                          {"ratio_tests.csv", ratio_tests_table(results)},
                                                          {"simulation.csv", simulation_table(results)},
                                                          {"averaged.csv", averaged_table(results)},
                                                          {"abundance.csv", abundance_table(results)}};
  // Only a run with linear forms has coefficients: other runs write the tables they always wrote.
  if (any_coefficients(results)) tables.emplace_back("betas.csv", betas_table(results));
  return tables;
}

std::vector<std::string> results_csv_names() {
  std::vector<std::string> names;
  for (const auto& table : results_csv(RunResults{})) names.push_back(table.first);
  names.emplace_back("betas.csv");
  return names;
}

}  // namespace quorvale
