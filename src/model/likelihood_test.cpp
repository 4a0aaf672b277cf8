// Tests of the robust-design likelihood: the design read from the cohorts,
// bit-for-bit agreement of the evaluation with a literal one on random
// designs and points, values worked out by hand, and the edge cases.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "model/ss.h"
#include "testing/harness.h"
#include "testing/likelihood_cases.h"

namespace quorvale {
namespace {

using namespace quorvale::testing;


// --- the design read from the cohorts ------------------------------------

TEST(LikelihoodDesign, TwoPeriodsOfTwoOccasions) {
  // Cohorts (4), (4), (4) and one open cohort of 2 cells: 4 cohorts, NPAR 3 + 3 + 4.
  auto m = plain_store({2, 2});
  EXPECT_EQ(m->NCOHRT, 4);
  EXPECT_EQ(m->NPAR, 10);
  const RdDesign d = rd_design(*m);
  ASSERT_EQ(d.status, EstStatus::Ok);
  EXPECT_EQ(d.M, 2);
  EXPECT_EQ(d.layout.occasions(1), 2);
  EXPECT_EQ(d.layout.occasions(2), 2);
  EXPECT_EQ(d.needed, 10);
}

TEST(LikelihoodDesign, ShortClosedCohortsAreNotMistakenForOpenOnes) {
  // Three periods of two occasions end in cohorts of 4, 3 and 2 cells, which
  // a walk back through the cell counts reads as a fourth period.
  auto m = plain_store({2, 2, 2});
  const std::vector<int> cells{4, 4, 4, 4, 4, 4, 3, 2};
  ASSERT_EQ(m->NCOHRT, 8);
  for (int c = 1; c <= 8; ++c) EXPECT_EQ(m->NCLASS(c), cells[static_cast<std::size_t>(c - 1)]);
  const RdDesign d = rd_design(*m);
  ASSERT_EQ(d.status, EstStatus::Ok);
  EXPECT_EQ(d.M, 3);
  EXPECT_EQ(d.needed, 17);

  // Seven periods of three occasions: ..., 8, 8, 7, 6, 5, 4, 3, 2.
  auto m7 = plain_store({3, 3, 3, 3, 3, 3, 3});
  const RdDesign d7 = rd_design(*m7);
  ASSERT_EQ(d7.status, EstStatus::Ok);
  EXPECT_EQ(d7.M, 7);
}

TEST(LikelihoodDesign, CohortCountFixesThePeriods) {
  for (int M = 1; RobustLayout::cohorts_for(M) <= MAXCHT; ++M) {
    ModelStore m;
    set_design(m, std::vector<int>(static_cast<std::size_t>(M), 1), [] { return 0; });
    m.NPAR = needed_npar(std::vector<int>(static_cast<std::size_t>(M), 1));
    const RdDesign d = rd_design(m);
    EXPECT_EQ(d.M, M);
    EXPECT_EQ(d.status, M == 1 ? EstStatus::IndexBeyondNpar : EstStatus::Ok) << M;
  }
}

TEST(LikelihoodDesign, SinglePrecisionOccasionFormulaIsTheBitLength) {
  for (int n = 2; n <= MXCLAS; ++n)
    EXPECT_EQ(reference::occasions(n), std::bit_width(static_cast<unsigned>(n - 1))) << n;
}

TEST(LikelihoodDesign, ProbabilityFloorIsTenToMinusNsig) {
  EXPECT_EQ(probability_floor(5), 1e-5);
  EXPECT_EQ(probability_floor(0), 1.0);
  for (int n = 0; n <= 22; ++n) EXPECT_EQ(probability_floor(n), std::pow(10.0, -n)) << n;
  for (int n = 0; n <= 22; ++n) EXPECT_EQ(probability_floor(n), 1.0 / std::pow(10.0, n)) << n;
}

// --- agreement with the literal evaluation --------------------------------

TEST(LikelihoodIdentical, RandomDesignsMapsAndPoints) {
  Rng rng(20240611);
  std::uniform_int_distribution<int> periods(2, 12), occasions(1, 6), counts(0, 40);
  int designs = 0, powered = 0, den_one = 0;
  for (int round = 0; round < 200; ++round) {
    const int M = periods(rng);
    std::vector<int> kk(static_cast<std::size_t>(M));
    for (auto& k : kk) k = occasions(rng);
    ModelStore m;
    set_design(m, kk, [&] { return rng() % 4 == 0 ? 0 : counts(rng); });
    set_defaults(m, needed_npar(kk) + static_cast<int>(rng() % 3));
    const bool power = round % 3 == 0;
    for (int point = 0; point < 3; ++point) {
      const std::vector<double> x = random_map(m, kk, rng, power);
      std::ostringstream what;
      what << "round " << round << " point " << point << " M " << M << " NPAR " << m.NPAR;
      den_one += expect_identical(m, x, what.str()) ? 1 : 0;
      if (::testing::Test::HasFailure()) return;
    }
    ++designs;
    powered += power ? 1 : 0;
  }
  EXPECT_EQ(designs, 200);
  EXPECT_GT(powered, 0);
  EXPECT_GT(den_one, 0) << "no point met a period with den = 1";
}

TEST(LikelihoodIdentical, LargestDesignsOfTheStore) {
  Rng rng(5);
  // 46 periods of one occasion: 1126 cohorts; 10 periods of 6 occasions.
  for (const auto& kk : {std::vector<int>(46, 1), std::vector<int>(10, 6),
                         std::vector<int>(40, 2), std::vector<int>(10, 5)}) {
    ModelStore m;
    set_design(m, kk, [&] { return static_cast<int>(rng() % 30); });
    set_defaults(m, needed_npar(kk));
    for (int round = 0; round < 2; ++round) {
      const std::vector<double> x = random_map(m, kk, rng, round == 1);
      expect_identical(m, x, "M " + std::to_string(kk.size()));
    }
  }
}

TEST(LikelihoodIdentical, UnusedParametersBeyondTheLayout) {
  // kk = 3, 1, 4: the closed part reads S(1..13), the open part S(21..28)
  // when NPAR = 28; S(14..20) are never read, so their map may be empty.
  Rng rng(9);
  const std::vector<int> kk{3, 1, 4};
  ModelStore m;
  set_design(m, kk, [&] { return static_cast<int>(rng() % 10); });
  set_defaults(m, needed_npar(kk) + 7);
  ASSERT_EQ(m.NPAR, 28);
  for (int i = 14; i <= 20; ++i) m.POINT(i) = 0;
  std::vector<double> x(static_cast<std::size_t>(m.NPAR));
  for (auto& v : x) v = std::uniform_real_distribution<double>(-2, 2)(rng);
  expect_identical(m, x, "gap");
}

// --- values worked out by hand ---------------------------------------------

TEST(LikelihoodValues, TwoPeriodsOfTwoOccasionsByHand) {
  // S = PAR. Period 1: p1 = 0.5, p2 = 0.4, c2 = 0.25; period 2: p1 = 0.2,
  // p2 = 0.6, c2 = 0.5; phi(1) = S(7) = 0.8; gamma''(2) = S(8) = 0.3; theta S(9), S(10).
  // Caught at least once: p* = 1 - (1-p1)(1-p2): 0.7 and 0.68.
  //   period 1: "caught, caught" p1 c2 / p* = 0.125/0.7 = 5/28,
  //             "caught, missed" p1 (1-c2) / p* = 0.375/0.7 = 15/28,
  //             "missed, caught" (1-p1) p2 / p* = 0.2/0.7 = 2/7, remainder 0;
  //   period 2: 0.1/0.68 = 5/34, 0.1/0.68 = 5/34, 0.48/0.68 = 12/17, remainder 0;
  //   open cohort: first recaptured in period 2 phi(1) p*(2) (1 - gamma''(2))
  //             = 0.8 * 0.68 * 0.7 = 0.3808, never 0.6192.
  auto m = plain_store({2, 2});
  const double s[] = {0.5, 0.4, 0.25, 0.2, 0.6, 0.5, 0.8, 0.3, 1.0, 1.0};
  for (int i = 1; i <= 10; ++i) m->PAR(i) = s[i - 1];
  const int counts[4][4] = {{10, 20, 15, 0}, {3, 4, 6, 0}, {5, 5, 20, 0}, {30, 50, 0, 0}};
  for (int c = 1; c <= 4; ++c)
    for (int h = 1; h <= m->NCLASS(c); ++h) m->NOBS(h, c) = counts[c - 1][h - 1];

  CoreRun core(*m, working(*m));
  ASSERT_EQ(core.r.status, EstStatus::Ok);
  const double want[4][4] = {{5.0 / 28, 15.0 / 28, 2.0 / 7, 0.0},
                             {5.0 / 34, 5.0 / 34, 12.0 / 17, 0.0},
                             {5.0 / 34, 5.0 / 34, 12.0 / 17, 0.0},
                             {0.3808, 0.6192, 0, 0}};
  double F = 0.0;
  for (int c = 1; c <= 4; ++c) {
    for (int h = 1; h <= m->NCLASS(c); ++h) {
      EXPECT_NEAR(core.P(h, c), want[c - 1][h - 1], 1e-15) << h << "," << c;
      if (counts[c - 1][h - 1] > 0) F -= counts[c - 1][h - 1] * std::log(want[c - 1][h - 1]);
    }
  }
  EXPECT_NEAR(core.r.F, F, 1e-12 * F);
}

/// First-recapture probability by enumerating availability paths between release period i and j.
double by_paths(int i, int j, const std::vector<double>& phi, const std::vector<double>& gpp,
                const std::vector<double>& gp, const std::vector<double>& pstar) {
  double alive = 1.0;
  for (int m = i; m < j; ++m) alive *= phi[static_cast<std::size_t>(m)];
  // States per period i+1..j: available (true) or away; available in j,
  // missed when available in between. Released animals start available.
  double total = 0.0;
  const int inner = j - i - 1;
  for (int mask = 0; mask < (1 << inner); ++mask) {
    double pr = 1.0;
    bool prev_available = true;
    for (int m = i + 1; m <= j; ++m) {
      const bool available = m == j || ((mask >> (m - i - 1)) & 1) != 0;
      const double away = prev_available ? gpp[static_cast<std::size_t>(m)] : gp[static_cast<std::size_t>(m)];
      pr *= available ? 1.0 - away : away;
      if (available && m < j) pr *= 1.0 - pstar[static_cast<std::size_t>(m)];
      prev_available = available;
    }
    total += pr;
  }
  return alive * pstar[static_cast<std::size_t>(j)] * total;
}

TEST(LikelihoodValues, OpenCellsMatchAvailabilityPathsByEnumeration) {
  const std::vector<int> kk{1, 2, 1, 3, 2};
  const int M = 5;
  auto m = plain_store(kk);
  Rng rng(3);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (int i = 1; i <= m->NPAR; ++i) m->PAR(i) = u(rng);
  CoreRun core(*m, working(*m));
  ASSERT_EQ(core.r.status, EstStatus::Ok);

  const int npar = m->NPAR;
  std::vector<double> phi(M + 1), gpp(M + 1), gp(M + 1), pstar(M + 1);
  int off = 0;
  for (int ip = 1; ip <= M; ++ip) {
    double miss = 1.0;
    for (int t = 1; t <= kk[static_cast<std::size_t>(ip - 1)]; ++t) miss *= 1.0 - m->PAR(off + t);
    pstar[static_cast<std::size_t>(ip)] = 1.0 - miss;
    off += 2 * kk[static_cast<std::size_t>(ip - 1)] - 1;
    phi[static_cast<std::size_t>(ip)] = m->PAR(npar - 4 * M + 4 + ip);
    gpp[static_cast<std::size_t>(ip)] = m->PAR(npar - 3 * M + 2 + ip);
    gp[static_cast<std::size_t>(ip)] = m->PAR(npar - 2 * M + ip);
  }
  int c = M * (M + 1) / 2;
  for (int i = 1; i < M; ++i) {
    ++c;
    double sum = 0.0;
    for (int j = i + 1; j <= M; ++j) {
      const double want = by_paths(i, j, phi, gpp, gp, pstar);
      EXPECT_NEAR(core.P(j - i, c), want, 1e-15) << i << "->" << j;
      sum += want;
    }
    EXPECT_NEAR(core.P(M - i + 1, c), 1.0 - sum, 1e-15);
  }
}

TEST(LikelihoodValues, ClosedCellsOfAPeriodSumToOne) {
  auto m = plain_store({6, 3, 1});
  Rng rng(4);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (int i = 1; i <= m->NPAR; ++i) m->PAR(i) = u(rng);
  CoreRun core(*m, working(*m));
  // The remainder of a closed cohort is 1 minus the histories, which
  // together have probability p*/p* = 1: it is 0 up to rounding, and with
  // count 0 it adds nothing to F.
  for (int c = 1; c <= 6; ++c) EXPECT_NEAR(core.P(m->NCLASS(c), c), 0.0, 1e-14) << c;
  EXPECT_EQ(core.r.F, 0.0);
}

// --- edge cases -----------------------------------------------------------

TEST(LikelihoodEdge, FloorAtTenToMinusNsig) {
  // phi(1) = 1e-7, p*(2) = 1, gamma''(2) = 0: the open cell is 1e-7 and,
  // with count 3 and NSIG = 5, contributes -3 ln(1e-5) to F.
  auto m = plain_store({1, 1});
  m->NSIG = 5;
  const int npar = m->NPAR;  // 2 + 4 = 6
  m->PAR(1) = 0.5;
  m->PAR(2) = 1.0;                   // p(2,1) = 1
  m->PAR(npar - 8 + 4 + 1) = 1e-7;   // phi(1)
  m->PAR(npar - 6 + 2 + 2) = 0.0;    // gamma''(2)
  m->NOBS(1, 4) = 3;
  CoreRun core(*m, working(*m));
  EXPECT_EQ(core.P(1, 4), 1e-7);  // kept unfloored
  EXPECT_EQ(core.r.F, -3 * std::log(1e-5));
}

TEST(LikelihoodEdge, PeriodCaughtOnEveryOccasionForSure) {
  // All p and c of period 1 at 1: p* = 1, the history caught every time
  // has probability 1, every other 0 and contributes count * ln(eps).
  auto m = plain_store({3, 2});
  for (int i = 1; i <= 5; ++i) m->PAR(i) = 1.0;
  m->NSIG = 4;
  for (int h = 1; h <= 8; ++h) m->NOBS(h, 1) = h;
  CoreRun core(*m, working(*m));
  EXPECT_EQ(core.P(1, 1), 1.0);
  for (int h = 2; h <= 8; ++h) EXPECT_EQ(core.P(h, 1), 0.0) << h;
  double F = 0.0;
  F += 1 * std::log(1.0);
  for (int h = 2; h <= 8; ++h) F += h * std::log(1e-4);
  EXPECT_EQ(core.r.F, -F);
  expect_identical(*m, working(*m), "sure capture");
}

TEST(LikelihoodEdge, PowerVariantWithThetaOneEqualsCEqualP) {
  Rng rng(8);
  const std::vector<int> kk{3, 2, 4};
  auto a = plain_store(kk);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (int i = 1; i <= a->NPAR; ++i) a->PAR(i) = u(rng);
  auto b = std::make_unique<ModelStore>(*a);
  // a: S(kk(1)+1) fixed at a negative constant in its own slot, every theta 1.
  const int M = 3;
  a->POINT(kk[0] + 1) = -(kk[0] + 1);
  a->PAR(kk[0] + 1) = -1.0;
  for (int ip = 1; ip <= M; ++ip) a->PAR(a->NPAR - M + ip) = 1.0;
  // b: c(ip,t) = p(ip,t) in every period.
  int off = 0;
  for (int k : kk) {
    for (int t = 2; t <= k; ++t) b->PAR(off + k + t - 1) = b->PAR(off + t);
    off += 2 * k - 1;
  }
  for (int ip = 1; ip <= M; ++ip) b->PAR(b->NPAR - M + ip) = 1.0;
  CoreRun ra(*a, working(*a)), rb(*b, working(*b));
  for (int c = 1; c <= a->NCOHRT; ++c)
    for (int h = 1; h <= a->NCLASS(c); ++h)
      EXPECT_EQ(bits(ra.P(h, c)), bits(rb.P(h, c))) << h << "," << c;
  EXPECT_EQ(bits(ra.r.F), bits(rb.r.F));
  expect_identical(*a, working(*a), "power");
}

TEST(LikelihoodEdge, DenOneGivesZeroHistoriesAndCertainRemainder) {
  auto m = plain_store({2, 3});
  Rng rng(12);
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (int i = 1; i <= m->NPAR; ++i) m->PAR(i) = u(rng);
  m->PAR(4) = 0.0;  // period 2: p(2,1..3) = S(4..6) all 0
  m->PAR(5) = 0.0;
  m->PAR(6) = 0.0;
  for (int h = 1; h <= 8; ++h) m->NOBS(h, 2) = 2;
  CoreRun core(*m, working(*m));
  ASSERT_EQ(core.r.status, EstStatus::Ok);
  EXPECT_EQ(core.r.den_one, std::vector<int>{2});
  for (int c = 2; c <= 3; ++c) {
    for (int h = 1; h <= 7; ++h) EXPECT_EQ(core.P(h, c), 0.0);
    EXPECT_EQ(core.P(8, c), 1.0);
  }
  EXPECT_TRUE(std::isfinite(core.r.F));
  // The open cohort: p*(2) = 0, so never recaptured for sure.
  EXPECT_EQ(core.P(1, 4), 0.0);
  EXPECT_EQ(core.P(2, 4), 1.0);
  expect_identical(*m, working(*m), "den one");
}

TEST(LikelihoodEdge, BadLayoutsAreRejectedBeforeAnyCell) {
  struct Case {
    std::function<void(ModelStore&)> spoil;
    EstStatus status;
  };
  const std::vector<Case> cases = {
      {[](ModelStore& m) { m.NCOHRT = 0; }, EstStatus::NoCohorts},
      {[](ModelStore& m) { m.NCOHRT = -3; }, EstStatus::NoCohorts},
      {[](ModelStore& m) { m.NCOHRT = 7; }, EstStatus::CohortCount},
      {[](ModelStore& m) { m.NCLASS(1) = 3; }, EstStatus::ClosedCells},
      {[](ModelStore& m) { m.NCLASS(1) = 1; }, EstStatus::ClosedCells},
      {[](ModelStore& m) { m.NCLASS(1) = 128; }, EstStatus::ClosedCells},
      {[](ModelStore& m) { m.NCLASS(3) = 8; }, EstStatus::ClosedCells},
      {[](ModelStore& m) { m.NCLASS(7) = 4; }, EstStatus::OpenCells},
      {[](ModelStore& m) { m.NCLASS(8) = 3; }, EstStatus::OpenCells},
      {[](ModelStore& m) { m.NPAR = 16; }, EstStatus::NparTooSmall},
      {[](ModelStore& m) { m.NPAR = 0; }, EstStatus::NparTooSmall},
      {[](ModelStore& m) { m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(48)); },
       EstStatus::TooManyCohorts},
      {[](ModelStore& m) { m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(1001)); },
       EstStatus::TooManyPeriods},
  };
  for (std::size_t k = 0; k < cases.size(); ++k) {
    auto m = plain_store({2, 2, 2});
    cases[k].spoil(*m);
    CoreRun core(*m, working(*m));
    EXPECT_EQ(core.r.status, cases[k].status) << "case " << k;
    for (int c = 1; c <= 8; ++c)
      for (int h = 1; h <= MXCLAS; ++h) ASSERT_EQ(core.P(h, c), -7.0) << "case " << k;
  }
}

TEST(LikelihoodEdge, OnePeriodReadsPhiBeyondNpar) {
  // A single closed cohort: phi(1) is S(NPAR+1), read after the trace line.
  auto m = plain_store({3});
  ASSERT_EQ(m->NCOHRT, 1);
  RdDesign d = rd_design(*m);
  EXPECT_EQ(d.M, 1);
  EXPECT_EQ(d.status, EstStatus::IndexBeyondNpar);
  EXPECT_EQ(d.index, m->NPAR + 1);
  EXPECT_FALSE(d.before_trace);
  // With one occasion and NPAR = 1 the power switch S(2) comes first.
  auto one = plain_store({1});
  d = rd_design(*one);
  EXPECT_EQ(d.status, EstStatus::IndexBeyondNpar);
  EXPECT_EQ(d.index, 2);
  EXPECT_TRUE(d.before_trace);
}

TEST(LikelihoodCore, LeavesTheStoreAsItWas) {
  Rng rng(2);
  const std::vector<int> kk{2, 3, 1};
  ModelStore m;
  set_design(m, kk, [&] { return static_cast<int>(rng() % 9); });
  set_defaults(m, needed_npar(kk));
  const std::vector<double> x = random_map(m, kk, rng, false);
  const ModelStore before = m;
  CoreRun core(m, x);
  ASSERT_EQ(m.PAR.size(), before.PAR.size());
  for (int k = 1; k <= m.PAR.size(); ++k) ASSERT_EQ(bits(m.PAR(k)), bits(before.PAR(k)));
  ASSERT_EQ(m.P.cols(), before.P.cols());
  for (int c = 1; c <= m.P.cols(); ++c)
    for (int h = 1; h <= m.P.rows(c); ++h) ASSERT_EQ(bits(m.P(h, c)), bits(before.P(h, c)));
}

TEST(LikelihoodCore, ConcurrentEvaluationsAgreeWithSequentialOnes) {
  Rng rng(77);
  const std::vector<int> kk{4, 2, 3, 5, 1, 2};
  ModelStore m;
  set_design(m, kk, [&] { return static_cast<int>(rng() % 25); });
  set_defaults(m, needed_npar(kk));
  std::vector<std::vector<double>> points;
  for (int k = 0; k < 4; ++k) {
    std::vector<double> x(static_cast<std::size_t>(m.NEST));
    for (auto& v : x) v = std::uniform_real_distribution<double>(-3, 3)(rng);
    points.push_back(x);
  }
  std::vector<double> seq;
  for (const auto& x : points) seq.push_back(CoreRun(m, x).r.F);
  std::vector<double> par(points.size());
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < points.size(); ++k)
    threads.emplace_back([&, k] {
      for (int rep = 0; rep < 20; ++rep) par[k] = CoreRun(m, points[k]).r.F;
    });
  for (auto& t : threads) t.join();
  for (std::size_t k = 0; k < points.size(); ++k) EXPECT_EQ(bits(par[k]), bits(seq[k]));
}

}  // namespace
}  // namespace quorvale
