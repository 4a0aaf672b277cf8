#pragma once
// A plain, literal evaluation of the robust-design likelihood for the tests
// and the benchmark: every S(I) fetched through the parameter-value rule each
// time it is needed, every product, den and availability chain recomputed for
// every cell, operation by operation as the method is defined. It is the
// yardstick the fast evaluation must match bit for bit. Only layouts that the
// design check accepts are to be passed in.

#include <cmath>
#include <span>
#include <vector>

#include "model/robust_layout.h"
#include "model/store.h"

namespace quorvale::reference {

/// One den = 1 diagnostic as the evaluation meets it.
struct DenNote {
  int ip;      ///< primary period
  int jp;      ///< cohort within the period
  int h;       ///< history index
  double den;  ///< product of 1 - p over the period's occasions
};

/// S(I) from PAR, the parameter map and the transform the store's options
/// chose (NOTRAN = 1: PAR holds S itself).
inline double ss(const ModelStore& m, int I) {
  const int k = m.POINT(I);
  if (k < 0) return m.PAR(-k);
  if (m.NOTRAN == 1) return m.PAR(k);
  const auto u = [&](double x) {
    if (m.ISINE == 1) return 0.5 * std::sin(x) + 0.5;
    return std::fabs(x) - std::trunc(std::fabs(x));
  };
  double lo = m.PARL(k);
  if (m.POINTL(I) > 0) lo = u(m.PAR(m.POINTL(I)));
  double hi = m.PARU(k);
  if (m.POINTU(I) > 0) hi = u(m.PAR(m.POINTU(I)));
  return lo + (hi - lo) * u(m.PAR(k));
}

/// Secondary occasions of a cohort with n cells: int(ln(n-1)/0.6931 + 1) in single precision.
inline int occasions(int n) {
  const float v = std::log(static_cast<float>(n - 1)) / 0.6931F + 1.0F;
  return static_cast<int>(v);
}

/// max(x, eps): x when x > eps, else eps.
inline double floor_at(double x, double eps) { return x > eps ? x : eps; }

/// Evaluates at x: PAR(1..NEST) = x, P of the store filled, returns F; den = 1 notes to `notes`.
inline double est(ModelStore& m, std::span<const double> x, std::vector<DenNote>* notes = nullptr) {
  for (int k = 1; k <= m.NEST; ++k) m.PAR(k) = x[static_cast<std::size_t>(k - 1)];
  const int M = RobustLayout::periods_for(m.NCOHRT);
  // The occasions of each period from the cell count of its first cohort.
  std::vector<int> occasions_of(static_cast<std::size_t>(M));
  for (int ip = 1; ip <= M; ++ip)
    occasions_of[static_cast<std::size_t>(ip - 1)] = occasions(m.NCLASS(RobustLayout::closed_cohort(ip, 1)));
  const RobustLayout L(occasions_of, m.NPAR);
  int kk = occasions(m.NCLASS(1));
  const bool power = ss(m, kk + 1) < 0;
  double F = 0;
  const double eps = 1.0 / std::pow(10.0, m.NSIG);

  std::vector<double> thinv(static_cast<std::size_t>(M) + 1), phi(thinv), gpp(thinv), gp(thinv),
      pstar(thinv);
  for (int i = 1; i <= M; ++i) {
    thinv[i] = 1.0 / ss(m, L.theta(i));
    phi[i] = ss(m, L.phi(i));
    gpp[i] = ss(m, L.gamma2(i));
    gp[i] = ss(m, L.gamma1(i));
  }

  // Closed part.
  for (int ip = 1; ip <= M; ++ip) {
    kk = L.occasions(ip);
    double prod = 1;
    for (int t = 1; t <= kk; ++t) prod = prod * (1 - ss(m, L.p(ip, t)));
    pstar[ip] = 1 - prod;
    for (int jp = 1; jp <= ip; ++jp) {
      const int c = RobustLayout::closed_cohort(ip, jp);
      const int n = m.NCLASS(c);
      double sum = 0;
      for (int h = 0; h <= n - 2; ++h) {
        double pr = 1;
        bool caught = false;
        for (int t = 1; t <= kk; ++t) {
          const bool capture = ((h >> (kk - t)) & 1) == 0;
          const double pt = ss(m, L.p(ip, t));
          if (!caught) {
            pr = pr * (capture ? pt : 1 - pt);
            if (capture) caught = true;
          } else {
            const double rt = power ? std::pow(pt, thinv[ip]) : ss(m, L.c(ip, t));
            pr = pr * (capture ? rt : 1 - rt);
          }
        }
        double den = 1;
        for (int t = 1; t <= kk; ++t) den = den * (1 - ss(m, L.p(ip, t)));
        double cell;
        if (den == 1 || kk < 1) {
          if (notes != nullptr) notes->push_back({ip, jp, h, den});
          cell = 0;  // no capture possible: every history 0, the remainder 1
        } else {
          cell = pr / (1 - den);
        }
        m.P(h + 1, c) = cell;
        sum += cell;
        F += m.NOBS(h + 1, c) * std::log(floor_at(m.P(h + 1, c), eps));
      }
      m.P(n, c) = 1 - sum;
      F += m.NOBS(n, c) * std::log(floor_at(m.P(n, c), eps));
    }
  }

  // Open part.
  for (int i = 1; i <= M - 1; ++i) {
    const int c = L.open_cohort(i);
    double sum = 0;
    for (int j = i + 1; j <= M; ++j) {
      double s = phi[i];
      for (int l = i + 1; l <= j - 1; ++l) s = s * phi[l];
      double a;
      if (j == i + 1) {
        a = 1 - gpp[i + 1];
      } else {
        double U = (1 - gpp[i + 1]) * (1 - pstar[i + 1]);
        double V = gpp[i + 1];
        for (int mm = i + 2; mm <= j - 1; ++mm) {
          const double V1 = V * gp[mm] + U * gpp[mm];
          const double U1 = (1 - pstar[mm]) * (U * (1 - gpp[mm]) + V * (1 - gp[mm]));
          U = U1;
          V = V1;
        }
        a = U * (1 - gpp[j]) + V * (1 - gp[j]);
      }
      m.P(j - i, c) = s * pstar[j] * a;
      sum += m.P(j - i, c);
      F += m.NOBS(j - i, c) * std::log(floor_at(m.P(j - i, c), eps));
    }
    m.P(M - i + 1, c) = 1 - sum;
    F += m.NOBS(M - i + 1, c) * std::log(floor_at(m.P(M - i + 1, c), eps));
  }
  return -F;
}

}  // namespace quorvale::reference
