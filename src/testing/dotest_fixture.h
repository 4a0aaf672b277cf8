#pragma once
// Shared by the unit tests of PROC TEST: runs whose saved-model table holds
// given fits, the listing's lines, model-file records typed field by field,
// and a fixture that works in a fresh empty directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "input/fields.h"
#include "testing/harness.h"

#include "compare/dotest.h"

namespace quorvale::dotest_fixture {

namespace fs = std::filesystem;
using testing::StringRun;
using testing::expect_fatal;

/// One fitted model as PROC ESTIMATE leaves it in the saved-model table.
struct Fit {
  std::string name;  ///< model name (padded to 20 characters when stored)
  double lnL;        ///< maximised log-likelihood
  int K;             ///< estimated parameters
  int NDF;           ///< degrees of freedom of G
  double G = 1.0;    ///< goodness-of-fit statistic
  double PG = 0.5;   ///< probability of a larger G
  int DFC = 10;      ///< degrees of freedom for c-hat
};

/// Stores `fits` as the saved-model table of the current sequence.
inline void fill(Run& run, const std::vector<Fit>& fits) {
  SavedModels& s = run.saved;
  s.NMOD = static_cast<int>(fits.size());
  for (int i = 1; i <= s.NMOD; ++i) {
    const Fit& f = fits[static_cast<std::size_t>(i - 1)];
    s.NAMSAV(i) = pad(f.name, 20);
    s.lnL(i) = f.lnL;
    s.K(i) = f.K;
    s.NDF(i) = f.NDF;
    s.G(i) = f.G;
    s.PG(i) = f.PG;
    s.DFC(i) = f.DFC;
  }
}

/// A run at its first statement whose model has cohorts of n animals in all.
inline std::unique_ptr<StringRun> make_run(const std::string& commands, int n) {
  auto r = std::make_unique<StringRun>(commands);
  r->start();
  r->run.reader.echo_as(EchoLevel::Proc);  // as the driver sets it for a PROC statement
  r->run.status.LINLFT = 100000;  // no page breaks inside the expected text
  r->run.model.NCOHRT = 2;
  r->run.model.NREL(1) = n / 2;
  r->run.model.NREL(2) = n - n / 2;
  return r;
}

/// Lines of `text`, without their terminators.
inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

/// The listing lines after the echo of the first PROC statement.
inline std::vector<std::string> after_echo(StringRun& r) {
  std::vector<std::string> all = split_lines(r.listing());
  auto it = std::find_if(all.begin(), all.end(),
                         [](const std::string& l) { return l.rfind("  INPUT --- PROC", 0) == 0; });
  if (it == all.end()) return {};
  return {it + 1, all.end()};
}

/// The `count` listing lines that follow the last line equal to `marker`.
inline std::vector<std::string> lines_after(StringRun& r, const std::string& marker, int count) {
  std::vector<std::string> all = split_lines(r.listing());
  auto it = std::find(all.rbegin(), all.rend(), marker).base();
  if (it == all.begin() || all.end() - it < count) return {"(marker not found: " + marker + ")"};
  return {it, it + count};
}

/// Whether some listing line equals `line`.
inline bool has_line(StringRun& r, const std::string& line) {
  std::vector<std::string> all = split_lines(r.listing());
  return std::find(all.begin(), all.end(), line) != all.end();
}

/// Whether the listing holds `text` anywhere.
inline bool has_text(StringRun& r, const std::string& text) { return r.listing().find(text) != std::string::npos; }

inline const std::string kFirstUnderline = "  -------------------      ---  -------    ---------      -------     --------";
inline const std::string kSecondUnderline = " ---------            ----------    --- --------- ------ ------- ------- -------";
inline const std::string kTestUnderline = " ----------           ----------             ----------  -------  -----------";
inline const std::string kResetWarning = " * *  WARNING  * *   Sequence of models reinitialized to zero.";
inline const std::string kTooFewWarning =
    " * *  WARNING  * *   Not enough PROC ESTIMATE statements to generate models for testing.";

/// The ORD column of the second table, one number per model.
inline std::vector<int> order_column(StringRun& r, int nmod) {
  std::vector<int> ord;
  for (const std::string& line : lines_after(r, kSecondUnderline, nmod)) ord.push_back(std::stoi(line.substr(0, 2)));
  return ord;
}

/// The names of the first table, in table order.
inline std::vector<std::string> first_table_names(StringRun& r, int nmod) {
  std::vector<std::string> names;
  for (const std::string& line : lines_after(r, kFirstUnderline, nmod)) {
    std::string name = line.size() > 3 ? line.substr(3, 20) : "";
    names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
  }
  return names;
}

/// Name padded to the 20 columns of a table.
inline std::string col20(const std::string& name) { return pad(name, 20); }

/// Text of a file, or "(missing)".
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(missing)";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Writes `text` to the file `path`.
inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

/// Names of the entries of the working directory, sorted.
inline std::vector<std::string> entries() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(fs::current_path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

/// Names (columns 2-11, blanks removed) of the records of a model file.
inline std::vector<std::string> record_names(const std::string& path) {
  std::vector<std::string> names;
  for (const std::string& line : split_lines(slurp(path))) {
    std::string name = line.substr(1, 10);
    names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
  }
  return names;
}

/// A model-file record typed field by field: name, AIC, lnL, NDF, K, PG, G, DFC in their columns.
inline std::string record(const std::string& name, const std::string& aic, const std::string& lnl, const std::string& ndf,
                   const std::string& k, const std::string& pg, const std::string& g, const std::string& dfc) {
  auto right = [](const std::string& s, std::size_t w) { return std::string(w - s.size(), ' ') + s; };
  return " " + pad(name, 10) + "  " + right(aic, 16) + "  " + right(lnl, 14) + right(ndf, 5) + "     " +
         right(k, 5) + "    " + right(pg, 6) + right(g, 14) + right(dfc, 6) + "\n";
}

/// Every test works in a fresh empty directory, where model files are relative to.
class DotestDir : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    std::random_device device;
    dir_ = fs::temp_directory_path() /
           ("quorvale-dotest-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(device()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

 private:
  fs::path home_;
  fs::path dir_;
};

using DotestTables = DotestDir;
using DotestOptions = DotestDir;
using DotestSort = DotestDir;
using DotestRatioTests = DotestDir;
using DotestModelFile = DotestDir;

// Three fits used by several tests, in fitting order C, A, B; n = 101.
// AIC = -2 lnL + 2K: C 212.4, A 206.6, B 206.2. AICc adds 2K(K+1)/(n-K-1):
// C 12/98, A 24/97, B 60/95. B has the largest K, so c-hat = 10.4/8 = 1.3 and
// QAIC = -2 lnL/1.3 + 2K: C 164.3077, A 160.3077, B 160.9231.
inline const std::vector<Fit> kThree = {
    {"C", -104.2, 2, 11, 20.6, 0.0564, 11},
    {"A", -100.3, 3, 10, 12.4, 0.2134, 10},
    {"B", -98.1, 5, 8, 10.4, 0.2381, 8},
};

}  // namespace quorvale::dotest_fixture
