#include "results/json.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/packed.h"
#include "base/text.h"
#include "results/json_tree.h"
#include "simulate/simulation_values.h"

namespace quorvale {

namespace {

using namespace json_tree;

Json chi_square(const ChiSquareTest& t) {
  Json j = object(4);
  number(j, "statistic", t.statistic);
  put(j, "df", t.df);
  number(j, "p", t.probability);
  return j;
}

/// A parameter with, after a PROC TEST with c-hat above 1, its adjusted
/// standard error; for a model with groups, the name of its group.
Json parameter_json(const ParameterEstimate& e, const double* se_adjusted, const FitReport& r) {
  Json j = object(13);
  put(j, "index", e.index);
  put(j, "label", e.label);
  if (!r.groups.empty()) put(j, "group", r.group_name(e.group));
  put(j, "slot", e.slot);
  put(j, "fixed", e.fixed());
  number(j, "estimate", e.estimate);
  number(j, "se", e.se);
  if (se_adjusted) number(j, "se_adjusted", *se_adjusted);
  put(j, "wald_ci", interval(e.lower, e.upper));
  const std::optional<Interval> ci = e.logit_ci;
  put(j, "logit_ci", ci ? interval(ci->lower, ci->upper) : Json(nullptr));
  put(j, "bounds", interval(e.lower_bound, e.upper_bound));
  put(j, "on_bound", e.on_bound);
  put(j, "estimable", e.estimable);
  return j;
}

/// The members of a fit with linear forms: its coefficients, their
/// covariance (null when the information was not inverted) and, for parts
/// whose formulas hold covariates, the parameters against each covariate.
void linear_members(Json& j, const FitReport& r) {
  Json betas = Json::array();
  for (const CoefficientEstimate& b : r.betas) {
    Json o = object(7);
    put(o, "name", b.name);
    put(o, "part", b.part);
    number(o, "estimate", b.estimate);
    // Not estimable: no standard error (NaN, as a parameter's) and no interval.
    number(o, "se", b.estimable ? b.se : std::numeric_limits<double>::quiet_NaN());
    put(o, "ci", b.estimable ? interval(b.ci.lower, b.ci.upper) : Json(nullptr));
    put(o, "estimable", b.estimable);
    betas.push_back(std::move(o));
  }
  put(j, "betas", std::move(betas));
  const std::size_t K = r.betas.size();
  if (r.inversion == InversionCode::Inverted && r.beta_covariance.size() >= K * (K + 1) / 2) {
    Json cov = Json::array();
    for (std::size_t a = 1; a <= K; ++a) {
      std::vector<double> row;
      for (std::size_t b = 1; b <= K; ++b) {
        row.push_back(r.beta_covariance[packed_index(static_cast<int>(std::max(a, b)), static_cast<int>(std::min(a, b)))]);
      }
      cov.push_back(numbers(row));
    }
    put(j, "beta_covariance", std::move(cov));
  } else {
    put(j, "beta_covariance", nullptr);
  }
  if (r.covariate_effects.empty()) return;
  Json effects = Json::array();
  for (const CovariateEffect& e : r.covariate_effects) {
    Json o = object(3);
    put(o, "part", e.part);
    put(o, "covariate", e.covariate);
    Json points = Json::array();
    for (const CovariatePoint& p : e.points) {
      Json q = object(4);
      put(q, "index", p.parameter);
      if (!r.groups.empty() && p.group >= 1) put(q, "group", r.group_name(p.group));
      put(q, "period", p.period);
      number(q, "value", p.value);
      points.push_back(std::move(q));
    }
    put(o, "points", std::move(points));
    effects.push_back(std::move(o));
  }
  put(j, "covariate_effects", std::move(effects));
}

/// A fit with the adjusted standard errors of its comparison, if any.
Json fit_json(const FitReport& r, const AdjustedErrors* adjusted) {
  Json j = object(25);
  put(j, "sequence", r.sequence);
  put(j, "name", r.full_name);
  put(j, "npar", r.npar);
  put(j, "k", r.nest);
  put(j, "optimizer_code", code_number(r.optimizer));
  put(j, "inversion_code", code_number(r.inversion));
  put(j, "evaluations", r.evaluations);
  put(j, "significant_digits", r.significant_digits);
  number(j, "function_value", r.function_value);
  number(j, "lnl", r.lnL);
  number(j, "aic", r.aic);
  number(j, "aicc", r.aicc);
  put(j, "n", r.sample_size);
  put(j, "g", chi_square(r.G));
  put(j, "pooled", chi_square(r.pooled));
  put(j, "impossible_cells", r.impossible_cells);
  put(j, "sound", r.sound());
  Json parameters = Json::array();
  for (std::size_t i = 0; i < r.parameters.size(); ++i) {
    const bool has = adjusted && i < adjusted->se.size();
    parameters.push_back(parameter_json(r.parameters[i], has ? &adjusted->se[i] : nullptr, r));
  }
  put(j, "parameters", std::move(parameters));

  // Covariance and correlation over the estimated slots 1..NEST (in a fit
  // with linear forms, more or fewer than its K coefficients).
  const int k = r.slots;
  if (r.has_covariance()) {
    Json cov = Json::array();
    Json cor = Json::array();
    auto at = [](const std::vector<double>& v, int a, int b) { return v[packed_index(std::max(a, b), std::min(a, b))]; };
    for (int a = 1; a <= k; ++a) {
      std::vector<double> crow;
      std::vector<double> rrow;
      for (int b = 1; b <= k; ++b) {
        crow.push_back(at(r.covariance, a, b));
        rrow.push_back(at(r.correlation, a, b));
      }
      cov.push_back(numbers(crow));
      cor.push_back(numbers(rrow));
    }
    put(j, "covariance", std::move(cov));
    put(j, "correlation", std::move(cor));
  } else {
    put(j, "covariance", nullptr);
    put(j, "correlation", nullptr);
  }
  if (!r.betas.empty()) linear_members(j, r);

  Json cohorts = Json::array();
  int c = 0;
  for (const CohortFit& cohort : r.cohorts) {
    Json o = object(9);
    put(o, "cohort", ++c);
    std::vector<int> observed;
    std::vector<double> expected;
    std::vector<double> pearson;
    std::vector<bool> outside;
    for (const CellFit& cell : cohort.cells) {
      observed.push_back(cell.observed);
      expected.push_back(cell.expected);
      pearson.push_back(cell.chi);
      outside.push_back(cell.outside);
    }
    put(o, "observed", observed);
    put(o, "expected", numbers(expected));
    put(o, "pearson", numbers(pearson));
    put(o, "probability_outside_0_1", outside);
    put(o, "pooled_df", cohort.pooled_df);
    number(o, "pooled_statistic", cohort.pooled_chi);
    number(o, "pooled_p", cohort.probability);
    cohorts.push_back(std::move(o));
  }
  put(j, "cohorts", std::move(cohorts));
  Json abundance = Json::array();
  for (const PeriodAbundance& a : r.abundance) {
    Json o = object(10);
    put(o, "period", a.period);
    if (!r.groups.empty()) put(o, "group", r.group_name(a.group));
    put(o, "caught", a.caught);
    number(o, "p_star", a.p_star);
    number(o, "p_star_se", a.p_star_se);
    number(o, "estimate", a.estimate);
    number(o, "se", a.se);
    put(o, "ci", interval(a.ci.lower, a.ci.upper));
    put(o, "unavailable", a.available() ? Json(nullptr) : Json(a.unavailable));
    abundance.push_back(std::move(o));
  }
  Json derived = object(2);
  put(derived, "abundance", std::move(abundance));
  if (!r.total_abundance.empty()) {
    Json total = Json::array();
    for (const PeriodAbundance& a : r.total_abundance) {
      Json o = object(7);
      put(o, "period", a.period);
      put(o, "caught", a.caught);
      number(o, "estimate", a.estimate);
      number(o, "se", a.se);
      put(o, "ci", interval(a.ci.lower, a.ci.upper));
      put(o, "unavailable", a.available() ? Json(nullptr) : Json(a.unavailable));
      total.push_back(std::move(o));
    }
    put(derived, "total_abundance", std::move(total));
  }
  put(j, "derived", std::move(derived));
  put(j, "warnings", r.warnings);
  return j;
}

/// Averaged values; for a model with groups (`groups` their names), each
/// with the name of its group.
Json averaged_values(const std::vector<AveragedValue>& values, const char* index_key,
                     const std::vector<std::string>& groups) {
  Json a = Json::array();
  for (const AveragedValue& v : values) {
    Json o = object(7);
    o[index_key] = v.index;
    const std::size_t g = static_cast<std::size_t>(v.group);
    if (g >= 1 && g <= groups.size()) put(o, "group", groups[g - 1]);
    if (!v.label.empty()) put(o, "label", v.label);
    number(o, "estimate", v.estimate);
    number(o, "se", v.se);
    put(o, "ci", interval(v.ci.lower, v.ci.upper));
    put(o, "available", v.available);
    a.push_back(std::move(o));
  }
  return a;
}

Json average_json(const ModelAverage& avg) {
  Json j = object(10);
  put(j, "criterion", avg.quasi ? "QAICc" : "AICc");
  number(j, "c_hat", avg.chat);
  Json models = Json::array();
  for (const AveragedModel& m : avg.models) {
    Json o = object(4);
    put(o, "name", m.name);
    number(o, "criterion", m.criterion);
    number(o, "weight", m.weight);
    models.push_back(std::move(o));
  }
  put(j, "models", std::move(models));
  put(j, "best", avg.models.empty() ? Json(nullptr) : Json(avg.models[avg.best].name));
  put(j, "not_converged", avg.not_converged);
  put(j, "impossible", avg.impossible);
  put(j, "left_out_from_model_file", avg.from_file);
  put(j, "parameters", averaged_values(avg.parameters, "index", avg.groups));
  put(j, "abundance", averaged_values(avg.abundance, "period", avg.groups));
  if (!avg.total_abundance.empty()) put(j, "total_abundance", averaged_values(avg.total_abundance, "period", {}));
  return j;
}

Json test_json(const ModelComparison& c) {
  Json j = object(8);
  put(j, "n", c.n);
  number(j, "c_hat", c.chat);
  put(j, "criterion", c.criterion_name());
  put(j, "most_general", trimmed(c.most_general));
  Json models = Json::array();
  for (const ComparedModel& m : c.ranked) {
    Json o = object(20);
    put(o, "order", m.order);
    put(o, "rank", m.rank);
    put(o, "name", m.full_name);
    put(o, "source", m.from_file ? "model_file" : "this_run");
    put(o, "npar", m.K);
    number(o, "lnl", m.lnL);
    put(o, "ndf", m.NDF);
    number(o, "g", m.G);
    number(o, "g_p", m.PG);
    number(o, "aic", m.crit[0]);
    number(o, "aicc", m.crit[1]);
    number(o, "qaic", m.crit[2]);
    number(o, "qaicc", m.crit[3]);
    number(o, "delta_aicc", m.delta_aicc);
    number(o, "weight_aicc", m.weight_aicc);
    number(o, "delta_qaicc", m.delta_qaicc);
    number(o, "weight_qaicc", m.weight_qaicc);
    put(o, "sound", m.sound);
    models.push_back(std::move(o));
  }
  put(j, "models", std::move(models));
  Json tests = Json::array();
  for (const RatioTest& t : c.tests) {
    Json o = object(7);
    put(o, "general", c.ranked[t.general].full_name);
    put(o, "reduced", c.ranked[t.reduced].full_name);
    number(o, "chi_square", t.chi);
    put(o, "df", t.df);
    number(o, "p", t.probability);
    put(o, "nested", t.nested);
    tests.push_back(std::move(o));
  }
  put(j, "likelihood_ratio_tests", std::move(tests));
  if (c.average) put(j, "averaged", average_json(*c.average));
  return j;
}

Json scan_json(const PairScan& s) {
  Json o = object(3);
  number(o, "change", s.change);
  put(o, "pair", s.i > 0 ? Json::array({s.i, s.j}) : Json(nullptr));
  return o;
}

Json data_json(const DataSummary& d) {
  Json data = object(5);
  put(data, "periods", d.occasions.size());
  put(data, "occasions", d.occasions);
  put(data, "first_caught", d.first_caught);
  if (!d.groups.empty()) put(data, "groups", d.groups);
  Json cohorts = Json::array();
  for (const CohortData& c : d.cohorts) {
    Json o = object(6);
    const std::size_t g = static_cast<std::size_t>(c.group);
    if (!c.kind.empty() && g >= 1 && g <= d.groups.size()) put(o, "group", d.groups[g - 1]);
    if (!c.kind.empty()) put(o, "kind", c.kind);
    if (c.period > 0) put(o, "period", c.period);
    if (!c.kind.empty()) put(o, "release_period", c.release_period);
    put(o, "size", c.size);
    put(o, "counts", c.counts);
    cohorts.push_back(std::move(o));
  }
  put(data, "cohorts", std::move(cohorts));
  return data;
}

/// Rewrites every string of `j` in UTF-8 (bytes that are not UTF-8 read as
/// ISO-8859-1): names, labels, warnings and file names keep the bytes as
/// typed, and the library refuses to serialise a string that is not UTF-8.
/// The members' keys are the program's own.
void utf8_strings(Json& j) {
  switch (j.type()) {
    case Json::value_t::string: {
      std::string& s = j.get_ref<std::string&>();
      if (!is_utf8(s)) s = as_utf8(s);
      break;
    }
    case Json::value_t::array:
      for (Json& element : j.get_ref<Json::array_t&>()) utf8_strings(element);
      break;
    case Json::value_t::object:
      for (auto& member : j.get_ref<Json::object_t&>()) utf8_strings(member.second);
      break;
    default: break;
  }
}

/// The results document, written member by member and handed on in pieces.
/// Each member, and each element of an array member (a fit, a test, a
/// simulation), is built as a tree of its own, serialised by the library and
/// freed before the next is built; the text goes on whenever it passes
/// kPiece bytes. So the memory of one fit and of one piece serves the next,
/// where the tree and the text of the whole document would need fresh pages
/// for all of it (some 1.4 MiB for the bundled example). The library's
/// serializer appends to the piece itself: dump() would make a string of
/// each tree first and copy it over.
class Document {
 public:
  explicit Document(const TextSink& sink) : sink_(sink) {
    out_.reserve(kRoom);
    out_ += '{';
  }

  void member(const char* key, Json value) {
    name(key);
    utf8_strings(value);
    serializer_.dump(value, false, false, 0);
    hand_on(kPiece);
  }

  /// The member `key`: an array of `element(item)` for each of `items`.
  template <typename Items, typename Element>
  void array(const char* key, const Items& items, Element element) {
    name(key);
    out_ += '[';
    bool first = true;
    for (const auto& item : items) {
      if (!first) out_ += ',';
      first = false;
      Json value = element(item);
      utf8_strings(value);
      serializer_.dump(value, false, false, 0);
      hand_on(kPiece);
    }
    out_ += ']';
  }

  /// Closes the document, ended by a newline, and hands on the rest.
  void end() {
    out_ += "}\n";
    hand_on(0);
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{64} << 10;
  static constexpr std::size_t kRoom = std::size_t{96} << 10;  ///< a piece and a fit's text

  void name(const char* key) {
    if (members_++ > 0) out_ += ',';
    serializer_.dump(Json(key), false, false, 0);
    out_ += ':';
  }
  void hand_on(std::size_t least) {
    if (out_.empty() || out_.size() < least) return;
    sink_(out_);
    out_.clear();
  }

  const TextSink& sink_;
  std::string out_;
  nlohmann::detail::serializer<Json> serializer_{nlohmann::detail::output_adapter<char>(out_), ' '};
  int members_ = 0;
};

/// The document itself; what the library throws goes on.
void write_document(const RunResults& results, const TextSink& sink) {
  Document doc(sink);
  doc.member("program", "quorvale");
  doc.member("version", QUORVALE_VERSION);
  doc.member("schema_version", kResultsSchemaVersion);
  doc.member("parameter_line", results.parameter_line);
  doc.member("command_file", results.command_file.empty() ? Json(nullptr) : Json(results.command_file));
  doc.member("data", results.has_data ? data_json(results.data) : Json(nullptr));
  std::size_t fit = 0;
  doc.array("fits", results.fits, [&](const FitReport& r) { return fit_json(r, results.adjusted_errors(fit++)); });
  doc.array("tests", results.tests, test_json);
  doc.array("simulations", results.simulations, simulation_json);
  doc.array("identifiability", results.identifiability, [](const IdentifiabilityScan& s) {
    Json o{{"additive", scan_json(s.additive)}, {"multiplicative", scan_json(s.multiplicative)}};
    // The coordinates of a fit with linear forms are its coefficients, named.
    if (!s.coordinates.empty()) o["coordinates"] = s.coordinates;
    return o;
  });
  doc.end();
}

}  // namespace

void write_results_json(const RunResults& results, const TextSink& sink) {
  try {
    write_document(results, sink);
  } catch (const nlohmann::json::exception& e) {
    throw ResultsDocumentFault(e.what());
  }
}

}  // namespace quorvale
