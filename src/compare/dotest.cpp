#include "compare/dotest.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/atomic_file.h"
#include "stats/distributions.h"
#include "estimate/context.h"
#include "input/fields.h"

namespace quorvale {

namespace {

/// The four criteria, numbered as the columns of the criteria table.
enum Criterion : int { kAic = 0, kAicc = 1, kQaic = 2, kQaicc = 3 };

/// Options of the PROC TEST statement.
struct TestOptions {
  bool aicsave = false;  ///< AICSAVE given: merge and rewrite the model file
  std::string file;      ///< model file name: the word after "AICSAVE =", as typed
  int sortby = kQaicc;   ///< criterion of the second table's order
  double chat = 0.0;     ///< c-hat given by C (0 when not given)
  bool average = false;  ///< AVERAGE: model-averaged estimates
};

/// Record layout of the model file: name, AIC, lnL, NDF, K, PG, G, DFC.
const Layout& file_layout() {
  static const Layout layout("(1X,A10,2X,F16.2,2X,G14.8,I5,5X,i5,4X,F6.4,G14.8,I6)");
  return layout;
}

/// Reads the options from every token of the PROC TEST statement; the last occurrence counts.
TestOptions read_options(FitContext& run) {
  TestOptions opt;
  for (int i = 1; i <= run.status.NTOK; ++i) {
    const Token& t = run.token(i);
    if (t == "AICSAVE") {
      opt.aicsave = true;
      opt.file = run.reader.option_word("AICSAVE");
    } else if (t == "SORTBY") {
      const Token& by = run.token(i + 1);
      if (by == "AIC") {
        opt.sortby = kAic;
      } else if (by == "AICC") {
        opt.sortby = kAicc;
      } else if (by == "QAIC") {
        opt.sortby = kQaic;
      } else {
        opt.sortby = kQaicc;
      }
    } else if (t == "AVERAGE") {
      opt.average = true;
    } else if (t == "C") {
      opt.chat = value(run.token(i + 2).view(), run.listing);
    }
  }
  return opt;
}

/// Sample size n: the sum of the cohort sizes of the model in the store (32-bit, wrapping).
int sample_size(const ModelStore& m) {
  std::int64_t n = 0;
  for (int c = 1; c <= m.NCOHRT; ++c) n += m.NREL(c);
  return static_cast<int>(static_cast<std::uint32_t>(n));
}

/// True when the `width` columns from `from` (0-based) of a record are all asterisks.
bool overflowed(const std::string& record, std::size_t from, std::size_t width) {
  if (record.size() < from + width) return false;
  return record.compare(from, width, std::string(width, '*')) == 0;
}

/// Appends the model file's records to the table, dropping those named like a model of this sequence.
void read_model_file(FitContext& run, const std::string& file) {
  namespace fs = std::filesystem;
  Listing& lst = run.listing;
  run.reader.refuse_overwrite(file, "Model file");
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  // A file that does not exist yet holds no models; it is written only when
  // there are models to compare, so a lone model leaves no empty file behind.
  if (st.type() == fs::file_type::not_found) return;
  if (ec || !fs::is_regular_file(st)) lst.error("Model file " + file + " cannot be opened.");
  std::ifstream in(file, std::ios::binary);
  if (!in) lst.error("Model file " + file + " cannot be opened.");

  SavedModels& s = run.saved;
  const int before = s.NMOD;
  int record = 0;
  std::string line;
  std::string name;
  double aic = 0.0;
  while (s.NMOD < MAXMOD && std::getline(in, line)) {
    ++record;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const int row = s.NMOD + 1;
    // A field written as asterisks held a value too wide for it: the AIC is
    // recomputed anyway, and a probability that could not be written reads
    // as not known, so that the file stays readable.
    const bool pg_unknown = overflowed(line, 64, 6);
    if (pg_unknown) line.replace(64, 6, 6, ' ');
    if (overflowed(line, 13, 16)) line.replace(13, 16, 16, ' ');
    const int status = file_layout().read(
        line, {Target::of(name, 20), Target::of(aic), Target::of(s.lnL(row)), Target::of(s.NDF(row)),
               Target::of(s.K(row)), Target::of(s.PG(row)), Target::of(s.G(row)), Target::of(s.DFC(row))});
    if (status != 0) {
      lst.error("Model file " + file + ", record " + std::to_string(record) + ", does not fit its layout.");
    }
    if (pg_unknown) s.PG(row) = std::numeric_limits<double>::quiet_NaN();
    bool duplicate = false;
    for (int j = 1; j <= before; ++j) duplicate = duplicate || s.NAMSAV(j) == name;
    if (duplicate) continue;
    s.NAMSAV(row) = name;
    s.full_name(row).clear();
    s.NMOD = row;
  }
  if (in.bad()) lst.error("Model file " + file + " cannot be read.");
}

/// Replaces the model file by `contents` through a full temporary copy renamed over it; the old file survives any failure.
void replace_model_file(FitContext& run, const std::string& file, const std::string& contents) {
  if (!replace_file(file, contents, Durability::Synced)) run.listing.error("Model file " + file + " cannot be written.");
}

/// Computes the criteria, the ranking and the likelihood-ratio tests.
ModelComparison compare(const SavedModels& s, const TestOptions& opt, int n, int own) {
  ModelComparison c;
  c.n = n;
  // AIC and AICc; the most general model is the first with the largest K.
  int g = 1;
  for (int i = 1; i <= s.NMOD; ++i) {
    ComparedModel row;
    row.order = i;
    row.name = s.NAMSAV(i);
    row.full_name = s.full_name(i).empty() ? s.NAMSAV(i).substr(0, s.NAMSAV(i).find_last_not_of(' ') + 1)
                                           : s.full_name(i);
    row.lnL = s.lnL(i);
    row.K = s.K(i);
    row.NDF = s.NDF(i);
    row.DFC = s.DFC(i);
    row.G = s.G(i);
    row.PG = s.PG(i);
    row.crit[kAic] = -2.0 * row.lnL + 2.0 * row.K;
    row.crit[kAicc] = row.crit[kAic] + aicc_correction(row.K, n);
    row.from_file = i > own;
    c.models.push_back(row);
    if (s.K(i) > s.K(g)) g = i;
  }
  c.most_general = s.NAMSAV(g);

  c.chat = opt.chat;
  if (c.chat < 1.0) {
    if (s.DFC(g) == 0) {
      // G/0 has no meaning as an overdispersion factor: no overdispersion is assumed.
      c.chat = 1.0;
      c.chat_without_dfc = true;
    } else {
      c.chat = s.G(g) / s.DFC(g);
      if (c.chat < 1.0) c.chat = 1.0;
    }
  }
  for (ComparedModel& row : c.models) {
    row.crit[kQaic] = -2.0 * row.lnL / c.chat + 2.0 * row.K;
    row.crit[kQaicc] = row.crit[kQaic] + aicc_correction(row.K, n);
  }

  std::vector<double> aicc;
  for (const ComparedModel& row : c.models) aicc.push_back(row.crit[kAicc]);
  const std::vector<double> weights = akaike_weights(aicc);
  double best = std::numeric_limits<double>::infinity();
  for (double v : aicc) {
    if (std::isfinite(v) && v < best) best = v;
  }
  for (std::size_t i = 0; i < c.models.size(); ++i) {
    c.models[i].delta_aicc = aicc[i] - best;
    c.models[i].weight_aicc = weights[i];
  }

  // Selection sort: the first smallest value of the rest moves up by an
  // exchange, so rows of equal value may change their relative order.
  c.ranked = c.models;
  std::vector<ComparedModel>& r = c.ranked;
  for (std::size_t p = 0; p + 1 < r.size(); ++p) {
    std::size_t best = p;
    for (std::size_t q = p + 1; q < r.size(); ++q) {
      if (r[q].crit[opt.sortby] < r[best].crit[opt.sortby]) best = q;
    }
    if (best != p) std::swap(r[p], r[best]);
  }

  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    for (std::size_t j = i + 1; j < r.size(); ++j) {
      if (r[i].NDF == r[j].NDF) continue;
      // The model with fewer degrees of freedom is taken as the general one;
      // nesting is the user's responsibility.
      RatioTest t;
      t.general = r[i].NDF < r[j].NDF ? i : j;
      t.reduced = t.general == i ? j : i;
      t.chi = -2.0 * (r[t.reduced].lnL - r[t.general].lnL);
      t.df = r[t.reduced].NDF - r[t.general].NDF;
      if (t.chi > 0.0) {
        double p = 0.0;
        int ier = 0;
        cdtr(t.chi, t.df, p, ier);
        t.error = ier != 0;
        t.probability = 1.0 - p;
      } else {
        t.chi = 0.0;
      }
      c.tests.push_back(t);
    }
  }
  return c;
}

/// The model file's records of the ranked models.
std::string model_file_records(const ModelComparison& c) {
  std::string contents;
  for (const ComparedModel& m : c.ranked) {
    file_layout().write(contents, {m.name, m.crit[kAic], m.lnL, m.NDF, m.K, m.PG, m.G, m.DFC});
  }
  return contents;
}

/// Prints the likelihood-ratio tests.
void print_ratio_tests(Listing& lst, const ModelComparison& c) {
  static const Layout title("(/21X,A)");
  static const Layout heading("(1X,A)");
  static const Layout row("(1X,A20,2X,A20,2X,F10.3,4X,I3,7X,F6.4)");
  lst.linchk(5);
  lst.put(title, {"Likelihood Ratio Tests Between Models"});
  lst.put(heading, {" General              Reduced                           Degrees   Pr(Larger "});
  lst.put(heading, {" Submodel             Submodel              Chi-square  Freedom  Chi-square)"});
  lst.put(heading, {"----------           ----------             ----------  -------  -----------"});
  for (const RatioTest& t : c.tests) {
    if (t.error) lst.warn("ERROR with chi-square probability.");
    lst.linchk(1);
    lst.put(row, {c.ranked[t.general].name, c.ranked[t.reduced].name, t.chi, t.df, t.probability});
  }
}

/// Prints the model-averaged estimates.
void print_average(Listing& lst, const ModelAverage& a) {
  static const Layout title("(//25X,A)");
  static const Layout text("(/3X,A)");
  static const Layout line("(3X,A)");
  static const Layout weight_line("(3X,A,A,A,F6.4,A)");
  static const Layout heading("(1X,A)");
  static const Layout first_heading("(/1X,A)");
  static const Layout row("(I4,2X,A20,4(1X,G12.6))");
  static const Layout period_row("(I6,2X,18X,4(1X,G12.6))");
  lst.linchk(static_cast<int>(a.parameters.size() + a.abundance.size()) + 10);
  lst.put(title, {"Model-averaged estimates"});
  if (a.models.empty()) {
    lst.put(text, {"No converged fit of this sequence to average."});
  } else {
    const std::string how = std::string("Weights from ") + (a.quasi ? "QAICc" : "AICc") + " over " +
                            std::to_string(a.models.size()) + (a.models.size() == 1 ? " model" : " models") +
                            (a.quasi ? ", standard errors with c-hat" : "") + ".";
    lst.put(text, {how});
    lst.put(weight_line, {"Best model: ", a.models[a.best].name, " (weight ", a.models[a.best].weight, ")"});
  }
  if (!a.not_converged.empty()) {
    std::string names;
    for (const std::string& n : a.not_converged) names += (names.empty() ? "" : ", ") + n;
    lst.put(line, {"Left out, not converged: " + names});
  }
  if (a.from_file > 0) {
    lst.put(line, {"Left out: " + std::to_string(a.from_file) + " model(s) of the model file (no estimates)."});
  }
  if (a.models.empty()) return;
  lst.put(first_heading, {"  I  Parameter              Estimate    Uncond. SE      Lower        Upper"});
  lst.put(heading, {" ---  -------------------- ------------ ------------ ------------ ------------"});
  for (const AveragedValue& v : a.parameters) {
    lst.put(row, {v.index, v.label, v.estimate, v.se, v.ci.lower, v.ci.upper});
  }
  if (a.abundance.empty()) return;
  lst.put(first_heading, {"Period                      N-hat       Uncond. SE      Lower        Upper"});
  lst.put(heading, {"------                   ------------ ------------ ------------ ------------"});
  for (const AveragedValue& v : a.abundance) {
    lst.put(period_row, {v.index, v.estimate, v.se, v.ci.lower, v.ci.upper});
  }
}

/// Prints the criteria tables (table order, then ranked).
void print_criteria(Listing& lst, const ModelComparison& c) {
  static const Layout general_line("(/a,a,a,i6,a,f6.2)");
  static const Layout first_row("(I2,1x,a,I7,5(1X,G12.6))");
  static const Layout second_heading(
      "(/2X,8x,15X,4hLog-/2X,8HSubmodel,12X,17Hlikelihood    NDF,"
      "4X,3HAIC,5X,5HG-O-F,2X,4HAICC,5X,4HQAIC,3X,5HQAICC)");
  static const Layout second_underline(
      "(1X,9(1H-),12X,10(1H-),4X,3(1H-),1X,9(1H-),1X,6(1H-),1x,7(1h-),1X,7(1h-),1X,7(1h-))");
  static const Layout second_row("(I2,1X,A20,1X,G10.4,I5,1X,G10.5,1X,F5.3,1X,3(G9.4))");
  if (c.chat_without_dfc) lst.warn("Most general model has DFC = 0; c-hat set to 1.");
  lst.put_free({" "});
  lst.put_free({"Modified AIC calculations: (see ", "Model Selection and Multimodel Inference:"});
  lst.put_free({"A Practical Information-Theoretic Approach, 2nd ed., by K. P. Burnham and D. R. Anderson, 2002)"});
  lst.put(general_line, {" Most General Model: ", c.most_general, "  n=", c.n, " c=", c.chat});
  lst.put_free({" "});
  lst.put_free({" Submodel                NPAR     AIC", "         AICc         QAIC         QAICc"});
  lst.put_free({" -------------------      ---  -----", "--    ---------      -------     --------"});
  for (const ComparedModel& m : c.models) {
    lst.put(first_row, {m.order, m.name, m.K, m.crit[kAic], m.crit[kAicc], m.crit[kQaic], m.crit[kQaicc]});
  }
  lst.linchk(static_cast<int>(c.ranked.size()) + 5);
  lst.put(second_heading, {});
  lst.put(second_underline, {});
  for (const ComparedModel& m : c.ranked) {
    lst.put(second_row, {m.order, m.name, m.lnL, m.NDF, m.crit[kAic], m.PG, m.crit[kAicc], m.crit[kQaic],
                         m.crit[kQaicc]});
  }
}

/// Warns of two models of the sequence whose 20-character names are the
/// same: their rows of the tables could not be told apart.
void warn_same_names(FitContext& run) {
  const SavedModels& s = run.saved;
  for (int j = 2; j <= s.NMOD; ++j) {
    for (int i = 1; i < j; ++i) {
      if (s.NAMSAV(i) != s.NAMSAV(j)) continue;
      const std::string name = s.NAMSAV(j).substr(0, s.NAMSAV(j).find_last_not_of(' ') + 1);
      run.listing.warn("Models " + std::to_string(i) + " and " + std::to_string(j) + " show the same name " + name +
                       "; give them distinct names (NAME=) to tell their rows apart.");
      break;
    }
  }
}

}  // namespace

std::optional<ModelComparison> dotest(FitContext& run, std::span<FitReport> sequence) {
  const int n = sample_size(run.model);
  const TestOptions opt = read_options(run);
  const int own = run.saved.NMOD;
  if (opt.aicsave) read_model_file(run, opt.file);
  run.reader.getcmd();

  std::optional<ModelComparison> result;
  if (run.saved.NMOD < 2) {
    run.listing.warn("Not enough PROC ESTIMATE statements to generate models for testing.");
  } else {
    warn_same_names(run);
    const ModelComparison& comparison = result.emplace(compare(run.saved, opt, n, own));
    print_criteria(run.listing, comparison);
    if (opt.aicsave) replace_model_file(run, opt.file, model_file_records(comparison));
    print_ratio_tests(run.listing, comparison);
    for (FitReport& f : sequence) f.chat = comparison.chat;
    if (opt.average) {
      result->average = model_average(sequence, comparison.chat, run.saved.NMOD - own);
      print_average(run.listing, *result->average);
    }
  }

  run.saved.reset();
  run.listing.linchk(2);
  run.listing.warn("Sequence of models reinitialized to zero.");
  return result;
}

}  // namespace quorvale
