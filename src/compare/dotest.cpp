#include "compare/dotest.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

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
  std::string file;      ///< model file name: the fifth token, trailing blanks removed
  int sortby = kQaicc;   ///< criterion of the second table's order
  double chat = 0.0;     ///< c-hat given by C (0 when not given)
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
      opt.file = std::string(run.token(5).trimmed());
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

/// Small-sample correction 2K(K+1)/(n-K-1): integer numerator and denominator, floating division.
double correction(int k, int n) {
  // Wide integers: a K read from a model file may be as large as its field allows.
  const std::int64_t numerator = std::int64_t{2} * k * (std::int64_t{k} + 1);
  const std::int64_t denominator = std::int64_t{n} - k - 1;
  return static_cast<double>(numerator) / static_cast<double>(denominator);
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
    s.NMOD = row;
  }
  if (in.bad()) lst.error("Model file " + file + " cannot be read.");
}

/// Removes a temporary file unless it has been renamed into place.
class TempFile {
 public:
  /// Owns the temporary file at `path`.
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  /// Removes the file if it is still there under its temporary name.
  ~TempFile() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  /// The file is in place under its final name: nothing to remove.
  void release() { path_.clear(); }
  /// Path of the temporary file.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Creates a new file next to `file` under a name no other file has; null when none can be made.
std::FILE* create_temporary(const std::string& file, std::string& path) {
  std::random_device device;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(device()));
    path = file + suffix;
    // "x": the open fails rather than overwrite a file that already has this name.
    if (std::FILE* f = std::fopen(path.c_str(), "wx")) return f;
  }
  path.clear();
  return nullptr;
}

/// Replaces the model file by `contents` through a full temporary copy renamed over it; the old file survives any failure.
void replace_model_file(FitContext& run, const std::string& file, const std::string& contents) {
  namespace fs = std::filesystem;
  const std::string failure = "Model file " + file + " cannot be written.";
  std::string path;
  std::FILE* f = create_temporary(file, path);
  if (f == nullptr) run.listing.error(failure);
  TempFile temp(path);
  const bool written = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  const bool flushed = std::fflush(f) == 0;
  const bool closed = std::fclose(f) == 0;
  if (!written || !flushed || !closed) run.listing.error(failure);
  std::error_code ec;
  const fs::file_status old = fs::status(file, ec);
  if (!ec && fs::is_regular_file(old)) fs::permissions(temp.path(), old.permissions(), ec);
  fs::rename(temp.path(), file, ec);
  if (ec) run.listing.error(failure);
  temp.release();
}

/// Exchanges rows a and b of the saved-model table, of the criteria and of ORD.
void exchange(SavedModels& s, std::vector<std::array<double, 4>>& crit, std::vector<int>& ord, int a,
              int b) {
  std::swap(s.NAMSAV(a), s.NAMSAV(b));
  std::swap(s.lnL(a), s.lnL(b));
  std::swap(s.K(a), s.K(b));
  std::swap(s.NDF(a), s.NDF(b));
  std::swap(s.G(a), s.G(b));
  std::swap(s.PG(a), s.PG(b));
  std::swap(s.DFC(a), s.DFC(b));
  std::swap(crit[static_cast<std::size_t>(a)], crit[static_cast<std::size_t>(b)]);
  std::swap(ord[static_cast<std::size_t>(a)], ord[static_cast<std::size_t>(b)]);
}

/// Prints a likelihood-ratio test for every pair of models whose NDF differ.
void ratio_tests(FitContext& run) {
  static const Layout title("(/21X,A)");
  static const Layout heading("(1X,A)");
  static const Layout row("(1X,A20,2X,A20,2X,F10.3,4X,I3,7X,F6.4)");
  Listing& lst = run.listing;
  const SavedModels& s = run.saved;
  lst.linchk(5);
  lst.put(title, {"Likelihood Ratio Tests Between Models"});
  lst.put(heading, {" General              Reduced                           Degrees   Pr(Larger "});
  lst.put(heading, {" Submodel             Submodel              Chi-square  Freedom  Chi-square)"});
  lst.put(heading, {"----------           ----------             ----------  -------  -----------"});
  for (int i = 1; i <= s.NMOD - 1; ++i) {
    for (int j = i + 1; j <= s.NMOD; ++j) {
      if (s.NDF(i) == s.NDF(j)) continue;
      // The model with fewer degrees of freedom is taken as the general one;
      // nesting is the user's responsibility.
      const int general = s.NDF(i) < s.NDF(j) ? i : j;
      const int reduced = general == i ? j : i;
      double chi = -2.0 * (s.lnL(reduced) - s.lnL(general));
      const int df = s.NDF(reduced) - s.NDF(general);
      double prob = 1.0;
      if (chi > 0.0) {
        double p = 0.0;
        int ier = 0;
        cdtr(chi, df, p, ier);
        if (ier != 0) lst.warn("ERROR with chi-square probability.");
        prob = 1.0 - p;
      } else {
        chi = 0.0;
      }
      lst.linchk(1);
      lst.put(row, {s.NAMSAV(general), s.NAMSAV(reduced), chi, df, prob});
    }
  }
}

/// Prints the criteria tables, rewrites the model file and prints the tests (two models or more).
void compare_models(FitContext& run, const TestOptions& opt, int n) {
  static const Layout general_line("(/a,a,a,i6,a,f6.2)");
  static const Layout first_row("(I2,1x,a,I7,5(1X,G12.6))");
  static const Layout second_heading(
      "(/2X,8x,15X,4hLog-/2X,8HSubmodel,12X,17Hlikelihood    NDF,"
      "4X,3HAIC,5X,5HG-O-F,2X,4HAICC,5X,4HQAIC,3X,5HQAICC)");
  static const Layout second_underline(
      "(1X,9(1H-),12X,10(1H-),4X,3(1H-),1X,9(1H-),1X,6(1H-),1x,7(1h-),1X,7(1h-),1X,7(1h-))");
  static const Layout second_row("(I2,1X,A20,1X,G10.4,I5,1X,G10.5,1X,F5.3,1X,3(G9.4))");
  Listing& lst = run.listing;
  SavedModels& s = run.saved;
  const auto row_index = [](int i) { return static_cast<std::size_t>(i); };
  std::vector<std::array<double, 4>> crit(row_index(MAXMOD) + 1);
  std::vector<int> ord(row_index(MAXMOD) + 1);

  // AIC and AICc; the most general model is the first with the largest K.
  int g = 1;
  for (int i = 1; i <= s.NMOD; ++i) {
    std::array<double, 4>& c = crit[row_index(i)];
    c[kAic] = -2.0 * s.lnL(i) + 2.0 * s.K(i);
    c[kAicc] = c[kAic] + correction(s.K(i), n);
    ord[row_index(i)] = i;
    if (s.K(i) > s.K(g)) g = i;
  }

  double chat = opt.chat;
  if (chat < 1.0) {
    if (s.DFC(g) == 0) {
      // G/0 has no meaning as an overdispersion factor: no overdispersion is assumed.
      chat = 1.0;
      lst.warn("Most general model has DFC = 0; c-hat set to 1.");
    } else {
      chat = s.G(g) / s.DFC(g);
      if (chat < 1.0) chat = 1.0;
    }
  }

  lst.put_free({" "});
  lst.put_free({"Modified AIC calculations: (see ", "Model Selection and Multimodel Inference:"});
  lst.put_free({"A Practical Information-Theoretic Approach, 2nd ed., by K. P. Burnham and D. R. Anderson, 2002)"});
  lst.put(general_line, {" Most General Model: ", s.NAMSAV(g), "  n=", n, " c=", chat});
  lst.put_free({" "});
  lst.put_free({" Submodel                NPAR     AIC", "         AICc         QAIC         QAICc"});
  lst.put_free({" -------------------      ---  -----", "--    ---------      -------     --------"});
  for (int i = 1; i <= s.NMOD; ++i) {
    std::array<double, 4>& c = crit[row_index(i)];
    c[kQaic] = -2.0 * s.lnL(i) / chat + 2.0 * s.K(i);
    c[kQaicc] = c[kQaic] + correction(s.K(i), n);
    lst.put(first_row, {i, s.NAMSAV(i), s.K(i), c[kAic], c[kAicc], c[kQaic], c[kQaicc]});
  }

  // Selection sort: the first smallest value of the rest moves up by an
  // exchange, so rows of equal value may change their relative order.
  for (int p = 1; p <= s.NMOD - 1; ++p) {
    int best = p;
    for (int q = p + 1; q <= s.NMOD; ++q) {
      if (crit[row_index(q)][opt.sortby] < crit[row_index(best)][opt.sortby]) best = q;
    }
    if (best != p) exchange(s, crit, ord, p, best);
  }

  lst.linchk(s.NMOD + 5);
  lst.put(second_heading, {});
  lst.put(second_underline, {});
  std::string contents;
  for (int i = 1; i <= s.NMOD; ++i) {
    const std::array<double, 4>& c = crit[row_index(i)];
    if (opt.aicsave) {
      file_layout().write(contents, {s.NAMSAV(i), c[kAic], s.lnL(i), s.NDF(i), s.K(i), s.PG(i), s.G(i), s.DFC(i)});
    }
    lst.put(second_row, {ord[row_index(i)], s.NAMSAV(i), s.lnL(i), s.NDF(i), c[kAic], s.PG(i), c[kAicc],
                         c[kQaic], c[kQaicc]});
  }
  if (opt.aicsave) replace_model_file(run, opt.file, contents);

  ratio_tests(run);
}

}  // namespace

void dotest(FitContext& run) {
  const int n = sample_size(run.model);
  const TestOptions opt = read_options(run);
  if (opt.aicsave) read_model_file(run, opt.file);
  run.reader.getcmd();

  if (run.saved.NMOD < 2) {
    run.listing.warn("Not enough PROC ESTIMATE statements to generate models for testing.");
  } else {
    compare_models(run, opt, n);
  }

  run.saved.reset();
  run.listing.linchk(2);
  run.listing.warn("Sequence of models reinitialized to zero.");
}

}  // namespace quorvale
