#pragma once
// Stores, parameter maps and the bit-for-bit comparison shared by the tests
// of the robust-design likelihood.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

// The store comes after the test framework: it drops the NSIG macro of
// <signal.h>, which the framework pulls in, to free its field of that name.

#include "estimate/consrt.h"
#include "model/likelihood.h"
#include "testing/likelihood_reference.h"
#include "model/robust_layout.h"

namespace quorvale::testing {


using Rng = std::mt19937_64;

/// Bit pattern of a double, for exact comparisons (NaN included).
inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

/// Parameters the layout of these periods needs: sum(2kk-1) + 4M - 4.
inline int needed_npar(const std::vector<int>& kk) {
  int n = 0;
  for (int k : kk) n += 2 * k - 1;
  return n + 4 * static_cast<int>(kk.size()) - 4;
}

/// Lays out the cohorts of periods with kk[ip-1] occasions each; counts from `count`.
inline void set_design(ModelStore& m, const std::vector<int>& kk, const std::function<int()>& count) {
  m.set_cohorts(RobustLayout(kk).cohort_cells());
  for (int cc = 1; cc <= m.NCOHRT; ++cc)
    for (int h = 1; h <= m.NCLASS(cc); ++h) m.NOBS(h, cc) = count();
}

/// Parameter defaults before any constraint: slot i for S(i), bounds 0 and 1, sine.
inline void set_defaults(ModelStore& m, int npar) {
  m.NPAR = npar;
  default_map(m);
  m.ISINE = 1;
  m.NOTRAN = 0;
  m.NSIG = 5;
}

/// A store with S = PAR taken as given (set up as with TRANSFORM=NO) and the design of kk.
inline std::unique_ptr<ModelStore> plain_store(const std::vector<int>& kk, int npar = 0) {
  auto m = std::make_unique<ModelStore>();
  set_design(*m, kk, [] { return 0; });
  set_defaults(*m, npar > 0 ? npar : needed_npar(kk));
  m->NOTRAN = 1;
  return m;
}

/// The working vector PAR(1..NEST) of a store.
inline std::vector<double> working(const ModelStore& m) {
  return std::vector<double>(m.PAR.base() + 1, m.PAR.base() + 1 + m.NEST);
}

/// Evaluates with the core into a fresh cell table, on the scale the
/// store's transform option chose.
struct CoreRun {
  Mat1<double> P{MXCLAS, MAXCHT, -7.0};
  EstResult r;
  CoreRun(const ModelStore& m, std::span<const double> x) { r = est_core(m, x, transform_scale(m), P); }
};

/// Expects the core and the literal evaluation to give the same bits for F
/// and every cell, and the same den = 1 periods; returns whether any period had den = 1.
inline bool expect_identical(const ModelStore& m, std::span<const double> x, const std::string& what) {
  CoreRun core(m, x);
  EXPECT_EQ(core.r.status, EstStatus::Ok) << what;
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
inline std::vector<double> random_map(ModelStore& m, const std::vector<int>& kk, Rng& rng,
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

}  // namespace quorvale::testing
