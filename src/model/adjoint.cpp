// Reverse-mode derivatives of the likelihood kernel by the parameters.

#include "model/adjoint.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <vector>

namespace quorvale {

namespace {

/// The work areas of one backward pass, sized once for the largest period
/// and carved out of one allocation.
struct AdjointWork {
  std::vector<double> store;
  // Per period (1..M) of the current group: the values est_core forms and
  // the weights carried back to them.
  double *thinv, *phi, *gpp, *gp, *q_gpp, *q_gp, *pstar, *q_pstar;
  double *phi_bar, *gpp_bar, *gp_bar, *pstar_bar;
  // Per release period of the open part: s, U, V and a at each later period j.
  double *s, *U, *V, *a;
  // Closed part of one period: factors by occasion, the prefix tree's nodes
  // level by level (level t at offset 2^t - 1), and their weights.
  double *p, *q, *rc, *qr, *p_bar, *rc_bar, *dpstar, *node, *node_bar;

  AdjointWork(int M, int most_occasions) {
    const std::size_t periods = static_cast<std::size_t>(M) + 2;
    const std::size_t occasions = static_cast<std::size_t>(most_occasions) + 1;
    const std::size_t nodes = (std::size_t{2} << most_occasions) - 1;
    store.assign(16 * periods + 7 * occasions + 2 * nodes, 0.0);
    double* next = store.data();
    const auto take = [&next](std::size_t n) {
      double* part = next;
      next += n;
      return part;
    };
    for (double** v : {&thinv, &phi, &gpp, &gp, &q_gpp, &q_gp, &pstar, &q_pstar, &phi_bar, &gpp_bar, &gp_bar,
                       &pstar_bar, &s, &U, &V, &a}) {
      *v = take(periods);
    }
    for (double** v : {&p, &q, &rc, &qr, &p_bar, &rc_bar, &dpstar}) *v = take(occasions);
    node = take(nodes);
    node_bar = take(nodes);
  }
};

/// dF/dP of one cell: -NOBS/P, or 0 when the cell holds no animal or is at
/// or below the floor (F then reads the constant floor).
inline double cell_weight(int nobs, double p, double eps) { return nobs == 0 || !(p > eps) ? 0.0 : -nobs / p; }

/// The open part of group g backwards: every release period's cells
/// s * p*(j) * a and its never-seen remainder, their weights carried to
/// phi, gamma'', gamma' and p* of each period (added into the work's bars).
void open_part_backward(const ModelStore& store, const RobustLayout& L, int g, double eps, const Mat1<double>& P,
                        AdjointWork& w) {
  const int M = L.periods();
  for (int i = 1; i < M; ++i) {
    const int c = L.open_cohort(i, g);
    const double* pc = P.column(c);
    const int* nobs = store.NOBS.column(c);
    const int n = M - i;
    // Forward: the survival product and the availability chain, as est_core forms them.
    double s = w.phi[i];
    double U = 0.0, V = 0.0;
    for (int j = i + 1; j <= M; ++j) {
      if (j > i + 1) s = s * w.phi[j - 1];
      w.s[j] = s;
      double a;
      if (j == i + 1) {
        a = w.q_gpp[i + 1];
      } else {
        if (j == i + 2) {
          U = w.q_gpp[i + 1] * w.q_pstar[i + 1];
          V = w.gpp[i + 1];
        } else {
          const int m = j - 1;
          const double Vn = V * w.gp[m] + U * w.gpp[m];
          U = w.q_pstar[m] * (U * w.q_gpp[m] + V * w.q_gp[m]);
          V = Vn;
        }
        w.U[j] = U;
        w.V[j] = V;
        a = U * w.q_gpp[j] + V * w.q_gp[j];
      }
      w.a[j] = a;
    }
    // Backward from the last period: the remainder is 1 minus the others,
    // so cell j carries its own weight less the remainder's.
    const double rest = cell_weight(nobs[n], pc[n], eps);
    double s_bar = 0.0, U_bar = 0.0, V_bar = 0.0;
    for (int j = M; j >= i + 1; --j) {
      const double b = cell_weight(nobs[j - i - 1], pc[j - i - 1], eps) - rest;
      // P(j) = s p*(j) a.
      w.pstar_bar[j] += b * w.s[j] * w.a[j];
      s_bar += b * w.pstar[j] * w.a[j];
      const double a_bar = b * w.s[j] * w.pstar[j];
      if (j == i + 1) {
        w.gpp_bar[i + 1] -= a_bar;
      } else {
        // a = U (1 - gamma''(j)) + V (1 - gamma'(j)).
        U_bar += a_bar * w.q_gpp[j];
        V_bar += a_bar * w.q_gp[j];
        w.gpp_bar[j] -= a_bar * w.U[j];
        w.gp_bar[j] -= a_bar * w.V[j];
        if (j == i + 2) {
          // U = (1 - gamma''(i+1)) (1 - p*(i+1)), V = gamma''(i+1).
          w.gpp_bar[i + 1] += V_bar - U_bar * w.q_pstar[i + 1];
          w.pstar_bar[i + 1] -= U_bar * w.q_gpp[i + 1];
        } else {
          // The step through period m = j - 1 from the state at j - 1.
          const int m = j - 1;
          const double Up = w.U[j - 1];
          const double Vp = w.V[j - 1];
          w.pstar_bar[m] -= U_bar * (Up * w.q_gpp[m] + Vp * w.q_gp[m]);
          w.gpp_bar[m] += (V_bar - U_bar * w.q_pstar[m]) * Up;
          w.gp_bar[m] += (V_bar - U_bar * w.q_pstar[m]) * Vp;
          const double next_U = U_bar * w.q_pstar[m] * w.q_gpp[m] + V_bar * w.gpp[m];
          const double next_V = U_bar * w.q_pstar[m] * w.q_gp[m] + V_bar * w.gp[m];
          U_bar = next_U;
          V_bar = next_V;
        }
      }
      // s(j) = s(j - 1) phi(j - 1), s(i + 1) = phi(i).
      if (j > i + 1) {
        w.phi_bar[j - 1] += s_bar * w.s[j - 1];
        s_bar *= w.phi[j - 1];
      } else {
        w.phi_bar[i] += s_bar;
      }
    }
  }
}

}  // namespace

void likelihood_adjoint(const ModelStore& store, const RobustLayout& L, std::span<const double> par,
                        ParameterScale scale, const Mat1<double>& P, std::vector<double>& by_parameter) {
  const int M = L.periods();
  const int npar = store.NPAR;
  assert(static_cast<int>(par.size()) > npar);
  by_parameter.assign(static_cast<std::size_t>(npar) + 1, 0.0);

  // Every S(I) the layout reads, as est_core reads them.
  std::vector<double> S(static_cast<std::size_t>(npar) + 1, 0.0);
  layout_values(store, L, par.data(), scale, S.data());
  const int G = L.groups();
  const double eps = probability_floor(store.NSIG);
  int most_occasions = 0;
  for (int ip = 1; ip <= M; ++ip) most_occasions = std::max(most_occasions, L.occasions(ip));
  AdjointWork w(M, most_occasions);
  // The open part's fetches of a one-period design reach one past NPAR (the
  // design check allows it; nothing uses them): read as 0, nothing added.
  const auto value = [&S, npar](int I) { return I <= npar ? S[static_cast<std::size_t>(I)] : 0.0; };
  const auto add = [&by_parameter, npar](int I, double v) {
    if (I <= npar) by_parameter[static_cast<std::size_t>(I)] += v;
  };

  for (int g = 1; g <= G; ++g) {
    const bool power = S[L.p(1, 1, g) + L.occasions(1)] < 0;
    for (int i = 1; i <= M; ++i) {
      w.thinv[i] = 1.0 / value(L.theta(i, g));
      w.phi[i] = value(L.phi(i, g));
      w.gpp[i] = value(L.gamma2(i, g));
      w.gp[i] = value(L.gamma1(i, g));
      w.q_gpp[i] = 1.0 - w.gpp[i];
      w.q_gp[i] = 1.0 - w.gp[i];
      double den = 1.0;
      for (int t = 1; t <= L.occasions(i); ++t) den = den * (1.0 - S[L.p(i, t, g)]);
      w.pstar[i] = 1.0 - den;
      w.q_pstar[i] = 1.0 - w.pstar[i];
      w.phi_bar[i] = w.gpp_bar[i] = w.gp_bar[i] = w.pstar_bar[i] = 0.0;
    }
    open_part_backward(store, L, g, eps, P, w);

    // Closed part, period by period: the weights of the histories, summed
    // over the period's cohorts (they share the cells), carried back
    // through P = Pr / (1 - den) and the prefix tree of Pr.
    for (int ip = 1; ip <= M; ++ip) {
      const int kk = L.occasions(ip);
      const int n = L.closed_cells(ip);
      double den = 1.0;
      for (int t = 1; t <= kk; ++t) {
        w.p[t] = S[L.p(ip, t, g)];
        w.q[t] = 1.0 - w.p[t];
        den = den * w.q[t];
        w.p_bar[t] = 0.0;
        w.rc_bar[t] = 0.0;
      }
      for (int t = 2; t <= kk; ++t) {
        w.rc[t] = power ? std::pow(w.p[t], w.thinv[ip]) : S[L.c(ip, t, g)];
        w.qr[t] = 1.0 - w.rc[t];
      }
      // d p* / d p(t) = product of 1 - p(s), s != t, without division.
      double left = 1.0;
      for (int t = 1; t <= kk; ++t) {
        w.dpstar[t] = left;
        left *= w.q[t];
      }
      double right = 1.0;
      for (int t = kk; t >= 1; --t) {
        w.dpstar[t] *= right;
        right *= w.q[t];
      }

      double caught_bar = 0.0;
      if (den != 1.0) {
        // Forward: every level of the tree (est_core keeps only the last).
        double* node = w.node;
        double* bar = w.node_bar;
        node[0] = 1.0;
        for (int t = 1; t <= kk; ++t) {
          const int none_caught = (1 << (t - 1)) - 1;
          const double* up = node + (1 << (t - 1)) - 1;
          double* level = node + (1 << t) - 1;
          for (int h = 0; h < (1 << t); ++h) {
            const int parent = h >> 1;
            const bool miss = (h & 1) != 0;
            const double f = parent == none_caught ? (miss ? w.q[t] : w.p[t]) : (miss ? w.qr[t] : w.rc[t]);
            level[h] = up[parent] * f;
          }
        }
        // The histories' weights, P(h) = Pr(h) / caught; the remainder is constant.
        const double caught = 1.0 - den;
        double* leaf_bar = bar + (1 << kk) - 1;
        std::fill_n(bar, (std::size_t{2} << kk) - 1, 0.0);
        const int first = L.closed_cohort(ip, 1, g);
        for (int jp = 1; jp <= ip; ++jp) {
          const double* pc = P.column(first + jp - 1);
          const int* nobs = store.NOBS.column(first + jp - 1);
          for (int h = 0; h <= n - 2; ++h) {
            const double W = cell_weight(nobs[h], pc[h], eps);
            if (W == 0.0) continue;
            leaf_bar[h] += W / caught;
            caught_bar -= W * pc[h] / caught;
          }
        }
        // Backward through the tree, level by level from the leaves.
        for (int t = kk; t >= 1; --t) {
          const int none_caught = (1 << (t - 1)) - 1;
          const double* up = node + (1 << (t - 1)) - 1;
          double* up_bar = bar + (1 << (t - 1)) - 1;
          const double* level_bar = bar + (1 << t) - 1;
          double p_bar = 0.0, rc_bar = 0.0;
          for (int h = 0; h < (1 << t); ++h) {
            const double b = level_bar[h];
            if (b == 0.0) continue;
            const int parent = h >> 1;
            const bool miss = (h & 1) != 0;
            const bool first_capture_ahead = parent == none_caught;
            const double f = first_capture_ahead ? (miss ? w.q[t] : w.p[t]) : (miss ? w.qr[t] : w.rc[t]);
            up_bar[parent] += b * f;
            // d(1 - x)/dx = -1 for the misses.
            const double by_factor = miss ? -b * up[parent] : b * up[parent];
            if (first_capture_ahead) {
              p_bar += by_factor;
            } else {
              rc_bar += by_factor;
            }
          }
          w.p_bar[t] += p_bar;
          w.rc_bar[t] += rc_bar;
        }
      }
      // The capture probabilities through p* = caught = 1 - den, in the
      // open part and in the division above.
      const double through_pstar = w.pstar_bar[ip] + caught_bar;
      for (int t = 1; t <= kk; ++t) add(L.p(ip, t, g), w.p_bar[t] + through_pstar * w.dpstar[t]);
      for (int t = 2; t <= kk; ++t) {
        if (w.rc_bar[t] == 0.0) continue;
        if (power) {
          // r = p^(1/theta): dr/dp = (1/theta) p^(1/theta - 1), dr/dtheta = -r ln(p) / theta^2.
          const double thinv = w.thinv[ip];
          add(L.p(ip, t, g), w.rc_bar[t] * thinv * std::pow(w.p[t], thinv - 1.0));
          if (w.p[t] != 0.0) add(L.theta(ip, g), w.rc_bar[t] * (-w.rc[t] * std::log(w.p[t]) * thinv * thinv));
        } else {
          add(L.c(ip, t, g), w.rc_bar[t]);
        }
      }
    }
    for (int i = 1; i <= M; ++i) {
      add(L.phi(i, g), w.phi_bar[i]);
      add(L.gamma2(i, g), w.gpp_bar[i]);
      add(L.gamma1(i, g), w.gp_bar[i]);
    }
  }
}

}  // namespace quorvale
