#include "results/merge.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/atomic_file.h"
#include "base/instr.h"
#include "base/status.h"
#include "input/fields.h"
#include "listing/listing.h"
#include "results/json.h"
#include "simulate/rdsimlte.h"

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
  t.coverage = first.at("coverage_printed").get<bool>();
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
    if (!replicate.empty()) t.add_pairs(replicate);
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
      if (f.replicate != current) {
        close_replicate();
        current = f.replicate;
      }
      replicate.push_back(FitSummary{f.lnL, f.ndf});
      t.add(f);
      t.fits.push_back(std::move(f));
    }
  }
  close_replicate();
  return t;
}

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
    for (const char* key : {"replicates", "seed", "submodels", "labels", "generating", "coverage_printed"}) {
      if (sim.at(key) != first.at(key)) throw MergeFault{d->file + ": \"" + key + "\" differs from shard 1's"};
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

ShardDoc read_doc(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw MergeFault{"cannot open " + file};
  try {
    return ShardDoc{file, Json::parse(in)};
  } catch (const nlohmann::json::exception& e) {
    throw MergeFault{file + ": not a JSON document (" + std::string(e.what()) + ")"};
  }
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
