#include "driver/merge.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "base/atomic_file.h"
#include "base/instr.h"
#include "base/limits.h"
#include "base/status.h"
#include "input/fields.h"
#include "input/files.h"
#include "listing/listing.h"
#include "results/json.h"
#include "simulate/summaries.h"
#include "simulate/totals.h"

namespace quorvale {

namespace {

using Json = nlohmann::ordered_json;

/// A fault that ends the merge with its message.
struct MergeFault {
  std::string message;
};

constexpr const char* kUsage =
    "Usage: quorvale-merge [json=merged.json] [l=summaries.lst] [lines=n] SHARD.json...\n"
    "\n"
    "Joins the JSON results of the shards of a run (the runs with the parameter\n"
    "words shard=K/N and json=FILE, K = 1..N, in any order) into the document one\n"
    "run over every replicate writes, and prints the summaries of each PROC\n"
    "SIMULATE as that run prints them.\n"
    "\n"
    "  json=FILE  write the merged JSON document to FILE\n"
    "  l=FILE     write the summaries to FILE (default: standard output)\n"
    "  lines=N    page length of the summaries (values below 30 give 60)\n"
    "\n"
    "The estimate files (PARFILE) of the shards join by concatenation in shard\n"
    "order: cat shard1/SIM.OUT shard2/SIM.OUT ... > SIM.OUT\n";

/// A number written by the results: null stands for the value "nonfinite" names, NaN when none.
double number_of(const Json& object, const char* key) {
  const Json& v = object.at(key);
  if (v.is_number()) return v.get<double>();
  if (object.contains("nonfinite") && object["nonfinite"].contains(key)) {
    const std::string text = object["nonfinite"][key].get<std::string>();
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
  }
  return std::numeric_limits<double>::quiet_NaN();
}

/// An array of numbers; null entries are NaN.
std::vector<double> numbers_of(const Json& a) {
  std::vector<double> out;
  for (const Json& v : a) out.push_back(v.is_number() ? v.get<double>() : std::numeric_limits<double>::quiet_NaN());
  return out;
}

/// One shard's document.
struct ShardDoc {
  std::string file;
  Json doc;
};

/// The totals of simulation `s` over the shards, in shard order, as the
/// run over every replicate accumulated them: fit by fit in replicate order.
SimulationTotals merged_totals(const std::vector<const ShardDoc*>& shards, std::size_t s) {
  const Json& first = shards.front()->doc["simulations"][s];
  const int npar = static_cast<int>(first.at("labels").size());
  const int nsub = static_cast<int>(first.at("submodels").size());
  SimulationTotals t(npar, nsub);
  t.NSUB = nsub;
  t.NSIM = first.at("replicates").get<int>();
  t.first_seed = first.at("seed").get<std::int32_t>();
  for (const Json& name : first.at("submodels")) t.names.push_back(pad(name.get<std::string>(), 20));
  for (const Json& label : first.at("labels")) t.labels.push_back(label.get<std::string>());
  t.generating = numbers_of(first.at("generating"));
  for (const Json& name : first.at("group_names")) t.group_names.push_back(name.get<std::string>());
  for (const Json& c : first.at("generating_p_star")) {
    t.catch_probabilities.push_back(
        PeriodCatch{c.at("group").get<int>(), c.at("period").get<int>(), number_of(c, "p_star")});
  }
  t.coverage = first.at("coverage_printed").get<bool>();
  if (first.contains("coefficients")) {
    for (const Json& list : first["coefficients"]) {
      std::vector<CoefficientTruth> truths;
      for (const Json& c : list) {
        truths.push_back(CoefficientTruth{c.at("name").get<std::string>(), c.at("part").get<std::string>(),
                                          number_of(c, "true_value")});
      }
      t.coefficients.push_back(std::move(truths));
    }
  }
  t.estimated.assign(static_cast<std::size_t>(nsub), std::vector<bool>(static_cast<std::size_t>(npar), false));
  for (const Json& block : first.at("coverage")) {
    const int n = block.at("submodel").get<int>();
    for (const Json& row : block.at("parameters")) {
      const int I = row.at("index").get<int>();
      if (n >= 1 && n <= nsub && I >= 1 && I <= npar) {
        t.estimated[static_cast<std::size_t>(n - 1)][static_cast<std::size_t>(I - 1)] = true;
      }
    }
  }
  t.first = 1;
  t.last = t.NSIM;
  std::vector<FitSummary> replicate;
  int current = 0;
  auto close_replicate = [&] {
    if (!replicate.empty()) add_pairs(t, replicate);
    replicate.clear();
  };
  for (const ShardDoc* shard : shards) {
    for (const Json& o : shard->doc["simulations"][s].at("fits")) {
      ReplicateFit f;
      f.replicate = o.at("replicate").get<int>();
      f.submodel = o.at("submodel").get<int>();
      if (f.submodel < 1 || f.submodel > nsub) throw MergeFault{shard->file + ": a fit of submodel " + std::to_string(f.submodel)};
      f.optimizer = static_cast<OptimizerCode>(o.at("optimizer_code").get<int>());
      f.inversion = static_cast<InversionCode>(o.at("inversion_code").get<int>());
      f.included = o.at("included").get<bool>();
      f.lnL = number_of(o, "lnl");
      f.aic = number_of(o, "aic");
      f.ndf = o.at("ndf").get<int>();
      f.gof_p = number_of(o, "g_p");
      f.estimates = numbers_of(o.at("estimates"));
      f.errors = numbers_of(o.at("se"));
      for (const Json& b : o.at("wald_covers")) f.wald_covers.push_back(b.get<bool>());
      for (const Json& b : o.at("logit_covers")) f.logit_covers.push_back(b.get<bool>());
      for (const Json& a : o.at("abundance")) {
        f.abundance.push_back(ReplicateAbundance{a.at("group").get<int>(), a.at("period").get<int>(),
                                                 a.at("caught").get<int>(), number_of(a, "estimate"),
                                                 number_of(a, "se"), number_of(a, "lower"), number_of(a, "upper")});
      }
      if (o.contains("coefficients")) {
        for (const Json& c : o["coefficients"]) {
          f.coefficients.push_back(ReplicateCoefficient{number_of(c, "estimate"), number_of(c, "se"),
                                                        number_of(c, "lower"), number_of(c, "upper"),
                                                        c.at("covers").get<bool>()});
        }
      }
      if (f.replicate != current) {
        close_replicate();
        current = f.replicate;
      }
      replicate.push_back(FitSummary{f.lnL, f.ndf});
      add_fit(t, f);
      t.fits.push_back(std::move(f));
    }
  }
  close_replicate();
  summarise(t);
  return t;
}

/// The members of a shard's "shard" object that identify its study, and
/// what a difference in each means.
constexpr std::pair<const char*, const char*> kStudyFields[] = {
    {"data", "on other data"},
    {"commands", "from another command file"},
    {"parameters", "with other parameter words"},
    {"generating_map", "with another generating model"},
    {"submodel_maps", "with other submodels"},
};

/// The shards of simulation `s` in shard order, checked to be the N shards
/// of one run that cover its replicates once each.
std::vector<const ShardDoc*> shards_in_order(const std::vector<ShardDoc>& docs, std::size_t s) {
  std::vector<const ShardDoc*> order;
  for (const ShardDoc& d : docs) {
    const Json& sims = d.doc.at("simulations");
    if (s >= sims.size()) throw MergeFault{d.file + ": fewer simulations than the other shards"};
    if (!sims[s].contains("shard")) throw MergeFault{d.file + ": not the results of a shard (no shard=K/N)"};
    order.push_back(&d);
  }
  auto index = [s](const ShardDoc* d) { return d->doc["simulations"][s]["shard"]["index"].get<int>(); };
  std::sort(order.begin(), order.end(), [&](const ShardDoc* a, const ShardDoc* b) { return index(a) < index(b); });
  const Json& first = order.front()->doc["simulations"][s];
  const int count = first["shard"]["count"].get<int>();
  if (static_cast<int>(order.size()) != count) {
    throw MergeFault{"the run has " + std::to_string(count) + " shards, " + std::to_string(order.size()) + " given"};
  }
  int next = 1;
  for (int k = 1; k <= count; ++k) {
    const ShardDoc* d = order[static_cast<std::size_t>(k - 1)];
    const Json& sim = d->doc["simulations"][s];
    if (index(d) != k) throw MergeFault{d->file + ": shard " + std::to_string(index(d)) + " given twice"};
    for (const char* key : {"replicates", "seed", "submodels", "labels", "generating", "group_names",
                            "generating_p_star", "coverage_printed"}) {
      if (sim.at(key) != first.at(key)) throw MergeFault{d->file + ": \"" + key + "\" differs from shard 1's"};
    }
    if (sim.contains("coefficients") != first.contains("coefficients") ||
        (sim.contains("coefficients") && sim["coefficients"] != first["coefficients"])) {
      throw MergeFault{d->file + ": \"coefficients\" differs from shard 1's"};
    }
    // What identifies the study: the shards of one run agree in all of it.
    for (const auto& [key, what] : kStudyFields) {
      if (sim["shard"].at(key) != first["shard"].at(key)) {
        throw MergeFault{d->file + ": \"shard." + key + "\" differs from shard 1's (" + order.front()->file +
                         "): it was run " + what + "; nothing is merged"};
      }
    }
    if (sim["shard"]["count"].get<int>() != count || sim["shard"]["first"].get<int>() != next) {
      throw MergeFault{d->file + ": its replicates do not follow those of shard " + std::to_string(k - 1)};
    }
    next = sim["shard"]["last"].get<int>() + 1;
  }
  if (next != first.at("replicates").get<int>() + 1) throw MergeFault{"the shards do not cover every replicate"};
  return order;
}

/// The parameter line without its shard=K/N word.
std::string without_shard(const std::string& line) {
  std::string out;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    if (word.rfind("shard=", 0) == 0 || word.rfind("SHARD=", 0) == 0) continue;
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

/// Checks that a shard's document has every member the merge reads, of the
/// kind and size it declares, before any of it is used: a hand-edited or
/// damaged shard is named with the member at fault, never read past its end.
class ShardCheck {
 public:
  explicit ShardCheck(const std::string& file) : file_(file) {}

  void document(const Json& doc) const {
    if (!doc.is_object()) fault("", "is not a JSON object");
    string_of(doc, "parameter_line", "");
    const Json& sims = member(doc, "simulations", "");
    if (!sims.is_array()) fault("simulations", "is not an array");
    for (std::size_t s = 0; s < sims.size(); ++s) simulation(sims[s], "simulations[" + std::to_string(s) + "]");
  }

 private:
  std::string file_;

  [[noreturn]] void fault(const std::string& where, const std::string& what) const {
    throw MergeFault{file_ + ": " + (where.empty() ? std::string("the document") : where) + " " + what};
  }
  const Json& member(const Json& o, const char* key, const std::string& where) const {
    if (!o.is_object() || !o.contains(key)) fault(where.empty() ? std::string(key) : where + "." + key, "is missing");
    return o[key];
  }
  long long int_of(const Json& o, const char* key, const std::string& where, long long lo, long long hi) const {
    const Json& v = member(o, key, where);
    const std::string at = where + "." + key;
    if (!v.is_number_integer()) fault(at, "is not a whole number");
    const long long x = v.get<long long>();
    if (x < lo || x > hi) fault(at, "is " + std::to_string(x) + ", outside " + std::to_string(lo) + " to " + std::to_string(hi));
    return x;
  }
  void string_of(const Json& o, const char* key, const std::string& where) const {
    if (!member(o, key, where).is_string()) fault(where.empty() ? std::string(key) : where + "." + key, "is not a text");
  }
  /// An array of `n` entries (n < 0: any count), each passing `ok`.
  template <typename Ok>
  std::size_t array_of(const Json& o, const char* key, const std::string& where, long long n, Ok ok, const char* kind) const {
    const Json& a = member(o, key, where);
    const std::string at = where + "." + key;
    if (!a.is_array()) fault(at, "is not an array");
    if (n >= 0 && static_cast<long long>(a.size()) != n) {
      fault(at, "has " + std::to_string(a.size()) + " entries, " + std::to_string(n) + " expected");
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!ok(a[i])) fault(at + "[" + std::to_string(i) + "]", std::string("is not ") + kind);
    }
    return a.size();
  }
  static bool number_or_null(const Json& v) { return v.is_number() || v.is_null(); }

  void simulation(const Json& sim, const std::string& at) const {
    if (!sim.is_object()) fault(at, "is not an object");
    const long long replicates = int_of(sim, "replicates", at, 0, std::numeric_limits<int>::max());
    int_of(sim, "seed", at, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
    const long long nsub = static_cast<long long>(
        array_of(sim, "submodels", at, -1, [](const Json& v) { return v.is_string(); }, "a text"));
    if (nsub < 1 || nsub > MAXMOD) fault(at + ".submodels", "holds " + std::to_string(nsub) + " models, 1 to " + std::to_string(MAXMOD) + " expected");
    const long long npar = static_cast<long long>(
        array_of(sim, "labels", at, -1, [](const Json& v) { return v.is_string(); }, "a text"));
    if (npar < 1 || npar > MAXPAR) fault(at + ".labels", "holds " + std::to_string(npar) + " parameters, 1 to " + std::to_string(MAXPAR) + " expected");
    array_of(sim, "generating", at, npar, number_or_null, "a number");
    const long long groups = static_cast<long long>(
        array_of(sim, "group_names", at, -1, [](const Json& v) { return v.is_string(); }, "a text"));
    const Json& catches = member(sim, "generating_p_star", at);
    if (!catches.is_array()) fault(at + ".generating_p_star", "is not an array");
    for (std::size_t c = 0; c < catches.size(); ++c) {
      const std::string cat = at + ".generating_p_star[" + std::to_string(c) + "]";
      period_of(catches[c], cat, groups);
      if (!number_or_null(member(catches[c], "p_star", cat))) fault(cat + ".p_star", "is not a number");
      nonfinite_of(catches[c], cat);
    }
    if (!member(sim, "coverage_printed", at).is_boolean()) fault(at + ".coverage_printed", "is not true or false");
    const Json& coverage = member(sim, "coverage", at);
    if (!coverage.is_array()) fault(at + ".coverage", "is not an array");
    for (std::size_t b = 0; b < coverage.size(); ++b) {
      const std::string cat = at + ".coverage[" + std::to_string(b) + "]";
      int_of(coverage[b], "submodel", cat, 1, nsub);
      const Json& rows = member(coverage[b], "parameters", cat);
      if (!rows.is_array()) fault(cat + ".parameters", "is not an array");
      for (std::size_t r = 0; r < rows.size(); ++r) int_of(rows[r], "index", cat + ".parameters[" + std::to_string(r) + "]", 1, npar);
    }
    // The coefficients of the submodels with linear forms, when there are any.
    std::vector<long long> coefficients(static_cast<std::size_t>(nsub), 0);
    if (sim.contains("coefficients")) {
      const Json& lists = sim["coefficients"];
      if (!lists.is_array() || static_cast<long long>(lists.size()) != nsub) {
        fault(at + ".coefficients", "is not an array of " + std::to_string(nsub) + " lists");
      }
      for (std::size_t n = 0; n < lists.size(); ++n) {
        const std::string lat = at + ".coefficients[" + std::to_string(n) + "]";
        if (!lists[n].is_array()) fault(lat, "is not an array");
        coefficients[n] = static_cast<long long>(lists[n].size());
        for (std::size_t k = 0; k < lists[n].size(); ++k) {
          const std::string cat = lat + "[" + std::to_string(k) + "]";
          string_of(lists[n][k], "name", cat);
          string_of(lists[n][k], "part", cat);
          if (!number_or_null(member(lists[n][k], "true_value", cat))) fault(cat + ".true_value", "is not a number");
          nonfinite_of(lists[n][k], cat);
        }
      }
    }
    if (!sim.contains("shard")) return;  // not a shard: the merge says so
    const std::string sat = at + ".shard";
    const Json& shard = sim["shard"];
    const long long count = int_of(shard, "count", sat, 1, std::max<long long>(replicates, 1));
    int_of(shard, "index", sat, 1, count);
    const long long first = int_of(shard, "first", sat, 1, replicates + 1);
    const long long last = int_of(shard, "last", sat, first - 1, replicates);
    for (const char* key : {"data", "commands", "parameters"}) string_of(shard, key, sat);
    const auto whole = [](const Json& v) { return v.is_number_integer(); };
    array_of(shard, "generating_map", sat, npar, whole, "a whole number");
    const Json& maps = member(shard, "submodel_maps", sat);
    if (!maps.is_array() || static_cast<long long>(maps.size()) != nsub) {
      fault(sat + ".submodel_maps", "is not an array of " + std::to_string(nsub) + " maps");
    }
    for (std::size_t n = 0; n < maps.size(); ++n) {
      if (!maps[n].is_array() || static_cast<long long>(maps[n].size()) != npar ||
          !std::all_of(maps[n].begin(), maps[n].end(), whole)) {
        fault(sat + ".submodel_maps[" + std::to_string(n) + "]", "is not an array of " + std::to_string(npar) + " whole numbers");
      }
    }
    const Json& fits = member(sim, "fits", at);
    if (!fits.is_array()) fault(at + ".fits", "is not an array");
    // Every replicate of the shard's range refits every submodel, in order.
    const long long expected = (last - first + 1) * nsub;
    if (static_cast<long long>(fits.size()) != expected) {
      fault(at + ".fits", "holds " + std::to_string(fits.size()) + " fits; replicates " + std::to_string(first) + " to " +
                              std::to_string(last) + " of " + std::to_string(nsub) + " submodels make " + std::to_string(expected));
    }
    for (std::size_t i = 0; i < fits.size(); ++i) {
      const Json& f = fits[i];
      const std::string fat = at + ".fits[" + std::to_string(i) + "]";
      const long long replicate = first + static_cast<long long>(i) / nsub;
      const long long submodel = 1 + static_cast<long long>(i) % nsub;
      int_of(f, "replicate", fat, replicate, replicate);
      int_of(f, "submodel", fat, submodel, submodel);
      int_of(f, "optimizer_code", fat, 0, 255);
      int_of(f, "inversion_code", fat, 0, 255);
      int_of(f, "ndf", fat, -1, std::numeric_limits<int>::max());
      if (!member(f, "included", fat).is_boolean()) fault(fat + ".included", "is not true or false");
      for (const char* key : {"lnl", "aic", "g_p"}) {
        if (!number_or_null(member(f, key, fat))) fault(fat + "." + key, "is not a number");
      }
      nonfinite_of(f, fat);
      array_of(f, "estimates", fat, npar, number_or_null, "a number");
      array_of(f, "se", fat, npar, number_or_null, "a number");
      array_of(f, "wald_covers", fat, npar, [](const Json& v) { return v.is_boolean(); }, "true or false");
      array_of(f, "logit_covers", fat, npar, [](const Json& v) { return v.is_boolean(); }, "true or false");
      coefficients_of(f, fat, coefficients[static_cast<std::size_t>(submodel - 1)]);
      const Json& abundance = member(f, "abundance", fat);
      if (!abundance.is_array()) fault(fat + ".abundance", "is not an array");
      for (std::size_t k = 0; k < abundance.size(); ++k) {
        const Json& a = abundance[k];
        const std::string aat = fat + ".abundance[" + std::to_string(k) + "]";
        period_of(a, aat, groups);
        int_of(a, "caught", aat, 0, std::numeric_limits<int>::max());
        for (const char* key : {"estimate", "se", "lower", "upper"}) {
          if (!number_or_null(member(a, key, aat))) fault(aat + "." + key, "is not a number");
        }
        nonfinite_of(a, aat);
      }
    }
  }

  /// The coefficients of a fit: as many as its submodel has, each with its
  /// estimate, standard error and interval, or none for a submodel without them.
  void coefficients_of(const Json& f, const std::string& at, long long count) const {
    if (!f.contains("coefficients")) {
      if (count > 0) fault(at + ".coefficients", "is missing");
      return;
    }
    const Json& list = f["coefficients"];
    const std::string cat = at + ".coefficients";
    if (!list.is_array() || static_cast<long long>(list.size()) != count) {
      fault(cat, "is not an array of " + std::to_string(count) + " coefficients");
    }
    for (std::size_t k = 0; k < list.size(); ++k) {
      const std::string kat = cat + "[" + std::to_string(k) + "]";
      for (const char* key : {"estimate", "se", "lower", "upper"}) {
        if (!number_or_null(member(list[k], key, kat))) fault(kat + "." + key, "is not a number");
      }
      if (!member(list[k], "covers", kat).is_boolean()) fault(kat + ".covers", "is not true or false");
      nonfinite_of(list[k], kat);
    }
  }

  /// The group and period of an entry by period: group 1..groups (1 without groups), period 1..MAXPER.
  void period_of(const Json& o, const std::string& at, long long groups) const {
    int_of(o, "group", at, 1, std::max<long long>(groups, 1));
    int_of(o, "period", at, 1, MAXPER);
  }
  /// The names of the values that are not finite, when the object has them.
  void nonfinite_of(const Json& o, const std::string& at) const {
    if (!o.contains("nonfinite")) return;
    const Json& nf = o["nonfinite"];
    if (!nf.is_object()) fault(at + ".nonfinite", "is not an object");
    for (const auto& [key, value] : nf.items()) {
      if (!value.is_string()) fault(at + ".nonfinite." + key, "is not a text");
    }
  }
};

ShardDoc read_doc(const std::string& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) throw MergeFault{file + " is a directory, not the results of a shard"};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw MergeFault{"cannot open " + file};
  ShardDoc doc{file, {}};
  try {
    doc.doc = Json::parse(in);
  } catch (const nlohmann::json::exception& e) {
    throw MergeFault{file + ": not a JSON document (" + std::string(e.what()) + ")"};
  }
  ShardCheck(file).document(doc.doc);
  return doc;
}

}  // namespace

int merge_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string json_file;
  std::string listing_file;
  int lines = 9999;
  std::vector<std::string> files;
  try {
    for (const std::string& a : args) {
      if (a == "--help" || a == "-h") {
        out << kUsage;
        return 0;
      }
      if (a.rfind("json=", 0) == 0 || a.rfind("JSON=", 0) == 0) {
        json_file = a.substr(5);
      } else if (a.rfind("l=", 0) == 0 || a.rfind("L=", 0) == 0) {
        listing_file = a.substr(2);
      } else if (a.rfind("lines=", 0) == 0 || a.rfind("LINES=", 0) == 0) {
        const std::string v = a.substr(6);
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), lines);
        if (ec != std::errc() || end != v.data() + v.size()) throw MergeFault{"lines=N needs a whole number: " + a};
        if (lines <= 29) lines = 60;
      } else if (a.size() > 1 && a[0] == '-') {
        throw MergeFault{"unknown option " + a};
      } else {
        files.push_back(a);
      }
    }
    if (files.empty()) throw MergeFault{"no shard results given"};
    // An output never replaces a shard, nor the other output.
    for (const std::string& f : files) {
      if (same_file(json_file, f)) throw MergeFault{"json=" + json_file + " names the shard " + f + "; nothing is written"};
      if (same_file(listing_file, f)) throw MergeFault{"l=" + listing_file + " names the shard " + f + "; nothing is written"};
    }
    if (same_file(json_file, listing_file)) throw MergeFault{"json= and l= name one file, " + json_file + "; nothing is written"};
    std::vector<ShardDoc> docs;
    for (const std::string& f : files) docs.push_back(read_doc(f));
    const std::size_t nsims = docs.front().doc.at("simulations").size();
    if (nsims == 0) throw MergeFault{docs.front().file + ": the run has no PROC SIMULATE"};

    std::vector<SimulationTotals> merged;
    const ShardDoc* base = nullptr;
    for (std::size_t s = 0; s < nsims; ++s) {
      const std::vector<const ShardDoc*> order = shards_in_order(docs, s);
      if (s == 0) base = order.front();
      merged.push_back(merged_totals(order, s));
    }
    for (const ShardDoc& d : docs) {
      if (d.doc.at("simulations").size() != nsims) throw MergeFault{d.file + ": more simulations than the other shards"};
    }

    Json doc = base->doc;
    doc["parameter_line"] = without_shard(doc.at("parameter_line").get<std::string>());
    for (std::size_t s = 0; s < nsims; ++s) doc["simulations"][s] = Json::parse(simulation_results_json(merged[s]));
    if (!json_file.empty() && !replace_file(json_file, doc.dump() + "\n", Durability::Unsynced)) {
      throw MergeFault{"cannot write " + json_file};
    }

    std::ofstream file;
    if (!listing_file.empty()) {
      file.open(listing_file, std::ios::out | std::ios::trunc | std::ios::binary);
      if (!file) throw MergeFault{"cannot open " + listing_file + " for the summaries"};
    }
    std::ostream& to = listing_file.empty() ? out : file;
    Status status;
    status.LINES = lines;
    Instr instr;
    std::ostringstream quiet;
    {
      Listing lst(status, instr, to, quiet);
      lst.headst.BANNER = pad(std::string("quorvale-merge ") + QUORVALE_VERSION, 30);
      for (const SimulationTotals& t : merged) {
        if (t.NSIM > 1) print_summaries(lst, t);
      }
      lst.flush();
    }
    if (!to) throw MergeFault{"cannot write the summaries"};
    return 0;
  } catch (const MergeFault& f) {
    err << "quorvale-merge: " << f.message << "\n";
    return 1;
  } catch (const nlohmann::json::exception& e) {
    err << "quorvale-merge: a shard's results lack what the merge needs (" << e.what() << ")\n";
    return 1;
  }
}

}  // namespace quorvale
