// Exact cell derivatives of the robust design, formed beside the cells.

#include "model/cell_derivatives.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

namespace quorvale {

namespace {

/// max(v, eps) as the likelihood takes it: v when v > eps, else eps (NaN becomes eps).
inline double floored(double v, double eps) { return v > eps ? v : eps; }

/// A dense vector of derivatives over the local slots of one cohort.
using Grad = std::vector<double>;

/// Per-period values of one group that the open part reads: the closed
/// capture probabilities p* with their derivatives by p(ip, t).
struct PeriodCapture {
  std::vector<double> dpstar;  ///< dpstar[t - 1] = d p*(ip) / d p(ip, t) = product of 1 - p(ip, s), s != t
};

/// Products of all q[s], s = 1..kk, except q[t], for each t: no division, so q[t] = 0 is exact too.
std::vector<double> products_but_one(const std::vector<double>& q, int kk) {
  std::vector<double> out(static_cast<std::size_t>(kk), 1.0);
  double left = 1.0;
  for (int t = 1; t <= kk; ++t) {
    out[static_cast<std::size_t>(t - 1)] = left;
    left *= q[static_cast<std::size_t>(t)];
  }
  double right = 1.0;
  for (int t = kk; t >= 1; --t) {
    out[static_cast<std::size_t>(t - 1)] *= right;
    right *= q[static_cast<std::size_t>(t)];
  }
  return out;
}

}  // namespace

double CellBlock::of(int h, int I) const {
  const auto it = std::find(parameters.begin(), parameters.end(), I);
  if (it == parameters.end()) return 0.0;
  return at(h, static_cast<int>(it - parameters.begin()));
}

EstResult est_core_derivatives(const ModelStore& store, const RdDesign& design, std::span<const double> x,
                               ParameterScale scale, Mat1<double>& P, CellDerivatives& D) {
  EstResult r;
  r.status = design.status;
  D.blocks.clear();
  D.block_of.clear();
  if (design.status != EstStatus::Ok) return r;

  const RobustLayout& L = design.layout;
  const int M = L.periods();
  const int npar = store.NPAR;
  assert(store.NEST >= 0 && store.NEST <= npar && static_cast<int>(x.size()) >= store.NEST);
  assert(P.cols() >= store.NCOHRT && store.NOBS.cols() >= store.NCOHRT);

  // Working values as the evaluation sees them, then every S(I) the layout reads.
  const std::vector<double> par = working_values(store, x);
  std::vector<double> S(static_cast<std::size_t>(npar) + 1, 0.0);
  layout_values(store, L, par.data(), scale, S.data());
  const int G = L.groups();
  const double eps = probability_floor(store.NSIG);
  double F = 0.0;

  const std::size_t periods = static_cast<std::size_t>(M) + 1;
  std::vector<double> thinv(periods), phi(periods), gpp(periods), gp(periods), pstar(periods), q_gpp(periods),
      q_gp(periods), q_pstar(periods);
  std::vector<PeriodCapture> capture(periods);
  D.block_of.assign(static_cast<std::size_t>(L.cohorts()), -1);

  for (int g = 1; g <= G; ++g) {
    // The power variant switches on the sign of the first recapture parameter of period 1.
    const bool power = S[L.p(1, 1, g) + L.occasions(1)] < 0;
    for (int i = 1; i <= M; ++i) {
      thinv[i] = 1.0 / S[L.theta(i, g)];
      phi[i] = S[L.phi(i, g)];
      gpp[i] = S[L.gamma2(i, g)];
      gp[i] = S[L.gamma1(i, g)];
      q_gpp[i] = 1.0 - gpp[i];
      q_gp[i] = 1.0 - gp[i];
    }

    // Closed part. Local slots of period ip: p(ip, t) at t - 1; then
    // c(ip, t) at kk + t - 2, or in the power variant theta(ip) at kk.
    for (int ip = 1; ip <= M; ++ip) {
      const int kk = L.occasions(ip);
      const int n = L.closed_cells(ip);
      const bool with_theta = power && kk >= 2;
      const int K = power ? (with_theta ? kk + 1 : kk) : 2 * kk - 1;
      std::vector<double> p(static_cast<std::size_t>(kk) + 1), q(p.size()), rc(p.size()), qr(p.size()),
          drc_dp(p.size()), drc_dth(p.size());
      double den = 1.0;
      for (int t = 1; t <= kk; ++t) {
        p[t] = S[L.p(ip, t, g)];
        q[t] = 1.0 - p[t];
        den = den * q[t];
      }
      for (int t = 2; t <= kk; ++t) {
        if (power) {
          rc[t] = std::pow(p[t], thinv[ip]);
          // r = p^(1/theta): dr/dp = (1/theta) p^(1/theta - 1), dr/dtheta = -r ln(p) / theta^2.
          drc_dp[t] = thinv[ip] * std::pow(p[t], thinv[ip] - 1.0);
          drc_dth[t] = p[t] == 0.0 ? 0.0 : -rc[t] * std::log(p[t]) * thinv[ip] * thinv[ip];
        } else {
          rc[t] = S[L.c(ip, t, g)];
        }
        qr[t] = 1.0 - rc[t];
      }
      pstar[ip] = 1.0 - den;
      q_pstar[ip] = 1.0 - pstar[ip];
      capture[static_cast<std::size_t>(ip)].dpstar = products_but_one(q, kk);

      CellBlock block;
      block.cells = n;
      for (int t = 1; t <= kk; ++t) block.parameters.push_back(L.p(ip, t, g));
      if (power) {
        if (with_theta) block.parameters.push_back(L.theta(ip, g));
      } else {
        for (int t = 2; t <= kk; ++t) block.parameters.push_back(L.c(ip, t, g));
      }
      assert(static_cast<int>(block.parameters.size()) == K);
      block.d.assign(static_cast<std::size_t>(K) * static_cast<std::size_t>(n), 0.0);
      std::vector<double> cell(static_cast<std::size_t>(n));
      const auto dcell = [&block, n](int h, int k) -> double& {
        return block.d[static_cast<std::size_t>(k) * static_cast<std::size_t>(n) + static_cast<std::size_t>(h)];
      };

      if (den == 1.0) {
        // No capture is possible: the histories 0, the remainder 1, as constants.
        r.den_one.push_back(ip);
        std::fill_n(cell.begin(), n - 1, 0.0);
      } else {
        // The prefix tree of est_core (digit 0 caught, 1 missed, first
        // occasion most significant, filled from the top), each node with
        // its gradient: d(parent * f) = d(parent) f + parent df, where df
        // has at most two entries.
        cell[0] = 1.0;
        for (int t = 1; t <= kk; ++t) {
          const int none_caught = (1 << (t - 1)) - 1;
          for (int h = (1 << t) - 1; h >= 0; --h) {
            const int parent = h >> 1;
            const bool miss = (h & 1) != 0;
            const bool first_capture_ahead = parent == none_caught;
            const double f = first_capture_ahead ? (miss ? q[t] : p[t]) : (miss ? qr[t] : rc[t]);
            const double sign = miss ? -1.0 : 1.0;
            const double up = cell[static_cast<std::size_t>(parent)];
            for (int k = 0; k < K; ++k) dcell(h, k) = dcell(parent, k) * f;
            if (first_capture_ahead) {
              dcell(h, t - 1) += up * sign;
            } else if (power) {
              dcell(h, t - 1) += up * sign * drc_dp[t];
              dcell(h, kk) += up * sign * drc_dth[t];
            } else {
              dcell(h, kk + t - 2) += up * sign;
            }
            cell[static_cast<std::size_t>(h)] = up * f;
          }
        }
        // P = Pr / caught with caught = 1 - den: dP = (dPr - P dcaught) / caught,
        // dcaught / dp(t) = product of q(s), s != t.
        const double caught = 1.0 - den;
        const std::vector<double>& dcaught = capture[static_cast<std::size_t>(ip)].dpstar;
        for (int h = 0; h <= n - 2; ++h) {
          cell[static_cast<std::size_t>(h)] = cell[static_cast<std::size_t>(h)] / caught;
          const double Ph = cell[static_cast<std::size_t>(h)];
          for (int k = 0; k < K; ++k) {
            const double dc = k < kk ? dcaught[static_cast<std::size_t>(k)] : 0.0;
            dcell(h, k) = (dcell(h, k) - Ph * dc) / caught;
          }
        }
      }
      double sum = 0.0;
      for (int h = 0; h <= n - 2; ++h) sum += cell[static_cast<std::size_t>(h)];
      cell[static_cast<std::size_t>(n - 1)] = 1.0 - sum;
      // The remainder, never caught, is 1 minus histories that are
      // conditioned on a capture and sum to 1: it is 0 but for rounding, and
      // its derivatives are 0 exactly (minus the histories' sum would leave
      // rounding noise, which the information would divide by a cell of
      // rounding size).
      for (int k = 0; k < K; ++k) dcell(n - 1, k) = 0.0;

      // Cells and F cohort by cohort, cell by cell, as est_core adds them.
      const int index = static_cast<int>(D.blocks.size());
      D.blocks.push_back(std::move(block));
      for (int jp = 1; jp <= ip; ++jp) {
        const int c = L.closed_cohort(ip, jp, g);
        D.block_of[static_cast<std::size_t>(c - 1)] = index;
        double* pc = P.column(c);
        const int* nobs = store.NOBS.column(c);
        for (int h = 0; h < n; ++h) {
          pc[h] = cell[static_cast<std::size_t>(h)];
          F += nobs[h] * std::log(floored(cell[static_cast<std::size_t>(h)], eps));
        }
      }
    }

    // Open part, release period i, n = M - i cells before the remainder.
    // Local slots: phi(m) at m - i (m = i..M-1), gamma''(m) at n + m - i - 1
    // (m = i+1..M), gamma'(m) at 2n + m - i - 2 (m = i+2..M), p*(m) at
    // 3n - 1 + m - i - 1 (m = i+1..M); p*(m) is then expanded into the
    // capture probabilities of period m.
    for (int i = 1; i < M; ++i) {
      const int n = M - i;
      const int K = 4 * n - 1;
      const auto phi_slot = [i](int m) { return m - i; };
      const auto gpp_slot = [i, n](int m) { return n + m - i - 1; };
      const auto gp_slot = [i, n](int m) { return 2 * n + m - i - 2; };
      const auto pstar_slot = [i, n](int m) { return 3 * n - 1 + m - i - 1; };
      Grad ds(static_cast<std::size_t>(K), 0.0), dU(ds), dV(ds), da(ds), dVn(ds), dW(ds);
      std::vector<double> local(static_cast<std::size_t>(K) * static_cast<std::size_t>(n + 1), 0.0);
      const auto dloc = [&local, n](int h, int k) -> double& {
        return local[static_cast<std::size_t>(k) * static_cast<std::size_t>(n + 1) + static_cast<std::size_t>(h)];
      };

      const int c = L.open_cohort(i, g);
      double* pc = P.column(c);
      const int* nobs = store.NOBS.column(c);
      double sum = 0.0;
      double s = phi[i];
      ds[static_cast<std::size_t>(phi_slot(i))] = 1.0;
      double U = 0.0, V = 0.0;
      for (int j = i + 1; j <= M; ++j) {
        if (j > i + 1) {
          for (double& v : ds) v *= phi[j - 1];
          ds[static_cast<std::size_t>(phi_slot(j - 1))] += s;
          s = s * phi[j - 1];
        }
        double a;
        if (j == i + 1) {
          a = q_gpp[i + 1];
          std::fill(da.begin(), da.end(), 0.0);
          da[static_cast<std::size_t>(gpp_slot(i + 1))] = -1.0;
        } else {
          if (j == i + 2) {
            U = q_gpp[i + 1] * q_pstar[i + 1];
            V = gpp[i + 1];
            std::fill(dU.begin(), dU.end(), 0.0);
            std::fill(dV.begin(), dV.end(), 0.0);
            dU[static_cast<std::size_t>(gpp_slot(i + 1))] = -q_pstar[i + 1];
            dU[static_cast<std::size_t>(pstar_slot(i + 1))] = -q_gpp[i + 1];
            dV[static_cast<std::size_t>(gpp_slot(i + 1))] = 1.0;
          } else {
            // One more step of the chain through period m = j - 1.
            const int m = j - 1;
            const double W = U * q_gpp[m] + V * q_gp[m];
            for (int k = 0; k < K; ++k) {
              const auto kz = static_cast<std::size_t>(k);
              dVn[kz] = dV[kz] * gp[m] + dU[kz] * gpp[m];
              dW[kz] = dU[kz] * q_gpp[m] + dV[kz] * q_gp[m];
            }
            dVn[static_cast<std::size_t>(gp_slot(m))] += V;
            dVn[static_cast<std::size_t>(gpp_slot(m))] += U;
            dW[static_cast<std::size_t>(gpp_slot(m))] -= U;
            dW[static_cast<std::size_t>(gp_slot(m))] -= V;
            for (int k = 0; k < K; ++k) dU[static_cast<std::size_t>(k)] = q_pstar[m] * dW[static_cast<std::size_t>(k)];
            dU[static_cast<std::size_t>(pstar_slot(m))] -= W;
            dV.swap(dVn);
            const double Vn = V * gp[m] + U * gpp[m];
            U = q_pstar[m] * (U * q_gpp[m] + V * q_gp[m]);
            V = Vn;
          }
          a = U * q_gpp[j] + V * q_gp[j];
          for (int k = 0; k < K; ++k) {
            const auto kz = static_cast<std::size_t>(k);
            da[kz] = dU[kz] * q_gpp[j] + dV[kz] * q_gp[j];
          }
          da[static_cast<std::size_t>(gpp_slot(j))] -= U;
          da[static_cast<std::size_t>(gp_slot(j))] -= V;
        }
        const double pj = s * pstar[j] * a;
        // d(s p* a) = ds p* a + s a dp* + s p* da.
        for (int k = 0; k < K; ++k) {
          const auto kz = static_cast<std::size_t>(k);
          dloc(j - i - 1, k) = ds[kz] * pstar[j] * a + s * pstar[j] * da[kz];
        }
        dloc(j - i - 1, pstar_slot(j)) += s * a;
        pc[j - i - 1] = pj;
        sum += pj;
        F += nobs[j - i - 1] * std::log(floored(pj, eps));
      }
      pc[n] = 1.0 - sum;
      F += nobs[n] * std::log(floored(pc[n], eps));
      for (int k = 0; k < K; ++k) {
        double dsum = 0.0;
        for (int h = 0; h < n; ++h) dsum += dloc(h, k);
        dloc(n, k) = -dsum;
      }

      // The block: phi, gamma'', gamma' as they are, then p* of each later
      // period expanded into its capture probabilities.
      CellBlock block;
      block.cells = n + 1;
      std::vector<int> from;  // local slot of each column
      std::vector<double> factor;
      for (int m = i; m <= M - 1; ++m) block.parameters.push_back(L.phi(m, g)), from.push_back(phi_slot(m));
      for (int m = i + 1; m <= M; ++m) block.parameters.push_back(L.gamma2(m, g)), from.push_back(gpp_slot(m));
      for (int m = i + 2; m <= M; ++m) block.parameters.push_back(L.gamma1(m, g)), from.push_back(gp_slot(m));
      factor.assign(from.size(), 1.0);
      for (int m = i + 1; m <= M; ++m) {
        for (int t = 1; t <= L.occasions(m); ++t) {
          block.parameters.push_back(L.p(m, t, g));
          from.push_back(pstar_slot(m));
          factor.push_back(capture[static_cast<std::size_t>(m)].dpstar[static_cast<std::size_t>(t - 1)]);
        }
      }
      block.d.resize(block.parameters.size() * static_cast<std::size_t>(n + 1));
      for (std::size_t k = 0; k < block.parameters.size(); ++k)
        for (int h = 0; h <= n; ++h)
          block.d[k * static_cast<std::size_t>(n + 1) + static_cast<std::size_t>(h)] = dloc(h, from[k]) * factor[k];
      D.block_of[static_cast<std::size_t>(c - 1)] = static_cast<int>(D.blocks.size());
      D.blocks.push_back(std::move(block));
    }
  }

  r.F = -F;
  return r;
}

}  // namespace quorvale
