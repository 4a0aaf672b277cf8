// The derivative blocks held only on the cohorts each slot moves, against the
// dense blocks over every cell (testing/dense_derivatives.h): the same
// values, and the same information, coefficient blocks, scales and
// covariances to the last bit.

#include "estimate/cell_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/context.h"
#include "estimate/estmat.h"
#include "estimate/linear_fit.h"
#include "estimate/results.h"
#include "model/model.h"
#include "testing/dense_derivatives.h"
#include "testing/designs.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

/// Equal to the bit, or both NaN (whose payload an operation may choose).
bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

/// Every element of `got` the same as that of `want`; reports the first that is not.
void expect_same(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(same(got[i], want[i])) << what << ", element " << i << ": " << got[i] << " vs " << want[i];
  }
}

/// A dense block written out again from the sparse one: the same cells,
/// where a zero of either sign reads back as +0 when its cohort is all zeros.
void expect_same_cells(const CellBlocks& sparse, const std::vector<double>& dense, const std::string& what) {
  const std::vector<double> back = sparse.dense();
  ASSERT_EQ(back.size(), dense.size()) << what;
  for (std::size_t i = 0; i < back.size(); ++i) {
    ASSERT_TRUE(same(back[i], dense[i]) || (back[i] == 0.0 && dense[i] == 0.0))
        << what << ", cell " << i << ": " << back[i] << " vs " << dense[i];
  }
}

TEST(CellBlocks, HoldEachBlockOnlyOnItsCohortsWithAValueOtherThanZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Cohorts of 2, 3, 0 and 2 cells; three blocks of 7 cells.
  const std::vector<int> cells = {2, 3, 0, 2};
  const std::vector<double> dense = {
      0.0, 0.0, 1.5, -0.0, 2.0, 0.0, 0.0,    // cohort 2 only
      -0.0, -0.0, 0.0, 0.0, 0.0, nan, 0.0,   // -0 is a zero; the NaN keeps cohort 4
      0.25, 0.0, 0.0, 0.0, 0.0, 0.0, -1e-300  // cohorts 1 and 4
  };
  const CellBlocks b = CellBlocks::from_dense(cells, dense, 3);
  ASSERT_EQ(b.blocks(), 3);
  EXPECT_EQ(b.total_cells(), 7U);
  auto cohorts = [&](int block) {
    std::vector<int> out;
    for (const CellBlocks::Cohort& c : b.present(block)) out.push_back(c.cohort);
    return out;
  };
  EXPECT_EQ(cohorts(0), std::vector<int>({2}));
  EXPECT_EQ(cohorts(1), std::vector<int>({4}));
  EXPECT_EQ(cohorts(2), std::vector<int>({1, 4}));
  EXPECT_EQ(b.stored(), 3U + 2U + 4U);
  EXPECT_EQ(b.find(0, 1), nullptr);
  ASSERT_NE(b.find(0, 2), nullptr);
  EXPECT_EQ(b.find(0, 2)[0], 1.5);
  EXPECT_TRUE(std::signbit(b.find(0, 2)[1]));  // a zero inside a present cohort keeps its sign
  EXPECT_EQ(b.find(2, 3), nullptr);
  EXPECT_EQ(b.find(2, 4)[1], -1e-300);
  expect_same_cells(b, dense, "round trip");
  // An absent cohort reads back as +0.
  EXPECT_FALSE(std::signbit(b.dense()[7]));
}

/// The model of an end-to-end case and its first PROC ESTIMATE (from
/// "PROC MODEL" up to the second "PROC ESTIMATE" or "PROC TEST").
std::string first_fit_of(const std::string& name) {
  std::ifstream file(std::string(QUORVALE_SOURCE_DIR) + "/tests/e2e/" + name + "/run.cmd", std::ios::binary);
  std::ostringstream all;
  all << file.rdbuf();
  const std::string text = all.str();
  const std::size_t from = text.find("PROC MODEL");
  const std::size_t fit = text.find("PROC ESTIMATE", from);
  if (from == std::string::npos || fit == std::string::npos) return {};
  std::size_t to = text.find("PROC ", fit + 1);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from) + "PROC STOP;\n";
}

/// Fits the first model of `commands`; the estimates are in WORK afterwards.
std::unique_ptr<testing::StringRun> fitted(const std::string& commands) {
  auto r = std::make_unique<testing::StringRun>(commands);
  r->start();
  model(r->run);
  fit_model(r->run, EstimateMode::Full);
  return r;
}

struct FitCase {
  std::string name;
  std::string commands;
  bool linear;
};

std::vector<FitCase> fit_cases() {
  return {
      {"example_analysis (random emigration)", first_fit_of("example_analysis"), false},
      {"groups_two_fit (two groups)", first_fit_of("groups_two_fit"), false},
      // Theta of the first period is estimated but read by no cell: its slot moves nothing.
      {"two by two, theta estimated",
       std::string(testing::kTwoByTwoModel) + "PROC ESTIMATE;\n CONSTRAINT;\n  S(10)=1; S(3)=S(2); S(6)=S(5);\nPROC STOP;\n",
       false},
      {"linear_fit (PHI(G+T))", first_fit_of("linear_fit"), true},
      {"linear_outputs", first_fit_of("linear_outputs"), true},
  };
}

TEST(CellBlocksFits, TheSparseBlocksAndTheirInformationAreTheDenseOnesBitForBit) {
  for (const FitCase& c : fit_cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.commands.empty());
    auto r = fitted(c.commands);
    FitContext& run = r->run;
    ModelStore& m = run.model;
    ASSERT_EQ(static_cast<bool>(m.linear), c.linear);
    ASSERT_GE(m.NEST, 2);
    const std::vector<double> dense = testing::dense_derivative_blocks(run);
    const SlotDerivatives sd = slot_derivatives(run);
    const CellBlocks& sparse = run.work.DPROB;
    ASSERT_EQ(sparse.blocks(), m.NEST);
    expect_same_cells(sparse, dense, "derivative blocks");
    // The blocks leave cohorts out: the sums below skip some.
    EXPECT_LT(sparse.stored(), dense.size());

    std::vector<double> info;
    information_matrix(m, sparse, info);
    expect_same(info, testing::dense_information_matrix(m, dense, m.NEST), "information");

    if (!c.linear) continue;
    const LinearDesign& d = m.linear->design;
    const int K = d.coefficients();
    const std::vector<double>& beta = run.work.beta;
    const std::vector<double> dense_coefficients =
        testing::dense_coefficient_blocks(d, beta, dense, testing::dense_cells(m));
    const CellBlocks coefficients = coefficient_blocks(d, beta, sparse);
    expect_same_cells(coefficients, dense_coefficients, "coefficient blocks");
    const LinearInformation li = linear_information(m, beta, sparse, sd.change, sd.no_change);
    expect_same(li.information, testing::dense_information_matrix(m, dense_coefficients, K), "coefficient information");
    // The covariances from the dense blocks as they stand.
    const LinearInformation from_dense =
        linear_information(m, beta, CellBlocks::from_dense(sparse.cell_counts(), dense, m.NEST), sd.change, sd.no_change);
    expect_same(li.beta_covariance, from_dense.beta_covariance, "coefficient covariance");
    expect_same(li.slot_covariance, from_dense.slot_covariance, "slot covariance");
    const std::vector<double> diagonal = testing::dense_coefficient_information(m, dense_coefficients, K);
    std::vector<double> scales(diagonal.size());
    for (std::size_t k = 0; k < diagonal.size(); ++k) {
      scales[k] = std::isfinite(diagonal[k]) && diagonal[k] > 0.0 ? std::sqrt(diagonal[k]) : 1.0;
    }
    expect_same(coefficient_scales(run, beta), scales, "coefficient scales");
  }
}

TEST(CellBlocksFits, ASlotThatMovesNoCellHasNoCohort) {
  auto r = fitted(fit_cases()[2].commands);
  FitContext& run = r->run;
  const SlotDerivatives sd = slot_derivatives(run);
  int empty = 0;
  for (int s = 1; s <= run.model.NEST; ++s) {
    const bool none = run.work.DPROB.present(s - 1).empty();
    // A block with no cohort is exactly a slot with no change.
    EXPECT_EQ(none, sd.change[static_cast<std::size_t>(s)] == 0.0) << "slot " << s;
    empty += none ? 1 : 0;
  }
  EXPECT_EQ(empty, 1);
}

/// Random dense blocks over random cohorts: bands of cohorts with values,
/// zero cells inside them, cohorts of -0 only, and NaN cells.
struct RandomBlocks {
  std::unique_ptr<ModelStore> store = std::make_unique<ModelStore>();
  std::vector<int> cells;
  std::vector<double> dense;
  int n = 0;
};

RandomBlocks random_blocks(std::mt19937_64& rng, bool with_nan) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  RandomBlocks out;
  ModelStore& m = *out.store;
  m.NCOHRT = 1 + static_cast<int>(rng() % 30);
  m.P = Mat1<double>(8, m.NCOHRT);
  std::vector<std::size_t> first;
  std::size_t total = 0;
  for (int j = 1; j <= m.NCOHRT; ++j) {
    m.NCLASS(j) = 1 + static_cast<int>(rng() % 8);
    m.NREL(j) = static_cast<int>(rng() % 500);
    for (int k = 1; k <= m.NCLASS(j); ++k) m.P(k, j) = (rng() % 10 == 0) ? 0.0 : 0.5 * (u(rng) + 1.0);
    out.cells.push_back(m.NCLASS(j));
    first.push_back(total);
    total += static_cast<std::size_t>(m.NCLASS(j));
  }
  out.n = 1 + static_cast<int>(rng() % 10);
  out.dense.assign(static_cast<std::size_t>(out.n) * total, 0.0);
  for (int a = 0; a < out.n; ++a) {
    double* block = out.dense.data() + static_cast<std::size_t>(a) * total;
    const int from = 1 + static_cast<int>(rng() % static_cast<unsigned>(m.NCOHRT));
    const int to = from + static_cast<int>(rng() % static_cast<unsigned>(m.NCOHRT - from + 1));
    for (int j = 1; j <= m.NCOHRT; ++j) {
      double* cell = block + first[static_cast<std::size_t>(j - 1)];
      const bool in_band = j >= from && j < to;
      for (int k = 0; k < m.NCLASS(j); ++k) {
        if (in_band && rng() % 5 != 0) cell[k] = u(rng) * 1e-3;
        if (!in_band && rng() % 7 == 0) cell[k] = -0.0;
        if (with_nan && rng() % 53 == 0) cell[k] = std::numeric_limits<double>::quiet_NaN();
      }
    }
  }
  return out;
}

TEST(CellBlocksRandom, InformationAndCoefficientBlocksEqualTheDenseOnes) {
  std::mt19937_64 rng(2029);
  std::normal_distribution<double> z(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    std::string trace = "trial ";
    trace += std::to_string(trial);
    SCOPED_TRACE(trace);
    RandomBlocks r = random_blocks(rng, trial % 2 == 1);
    const ModelStore& m = *r.store;
    const CellBlocks sparse = CellBlocks::from_dense(r.cells, r.dense, r.n);
    expect_same_cells(sparse, r.dense, "blocks");
    std::vector<double> info;
    information_matrix(m, sparse, info);
    expect_same(info, testing::dense_information_matrix(m, r.dense, r.n), "information");
    // A design of the slots on up to 4 coefficients, many of its entries 0;
    // now and then a coefficient NaN, whose slopes are then NaN.
    LinearDesign d;
    d.slots = r.n;
    const int K = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < K; ++k) {
      std::string name = "B";
      name += std::to_string(k);
      d.names.push_back(name);
    }
    d.X.assign(static_cast<std::size_t>(r.n) * K, 0.0);
    for (double& x : d.X) x = rng() % 3 == 0 ? 0.0 : z(rng);
    std::vector<double> beta(static_cast<std::size_t>(K));
    for (double& b : beta) b = z(rng);
    if (trial % 7 == 3) beta[rng() % beta.size()] = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> dense_coefficients =
        testing::dense_coefficient_blocks(d, beta, r.dense, testing::dense_cells(m));
    const CellBlocks coefficients = coefficient_blocks(d, beta, sparse);
    expect_same_cells(coefficients, dense_coefficients, "coefficient blocks");
    information_matrix(m, coefficients, info);
    expect_same(info, testing::dense_information_matrix(m, dense_coefficients, K), "coefficient information");
  }
}

}  // namespace
}  // namespace quorvale
