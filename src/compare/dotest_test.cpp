#include "compare/dotest.h"

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

namespace quorvale {
namespace {

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
void fill(Run& run, const std::vector<Fit>& fits) {
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
std::unique_ptr<StringRun> make_run(const std::string& commands, int n) {
  auto r = std::make_unique<StringRun>(commands);
  r->start();
  r->run.status.ECHOLV = 1;        // as the driver sets it for a PROC statement
  r->run.status.LINLFT = 100000;  // no page breaks inside the expected text
  r->run.model.NCOHRT = 2;
  r->run.model.NREL(1) = n / 2;
  r->run.model.NREL(2) = n - n / 2;
  return r;
}

/// Lines of `text`, without their terminators.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

/// The listing lines after the echo of the first PROC statement.
std::vector<std::string> after_echo(StringRun& r) {
  std::vector<std::string> all = split_lines(r.listing());
  auto it = std::find_if(all.begin(), all.end(),
                         [](const std::string& l) { return l.rfind("  INPUT --- PROC", 0) == 0; });
  if (it == all.end()) return {};
  return {it + 1, all.end()};
}

/// The `count` listing lines that follow the last line equal to `marker`.
std::vector<std::string> lines_after(StringRun& r, const std::string& marker, int count) {
  std::vector<std::string> all = split_lines(r.listing());
  auto it = std::find(all.rbegin(), all.rend(), marker).base();
  if (it == all.begin() || all.end() - it < count) return {"(marker not found: " + marker + ")"};
  return {it, it + count};
}

/// Whether some listing line equals `line`.
bool has_line(StringRun& r, const std::string& line) {
  std::vector<std::string> all = split_lines(r.listing());
  return std::find(all.begin(), all.end(), line) != all.end();
}

/// Whether the listing holds `text` anywhere.
bool has_text(StringRun& r, const std::string& text) { return r.listing().find(text) != std::string::npos; }

const std::string kFirstUnderline = "  -------------------      ---  -------    ---------      -------     --------";
const std::string kSecondUnderline = " ---------            ----------    --- --------- ------ ------- ------- -------";
const std::string kTestUnderline = " ----------           ----------             ----------  -------  -----------";
const std::string kResetWarning = " * *  WARNING  * *   Sequence of models reinitialized to zero.";
const std::string kTooFewWarning =
    " * *  WARNING  * *   Not enough PROC ESTIMATE statements to generate models for testing.";

/// The ORD column of the second table, one number per model.
std::vector<int> order_column(StringRun& r, int nmod) {
  std::vector<int> ord;
  for (const std::string& line : lines_after(r, kSecondUnderline, nmod)) ord.push_back(std::stoi(line.substr(0, 2)));
  return ord;
}

/// The names of the first table, in table order.
std::vector<std::string> first_table_names(StringRun& r, int nmod) {
  std::vector<std::string> names;
  for (const std::string& line : lines_after(r, kFirstUnderline, nmod)) {
    std::string name = line.size() > 3 ? line.substr(3, 20) : "";
    names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
  }
  return names;
}

/// Name padded to the 20 columns of a table.
std::string col20(const std::string& name) { return pad(name, 20); }

/// Text of a file, or "(missing)".
std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(missing)";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Writes `text` to the file `path`.
void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

/// Names of the entries of the working directory, sorted.
std::vector<std::string> entries() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(fs::current_path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

/// Names (columns 2-11, blanks removed) of the records of a model file.
std::vector<std::string> record_names(const std::string& path) {
  std::vector<std::string> names;
  for (const std::string& line : split_lines(slurp(path))) {
    std::string name = line.substr(1, 10);
    names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
  }
  return names;
}

/// A model-file record typed field by field: name, AIC, lnL, NDF, K, PG, G, DFC in their columns.
std::string record(const std::string& name, const std::string& aic, const std::string& lnl, const std::string& ndf,
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
const std::vector<Fit> kThree = {
    {"C", -104.2, 2, 11, 20.6, 0.0564, 11},
    {"A", -100.3, 3, 10, 12.4, 0.2134, 10},
    {"B", -98.1, 5, 8, 10.4, 0.2381, 8},
};

TEST_F(DotestTables, WholeOutputOfThreeModels) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  const std::vector<std::string> expected = {
      "  ",
      " Modified AIC calculations: (see Model Selection and Multimodel Inference:",
      " A Practical Information-Theoretic Approach, 2nd ed., by K. P. Burnham and D. R. Anderson, 2002)",
      "",
      " Most General Model: " + col20("B") + "  n=   101 c=  1.30",
      "  ",
      "  Submodel                NPAR     AIC         AICc         QAIC         QAICc",
      kFirstUnderline,
      " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  164.308    " + "  164.430    ",
      " 2 " + col20("A") + "      3" + "  206.600    " + "  206.847    " + "  160.308    " + "  160.555    ",
      " 3 " + col20("B") + "      5" + "  206.200    " + "  206.832    " + "  160.923    " + "  161.555    ",
      "",
      "                         Log-",
      "  Submodel            likelihood    NDF    AIC     G-O-F  AICC     QAIC   QAICC",
      kSecondUnderline,
      // Sorted by QAICc: A 160.555, B 161.555, C 164.430.
      " 2 " + col20("A") + " -100.3       10 206.60     0.213 206.8    160.3    160.6    ",
      " 3 " + col20("B") + " -98.10        8 206.20     0.238 206.8    160.9    161.6    ",
      " 1 " + col20("C") + " -104.2       11 212.40     0.056 212.5    164.3    164.4    ",
      "",
      "                     Likelihood Ratio Tests Between Models",
      "  General              Reduced                           Degrees   Pr(Larger ",
      "  Submodel             Submodel              Chi-square  Freedom  Chi-square)",
      kTestUnderline,
      // A against B: 4.4 on 2 df, upper tail exp(-2.2) = 0.1108.
      " " + col20("B") + "  " + col20("A") + "       4.400      2       0.1108",
      // A against C: 7.8 on 1 df, erfc(sqrt(3.9)) = 0.0052.
      " " + col20("A") + "  " + col20("C") + "       7.800      1       0.0052",
      // B against C: 12.2 on 3 df, erfc(sqrt(6.1)) + sqrt(24.4/pi) exp(-6.1) = 0.0067.
      " " + col20("B") + "  " + col20("C") + "      12.200      3       0.0067",
      "",
      // No fit reports, so no parameter maps to compare.
      " * *  WARNING  * *   Not known to be nested (a model of the model file keeps no parameter map): B vs A; "
      "A vs C; B vs C.",
      "",
      kResetWarning,
  };
  EXPECT_EQ(after_echo(*r), expected);
  EXPECT_EQ(r->run.saved.NMOD, 0);
  EXPECT_EQ(r->run.token(2), "STOP");  // the next statement is left current
  EXPECT_EQ(entries(), std::vector<std::string>{});  // no model file without AICSAVE
}

TEST_F(DotestTables, SampleSizeIsTheSumOfAllCohorts) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 0);
  r->run.model.NCOHRT = 3;
  r->run.model.NREL(1) = 40;
  r->run.model.NREL(2) = 35;
  r->run.model.NREL(3) = 26;
  r->run.model.NREL(4) = 1000;  // not a cohort of the model
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.30"));
}

TEST_F(DotestTables, InfiniteAndUndefinedSmallSampleCorrections) {
  // n = 4: K = 3 gives 24/0 = infinity. n - K - 1 = 0 with K = 0 (n = 1) gives 0/0.
  // G12.6 after 1X: the text right-justified in 12 columns, no trailing blanks.
  const std::string kInfinity12 = std::string(1 + 4, ' ') + "Infinity";
  const std::string kNaN12 = std::string(1 + 9, ' ') + "NaN";
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 4);
  fill(r->run, {{"FULL", -10.0, 3, 5}, {"SMALL", -12.0, 1, 7}});
  dotest(r->run);
  // SMALL: AIC 26, AICc 26 + 4/2 = 28 (c-hat 1: G/DFC is 0.1).
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 2),
            (std::vector<std::string>{
                " 1 " + col20("FULL") + "      3" + "  26.0000    " + kInfinity12 + "  26.0000    " + kInfinity12,
                " 2 " + col20("SMALL") + "      1" + "  26.0000    " + "  28.0000    " + "  26.0000    " + "  28.0000    ",
            }));
  EXPECT_EQ(lines_after(*r, kSecondUnderline, 2),
            (std::vector<std::string>{
                " 2 " + col20("SMALL") + " -12.00        7 26.000     0.500 28.00    26.00    28.00    ",
                // G9.4 has no room for trailing blanks after "Infinity".
                " 1 " + col20("FULL") + " -10.00        5 26.000     0.500  Infinity26.00     Infinity",
            }));

  auto one = make_run("PROC TEST;\nPROC STOP;\n", 1);
  fill(one->run, {{"NULL", -3.0, 0, 5}, {"ONE", -2.0, 1, 4}});
  dotest(one->run);
  // ONE: 2*1*2/(1-1-1) = -4.
  EXPECT_EQ(lines_after(*one, kFirstUnderline, 2),
            (std::vector<std::string>{
                " 1 " + col20("NULL") + "      0" + "  6.00000    " + kNaN12 + "  6.00000    " + kNaN12,
                " 2 " + col20("ONE") + "      1" + "  6.00000    " + "  2.00000    " + "  6.00000    " + "  2.00000    ",
            }));
}

TEST_F(DotestTables, FewerThanTwoModelsPrintNoTables) {
  for (int nmod : {0, 1}) {
    auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
    fill(r->run, std::vector<Fit>(kThree.begin(), kThree.begin() + nmod));
    dotest(r->run);
    EXPECT_EQ(after_echo(*r), (std::vector<std::string>{"", kTooFewWarning, "", kResetWarning})) << nmod;
    EXPECT_EQ(r->run.saved.NMOD, 0);
    EXPECT_EQ(r->run.token(2), "STOP");
  }
}

TEST_F(DotestTables, MostGeneralModelIsTheFirstWithTheLargestK) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 200);
  fill(r->run, {{"M1", -50.0, 2, 20, 40.0, 0.1, 20},
                {"M2", -45.0, 5, 17, 34.0, 0.1, 17},
                {"M3", -48.0, 3, 19, 95.0, 0.1, 19},
                {"M4", -44.0, 5, 17, 51.0, 0.1, 17}});
  dotest(r->run);
  // c-hat comes from M2: 34/17 = 2 (M4 would give 3, M3 5).
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("M2") + "  n=   200 c=  2.00")) << r->listing();
  // M1: AIC 104, AICc 104 + 12/197, QAIC 100/2 + 4 = 54.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("M1") + "      2" + "  104.000    " + "  104.061    " + "  54.0000    " + "  54.0609    ");
}

TEST_F(DotestOptions, GivenCHatOfOneOrMoreIsUsedAsItIs) {
  auto r = make_run("PROC TEST C = 1.5;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.50"));
  // QAIC of C = 208.4/1.5 + 4 = 142.933; QAICc adds 12/98.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  142.933    " + "  143.056    ");

  auto one = make_run("PROC TEST C=1;\nPROC STOP;\n", 101);
  fill(one->run, kThree);
  dotest(one->run);
  EXPECT_TRUE(has_line(*one, " Most General Model: " + col20("B") + "  n=   101 c=  1.00"));
}

TEST_F(DotestOptions, SmallCHatIsReplacedByTheGeneralModelsRatio) {
  auto r = make_run("PROC TEST C = 0.5;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.30"));

  // A ratio below 1 gives c-hat 1.
  std::vector<Fit> fits = kThree;
  fits[2].G = 6.0;  // 6/8
  auto low = make_run("PROC TEST C = 0.5;\nPROC STOP;\n", 101);
  fill(low->run, fits);
  dotest(low->run);
  EXPECT_TRUE(has_line(*low, " Most General Model: " + col20("B") + "  n=   101 c=  1.00"));
  EXPECT_FALSE(has_text(*low, "c-hat"));
}

TEST_F(DotestOptions, GeneralModelWithoutDegreesOfFreedomGivesCHatOneAndAWarning) {
  std::vector<Fit> fits = kThree;
  fits[2].DFC = 0;
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, fits);
  dotest(r->run);
  const std::vector<std::string> lines = after_echo(*r);
  ASSERT_GE(lines.size(), 7U);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], " * *  WARNING  * *   Most general model has DFC = 0; c-hat set to 1.");
  EXPECT_EQ(lines[6], " Most General Model: " + col20("B") + "  n=   101 c=  1.00");
  // QAIC equals AIC with c-hat 1.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 1)[0],
            " 1 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  212.400    " + "  212.522    ");

  // A given c-hat of 1 or more needs no ratio, so there is no warning.
  auto given = make_run("PROC TEST C=2;\nPROC STOP;\n", 101);
  fill(given->run, fits);
  dotest(given->run);
  EXPECT_FALSE(has_text(*given, "c-hat"));
}

TEST_F(DotestOptions, LastCOptionCountsAndABadValueIsFatal) {
  auto r = make_run("PROC TEST C = 2 C = 1.25;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_TRUE(has_line(*r, " Most General Model: " + col20("B") + "  n=   101 c=  1.25"));

  auto bad = make_run("PROC TEST C = ABC;\nPROC STOP;\n", 101);
  fill(bad->run, kThree);
  EXPECT_EQ(expect_fatal(*bad, [&] { dotest(bad->run); }),
            "\n Incorrect value for number -- ABC       \nSTOP PELMAR ERROR TERMINATION");
}

// Four fits with n = 12 and c-hat 2 whose best model differs for every criterion:
//          AIC   AICc (2K(K+1)/(11-K))   QAIC (lnL + 2K)   QAICc
//   W1     37    37 + 84/5  = 53.8       24.5              41.3
//   W2     49    49 + 4/10  = 49.4       25.5              25.9
//   W3     42    42 + 40/7  = 47.71      25.0              30.71
//   W4     38    38 + 60/6  = 48.0       24.0              34.0
const std::vector<Fit> kFour = {
    {"W1", -12.5, 6, 1}, {"W2", -23.5, 1, 6}, {"W3", -17.0, 4, 3}, {"W4", -14.0, 5, 2}};

/// The ORD column after PROC TEST with `options` on the four fits above.
std::vector<int> sorted_by(const std::string& options) {
  auto r = make_run("PROC TEST C=2 " + options + ";\nPROC STOP;\n", 12);
  fill(r->run, kFour);
  dotest(r->run);
  return order_column(*r, 4);
}

TEST_F(DotestSort, EachCriterionSortsByItsOwnColumn) {
  EXPECT_EQ(sorted_by("SORTBY AIC"), (std::vector<int>{1, 4, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY AICC"), (std::vector<int>{3, 4, 2, 1}));
  EXPECT_EQ(sorted_by("SORTBY QAIC"), (std::vector<int>{4, 1, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY QAICC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("sortby aic"), (std::vector<int>{1, 4, 3, 2}));
}

TEST_F(DotestSort, OneCriterionInForceRanksAndWeighsWhateverTheListingIsSortedBy) {
  // kThree with c-hat 1.3 (G/DFC of B): QAICc A 160.55509, B 161.55463,
  // C 164.43012, so the QAICc weights are 1, e^-0.49977 and e^-1.93751 over their sum.
  auto r = make_run("PROC TEST SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  const std::optional<ModelComparison> c = dotest(r->run);
  ASSERT_TRUE(c);
  EXPECT_STREQ(c->criterion_name(), "QAICc");
  std::vector<std::string> by_aic;
  std::vector<std::string> by_qaicc;
  for (const ComparedModel& m : c->ranked) by_aic.push_back(trimmed(m.name));
  for (std::size_t at : c->by_criterion) by_qaicc.push_back(trimmed(c->ranked[at].name));
  EXPECT_EQ(by_aic, (std::vector<std::string>{"B", "A", "C"}));  // AIC 206.2, 206.6, 212.4
  EXPECT_EQ(by_qaicc, (std::vector<std::string>{"A", "B", "C"}));
  const ComparedModel& b = c->ranked[0];
  EXPECT_EQ(b.rank, 2);
  EXPECT_NEAR(b.delta_qaicc, 0.999541, 1e-6);
  EXPECT_NEAR(b.weight_qaicc, 0.346524, 1e-6);
  EXPECT_NEAR(c->weight(c->ranked[1]), 0.571190, 1e-6);
  EXPECT_NEAR(c->weight(c->ranked[2]), 0.082287, 1e-6);
  // c-hat 1: AICc is in force (A 206.847, B 206.832: B best).
  auto one = make_run("PROC TEST C=1;\nPROC STOP;\n", 101);
  fill(one->run, kThree);
  const std::optional<ModelComparison> d = dotest(one->run);
  ASSERT_TRUE(d);
  EXPECT_STREQ(d->criterion_name(), "AICc");
  EXPECT_EQ(trimmed(d->ranked[d->by_criterion.front()].name), "B");
  EXPECT_EQ(d->weight(d->ranked[d->by_criterion.front()]), d->ranked[d->by_criterion.front()].weight_aicc);
}

TEST_F(DotestSort, OnlyTheTokenRightAfterSortbyCounts) {
  EXPECT_EQ(sorted_by(""), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY = AIC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY BIC"), (std::vector<int>{2, 3, 4, 1}));
  EXPECT_EQ(sorted_by("SORTBY QAIC SORTBY AIC"), (std::vector<int>{1, 4, 3, 2}));
  EXPECT_EQ(sorted_by("SORTBY AIC SORTBY ="), (std::vector<int>{2, 3, 4, 1}));
}

TEST_F(DotestSort, TiedRowsSwapPlacesWhenTheSmallestMovesUp) {
  // Criteria 1, 1, 0 (all four the same here): position 1 exchanges with 3,
  // and at position 2 the tie does not replace the candidate.
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 1000);
  fill(r->run, {{"T1", -50.0, 3, 7}, {"T2", -50.0, 3, 7}, {"T3", -49.0, 3, 7}});
  dotest(r->run);
  EXPECT_EQ(order_column(*r, 3), (std::vector<int>{3, 2, 1}));

  // Where nothing moves one tied row past the other, the earlier stays first.
  auto kept = make_run("PROC TEST;\nPROC STOP;\n", 1000);
  fill(kept->run, {{"T3", -49.0, 3, 7}, {"T1", -50.0, 3, 7}, {"T2", -50.0, 3, 7}});
  dotest(kept->run);
  EXPECT_EQ(order_column(*kept, 3), (std::vector<int>{1, 2, 3}));
}

TEST_F(DotestRatioTests, PairsWithEqualDegreesOfFreedomAreSkipped) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  // Sorted order P, Q, R (AICc: P 180.0+, Q 182.0+, R 184.0+).
  fill(r->run, {{"P", -86.0, 4, 10}, {"Q", -87.0, 4, 10}, {"R", -91.0, 1, 12}});
  dotest(r->run);
  // P against R: 10 on 2 df, exp(-5) = 0.0067; Q against R: 8 on 2 df, exp(-4) = 0.0183.
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                " " + col20("P") + "  " + col20("R") + "      10.000      2       0.0067",
                " " + col20("Q") + "  " + col20("R") + "       8.000      2       0.0183",
                "",
            }));
}

TEST_F(DotestRatioTests, GeneralModelNoBetterThanTheReducedOne) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -95.0, 6, 8}, {"RED", -90.0, 2, 12}, {"SAME", -95.0, 3, 11}});
  dotest(r->run);
  // Sorted: RED (AIC 184), SAME (196), GEN (202).
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                " " + col20("SAME") + "  " + col20("RED") + "       0.000      1       1.0000",
                " " + col20("GEN") + "  " + col20("RED") + "       0.000      4       1.0000",
                " " + col20("GEN") + "  " + col20("SAME") + "       0.000      3       1.0000",
            }));
}

TEST_F(DotestRatioTests, ProbabilityErrorWarnsAndStillPrintsTheRow) {
  // 77.125 on 1 df is one of the values where the series sums to a probability above 1.
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -100.0, 3, 8}, {"RED", -138.5625, 2, 9}});
  dotest(r->run);
  EXPECT_EQ(lines_after(*r, kTestUnderline, 3),
            (std::vector<std::string>{
                "",
                " * *  WARNING  * *   ERROR with chi-square probability.",
                " " + col20("GEN") + "  " + col20("RED") + "      77.125      1       ******",
            }));
}

TEST_F(DotestSort, FitsThatAreNotFiniteRankLastAndAreNamed) {
  // An AIC of -Infinity (a log-likelihood of +Infinity) ranked first before.
  const double inf = std::numeric_limits<double>::infinity();
  auto r = make_run("PROC TEST SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, {{"WILD", inf, 3, 10}, {"C", -104.2, 2, 11}, {"NAN", std::nan(""), 2, 11}, {"A", -100.3, 3, 10}});
  dotest(r->run);
  const std::vector<int> ord = order_column(*r, 4);
  ASSERT_EQ(ord.size(), 4U);
  EXPECT_EQ(ord[0], 4);  // A: AIC 206.6
  EXPECT_EQ(ord[1], 2);  // C: AIC 212.4
  EXPECT_EQ((std::vector<int>{std::min(ord[2], ord[3]), std::max(ord[2], ord[3])}), (std::vector<int>{1, 3}));
  EXPECT_TRUE(has_text(*r, "WARNING  * *   Log-likelihood or criterion not finite, ranked last: "));
  const std::size_t at = r->listing().find("ranked last: ");
  const std::string names = r->listing().substr(at, r->listing().find('\n', at) - at);
  EXPECT_TRUE(names == "ranked last: WILD, NAN." || names == "ranked last: NAN, WILD.") << names;
}

TEST_F(DotestSort, FitsThatDidNotConvergeOrReachedABoundAreNamedAfterTheTables) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  std::vector<FitReport> sequence(3);
  for (int i = 0; i < 3; ++i) {
    sequence[static_cast<std::size_t>(i)].name = pad(kThree[static_cast<std::size_t>(i)].name, 20);
    for (int p = 1; p <= 3; ++p) {
      ParameterEstimate e;
      e.index = p;
      e.slot = p;
      e.estimate = 0.5;
      sequence[static_cast<std::size_t>(i)].parameters.push_back(e);
    }
  }
  sequence[0].optimizer = OptimizerCode::EvaluationLimit;
  sequence[2].full_name = "B as typed";
  sequence[2].parameters[0].estimate = 1.0;  // on its upper bound
  sequence[2].parameters[2].estimate = 0.0;  // on its lower bound
  sequence[1].parameters[1].estimate = 0.0;
  sequence[1].parameters[1].slot = -2;  // fixed at 0: not a bound reached
  dotest(r->run, sequence);
  const std::string listing = r->listing();
  const std::size_t tests = listing.find(kTestUnderline);
  const std::size_t converge = listing.find(" * *  WARNING  * *   Fits that did not converge: C.\n");
  const std::size_t bound = listing.find(" * *  WARNING  * *   Fits with an estimate on a bound: B as typed (S(1) S(3)).\n");
  ASSERT_NE(tests, std::string::npos);
  ASSERT_NE(converge, std::string::npos) << listing;
  ASSERT_NE(bound, std::string::npos) << listing;
  EXPECT_LT(tests, converge);
  EXPECT_LT(converge, bound);
  EXPECT_LT(bound, listing.find(kResetWarning));
  // Converged fits inside their bounds: neither line.
  auto clean = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(clean->run, kThree);
  sequence[0].optimizer = OptimizerCode::Converged;
  for (FitReport& f : sequence) {
    for (ParameterEstimate& e : f.parameters) e.estimate = 0.5;
  }
  dotest(clean->run, sequence);
  EXPECT_FALSE(has_text(*clean, "did not converge"));
  EXPECT_FALSE(has_text(*clean, "on a bound"));
}

TEST_F(DotestRatioTests, PairsThatAreNotNestedByTheirParameterMapsAreNamedAfterTheTests) {
  auto r = make_run("PROC TEST;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  // B: three free parameters; A: S(3) = S(2); C: S(2) = 0, S(3) = 0.3.
  const std::vector<std::vector<int>> slots = {{1, -2, -3}, {1, 2, 2}, {1, 2, 3}};
  std::vector<FitReport> sequence(3);
  for (int i = 0; i < 3; ++i) {
    FitReport& f = sequence[static_cast<std::size_t>(i)];
    f.sequence = i + 1;
    for (int p = 1; p <= 3; ++p) {
      ParameterEstimate e;
      e.index = p;
      e.slot = slots[static_cast<std::size_t>(i)][static_cast<std::size_t>(p - 1)];
      e.estimate = e.slot == -3 ? 0.3 : e.slot == -2 ? 0.0 : 0.5;
      f.parameters.push_back(e);
    }
  }
  const std::optional<ModelComparison> c = dotest(r->run, sequence);
  ASSERT_TRUE(c);
  // Ranked A, B, C: B against A, A against C, B against C.
  ASSERT_EQ(c->tests.size(), 3U);
  EXPECT_TRUE(c->tests[0].nested);
  EXPECT_FALSE(c->tests[1].nested);  // A's S(3) = S(2) fails in C
  EXPECT_TRUE(c->tests[2].nested);
  const std::string listing = r->listing();
  const std::size_t warning =
      listing.find(" * *  WARNING  * *   Not nested, their likelihood-ratio test does not apply: A vs C.\n");
  ASSERT_NE(warning, std::string::npos) << listing;
  EXPECT_LT(listing.find(kTestUnderline), warning);
  EXPECT_FALSE(has_text(*r, "Not known to be nested"));
}

// ---------------------------------------------------------------------------
// The model file

// The first record written for the three fits: A, with AIC 206.6.
const std::string kRecordA = record("A", "206.60", "-100.30000    ", "10", "3", "0.2134", " 12.400000    ", "10");

TEST_F(DotestModelFile, WritesOneRecordPerModelInSortedOrder) {
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  const std::vector<std::string> lines = split_lines(slurp("F1"));
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0].substr(0, 90) + "\n", kRecordA);
  EXPECT_EQ(lines[1].substr(0, 90) + "\n",
            record("B", "206.20", "-98.100000    ", "8", "5", "0.2381", " 10.400000    ", "8"));
  EXPECT_EQ(lines[2].substr(0, 90) + "\n",
            record("C", "212.40", "-104.20000    ", "11", "2", "0.0564", " 20.600000    ", "11"));
  // After column 90, the identity of the data: 2 cohorts of 101 animals in all, then a checksum.
  EXPECT_EQ(lines[0].substr(90, 13), "  data 2 101 ");
  EXPECT_EQ(lines[0].size(), 111U);
  EXPECT_EQ(lines[1].substr(90), lines[0].substr(90));
  // No temporary file left behind; the lock file stays beside the model file.
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
}

TEST_F(DotestModelFile, ModelsCarryOverToTheNextTestAndTheNextRun) {
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC TEST AICSAVE = F1 SORTBY AIC;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  ASSERT_EQ(r->run.token(2), "TEST");
  // The next sequence fits A again and a new D; the saved A is dropped.
  fill(r->run, {{"D", -99.5, 4, 9}, {"A", -97.0, 3, 10, 12.4, 0.2134, 10}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4), (std::vector<std::string>{"D", "A", "B", "C"}));
  // B and C read back give the same criteria as when they were fitted
  // (c-hat is again B's 1.3).
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 4)[2],
            " 3 " + col20("B") + "      5" + "  206.200    " + "  206.832    " + "  160.923    " + "  161.555    ");
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 4)[3],
            " 4 " + col20("C") + "      2" + "  212.400    " + "  212.522    " + "  164.308    " + "  164.430    ");
  // Sorted by AIC: A 200, B 206.2, D 207, C 212.4.
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "B", "D", "C"}));
  EXPECT_EQ(split_lines(slurp("F1"))[0].substr(0, 90) + "\n",
            record("A", "200.00", "-97.000000    ", "10", "3", "0.2134", " 12.400000    ", "10"));

  // A later run adds its own model to the four.
  auto next = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(next->run, {{"E", -120.0, 1, 12}});
  dotest(next->run);
  EXPECT_EQ(first_table_names(*next, 5), (std::vector<std::string>{"E", "A", "B", "D", "C"}));
  EXPECT_EQ(record_names("F1").size(), 5U);
}

TEST_F(DotestModelFile, AProbabilityThatOverflowedItsFieldReadsBackAsUnknown) {
  // A chi-square error leaves PG far outside [0, 1]; F6.4 writes it as
  // asterisks, and the file must still be readable by the next PROC TEST.
  auto r = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 500);
  fill(r->run, {{"GEN", -100.0, 3, 8, 1.0, 1e25, 8}, {"RED", -101.0, 2, 9}});
  dotest(r->run);
  ASSERT_NE(slurp("F1").find("******"), std::string::npos);
  std::vector<std::string> expected = {"NEW"};
  for (const std::string& name : record_names("F1")) expected.push_back(name);
  auto next = make_run("PROC TEST AICSAVE = F1;\nPROC STOP;\n", 500);
  fill(next->run, {{"NEW", -102.0, 1, 10}});
  dotest(next->run);
  EXPECT_EQ(first_table_names(*next, 3), expected);
  EXPECT_EQ(record_names("F1").size(), 3U);
}

TEST_F(DotestModelFile, RecordsNamedLikeACurrentModelAreDropped) {
  // AIC fields are only for the reader: the criteria come from lnL and K.
  write_file("SAVED", record("P", "1.00", "-50.000000", "4", "2", "0.5000", "5.0", "4") +
                          record("Q", "2.00", "-60.000000", "4", "2", "0.5000", "5.0", "4") +
                          record("R", "3.00", "-70.000000", "4", "2", "0.5000", "5.0", "4"));
  auto r = make_run("PROC TEST AICSAVE = SAVED;\nPROC STOP;\n", 1000);
  fill(r->run, {{"Q", -40.0, 3, 3}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"Q", "P", "R"}));
  // P: AIC 104; AICc 104 + 12/997 = 104.012; c-hat 1 from Q's G/DFC.
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 3)[1],
            " 2 " + col20("P") + "      2" + "  104.000    " + "  104.012    " + "  104.000    " + "  104.012    ");
  EXPECT_EQ(record_names("SAVED"), (std::vector<std::string>{"Q", "P", "R"}));
}

TEST_F(DotestModelFile, RecordsAreMatchedOnlyAgainstTheCurrentSequence) {
  // Two records of one name both stay: only this sequence's names are compared.
  write_file("F1", record("P", "0", "-50.0", "4", "2", "0.5", "5.0", "4") +
                       record("P", "0", "-51.0", "4", "2", "0.5", "5.0", "4"));
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(r->run, {{"X", -40.0, 3, 3}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"X", "P", "P"}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"X", "P", "P"}));
}

TEST_F(DotestModelFile, TheSameFitAgainReplacesItsRecord) {
  // The name field holds 10 characters and the full name follows the data
  // identity; the same full name is the same model, so running the same
  // commands again adds nothing, and names alike in 10 characters stay apart.
  auto r = make_run(
      "PROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  const std::vector<Fit> fits = {{"LONGMODELNAME1", -50.0, 3, 5}, {"SHORT", -52.0, 2, 6}};
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "SHORT"}));
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 3), (std::vector<std::string>{"LONGMODELNAME1", "SHORT", ""}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "SHORT"}));
  // Another model whose name shares the 10 characters is another model, and
  // the one recalled from the file keeps its full name.
  fill(r->run, {{"LONGMODELNAME2", -50.0, 3, 5}, {"OTHER", -60.0, 1, 7}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4),
            (std::vector<std::string>{"LONGMODELNAME2", "OTHER", "LONGMODELNAME1", "SHORT"}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"LONGMODELN", "LONGMODELN", "SHORT", "OTHER"}));
  // The first model fitted again replaces its own record, not its namesake's.
  fill(r->run, {{"LONGMODELNAME1", -49.0, 3, 5}});
  dotest(r->run);
  EXPECT_EQ(first_table_names(*r, 4), (std::vector<std::string>{"LONGMODELNAME1", "LONGMODELNAME2", "SHORT", "OTHER"}));
}

TEST_F(DotestModelFile, RecordsOfOtherDataStayInTheFileOutsideTheComparison) {
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  // Other data: one count differs.
  auto other = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 102);
  fill(other->run, {{"X", -40.0, 3, 3}, {"Y", -45.0, 2, 4}});
  dotest(other->run);
  EXPECT_TRUE(has_line(*other, " * *  WARNING  * *   3 model(s) of the model file F1 are of other data: left out "
                                "of the comparison, kept in the file."));
  EXPECT_EQ(first_table_names(*other, 3), (std::vector<std::string>{"X", "Y", ""}));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"X", "Y", "A", "B", "C"}));
  // Back on the first data: its three records count again, X and Y are left out.
  auto again = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(again->run, {{"D", -99.5, 4, 9}});
  dotest(again->run);
  EXPECT_EQ(first_table_names(*again, 4), (std::vector<std::string>{"D", "A", "B", "C"}));
  EXPECT_TRUE(has_text(*again, "2 model(s) of the model file F1 are of other data"));
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "D", "B", "C", "X", "Y"}));
  // Records without an identity (older files) are compared as before.
  write_file("OLD", record("P", "0", "-50.0", "4", "2", "0.5", "5.0", "4"));
  auto old = make_run("PROC TEST AICSAVE=OLD;\nPROC STOP;\n", 102);
  fill(old->run, {{"X", -40.0, 3, 3}});
  dotest(old->run);
  EXPECT_EQ(first_table_names(*old, 2), (std::vector<std::string>{"X", "P"}));
}

TEST_F(DotestModelFile, FileNameIsTheWordAfterAicsaveAsTyped) {
  // Wherever the option stands, case and length kept.
  auto r = make_run("PROC TEST SORTBY AIC AICSAVE = my-models.txt;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_EQ(entries(), (std::vector<std::string>{"my-models.txt", "my-models.txt.lock"}));
  EXPECT_EQ(record_names("my-models.txt"), (std::vector<std::string>{"B", "A", "C"}));

  auto lower = make_run("proc test aicsave=Models;\nPROC STOP;\n", 101);
  fill(lower->run, kThree);
  dotest(lower->run);
  EXPECT_EQ(entries(), (std::vector<std::string>{"Models", "Models.lock", "my-models.txt", "my-models.txt.lock"}));
}

TEST_F(DotestModelFile, FewerThanTwoModelsLeaveTheFileAsItIs) {
  // No file and one model: nothing is created.
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, {kThree[0]});
  dotest(r->run);
  EXPECT_EQ(entries(), std::vector<std::string>{"F1.lock"});
  EXPECT_EQ(after_echo(*r), (std::vector<std::string>{"", kTooFewWarning, "", kResetWarning}));

  // A file of one record and no model: the file keeps its bytes.
  const std::string text = record("ONLY", "", "-50.0", "", "0", "", "", "");
  write_file("F1", text);
  auto alone = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  dotest(alone->run);
  EXPECT_TRUE(has_line(*alone, kTooFewWarning));
  EXPECT_EQ(slurp("F1"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));

  // With one model more there are two, and the file is rewritten in full.
  auto two = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(two->run, {{"NEW", -40.0, 2, 3}});
  dotest(two->run);
  EXPECT_FALSE(has_line(*two, kTooFewWarning));
  // ONLY read its blank fields as zeros: K 0, lnL -50, AIC 100 (printed F16.2).
  EXPECT_EQ(split_lines(slurp("F1"))[1].substr(0, 90) + "\n",
            record("ONLY", "100.00", "-50.000000    ", "0", "0", "0.0000", "0.0000000    ", "0"));
}

TEST_F(DotestModelFile, MoreModelsThanTheTableHoldsAreRefusedWithTheFileUntouched) {
  std::vector<Fit> fits;
  for (int i = 1; i <= 28; ++i) fits.push_back({"M" + std::to_string(i), -100.0 - i, 3, 10});
  // The record of M5 is replaced by this run's M5; FA and FB fill the table.
  const std::string full = record("M5", "0", "-1.0", "1", "1", "0.5", "1.0", "1") +
                           record("FA", "0", "-2.0", "1", "1", "0.5", "1.0", "1") +
                           record("FB", "0", "-3.0", "1", "1", "0.5", "1.0", "1");
  write_file("F1", full);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(r->run, fits);
  dotest(r->run);
  EXPECT_EQ(lines_after(*r, kFirstUnderline, 30)[29].substr(0, 3), "30 ");
  const std::vector<std::string> saved = record_names("F1");
  EXPECT_EQ(saved.size(), 30U);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), "M5"), 1);
  EXPECT_EQ(saved[0], "FA");  // the best AIC: 4 + 2

  // One record more than the table holds: nothing is dropped, nothing rewritten.
  const std::string over = full + record("FC", "0", "-4.0", "1", "1", "0.5", "1.0", "1");
  write_file("F1", over);
  auto more = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 1000);
  fill(more->run, fits);
  EXPECT_EQ(expect_fatal(*more, [&] { dotest(more->run); }),
            "\n Model file F1 and this sequence hold more than 30 models; the file is left as it is.\n"
            "STOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(slurp("F1"), over);
}

// A fit resting on an impossible point (here a positive log-likelihood, the
// largest K and by far the smallest criteria) is ranked last with no
// weight, gives no c-hat, enters no likelihood-ratio test and is not
// written to the model file, which the next run then reads.
TEST_F(DotestModelFile, ImpossibleFitIsRankedLastAndNeverWritten) {
  std::vector<Fit> fits = kThree;
  fits.push_back({"D", 8140.96, 7, 6, -1000.0, 1.0, 6});
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, fits);
  r->run.saved.unsound(4) = 1;
  const std::optional<ModelComparison> c = dotest(r->run);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->ranked.size(), 4U);
  EXPECT_EQ(c->ranked.back().full_name, "D");
  EXPECT_EQ(c->ranked.back().weight_aicc, 0.0);
  EXPECT_EQ(c->impossible, std::vector<std::string>{"D"});
  EXPECT_TRUE(has_text(*r, "Most General Model: " + col20("B") + "  n=   101 c=  1.30"));
  for (const RatioTest& t : c->tests) EXPECT_TRUE(c->ranked[t.general].sound && c->ranked[t.reduced].sound);
  EXPECT_EQ(c->tests.size(), 3U);
  EXPECT_EQ(record_names("F1"), (std::vector<std::string>{"A", "B", "C"}));
  auto next = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(next->run, {kThree[0]});
  EXPECT_TRUE(dotest(next->run));
  EXPECT_EQ(next->run.saved.NMOD, 0);
}

TEST_F(DotestModelFile, IncompleteOrImpossibleRecordsAreFatalAndLeaveTheFileIntact) {
  const std::string good = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1");
  const std::string cut = good.substr(0, 40) + "\n";  // cut inside the log-likelihood
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good + cut, "record 2, is incomplete; the file is left as it is."},
      {good + "\n" + good, "record 2, is incomplete; the file is left as it is."},
      {good + record("NOK", "0", "-1.0", "1", "", "0.5", "1.0", "1"), "record 2, is incomplete; the file is left as it is."},
      {record("POS", "0", "12.5", "1", "1", "0.5", "1.0", "1"),
       "record 1, holds impossible values (log-likelihood above 0 or a negative count)."},
      {good + record("NEGK", "0", "-1.0", "1", "-2", "0.5", "1.0", "1"),
       "record 2, holds impossible values (log-likelihood above 0 or a negative count)."},
  };
  for (const auto& [text, message] : cases) {
    write_file("F1", text);
    auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
    fill(r->run, kThree);
    EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
              "\n Model file F1, " + message + "\nSTOP PELMAR ERROR TERMINATION")
        << text;
    EXPECT_EQ(slurp("F1"), text);
  }
}

TEST_F(DotestModelFile, BadRecordIsFatalAndLeavesTheFileIntact) {
  const std::string text = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1") +
                           record("BAD", "0", "-2.0", "1X", "1", "0.5", "1.0", "1");
  write_file("F1", text);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file F1, record 2, does not fit its layout.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_TRUE(has_line(*r, " Model file F1, record 2, does not fit its layout."));
  EXPECT_TRUE(has_text(*r, "  INPUT --- PROC TEST AICSAVE=F1;"));  // the statement is shown
  EXPECT_EQ(slurp("F1"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
}

TEST_F(DotestModelFile, FileThatCannotBeLockedOrWrittenIsFatal) {
  // The folder does not exist: the lock file cannot be made, and the run does not go on unlocked.
  auto r = make_run("PROC TEST AICSAVE=NODIR/F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file NODIR/F1 cannot be locked: the lock file NODIR/F1.lock cannot be opened, or is not a "
            "file.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(entries(), std::vector<std::string>{});

  // A read-only model file is read, and its rewrite fails with the file as it was.
  const std::string text = record("GOOD", "0", "-1.0", "1", "1", "0.5", "1.0", "1");
  write_file("F2", text);
  std::filesystem::permissions("F2", std::filesystem::perms::owner_read);
  auto w = make_run("PROC TEST AICSAVE=F2;\nPROC STOP;\n", 101);
  fill(w->run, kThree);
  EXPECT_EQ(expect_fatal(*w, [&] { dotest(w->run); }), "\n Model file F2 cannot be written.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(slurp("F2"), text);
  EXPECT_EQ(entries(), (std::vector<std::string>{"F2", "F2.lock"}));
}

TEST_F(DotestModelFile, FileThatCannotBeOpenedIsFatal) {
  fs::create_directory("F1");
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  EXPECT_EQ(expect_fatal(*r, [&] { dotest(r->run); }),
            "\n Model file F1 cannot be opened.\nSTOP PELMAR ERROR TERMINATION");
  EXPECT_EQ(entries(), (std::vector<std::string>{"F1", "F1.lock"}));
  EXPECT_TRUE(fs::is_empty("F1"));
}

TEST_F(DotestModelFile, RewriteKeepsThePermissionsOfTheOldFile) {
  write_file("F1", "");
  fs::permissions("F1", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto r = make_run("PROC TEST AICSAVE=F1;\nPROC STOP;\n", 101);
  fill(r->run, kThree);
  dotest(r->run);
  EXPECT_EQ(record_names("F1").size(), 3U);
  EXPECT_EQ(fs::status("F1").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace quorvale
