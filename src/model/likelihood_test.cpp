// Tests of the robust-design likelihood: the design read from the cohorts,
// bit-for-bit agreement of the evaluation with a literal one on random
// designs and points, values worked out by hand, the edge cases, the
// store-updating step and its fatal errors.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iomanip>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

// The store comes after the test framework: it drops the NSIG macro of
// <signal.h>, which the framework pulls in, to free its field of that name.

#include "estimate/consrt.h"
#include "model/likelihood.h"
#include "testing/likelihood_reference.h"
#include "model/ss.h"
#include "testing/harness.h"

namespace quorvale {
namespace {

using Rng = std::mt19937_64;

/// Bit pattern of a double, for exact comparisons (NaN included).
std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

/// Parameters the layout of these periods needs: sum(2kk-1) + 4M - 4.
int needed_npar(const std::vector<int>& kk) {
  int n = 0;
  for (int k : kk) n += 2 * k - 1;
  return n + 4 * static_cast<int>(kk.size()) - 4;
}

/// Lays out the cohorts of periods with kk[ip-1] occasions each; counts from `count`.
void set_design(ModelStore& m, const std::vector<int>& kk, const std::function<int()>& count) {
  m.set_cohorts(RobustLayout(kk).cohort_cells());
  for (int cc = 1; cc <= m.NCOHRT; ++cc)
    for (int h = 1; h <= m.NCLASS(cc); ++h) m.NOBS(h, cc) = count();
}

/// Parameter defaults before any constraint: slot i for S(i), bounds 0 and 1, sine.
void set_defaults(ModelStore& m, int npar) {
  m.NPAR = npar;
  default_map(m);
  m.ISINE = 1;
  m.NOTRAN = 0;
  m.NSIG = 5;
}

/// A store with S = PAR taken as given (no transform) and the design of kk.
std::unique_ptr<ModelStore> plain_store(const std::vector<int>& kk, int npar = 0) {
  auto m = std::make_unique<ModelStore>();
  set_design(*m, kk, [] { return 0; });
  set_defaults(*m, npar > 0 ? npar : needed_npar(kk));
  m->NOTRAN = 1;
  return m;
}

/// The working vector PAR(1..NEST) of a store.
std::vector<double> working(const ModelStore& m) {
  return std::vector<double>(m.PAR.base() + 1, m.PAR.base() + 1 + m.NEST);
}

/// Evaluates with the core into a fresh cell table.
struct CoreRun {
  Mat1<double> P{MXCLAS, MAXCHT, -7.0};
  EstResult r;
  CoreRun(const ModelStore& m, std::span<const double> x) { r = est_core(m, x, P); }
};

/// Expects the core and the literal evaluation to give the same bits for F
/// and every cell, and the same den = 1 periods; returns whether any period had den = 1.
bool expect_identical(const ModelStore& m, std::span<const double> x, const std::string& what) {
  CoreRun core(m, x);
  EXPECT_EQ(core.r.design.status, EstStatus::Ok) << what;
  auto ref = std::make_unique<ModelStore>(m);
  std::vector<reference::DenNote> notes;
  const double F = reference::est(*ref, x, &notes);
  EXPECT_EQ(bits(core.r.F), bits(F)) << what << " F " << core.r.F << " vs " << F;
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h)
      if (bits(core.P(h, c)) != bits(ref->P(h, c))) {
        ADD_FAILURE() << what << " cell " << h << " cohort " << c << ": " << core.P(h, c)
                      << " vs " << ref->P(h, c);
        return false;
      }
  std::vector<int> flagged;
  for (const auto& n : notes)
    if (flagged.empty() || flagged.back() != n.ip) flagged.push_back(n.ip);
  EXPECT_EQ(core.r.den_one, flagged) << what;
  return !core.r.den_one.empty();
}

/// Draws a parameter map: free, equal, fixed and bounded parameters, a
/// transform mode, optionally the power variant; returns the working vector.
std::vector<double> random_map(ModelStore& m, const std::vector<int>& kk, Rng& rng,
                               bool power) {
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const int npar = m.NPAR;
  const int mode = static_cast<int>(rng() % 3);  // 0 sine, 1 ABS, 2 none
  m.ISINE = mode == 0 ? 1 : 0;
  m.NOTRAN = mode == 2 ? 1 : 0;
  m.NSIG = 1 + static_cast<int>(rng() % 12);

  // Kinds: 0 free, 1 equal to an earlier free one, 2 fixed.
  std::vector<int> kind(static_cast<std::size_t>(npar) + 1, 0);
  for (int i = 2; i <= npar; ++i) {
    const auto r = rng() % 10;
    kind[static_cast<std::size_t>(i)] = r < 6 ? 0 : (r < 8 ? 1 : 2);
  }
  const int power_index = kk[0] + 1;
  if (power) kind[static_cast<std::size_t>(power_index)] = 2;

  int nest = 0;
  std::vector<int> free_slots;
  for (int i = 1; i <= npar; ++i) {
    m.POINTL(i) = m.POINTU(i) = 0;
    if (kind[static_cast<std::size_t>(i)] == 0 ||
        (kind[static_cast<std::size_t>(i)] == 1 && free_slots.empty())) {
      m.POINT(i) = ++nest;
      free_slots.push_back(nest);
    } else if (kind[static_cast<std::size_t>(i)] == 1) {
      m.POINT(i) = free_slots[rng() % free_slots.size()];
    }
  }
  int fixed_slot = nest;
  for (int i = 1; i <= npar; ++i) {
    if (kind[static_cast<std::size_t>(i)] != 2) continue;
    m.POINT(i) = -(++fixed_slot);
    const auto r = rng() % 10;
    m.PAR(fixed_slot) = r == 0 ? 0.0 : (r == 1 ? 1.0 : 0.05 + 0.9 * u01(rng));
  }
  if (power) m.PAR(-m.POINT(power_index)) = -1.0 - u01(rng);
  m.NEST = nest;

  // Constant bounds on some slots, bounds from other slots on some parameters.
  for (int k = 1; k <= nest; ++k) {
    m.PARL(k) = 0.0;
    m.PARU(k) = 1.0;
    if (rng() % 4 == 0) {
      m.PARL(k) = 0.4 * u01(rng);
      m.PARU(k) = 0.6 + 0.4 * u01(rng);
    }
  }
  for (int i = 1; i <= npar; ++i) {
    if (m.POINT(i) < 0 || rng() % 6 != 0) continue;
    const int other = free_slots[rng() % free_slots.size()];
    if (rng() % 2 == 0)
      m.POINTL(i) = other;
    else
      m.POINTU(i) = other;
  }

  std::vector<double> x(static_cast<std::size_t>(nest));
  std::uniform_real_distribution<double> sine_x(-4.0, 4.0), abs_x(-3.0, 3.0);
  for (auto& v : x) {
    const auto r = rng() % 20;
    if (mode == 0)
      v = r == 0 ? -std::numbers::pi / 2 : sine_x(rng);
    else if (mode == 1)
      v = abs_x(rng);
    else
      v = r == 0 ? 0.0 : (r == 1 ? 1.0 : u01(rng));
  }
  return x;
}

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
  ASSERT_EQ(core.r.design.status, EstStatus::Ok);
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
  ASSERT_EQ(core.r.design.status, EstStatus::Ok);

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
  ASSERT_EQ(core.r.design.status, EstStatus::Ok);
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
    EXPECT_EQ(core.r.design.status, cases[k].status) << "case " << k;
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

// --- the store-updating step ----------------------------------------------

/// Right-justified integer of a free-form record: a blank and 11 columns.
std::string free_int(int v) {
  std::ostringstream s;
  s << ' ' << std::setw(11) << v;
  return s.str();
}

TEST(LikelihoodStep, CopiesThePointFillsPAndWritesTheTraceLine) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  Rng rng(31);
  const std::vector<int> kk{2, 1, 3};
  set_design(m, kk, [&] { return static_cast<int>(rng() % 9); });
  set_defaults(m, needed_npar(kk));
  const std::vector<double> x = random_map(m, kk, rng, false);
  const ModelStore copy = m;
  CoreRun core(copy, x);
  const double F = est(m, r.run.listing, x);
  EXPECT_EQ(bits(F), bits(core.r.F));
  for (int k = 1; k <= m.NEST; ++k) EXPECT_EQ(m.PAR(k), x[static_cast<std::size_t>(k - 1)]);
  for (int c = 1; c <= m.NCOHRT; ++c)
    for (int h = 1; h <= m.NCLASS(c); ++h) ASSERT_EQ(bits(m.P(h, c)), bits(core.P(h, c)));
  EXPECT_EQ(r.listing(), " nper,majper=" + free_int(m.NCOHRT) + free_int(3) + "\n");
}

TEST(LikelihoodStep, DenOneWritesTheDiagnosticLines) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {1, 1}, [] { return 1; });
  set_defaults(m, 6);
  m.NOTRAN = 1;
  m.PAR(2) = 0.0;  // period 2 cannot be caught: den = 1
  est(m, r.run.listing, working(m));
  const std::string listing = r.listing();
  const std::string trace = " nper,majper=" + free_int(4) + free_int(2) + "\n";
  ASSERT_EQ(listing.substr(0, trace.size()), trace);
  // Period 2 has two cohorts of one history each: two pairs of lines.
  std::istringstream lines(listing.substr(trace.size()));
  std::string line;
  int pairs = 0;
  while (std::getline(lines, line)) {
    const std::string head = " ip,jp,i,den:" + free_int(2) + free_int(pairs + 1) + free_int(0);
    ASSERT_EQ(line.substr(0, head.size()), head) << line;
    std::string values;
    ASSERT_TRUE(static_cast<bool>(std::getline(lines, values)));
    std::istringstream nums(values);
    std::vector<double> got;
    double v;
    while (nums >> v) got.push_back(v);
    ASSERT_EQ(got.size(), 6u);
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(got[static_cast<std::size_t>(i - 1)], m.PAR(i));
    ++pairs;
  }
  EXPECT_EQ(pairs, 2);
}

/// Runs the step on a spoilt store and returns the error text and the listing.
std::pair<std::string, std::string> fatal_of(const std::function<void(ModelStore&)>& spoil) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {2, 2, 2}, [] { return 1; });
  set_defaults(m, 17);
  spoil(m);
  const std::string err =
      testing::expect_fatal(r, [&] { est(m, r.run.listing, working(m)); });
  return {err, r.listing()};
}

TEST(LikelihoodStep, BadLayoutsEndTheRunWithAClearMessage) {
  const std::string head = "Cohorts do not follow the robust-design layout: ";
  const std::vector<std::pair<std::function<void(ModelStore&)>, std::string>> cases = {
      {[](ModelStore& m) { m.NCOHRT = 0; }, head + "the model has no cohorts."},
      {[](ModelStore& m) { m.NCOHRT = 7; },
       head + "NCOHRT = 7 is not M(M+1)/2+M-1 for any number of periods M."},
      {[](ModelStore& m) { m.NCLASS(2) = 3; },
       head + "cohort 2 (period 2) has 3 cells, not a power of two from 2 to 64."},
      {[](ModelStore& m) { m.NCLASS(5) = 8; },
       head + "cohort 5 (period 3) has 8 cells, 4 expected."},
      {[](ModelStore& m) { m.NCLASS(7) = 2; },
       head + "cohort 7 (released in period 1) has 2 cells, 3 expected."},
      {[](ModelStore& m) { m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(48)); },
       head + "NCOHRT = 1223 is more than the 1200 cohorts the store holds."},
      {[](ModelStore& m) { m.NPAR = 16; },
       "NPAR too small for the cohort layout of the model: 17 parameters needed, NPAR = 16."},
  };
  for (const auto& [spoil, message] : cases) {
    const auto [err, listing] = fatal_of(spoil);
    EXPECT_NE(err.find("\n " + message + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("STOP " + std::string(kErrorEnd)), std::string::npos) << err;
    EXPECT_NE(listing.find(" " + message + "\n"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("nper,majper="), std::string::npos) << listing;
  }
}

TEST(LikelihoodStep, OnePeriodEndsWithTheParameterNumberError) {
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_design(m, {2}, [] { return 1; });
  set_defaults(m, 3);
  const std::string err = testing::expect_fatal(r, [&] { est(m, r.run.listing, working(m)); });
  EXPECT_NE(err.find("S(I) IN CELL PROBABILITY WITH I > NPAR"), std::string::npos) << err;
  const std::string listing = r.listing();
  const std::string trace = " nper,majper=" + free_int(1) + free_int(1) + "\n";
  EXPECT_EQ(listing.substr(0, trace.size()), trace) << listing;
  EXPECT_NE(listing.find("\n           I=         4NPAR=         3\n"), std::string::npos)
      << listing;
}

TEST(LikelihoodStep, TooManyPeriodsStopsWithTheDimensionText) {
  // 1001 periods need 502501 cohorts, far more than the store holds, so the
  // stop is reached through the cohort count alone, before any cell is read.
  testing::StringRun r("");
  ModelStore& m = r.run.model;
  set_defaults(m, 10);
  m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(1001));
  try {
    est(m, r.run.listing, working(m));
    FAIL() << "no stop";
  } catch (const RunEnd& end) {
    EXPECT_EQ(end.stop_text, "*** dimension error in est function");
    EXPECT_EQ(end.exit_status, 1);
  }
  EXPECT_EQ(r.listing(), " *** dimension error in est function\n");
  // 1000 periods pass this guard (and then meet the cohort limit of the store).
  m.NCOHRT = static_cast<int>(RobustLayout::cohorts_for(1000));
  EXPECT_EQ(rd_design(m).status, EstStatus::TooManyCohorts);
}

}  // namespace
}  // namespace quorvale
