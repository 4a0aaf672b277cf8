#include "results/csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace quorvale {
namespace {

/// The records of a table, each split at its commas (no field here is quoted).
std::vector<std::vector<std::string>> records(const std::string& table) {
  std::vector<std::vector<std::string>> out;
  std::size_t at = 0;
  while (at < table.size()) {
    const std::size_t end = table.find("\r\n", at);
    const std::string line = table.substr(at, end - at);
    std::vector<std::string> fields(1);
    for (char ch : line) {
      if (ch == ',') {
        fields.emplace_back();
      } else {
        fields.back() += ch;
      }
    }
    out.push_back(std::move(fields));
    at = end + 2;
  }
  return out;
}

const std::string* table(const std::vector<std::pair<std::string, std::string>>& tables, const std::string& name) {
  for (const auto& [n, t] : tables) {
    if (n == name) return &t;
  }
  return nullptr;
}

FitReport plain_fit(int sequence, std::string name) {
  FitReport r;
  r.sequence = sequence;
  r.full_name = std::move(name);
  return r;
}

TEST(CsvCoefficients, OneRowPerCoefficientOfTheFitsThatHaveThem) {
  RunResults run;
  run.fits.push_back(plain_fit(1, "PHI(T)"));
  FitReport linear = plain_fit(2, "PHI(G+WINTER)");
  // Figures with more digits than a printed listing keeps: the table keeps them all.
  linear.betas.push_back({"PHI:1", "PHI", 1.6285912345678901, 0.12427601234567, true,
                          {1.6285912345678901 - 1.96 * 0.12427601234567, 1.6285912345678901 + 1.96 * 0.12427601234567}});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  linear.betas.push_back({"PHI:G[M]", "PHI", -0.25, nan, false, {nan, nan}});
  run.fits.push_back(linear);
  const auto tables = results_csv(run);
  const std::string* betas = table(tables, "betas.csv");
  ASSERT_NE(betas, nullptr);
  const auto rows = records(*betas);
  ASSERT_EQ(rows.size(), 3u);  // the header and two coefficients; the first fit has none
  EXPECT_EQ(rows[0], (std::vector<std::string>{"fit", "name", "coefficient", "part", "estimate", "se", "lower", "upper",
                                               "estimable"}));
  EXPECT_EQ(rows[1][0], "2");
  EXPECT_EQ(rows[1][1], "PHI(G+WINTER)");
  EXPECT_EQ(rows[1][2], "PHI:1");
  EXPECT_EQ(rows[1][3], "PHI");
  // Every figure reads back to the very double.
  EXPECT_EQ(std::stod(rows[1][4]), linear.betas[0].estimate);
  EXPECT_EQ(std::stod(rows[1][5]), linear.betas[0].se);
  EXPECT_EQ(std::stod(rows[1][6]), linear.betas[0].ci.lower);
  EXPECT_EQ(std::stod(rows[1][7]), linear.betas[0].ci.upper);
  EXPECT_EQ(rows[1][8], "true");
  // Not estimable: its estimate, and neither error nor interval.
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2", "PHI(G+WINTER)", "PHI:G[M]", "PHI", "-0.25", "", "", "", "false"}));
}

TEST(CsvCoefficients, ARunWithoutLinearFormsWritesTheTablesItAlwaysWrote) {
  RunResults run;
  run.fits.push_back(plain_fit(1, "PHI(T)"));
  const auto tables = results_csv(run);
  EXPECT_EQ(table(tables, "betas.csv"), nullptr);
  EXPECT_EQ(tables.size(), 7u);
}

TEST(CsvCoefficients, EveryTableWrittenIsAmongTheNamesCheckedBeforeTheRun) {
  // The names are what a run checks against its other files before it
  // knows whether a fit will have coefficients.
  const std::vector<std::string> names = results_csv_names();
  RunResults with;
  FitReport linear = plain_fit(1, "L");
  linear.betas.push_back({"PHI:1", "PHI", 1.0, 0.1, true, {0.804, 1.196}});
  with.fits.push_back(linear);
  for (const RunResults& run : {RunResults{}, with}) {
    for (const auto& [name, text] : results_csv(run)) {
      EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
  }
  EXPECT_EQ(results_csv(with).size(), names.size());
}

}  // namespace
}  // namespace quorvale
