// The robust-design likelihood: the design check, the pure evaluation and
// the step that updates the store and writes the trace lines.

#include "model/likelihood.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "base/limits.h"
#include "listing/layout.h"
#include "listing/listing.h"
#include "listing/run_end.h"
#include "model/ss.h"

namespace quorvale {

namespace {

/// Text of the dimension stop, on the listing and after "STOP ".
constexpr const char* kDimensionText = "*** dimension error in est function";

/// Marks the design as failing with `status` and returns it.
RdDesign& fail(RdDesign& d, EstStatus status) {
  d.status = status;
  return d;
}

/// max(v, eps) as the likelihood takes it: v when v > eps, else eps (NaN becomes eps).
inline double floored(double v, double eps) { return v > eps ? v : eps; }

/// Copies the n cells of period ip into P for each of its cohorts (ip, 1..ip),
/// numbered from `first`, and returns F plus their NOBS * lncell, added
/// cohort by cohort, cell by cell. Kept out of line: inside the evaluation,
/// which calls the library all along, the sum would live on the stack.
[[gnu::noinline]] double add_period(double F, int first, int ip, const double* __restrict cell,
                                    const double* __restrict lncell, int n, const ModelStore& store, Mat1<double>& P) {
  for (int jp = 1; jp <= ip; ++jp) {
    const int c = first + jp - 1;
    assert(P.rows(c) >= n && store.NOBS.rows(c) >= n);
    double* __restrict pc = P.column(c);
    const int* __restrict nobs = store.NOBS.column(c);
    for (int h = 0; h < n; ++h) {
      pc[h] = cell[h];
      F += nobs[h] * lncell[h];
    }
  }
  return F;
}

}  // namespace

RdDesign rd_design(const ModelStore& store) {
  RdDesign d;
  d.status = EstStatus::Ok;
  // Records the cohort that does not fit and why.
  const auto misfit = [&d](EstStatus status, int period, int cohort, int cells, int expected) {
    d.status = status;
    d.period = period;
    d.cohort = cohort;
    d.cells = cells;
    d.expected = expected;
    return d;
  };
  const int ncohrt = store.NCOHRT;
  if (ncohrt < 1) return fail(d, EstStatus::NoCohorts);

  // Every group has the whole design: the same number of cohorts.
  const int G = store.groups();
  if (ncohrt % G != 0) {
    d.group = G;
    d.cohort = ncohrt;
    return fail(d, EstStatus::GroupCohorts);
  }
  const int per_group = ncohrt / G;

  // M from M(M+1)/2 + M - 1 cohorts of a group; the count alone, no cell is read yet.
  d.M = RobustLayout::periods_for(per_group);
  if (d.M == 0) {
    if (G > 1) {
      d.group = 1;
      d.cohort = per_group;
      return fail(d, EstStatus::GroupCohorts);
    }
    return fail(d, EstStatus::CohortCount);
  }
  if (d.M > MAXPER) return fail(d, EstStatus::TooManyPeriods);
  if (ncohrt > store.NCLASS.size()) return fail(d, EstStatus::TooManyCohorts);

  // Closed part: every cohort of period ip has the 2^kk cells of group 1's first.
  for (int ip = 1; ip <= d.M; ++ip) {
    const int c = RobustLayout::closed_cohort(ip, 1);
    const int n = store.NCLASS(c);
    if (n < 2 || n > MXCLAS || !std::has_single_bit(static_cast<unsigned>(n)))
      return misfit(EstStatus::ClosedCells, ip, c, n, 0);
    for (int g = 1; g <= G; ++g) {
      for (int jp = g == 1 ? 2 : 1; jp <= ip; ++jp) {
        const int cj = (g - 1) * per_group + RobustLayout::closed_cohort(ip, jp);
        if (store.NCLASS(cj) != n) {
          d.group = G > 1 ? g : 0;
          return misfit(EstStatus::ClosedCells, ip, cj, store.NCLASS(cj), n);
        }
      }
    }
  }
  const int npar = store.NPAR;
  if (npar % G != 0) return fail(d, EstStatus::GroupBlocks);
  const auto occasions_of = [&store](int ip) {
    return std::countr_zero(static_cast<unsigned>(store.NCLASS(RobustLayout::closed_cohort(ip, 1))));
  };
  d.layout = RobustLayout(d.M, occasions_of, npar, G);
  const RobustLayout& L = d.layout;

  // Open part: release period i has one cell per later period plus "never".
  for (int g = 1; g <= G; ++g) {
    for (int i = 1; i < d.M; ++i) {
      const int c = L.open_cohort(i, g);
      const int want = L.open_cells(i);
      if (store.NCLASS(c) != want || want > MXCLAS) {
        d.group = G > 1 ? g : 0;
        return misfit(EstStatus::OpenCells, i, c, store.NCLASS(c), want);
      }
    }
  }

  d.needed = L.needed();
  if (npar < d.needed) return fail(d, EstStatus::NparTooSmall);
  assert(npar <= MAXPAR);

  // With NPAR >= needed the closed part stays within 1..sum(2kk-1) and no
  // number read before one past NPAR is below 1; the open fetches (theta, phi, gamma'', gamma' of
  // all M periods, used or not) reach past NPAR only for M = 1, where phi(1)
  // of the last group is S(NPAR+1). Checked in reading order: the power
  // switch S(kk(1)+1) comes before the trace line, the open fetches after it.
  const auto beyond = [&d, npar](int index, bool before_trace) {
    if (index <= npar) return false;
    d.status = EstStatus::IndexBeyondNpar;
    d.index = index;
    d.before_trace = before_trace;
    return true;
  };
  if (beyond(L.occasions(1) + 1, true)) return d;
  for (int i = 1; i <= d.M; ++i) {
    if (beyond(L.theta(i, G), false) || beyond(L.phi(i, G), false) || beyond(L.gamma2(i, G), false) ||
        beyond(L.gamma1(i, G), false))
      return d;
  }
  return d;
}

RdDesign laid_out(const ModelStore& store) {
  return store.design.status == EstStatus::NotLaidOut ? rd_design(store) : store.design;
}

namespace {

/// Name of group g (1..) of the store.
std::string group_name(const ModelStore& store, int g) {
  const std::size_t k = static_cast<std::size_t>(g - 1);
  return k < store.group_names.size() ? store.group_names[k] : std::to_string(g);
}

/// "group F, " for the bad cohort of a model of several groups; nothing otherwise.
std::string group_of(const RdDesign& d, const ModelStore& store) {
  return d.group > 0 ? "group " + group_name(store, d.group) + ", " : std::string();
}

}  // namespace

std::string rd_design_message(const RdDesign& d, const ModelStore& store) {
  const std::string head = "Cohorts do not follow the robust-design layout: ";
  const auto num = [](long long v) { return std::to_string(v); };
  switch (d.status) {
    case EstStatus::NoCohorts:
      return head + "the model has no cohorts.";
    case EstStatus::CohortCount:
      return head + "NCOHRT = " + num(store.NCOHRT) +
             " is not M(M+1)/2+M-1 for any number of periods M.";
    case EstStatus::TooManyCohorts:
      return head + "NCOHRT = " + num(store.NCOHRT) + " is more than the " + num(MAXCHT) +
             " cohorts the store holds.";
    case EstStatus::ClosedCells:
      if (d.expected == 0)
        return head + "cohort " + num(d.cohort) + " (period " + num(d.period) + ") has " +
               num(d.cells) + " cells, not a power of two from 2 to " + num(MXCLAS) + ".";
      return head + "cohort " + num(d.cohort) + " (" + group_of(d, store) + "period " + num(d.period) + ") has " +
             num(d.cells) + " cells, " + num(d.expected) + " expected.";
    case EstStatus::OpenCells:
      return head + "cohort " + num(d.cohort) + " (" + group_of(d, store) + "released in period " + num(d.period) +
             ") has " + num(d.cells) + " cells, " + num(d.expected) + " expected.";
    case EstStatus::GroupCohorts: {
      const int G = store.groups();
      const int per_group = store.NCOHRT / G;
      if (store.NCOHRT % G == 0) {
        return head + "each of the " + num(G) + " groups has " + num(per_group) +
               " cohorts, which is not M(M+1)/2+M-1 for any number of periods M.";
      }
      const int over = store.NCOHRT - per_group * G;
      std::string left = over == 1 ? "cohort " + num(store.NCOHRT) + " is"
                                   : "cohorts " + num(store.NCOHRT - over + 1) + " to " + num(store.NCOHRT) + " are";
      return head + num(store.NCOHRT) + " cohorts do not make " + num(G) + " whole groups: after " + num(G) +
             " groups of " + num(per_group) + ", group " + group_name(store, G) + " ending at cohort " +
             num(per_group * G) + ", " + left + " left over.";
    }
    case EstStatus::GroupBlocks:
      return "NPAR = " + num(store.NPAR) + " does not make an equal block of parameters for each of the " +
             num(store.groups()) + " groups.";
    case EstStatus::NparTooSmall:
      return "NPAR too small for the cohort layout of the model: " + num(d.needed) +
             " parameters needed, NPAR = " + num(store.NPAR) + ".";
    case EstStatus::TooManyPeriods:
      return kDimensionText;
    case EstStatus::IndexBeyondNpar:
      return "S(I) IN CELL PROBABILITY WITH I > NPAR";
    case EstStatus::Ok:
    case EstStatus::NotLaidOut:
      break;
  }
  return {};
}

double probability_floor(int nsig) {
  // Powers of ten up to 10^22 are exact doubles, so one division rounds
  // 10^(-nsig) correctly; beyond them the library power does it.
  if (nsig >= 0 && nsig <= 22) {
    double t = 1.0;
    for (int k = 0; k < nsig; ++k) t *= 10.0;
    return 1.0 / t;
  }
  return std::pow(10.0, -static_cast<double>(nsig));
}

std::vector<double> working_values(const ModelStore& store, std::span<const double> x) {
  std::vector<double> par(store.PAR.base(), store.PAR.base() + store.NPAR + 1);
  std::copy_n(x.begin(), store.NEST, par.begin() + 1);
  return par;
}

void layout_values(const ModelStore& store, const RobustLayout& L, const double* par, ParameterScale scale, double* S) {
  // Group by group: the closed part 1..sum(2kk-1) and the open part
  // phi(1)..theta(M) = block-4M+5..block of each block (the gap between
  // them, if any, is unused).
  const int nclosed = L.closed_parameters();
  for (int g = 1; g <= L.groups(); ++g) {
    const int first = L.p(1, 1, g) - 1;
    for (int I = first + 1; I <= first + nclosed; ++I) S[I] = ss_value(store, par, I, scale);
    for (int I = std::max(first + nclosed + 1, L.phi(1, g)); I <= first + L.block(); ++I) {
      S[I] = ss_value(store, par, I, scale);
    }
  }
}

EstResult est_core(const ModelStore& store, std::span<const double> x, ParameterScale scale, Mat1<double>& P) {
  return est_core(store, rd_design(store), x, scale, P);
}

EstResult est_core(const ModelStore& store, const RdDesign& d, std::span<const double> x, ParameterScale scale,
                   Mat1<double>& P) {
  EstResult r;
  r.status = d.status;
  if (d.status != EstStatus::Ok) return r;

  const RobustLayout& L = d.layout;
  const int M = L.periods();
  const int npar = store.NPAR;
  const int nest = store.NEST;
  assert(nest >= 0 && nest <= npar && static_cast<int>(x.size()) >= nest);
  assert(store.PAR.size() >= npar && P.cols() >= store.NCOHRT && store.NOBS.cols() >= store.NCOHRT);

  // One work area sized to the model: the working values and S of its
  // parameters, the per-period quantities, and the cells and factors of one
  // period of the closed part.
  int most_occasions = 0;
  for (int ip = 1; ip <= M; ++ip) most_occasions = std::max(most_occasions, L.occasions(ip));
  const std::size_t parameters = static_cast<std::size_t>(npar) + 1;
  const std::size_t periods = static_cast<std::size_t>(M) + 1;
  const std::size_t cells = std::size_t{1} << most_occasions;
  const std::size_t factors = static_cast<std::size_t>(most_occasions) + 1;
  // Left uninitialised: every entry is written before it is read. A model
  // of up to kOnStack values needs no allocation.
  constexpr std::size_t kOnStack = 2048;
  const std::size_t size = 2 * parameters + 8 * periods + 2 * cells + 4 * factors;
  std::array<double, kOnStack> on_stack;
  std::unique_ptr<double[]> on_heap;
  double* next = on_stack.data();
  if (size > kOnStack) {
    on_heap = std::make_unique_for_overwrite<double[]>(size);
    next = on_heap.get();
  }
  const auto take = [&next](std::size_t n) {
    double* part = next;
    next += n;
    return part;
  };
  double* __restrict const par = take(parameters);
  double* __restrict const S = take(parameters);
  double* __restrict const thinv = take(periods);
  double* __restrict const phi = take(periods);
  double* __restrict const gpp = take(periods);
  double* __restrict const gp = take(periods);
  double* __restrict const pstar = take(periods);
  double* __restrict const q_gpp = take(periods);
  double* __restrict const q_gp = take(periods);
  double* __restrict const q_pstar = take(periods);
  double* __restrict const cell = take(cells);
  double* __restrict const lncell = take(cells);
  double* __restrict const p = take(factors);
  double* __restrict const q = take(factors);
  double* __restrict const rc = take(factors);
  double* __restrict const qr = take(factors);

  // Working values as this evaluation sees them: slots 1..NEST from x, the
  // fixed constants above NEST from the store.
  std::copy_n(store.PAR.base(), parameters, par);
  std::copy_n(x.begin(), nest, par + 1);

  layout_values(store, L, par, scale, S);
  const int G = L.groups();
  const double eps = probability_floor(store.NSIG);
  double F = 0.0;

  // The groups one after the other, each its cohorts with its own block.
  for (int g = 1; g <= G; ++g) {
    // A negative first recapture parameter of period 1 switches every period
    // to recapture r = p^(1/theta).
    const bool power = S[L.p(1, 1, g) + L.occasions(1)] < 0;

    // Per-period quantities of the open part; each 1 - x (q_...) is formed
    // once, the same rounding as forming it wherever it is used.
    for (int i = 1; i <= M; ++i) {
      thinv[i] = 1.0 / S[L.theta(i, g)];
      phi[i] = S[L.phi(i, g)];
      gpp[i] = S[L.gamma2(i, g)];
      gp[i] = S[L.gamma1(i, g)];
      q_gpp[i] = 1.0 - gpp[i];
      q_gp[i] = 1.0 - gp[i];
    }

    // Closed part. Every cohort of a period has the same cells, so they are
    // computed once per period: Pr(h) = product over occasions t = 1..kk, left
    // to right, of p or 1-p up to the first capture and r or 1-r after it;
    // den = prod(1 - p); P = Pr / (1 - den). The products are built along the
    // prefix tree of the histories: the product of the first t factors
    // depends only on the first t occasions, so each is formed once with the
    // same multiplications in the same order as the history-by-history product.
    for (int ip = 1; ip <= M; ++ip) {
      const int kk = L.occasions(ip);
      const int n = L.closed_cells(ip);
      double den = 1.0;
      for (int t = 1; t <= kk; ++t) {
        p[t] = S[L.p(ip, t, g)];
        q[t] = 1.0 - p[t];
        den = den * q[t];
      }
      for (int t = 2; t <= kk; ++t) {
        rc[t] = power ? std::pow(p[t], thinv[ip]) : S[L.c(ip, t, g)];
        qr[t] = 1.0 - rc[t];
      }
      pstar[ip] = 1.0 - den;
      q_pstar[ip] = 1.0 - pstar[ip];

      if (den == 1.0) {
        // No capture is possible: every history gets 0, the remainder 1.
        r.den_one.push_back(ip);
        std::fill_n(cell, n - 1, 0.0);
      } else {
        // Level t holds the 2^t prefixes; digit 0 = captured, 1 = missed, the
        // first occasion most significant. A prefix has a capture unless it is
        // all ones. Filled in place from the top so parents are read first.
        cell[0] = 1.0;
        for (int t = 1; t <= kk; ++t) {
          const int none_caught = (1 << (t - 1)) - 1;
          for (int h = (1 << t) - 1; h >= 0; --h) {
            const int parent = h >> 1;
            const bool miss = (h & 1) != 0;
            const double f = parent == none_caught ? (miss ? q[t] : p[t]) : (miss ? qr[t] : rc[t]);
            cell[h] = cell[parent] * f;
          }
        }
        const double caught = 1.0 - den;
        for (int h = 0; h <= n - 2; ++h) cell[h] = cell[h] / caught;
      }
      double sum = 0.0;
      for (int h = 0; h <= n - 2; ++h) sum += cell[h];
      cell[n - 1] = 1.0 - sum;
      for (int h = 0; h < n; ++h) lncell[h] = std::log(floored(cell[h], eps));

      // F accumulates cohort by cohort, cell by cell, as the literal sum does.
      F = add_period(F, L.closed_cohort(ip, 1, g), ip, cell, lncell, n, store, P);
    }

    // Open part, release period i, cell j - i = first recaptured in period j:
    // P = s * p*(j) * a with s = phi(i)...phi(j-1) and a the probability of
    // being available in j after being missed (available) or away in
    // i+1..j-1. Both are carried from j to j+1: s gains one factor on the
    // right, and the (U, V) chain gains one step, which is exactly how the
    // products and the chain for j+1 begin.
    for (int i = 1; i < M; ++i) {
      const int c = L.open_cohort(i, g);
      assert(P.rows(c) >= L.open_cells(i) && store.NOBS.rows(c) >= L.open_cells(i));
      double* pc = P.column(c);
      const int* nobs = store.NOBS.column(c);
      double sum = 0.0;
      double s = phi[i];
      double U = 0.0, V = 0.0;
      for (int j = i + 1; j <= M; ++j) {
        if (j > i + 1) s = s * phi[j - 1];
        double a;
        if (j == i + 1) {
          a = q_gpp[i + 1];
        } else {
          if (j == i + 2) {
            U = q_gpp[i + 1] * q_pstar[i + 1];
            V = gpp[i + 1];
          } else {
            const int m = j - 1;
            const double Vn = V * gp[m] + U * gpp[m];
            U = q_pstar[m] * (U * q_gpp[m] + V * q_gp[m]);
            V = Vn;
          }
          a = U * q_gpp[j] + V * q_gp[j];
        }
        const double pj = s * pstar[j] * a;
        pc[j - i - 1] = pj;
        sum += pj;
        F += nobs[j - i - 1] * std::log(floored(pj, eps));
      }
      const int last = L.open_cells(i);
      pc[last - 1] = 1.0 - sum;
      F += nobs[last - 1] * std::log(floored(pc[last - 1], eps));
    }
  }

  r.F = -F;
  return r;
}

const RdDesign& evaluation_design(const ModelStore& store, std::optional<RdDesign>& read) {
  if (store.design.status == EstStatus::NotLaidOut) read = rd_design(store);
  return read ? *read : store.design;
}

void report_evaluation(const ModelStore& store, Listing& listing, const RdDesign& d, const EstResult& r,
                       ParameterScale scale) {
  switch (d.status) {
    case EstStatus::Ok:
      break;
    case EstStatus::TooManyPeriods:
      listing.put_free({kDimensionText});
      throw RunEnd{kDimensionText, 1, kDimensionText};
    case EstStatus::IndexBeyondNpar:
      if (!d.before_trace) listing.trace({"nper,majper=", store.NCOHRT, d.M});
      ss_beyond_npar(listing, d.index, store.NPAR);
    default:
      listing.error(rd_design_message(d, store));
  }

  listing.trace({"nper,majper=", store.NCOHRT, d.M});

  if (!r.den_one.empty()) {
    // Each history of each cohort of such a period: where it stands and
    // den, then every S value, as the evaluation met them.
    std::vector<Item> values;
    values.reserve(static_cast<std::size_t>(store.NPAR));
    for (int I = 1; I <= store.NPAR; ++I) values.emplace_back(ss(store, listing, I, scale));
    for (int ip : r.den_one) {
      const int n = d.layout.closed_cells(ip);
      for (int jp = 1; jp <= ip; ++jp) {
        for (int h = 0; h <= n - 2; ++h) {
          listing.put_free({"ip,jp,i,den:", ip, jp, h, 1.0});
          listing.put_free(values);
        }
      }
    }
  }
}

double est(ModelStore& store, Listing& listing, std::span<const double> x, ParameterScale scale) {
  const int nest = store.NEST;
  assert(static_cast<int>(x.size()) >= nest);
  for (int k = 1; k <= nest; ++k) store.PAR(k) = x[static_cast<std::size_t>(k - 1)];
  std::optional<RdDesign> read;
  const RdDesign& d = evaluation_design(store, read);
  const EstResult r = est_core(store, d, x, scale, store.P);
  report_evaluation(store, listing, d, r, scale);
  return r.F;
}

}  // namespace quorvale
