// Tests of the factored rank-one modification and the packed inversion:
// identities such as A * inverse(A) = I and L D L' + sigma z z' formed
// directly, and the error line of numerr.

#include "estimate/optimizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "estimate/numerr.h"
#include "listing/listing.h"

namespace quorvale {
namespace {

/// A vector or a packed matrix.
using Vec = std::vector<double>;

/// Full N x N matrix, row-major.
struct Dense {
  int n;
  Vec v;
  explicit Dense(int n_) : n(n_), v(static_cast<std::size_t>(n_ * n_), 0.0) {}
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(i * n + j)]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(i * n + j)]; }
};

/// Expands a packed symmetric matrix (0-based indices here).
Dense unpack(const Vec& p, int n) {
  Dense d(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) d(i, j) = d(j, i) = p[packed_index(i + 1, j + 1)];
  return d;
}

/// Packs the lower triangle of a symmetric matrix.
Vec pack(const Dense& d) {
  Vec p(static_cast<std::size_t>(d.n * (d.n + 1) / 2));
  for (int i = 0; i < d.n; ++i)
    for (int j = 0; j <= i; ++j) p[packed_index(i + 1, j + 1)] = d(i, j);
  return p;
}

/// L D L' from packed factors (unit L below the diagonal, D on it).
Dense multiply_factors(const Vec& f, int n) {
  Dense l(n);
  Vec dg(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) l(i, j) = f[packed_index(i + 1, j + 1)];
    l(i, i) = 1.0;
    dg[static_cast<std::size_t>(i)] = f[packed_index(i + 1, i + 1)];
  }
  Dense out(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += l(i, k) * dg[static_cast<std::size_t>(k)] * l(j, k);
      out(i, j) = s;
    }
  return out;
}

/// Largest absolute entry difference.
double max_diff(const Dense& a, const Dense& b) {
  double m = 0.0;
  for (std::size_t i = 0; i < a.v.size(); ++i) m = std::max(m, std::fabs(a.v[i] - b.v[i]));
  return m;
}

/// Solves the symmetric system B x = z by Gaussian elimination with partial pivoting.
Vec solve(Dense b, Vec z) {
  const int n = b.n;
  for (int c = 0; c < n; ++c) {
    int p = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(b(r, c)) > std::fabs(b(p, c))) p = r;
    for (int k = 0; k < n; ++k) std::swap(b(c, k), b(p, k));
    std::swap(z[static_cast<std::size_t>(c)], z[static_cast<std::size_t>(p)]);
    for (int r = c + 1; r < n; ++r) {
      const double m = b(r, c) / b(c, c);
      for (int k = c; k < n; ++k) b(r, k) -= m * b(c, k);
      z[static_cast<std::size_t>(r)] -= m * z[static_cast<std::size_t>(c)];
    }
  }
  Vec x(static_cast<std::size_t>(n));
  for (int r = n - 1; r >= 0; --r) {
    double s = z[static_cast<std::size_t>(r)];
    for (int k = r + 1; k < n; ++k) s -= b(r, k) * x[static_cast<std::size_t>(k)];
    x[static_cast<std::size_t>(r)] = s / b(r, r);
  }
  return x;
}

/// A random factored positive-definite matrix of order n: unit L, D in [0.5, 3].
Vec random_factors(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> off(-1.0, 1.0), dg(0.5, 3.0);
  Vec f(static_cast<std::size_t>(n * (n + 1) / 2));
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j < i; ++j) f[packed_index(i, j)] = off(rng);
    f[packed_index(i, i)] = dg(rng);
  }
  return f;
}

/// A random vector of order n, entries in [-2, 2].
Vec random_vector(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  Vec z(static_cast<std::size_t>(n));
  for (double& e : z) e = u(rng);
  return z;
}

/// B + sigma z z'.
Dense rank_one(const Dense& b, double sigma, const Vec& z) {
  Dense out = b;
  for (int i = 0; i < b.n; ++i)
    for (int j = 0; j < b.n; ++j)
      out(i, j) += sigma * z[static_cast<std::size_t>(i)] * z[static_cast<std::size_t>(j)];
  return out;
}

/// Inner product.
double dot(const Vec& a, const Vec& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

// ---------------------------------------------------------------- optmz2

TEST(Optimizer, Optmz2PositiveModification) {
  std::mt19937 rng(11);
  for (int n : {2, 3, 5, 8}) {
    Vec f = random_factors(n, rng);
    const Dense b = multiply_factors(f, n);
    Vec z = random_vector(n, rng);
    const Dense want = rank_one(b, 0.7, z);
    Vec zc = z, w(static_cast<std::size_t>(n));
    int ir = n;
    optmz2(f, n, zc, 0.7, w, ir, 0, 0.0);
    EXPECT_EQ(ir, n);
    EXPECT_LT(max_diff(multiply_factors(f, n), want), 1e-12 * (1.0 + n)) << n;
    for (int i = 1; i <= n; ++i) EXPECT_GT(f[packed_index(i, i)], 0.0);
  }
}

TEST(Optimizer, Optmz2NegativeModificationKeepingDefiniteness) {
  std::mt19937 rng(12);
  for (int n : {2, 4, 7}) {
    Vec f = random_factors(n, rng);
    const Dense b = multiply_factors(f, n);
    Vec z = random_vector(n, rng);
    // sigma z'B^-1 z = -0.6 leaves B + sigma z z' positive definite.
    const double sigma = -0.6 / dot(z, solve(b, z));
    const Dense want = rank_one(b, sigma, z);
    Vec zc = z, w(static_cast<std::size_t>(n));
    int ir = n;
    optmz2(f, n, zc, sigma, w, ir, 0, 1.45519152284e-11);
    EXPECT_EQ(ir, n);
    EXPECT_LT(max_diff(multiply_factors(f, n), want), 1e-12 * (1.0 + n)) << n;
    for (int i = 1; i <= n; ++i) EXPECT_GT(f[packed_index(i, i)], 0.0);
  }
}

TEST(Optimizer, Optmz2NegativeModificationGivenSolvedVector) {
  std::mt19937 rng(13);
  const int n = 4;
  Vec f = random_factors(n, rng);
  Vec f2 = f;
  Vec z = random_vector(n, rng);
  const double sigma = -0.3 / dot(z, solve(multiply_factors(f, n), z));
  // w = L^-1 z supplied by the caller (MK = 1) gives the same factors.
  Vec w(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    double v = z[static_cast<std::size_t>(i)];
    for (int k = 0; k < i; ++k) v -= f[packed_index(i + 1, k + 1)] * w[static_cast<std::size_t>(k)];
    w[static_cast<std::size_t>(i)] = v;
  }
  Vec z1 = z, z2 = z, w2(static_cast<std::size_t>(n));
  int ir1 = n, ir2 = n;
  optmz2(f, n, z1, sigma, w, ir1, 1, 0.0);
  optmz2(f2, n, z2, sigma, w2, ir2, 0, 0.0);
  EXPECT_EQ(ir1, n);
  for (std::size_t i = 0; i < f.size(); ++i) EXPECT_NEAR(f[i], f2[i], 1e-14);
}

// The largest negative modification that keeps B semi-definite,
// sigma = -1/(z'B^-1 z), leaves B singular along B^-1 z. Asked for with IR
// negated, or arrived at when sigma is larger still and EPS = 0; a positive
// modification afterwards restores full rank.
TEST(Optimizer, Optmz2SingularResultAndRecovery) {
  std::mt19937 rng(14);
  for (int n : {2, 3, 6}) {
    Vec f = random_factors(n, rng);
    const Dense b = multiply_factors(f, n);
    Vec z = random_vector(n, rng);
    const double zbz = dot(z, solve(b, z));
    const Dense singular = rank_one(b, -1.0 / zbz, z);

    Vec fa = f, za = z, w(static_cast<std::size_t>(n));
    int ir = -n;
    optmz2(fa, n, za, -1.0 / zbz, w, ir, 0, 0.0);
    EXPECT_EQ(ir, n - 1);
    EXPECT_LT(max_diff(multiply_factors(fa, n), singular), 1e-11) << n;

    Vec fb = f, zb = z;
    int irb = n;
    optmz2(fb, n, zb, -3.0 / zbz, w, irb, 0, 0.0);  // would be indefinite
    EXPECT_EQ(irb, n - 1);
    EXPECT_LT(max_diff(multiply_factors(fb, n), singular), 1e-11) << n;
    int zero_pivots = 0;
    for (int i = 1; i <= n; ++i) zero_pivots += fb[packed_index(i, i)] == 0.0;
    EXPECT_EQ(zero_pivots, 1);

    // Then + 0.8 y y' with y not orthogonal to the null direction.
    Vec y = random_vector(n, rng);
    const Dense want = rank_one(singular, 0.8, y);
    Vec yc = y;
    optmz2(fa, n, yc, 0.8, w, ir, 0, 0.0);
    EXPECT_EQ(ir, n);
    EXPECT_LT(max_diff(multiply_factors(fa, n), want), 1e-10) << n;
  }
}

TEST(Optimizer, Optmz2WithEpsKeepsPositivePivots) {
  std::mt19937 rng(15);
  const int n = 5;
  Vec f = random_factors(n, rng);
  const Dense b = multiply_factors(f, n);
  Vec z = random_vector(n, rng);
  const double zbz = dot(z, solve(b, z));
  Vec w(static_cast<std::size_t>(n));
  int ir = n;
  optmz2(f, n, z, -3.0 / zbz, w, ir, 0, 1.45519152284e-11);
  EXPECT_EQ(ir, n);
  for (int i = 1; i <= n; ++i) EXPECT_GT(f[packed_index(i, i)], 0.0);
}

TEST(Optimizer, Optmz2OneVariable) {
  Vec a = {2.0}, z = {3.0}, w(1);
  int ir = 1;
  optmz2(a, 1, z, 0.5, w, ir, 0, 0.0);
  EXPECT_EQ(a[0], 6.5);
  EXPECT_EQ(ir, 1);
  z = {3.0};
  optmz2(a, 1, z, -0.5, w, ir, 0, 0.0);
  EXPECT_EQ(a[0], 2.0);
  EXPECT_EQ(ir, 1);
  z = {3.0};
  optmz2(a, 1, z, -1.0, w, ir, 0, 0.0);  // 2 - 9 < 0
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(ir, 0);
  z = {2.0};
  optmz2(a, 1, z, 0.25, w, ir, 0, 0.0);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(ir, 1);
}

TEST(Optimizer, Optmz2ZeroSigmaChangesNothing) {
  std::mt19937 rng(16);
  Vec f = random_factors(4, rng);
  const Vec before = f;
  Vec z = random_vector(4, rng), w(4);
  int ir = 4;
  optmz2(f, 4, z, 0.0, w, ir, 0, 0.0);
  EXPECT_EQ(f, before);
  EXPECT_EQ(ir, 4);
}

// ---------------------------------------------------------------- matinv

TEST(Matinv, TwoByTwo) {
  Vec a = {4.0, 2.0, 3.0};
  EXPECT_EQ(matinv(a, 2), InversionCode::Inverted);
  EXPECT_NEAR(a[0], 0.375, 1e-15);
  EXPECT_NEAR(a[1], -0.25, 1e-15);
  EXPECT_NEAR(a[2], 0.5, 1e-15);
}

TEST(Matinv, OneByOne) {
  Vec a = {8.0};
  EXPECT_EQ(matinv(a, 1), InversionCode::Inverted);
  EXPECT_DOUBLE_EQ(a[0], 0.125);
}

TEST(Matinv, ZeroRowIsNotPositiveDefinite) {
  Vec first = {0.0, 0.0, 2.0, 0.0, 1.0, 3.0};
  EXPECT_EQ(matinv(first, 3), InversionCode::NotPositiveDefinite);
  EXPECT_EQ(code_number(InversionCode::NotPositiveDefinite), 130);
  Vec middle = {2.0, 0.0, 0.0, 1.0, 0.0, 3.0};
  EXPECT_EQ(matinv(middle, 3), InversionCode::NotPositiveDefinite);
  Vec last = {2.0, 1.0, 3.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(matinv(last, 3), InversionCode::NotPositiveDefinite);
}

TEST(Matinv, IndefiniteAndSingular) {
  Vec indefinite = {1.0, 2.0, 1.0};  // eigenvalues 3 and -1
  EXPECT_EQ(matinv(indefinite, 2), InversionCode::NotPositiveDefinite);
  Vec singular = {1.0, 1.0, 1.0};
  EXPECT_EQ(matinv(singular, 2), InversionCode::NotPositiveDefinite);
  Vec negative = {-4.0};
  EXPECT_EQ(matinv(negative, 1), InversionCode::NotPositiveDefinite);
}

TEST(Matinv, NearlySingularPivotIsRejected) {
  // Second pivot 1e-18 beside a diagonal of 1: lost against 1 after /32.
  Vec a = {1.0, 1.0, 1.0 + 1e-18};
  EXPECT_EQ(matinv(a, 2), InversionCode::NotPositiveDefinite);
}

TEST(Matinv, TimesMatrixIsIdentity) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n = 1; n <= 30; ++n) {
    Dense m(n);
    for (double& e : m.v) e = u(rng);
    Dense a(n);  // M M' + 0.5 I
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = i == j ? 0.5 : 0.0;
        for (int k = 0; k < n; ++k) s += m(i, k) * m(j, k);
        a(i, j) = s;
      }
    Vec p = pack(a);
    ASSERT_EQ(matinv(p, n), InversionCode::Inverted) << n;
    const Dense inv = unpack(p, n);
    double worst = 0.0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0.0;
        for (int k = 0; k < n; ++k) s += a(i, k) * inv(k, j);
        worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
      }
    EXPECT_LT(worst, 1e-10) << n;
  }
}

// ---------------------------------------------------------------- numerr

TEST(OptimizerNumerr, WritesTheErrorLineAfterReservingTwoLines) {
  Status status;
  status.LINES = 60;
  Instr instr;
  std::ostringstream out, err;
  {
    Listing listing(status, instr, out, err);
    listing.linchk(1);  // the first page and its heading
    listing.flush();
    const std::string before = out.str();
    const int left = status.LINLFT;
    numerr(listing, code_number(OptimizerCode::RoundingDominant), "OPTMIZ");
    EXPECT_EQ(status.LINLFT, left - 2);
    numerr(listing, code_number(OptimizerCode::EvaluationLimit), "OPTMIZ");
    numerr(listing, code_number(InversionCode::NotPositiveDefinite), "MATINV");
    numerr(listing, 7, "MATINV");
    listing.flush();
    EXPECT_EQ(out.str().substr(before.size()),
              "0*** ERROR MESSAGE IER=130 FROM ROUTINE OPTMIZ\n"
              "0*** ERROR MESSAGE IER=131 FROM ROUTINE OPTMIZ\n"
              "0*** ERROR MESSAGE IER=130 FROM ROUTINE MATINV\n"
              "0*** ERROR MESSAGE IER=  7 FROM ROUTINE MATINV\n");
  }
  EXPECT_EQ(err.str(), "");
}

TEST(OptimizerNumerr, StartsANewPageWhenTwoLinesAreNotLeft) {
  Status status;
  status.LINES = 60;
  Instr instr;
  std::ostringstream out, err;
  Listing listing(status, instr, out, err);
  listing.linchk(54);  // one line left on page 1
  EXPECT_EQ(status.NPAGE, 1);
  numerr(listing, 131, "OPTMIZ");
  EXPECT_EQ(status.NPAGE, 2);
}

}  // namespace
}  // namespace quorvale
