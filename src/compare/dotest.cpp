#include "compare/dotest.h"
#include "compare/averaging.h"
#include "compare/nesting.h"
#include "compare/test_listing.h"
#include "model/data_identity.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/atomic_file.h"
#include "base/text.h"
#include "stats/distributions.h"
#include "estimate/context.h"
#include "input/option_words.h"
#include "input/fields.h"

namespace quorvale {

namespace {

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

/// The options of PROC TEST.
constexpr OptionSpec kTestOptions[] = {
    {"AICSAVE", OptionForm::Value},
    {"SORTBY", OptionForm::Word},
    {"AVERAGE", OptionForm::Flag},
    {"C", OptionForm::Value},
};

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
      opt.chat = value(run.instr, i + 2, run.listing);
    }
  }
  run.reader.warn_unknown_options(scan_options(run.instr, run.status.NTOK, kTestOptions), "PROC TEST");
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

/// Identity of the data of this run, stored after column 90 of each record
/// as "  data C T H" (see data_identity). Files written before it have none.
std::string stored_identity(const ModelStore& m) { return "  " + data_identity(m); }

/// Marks the model's full name after the data identity; a record whose name
/// fits the 10 characters of its name field carries none.
constexpr std::string_view kNameMark = "  name ";

/// The full name of a model as its record carries it: empty when the name
/// field holds all of it.
std::string name_after_identity(const std::string& stored, const std::string& full_name) {
  const std::string field = trimmed(stored.substr(0, std::min<std::size_t>(stored.size(), 10)));
  return full_name == field ? std::string() : std::string(kNameMark) + full_name;
}

/// The 20 characters the table keeps of a name, as a fit given that name
/// keeps them: its first two words as read, each cut to 10 characters (a
/// longer word reads as several), each in a column of 10.
std::string table_name_of(const std::string& full_name) {
  std::vector<std::string> tokens;
  std::size_t at = 0;
  while (tokens.size() < 2) {
    at = full_name.find_first_not_of(' ', at);
    if (at == std::string::npos) break;
    const std::size_t end = std::min(full_name.find(' ', at), full_name.size());
    for (std::size_t p = at; p < end && tokens.size() < 2; p += 10) tokens.push_back(full_name.substr(p, std::min<std::size_t>(10, end - p)));
    at = end;
  }
  std::string name;
  for (const std::string& t : tokens) name += pad(t, 10);
  return pad(name, 20);
}

/// Columns (0-based start, width) of a record's fields that must hold a value.
constexpr std::size_t kLnlFrom = 31, kLnlWidth = 14, kKFrom = 55, kKWidth = 5, kRecordWidth = 90;

/// True when `width` columns from `from` of `line` are all blank.
bool blank(const std::string& line, std::size_t from, std::size_t width) {
  return line.find_first_not_of(' ', from) >= from + width;
}

/// What the model file holds besides the rows it adds to the table.
struct FileRecords {
  std::vector<std::string> other_data;  ///< records of other data, written back as read
  int replaced = 0;                     ///< records that were the same fit as one of this sequence
};

/// Appends the model file's records of this data to the table. A record
/// named like a model of this sequence, or holding the same fit (name as
/// stored, K and log-likelihood as written), is replaced by that model. A
/// record that is incomplete or impossible, or more records than the table
/// holds, end the run with the file as it was.
FileRecords read_model_file(FitContext& run, const std::string& file, const std::string& identity) {
  namespace fs = std::filesystem;
  Listing& lst = run.listing;
  FileRecords out;
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  // A file that does not exist yet holds no models; it is written only when
  // there are models to compare, so a lone model leaves no empty file behind.
  if (st.type() == fs::file_type::not_found) return out;
  if (ec || !fs::is_regular_file(st)) lst.error("Model file " + file + " cannot be opened.");
  std::ifstream in(file, std::ios::binary);
  if (!in) lst.error("Model file " + file + " cannot be opened.");

  SavedModels& s = run.saved;
  const int before = s.NMOD;
  // This sequence's models as the file would hold them.
  std::vector<std::string> own(static_cast<std::size_t>(before) + 1);
  for (int j = 1; j <= before; ++j) {
    file_layout().write(own[static_cast<std::size_t>(j)],
                        {s.NAMSAV(j), 0.0, s.lnL(j), s.NDF(j), s.K(j), s.PG(j), s.G(j), s.DFC(j)});
  }
  int record = 0;
  std::string line;
  std::string name;
  double aic = 0.0;
  while (std::getline(in, line)) {
    ++record;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "Model file " + file + ", record " + std::to_string(record);
    if (line.size() < kKFrom + kKWidth || blank(line, 1, 10) || blank(line, kLnlFrom, kLnlWidth) ||
        blank(line, kKFrom, kKWidth)) {
      lst.error(where + ", is incomplete; the file is left as it is.");
    }
    const std::string stored = line;
    std::string tail = line.size() > kRecordWidth ? line.substr(kRecordWidth) : std::string();
    // The full name, when the record carries one, follows the data identity.
    std::string full_name;
    if (const std::size_t at = tail.find(kNameMark); at != std::string::npos) {
      full_name = trimmed(tail.substr(at + kNameMark.size()));
      tail.resize(at);
    }
    const std::size_t id_start = tail.find_first_not_of(' ');
    const std::string id = id_start == std::string::npos ? std::string() : tail;
    if (!id.empty() && id != identity) {
      out.other_data.push_back(stored);
      continue;
    }
    if (line.size() > kRecordWidth) line.resize(kRecordWidth);
    const int row = s.NMOD + 1;
    // A field written as asterisks held a value too wide for it: the AIC is
    // recomputed anyway, and a probability that could not be written reads
    // as not known, so that the file stays readable.
    const bool pg_unknown = overflowed(line, 64, 6);
    if (pg_unknown) line.replace(64, 6, 6, ' ');
    if (overflowed(line, 13, 16)) line.replace(13, 16, 16, ' ');
    double lnl = 0.0;
    int ndf = 0;
    int k = 0;
    double pg = 0.0;
    double g = 0.0;
    int dfc = 0;
    const int status = file_layout().read(
        line, {Target::of(name, 20), Target::of(aic), Target::of(lnl), Target::of(ndf), Target::of(k),
               Target::of(pg), Target::of(g), Target::of(dfc)});
    if (status != 0) lst.error(where + ", does not fit its layout.");
    if (!valid_model_record(lnl, k, ndf, dfc)) {
      lst.error(where + ", holds impossible values (log-likelihood above 0 or a negative count).");
    }
    // A record with its full name is this sequence's model of that name; an
    // older one, without it, is matched by its 10 characters as before.
    bool duplicate = false;
    for (int j = 1; j <= before && !duplicate; ++j) {
      const std::string& o = own[static_cast<std::size_t>(j)];
      if (!full_name.empty()) {
        duplicate = full_name == (s.full_name(j).empty() ? trimmed(s.NAMSAV(j)) : s.full_name(j));
        continue;
      }
      duplicate = s.NAMSAV(j) == name ||
                  (o.compare(1, 10, line, 1, 10) == 0 && o.compare(kLnlFrom, kLnlWidth, line, kLnlFrom, kLnlWidth) == 0 &&
                   o.compare(kKFrom, kKWidth, line, kKFrom, kKWidth) == 0);
    }
    if (duplicate) {
      ++out.replaced;
      continue;
    }
    if (row > MAXMOD) {
      lst.error("Model file " + file + " and this sequence hold more than " + std::to_string(MAXMOD) +
                " models; the file is left as it is.");
    }
    s.lnL(row) = lnl;
    s.NDF(row) = ndf;
    s.K(row) = k;
    s.PG(row) = pg_unknown ? std::numeric_limits<double>::quiet_NaN() : pg;
    s.G(row) = g;
    s.DFC(row) = dfc;
    s.NAMSAV(row) = full_name.empty() ? name : table_name_of(full_name);
    s.full_name(row) = full_name;
    s.NMOD = row;
  }
  if (in.bad()) lst.error("Model file " + file + " cannot be read.");
  if (!out.other_data.empty()) {
    lst.warn(std::to_string(out.other_data.size()) + " model(s) of the model file " + file +
             " are of other data: left out of the comparison, kept in the file.");
  }
  return out;
}

/// Replaces the model file by `contents` through a full temporary copy renamed over it; the old file survives any failure.
void replace_model_file(FitContext& run, const std::string& file, const std::string& contents) {
  if (!replace_file(file, contents, Durability::Synced)) run.listing.error("Model file " + file + " cannot be written.");
}

/// Computes the criteria, the ranking and the likelihood-ratio tests.
ModelComparison compare(const SavedModels& s, const TestOptions& opt, int n, int own,
                        std::span<const FitReport> sequence) {
  ModelComparison c;
  c.n = n;
  // The parameter map of a model fitted in this sequence; none for a model of the model file.
  const auto fit_of = [&sequence](const ComparedModel& m) -> const FitReport* {
    if (m.from_file) return nullptr;
    for (const FitReport& f : sequence) {
      if (f.sequence == m.order) return &f;
    }
    return nullptr;
  };
  // AIC and AICc; the most general model is the first with the largest K.
  int g = 1;
  for (int i = 1; i <= s.NMOD; ++i) {
    ComparedModel row;
    row.order = i;
    row.name = s.NAMSAV(i);
    row.full_name = s.full_name(i).empty() ? trimmed(s.NAMSAV(i))
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
    row.sound = s.unsound(i) == 0;
    c.models.push_back(row);
    // A fit resting on an impossible point gives no c-hat: the first sound
    // fit with the largest K is the most general one when there is one.
    const bool sound_i = s.unsound(i) == 0;
    const bool sound_g = s.unsound(g) == 0;
    if ((sound_i && !sound_g) || (sound_i == sound_g && s.K(i) > s.K(g))) g = i;
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

  c.criterion = quasi_criterion(c.chat) ? kQaicc : kAicc;
  // Differences from the smallest value and Akaike weights of both criteria.
  const auto differences = [&c](int column, double ComparedModel::*delta, double ComparedModel::*weight) {
    std::vector<double> values;
    // A fit that rests on an impossible point has no weight.
    for (const ComparedModel& row : c.models) {
      values.push_back(row.sound ? row.crit[column] : std::numeric_limits<double>::infinity());
    }
    const std::vector<double> weights = akaike_weights(values);
    double best = std::numeric_limits<double>::infinity();
    for (double v : values) {
      if (std::isfinite(v) && v < best) best = v;
    }
    for (std::size_t i = 0; i < c.models.size(); ++i) {
      c.models[i].*delta = values[i] - best;
      c.models[i].*weight = weights[i];
    }
  };
  differences(kAicc, &ComparedModel::delta_aicc, &ComparedModel::weight_aicc);
  differences(kQaicc, &ComparedModel::delta_qaicc, &ComparedModel::weight_qaicc);

  // Selection sort: the first smallest value of the rest moves up by an
  // exchange, so rows of equal value may change their relative order. A fit
  // whose log-likelihood or criterion is not finite, or that is not sound,
  // ranks after every other.
  c.ranked = c.models;
  std::vector<ComparedModel>& r = c.ranked;
  const auto key_of = [](const ComparedModel& m, int column) {
    const double v = m.crit[column];
    return m.sound && std::isfinite(m.lnL) && std::isfinite(v) ? v : std::numeric_limits<double>::infinity();
  };
  const auto key = [&](const ComparedModel& m) { return key_of(m, opt.sortby); };
  for (std::size_t p = 0; p + 1 < r.size(); ++p) {
    std::size_t best = p;
    for (std::size_t q = p + 1; q < r.size(); ++q) {
      if (key(r[q]) < key(r[best])) best = q;
    }
    if (best != p) std::swap(r[p], r[best]);
  }
  for (const ComparedModel& m : r) {
    if (!m.sound) {
      c.impossible.push_back(m.full_name);
    } else if (key(m) == std::numeric_limits<double>::infinity()) {
      c.not_finite.push_back(m.name);
    }
  }
  // The order by the criterion in force; ties keep the order of the ranking.
  for (std::size_t p = 0; p < r.size(); ++p) c.by_criterion.push_back(p);
  std::stable_sort(c.by_criterion.begin(), c.by_criterion.end(), [&](std::size_t a, std::size_t b) {
    return key_of(r[a], c.criterion) < key_of(r[b], c.criterion);
  });
  for (std::size_t k = 0; k < c.by_criterion.size(); ++k) r[c.by_criterion[k]].rank = static_cast<int>(k + 1);

  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    for (std::size_t j = i + 1; j < r.size(); ++j) {
      // A fit resting on an impossible point is no test result.
      if (r[i].NDF == r[j].NDF || !r[i].sound || !r[j].sound) continue;
      // The model with fewer degrees of freedom is taken as the general one;
      // the test applies only when the other is nested in it.
      RatioTest t;
      t.general = r[i].NDF < r[j].NDF ? i : j;
      t.reduced = t.general == i ? j : i;
      const FitReport* general = fit_of(r[t.general]);
      const FitReport* reduced = fit_of(r[t.reduced]);
      t.maps_known = general && reduced;
      t.nested = t.maps_known && nested_in(*reduced, *general);
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
/// The model file's records of the ranked models, each with the identity of
/// this run's data, then the records of other data as they were read.
std::string model_file_records(const ModelComparison& c, const std::string& identity,
                               const std::vector<std::string>& other_data) {
  std::string contents;
  for (const ComparedModel& m : c.ranked) {
    if (!m.sound || !valid_model_record(m.lnL, m.K, m.NDF, m.DFC)) continue;
    std::string one;
    file_layout().write(one, {m.name, m.crit[kAic], m.lnL, m.NDF, m.K, m.PG, m.G, m.DFC});
    one.pop_back();
    contents += one + identity + name_after_identity(one.substr(1), m.full_name) + "\n";
  }
  for (const std::string& line : other_data) contents += line + "\n";
  return contents;
}

/// Warns of two models of the sequence whose 20-character names are the
/// same: their rows of the tables could not be told apart.
void warn_same_names(FitContext& run) {
  const SavedModels& s = run.saved;
  for (int j = 2; j <= s.NMOD; ++j) {
    for (int i = 1; i < j; ++i) {
      if (s.NAMSAV(i) != s.NAMSAV(j)) continue;
      const std::string name = trimmed(s.NAMSAV(j));
      run.listing.warn("Models " + std::to_string(i) + " and " + std::to_string(j) + " show the same name " + name +
                       "; give them distinct names (NAME=) to tell their rows apart.");
      break;
    }
  }
}

/// The standard errors of every fit of the sequence multiplied by sqrt(c-hat),
/// when c-hat is above 1; `first` is the index of the sequence's first fit.
std::vector<AdjustedErrors> adjusted_errors(std::span<const FitReport> sequence, std::size_t first, double chat) {
  std::vector<AdjustedErrors> adjusted;
  if (!(chat > 1.0)) return adjusted;
  const double factor = std::sqrt(chat);
  for (std::size_t i = 0; i < sequence.size(); ++i) {
    AdjustedErrors a{first + i, {}};
    for (const ParameterEstimate& e : sequence[i].parameters) a.se.push_back(e.se * factor);
    adjusted.push_back(std::move(a));
  }
  return adjusted;
}

/// Joins each model fitted in this run to its report among `fits`: the latest
/// with its row number.
void join_fits(std::vector<ComparedModel>& models, std::span<const FitReport> fits) {
  for (ComparedModel& m : models) {
    if (m.from_file) continue;
    for (std::size_t f = fits.size(); f-- > 0;) {
      if (fits[f].sequence == m.order) {
        m.fit = f;
        break;
      }
    }
  }
}

}  // namespace

std::optional<ModelComparison> dotest(FitContext& run, std::span<const FitReport> fits, std::size_t sequence_start) {
  const std::span<const FitReport> sequence = fits.subspan(std::min(sequence_start, fits.size()));
  const int n = sample_size(run.model);
  const TestOptions opt = read_options(run);
  const int own = run.saved.NMOD;
  const std::string identity = stored_identity(run.model);
  std::optional<FileLock> lock;
  FileRecords file;
  if (opt.aicsave) {
    run.reader.refuse_overwrite(opt.file, "Model file");
    // Held until the file is replaced: a second run waits, then merges into the new file.
    lock.emplace(opt.file);
    if (!lock->held()) {
      // Unlocked, a run merging into the same file at the same time would lose models.
      run.listing.error("Model file " + opt.file + " cannot be locked: the lock file " + lock->lock_file() +
                        " cannot be opened, or is not a file.");
    }
    file = read_model_file(run, opt.file, identity);
  }
  run.reader.getcmd();

  std::optional<ModelComparison> result;
  if (run.saved.NMOD < 2) {
    run.listing.warn("Not enough PROC ESTIMATE statements to generate models for testing.");
  } else {
    warn_same_names(run);
    const ModelComparison& comparison = result.emplace(compare(run.saved, opt, n, own, sequence));
    print_criteria(run.listing, comparison);
    if (opt.aicsave) {
      replace_model_file(run, opt.file, model_file_records(comparison, identity, file.other_data));
      if (!comparison.impossible.empty()) {
        run.listing.warn("Not written to the model file " + opt.file + ", resting on an impossible point: " +
                         name_list(comparison.impossible) + ".");
      }
    }
    print_ratio_tests(run.listing, comparison);
    print_fit_notes(run.listing, sequence);
    join_fits(result->models, fits);
    join_fits(result->ranked, fits);
    result->adjusted = adjusted_errors(sequence, fits.size() - sequence.size(), comparison.chat);
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
