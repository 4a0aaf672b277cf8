#include "convert/plan.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <span>

#include "model/likelihood.h"
#include "model/store.h"

namespace quorvale::convert {

namespace {

/// The cell probabilities of every cohort of the design under the truth,
/// as the likelihood computes them (one column per cohort, of its cells).
Mat1<double> cell_probabilities(const Design& d, const std::vector<Truth>& truths, ModelStore& m) {
  const std::vector<double> S = truth_values(d, truths);
  m.group_names = d.group_names;
  m.set_cohorts(d.cohort_cells());
  m.NPAR = d.npar();
  m.size_parameters();
  m.NEST = d.npar();
  m.NSIG = 5;
  for (int I = 1; I <= m.NPAR; ++I) m.POINT(I) = I;
  Mat1<double> P = m.P;
  const EstResult r =
      est_core(m, std::span<const double>(S.data() + 1, static_cast<std::size_t>(m.NPAR)), ParameterScale::Natural, P);
  if (r.status != EstStatus::Ok) throw std::logic_error("plan: the design does not fit the likelihood");
  return P;
}

/// Whole animals in `n` cells of probabilities p[0..n-1] (adding up to 1)
/// out of `size`: each cell's expected number rounded down, the animals left
/// given to the cells with the largest remainders, so that all cells hold
/// `size`. The last cell is the remainder the model adds; it is not returned.
std::vector<long long> whole_cells(long long size, const double* p, int n) {
  std::vector<long long> cells(static_cast<std::size_t>(n), 0);
  std::vector<std::pair<double, int>> rest;
  long long left = size;
  for (int k = 0; k < n; ++k) {
    const double e = std::max(0.0, static_cast<double>(size) * p[k]);
    const long long w = std::min(static_cast<long long>(std::floor(e)), left);
    cells[static_cast<std::size_t>(k)] = w;
    left -= w;
    rest.emplace_back(e - static_cast<double>(w), k);
  }
  std::stable_sort(rest.begin(), rest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; left > 0 && i < rest.size(); ++i, --left) ++cells[static_cast<std::size_t>(rest[i].second)];
  cells.pop_back();
  return cells;
}

}  // namespace

std::vector<double> truth_values(const Design& d, const std::vector<Truth>& truths) {
  std::vector<double> S(static_cast<std::size_t>(d.npar()) + 1, 0.0);
  auto at = [](const std::vector<double>& v, int i) { return v[static_cast<std::size_t>(i)]; };
  const int M = d.periods();
  for (int g = 1; g <= d.groups(); ++g) {
    const Truth& truth = truths[static_cast<std::size_t>(g - 1)];
    for (int ip = 1; ip <= M; ++ip) {
      for (int t = 1; t <= d.occasions(ip); ++t) S[static_cast<std::size_t>(d.p(ip, t, g))] = at(truth.p, ip - 1);
      for (int t = 2; t <= d.occasions(ip); ++t) S[static_cast<std::size_t>(d.c(ip, t, g))] = at(truth.c, ip - 1);
      S[static_cast<std::size_t>(d.theta(ip, g))] = 1.0;
    }
    for (int i = 1; i < M; ++i) S[static_cast<std::size_t>(d.phi(i, g))] = at(truth.phi, i - 1);
    for (int j = 2; j <= M; ++j) S[static_cast<std::size_t>(d.gamma2(j, g))] = at(truth.gamma2, j - 2);
    for (int j = 3; j <= M; ++j) S[static_cast<std::size_t>(d.gamma1(j, g))] = at(truth.gamma1, j - 3);
  }
  return S;
}

std::vector<double> expected_sizes(const Design& d, const std::vector<Truth>& truths) {
  ModelStore m;
  const Mat1<double> P = cell_probabilities(d, truths, m);
  const int M = d.periods();
  std::vector<double> sizes;
  for (int g = 1; g <= d.groups(); ++g) {
    const Truth& truth = truths[static_cast<std::size_t>(g - 1)];
    // Pr(next caught in j | released after i), j = i+1..M.
    auto next = [&](int i, int j) { return P(j - i, d.open_cohort(i, g)); };
    std::vector<double> E(static_cast<std::size_t>(M) + 1, 0.0);  // newly marked
    if (truth.marked.empty()) {
      // Present and available in period 1: caught there with p*(1), else
      // first caught in j as an animal released after period 1 would be.
      double miss = 1.0;
      for (int t = 1; t <= d.occasions(1); ++t) miss *= 1.0 - truth.p[0];
      E[1] = truth.superpopulation * (1.0 - miss);
      for (int j = 2; j <= M; ++j) E[static_cast<std::size_t>(j)] = truth.superpopulation * miss * next(1, j);
    } else {
      for (int i = 1; i <= M; ++i) E[static_cast<std::size_t>(i)] = truth.marked[static_cast<std::size_t>(i - 1)];
    }
    // Released after period i: the newly marked and the recaptured of period i.
    std::vector<double> R(static_cast<std::size_t>(M) + 1, 0.0);
    for (int i = 1; i < M; ++i) {
      double r = E[static_cast<std::size_t>(i)];
      for (int j = 1; j < i; ++j) r += R[static_cast<std::size_t>(j)] * next(j, i);
      R[static_cast<std::size_t>(i)] = r;
    }
    for (int ip = 1; ip <= M; ++ip) {
      sizes.push_back(E[static_cast<std::size_t>(ip)]);
      for (int jp = 2; jp <= ip; ++jp) sizes.push_back(R[static_cast<std::size_t>(jp - 1)] * next(jp - 1, ip));
    }
    for (int i = 1; i < M; ++i) sizes.push_back(R[static_cast<std::size_t>(i)]);
  }
  return sizes;
}

std::vector<Cohort> expected_cohorts(const Design& d, const std::vector<Truth>& truths) {
  ModelStore m;
  const Mat1<double> P = cell_probabilities(d, truths, m);
  const std::vector<double> sizes = expected_sizes(d, truths);
  const int M = d.periods();
  std::vector<Cohort> cohorts;
  auto whole = [](double v) { return static_cast<long long>(std::llround(v)); };
  for (int g = 1; g <= d.groups(); ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        const int c = d.closed_cohort(ip, jp, g);
        Cohort k;
        k.group = g;
        k.period = ip;
        k.jp = jp;
        k.size = whole(sizes[static_cast<std::size_t>(c - 1)]);
        k.cells = whole_cells(k.size, P.column(c), d.closed_cells(ip));
        cohorts.push_back(std::move(k));
      }
    }
    for (int i = 1; i < M; ++i) {
      const int c = d.open_cohort(i, g);
      Cohort k;
      k.group = g;
      k.open = true;
      k.period = i;
      k.size = whole(sizes[static_cast<std::size_t>(c - 1)]);
      k.cells = whole_cells(k.size, P.column(c), d.open_cells(i));
      cohorts.push_back(std::move(k));
    }
  }
  return cohorts;
}

}  // namespace quorvale::convert
