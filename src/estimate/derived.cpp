#include "estimate/derived.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <limits>
#include <map>

#include "base/packed.h"
#include "model/likelihood.h"
#include "model/store.h"
#include "stats/distributions.h"

namespace quorvale {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// A value as the reasons show it: six significant digits.
std::string shown(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

}  // namespace

std::vector<PeriodAbundance> derived_abundance(const ModelStore& m, const FitReport& r) {
  std::vector<PeriodAbundance> out;
  const RdDesign d = laid_out(m);
  if (d.status != EstStatus::Ok || static_cast<int>(r.parameters.size()) < m.NPAR) return out;
  const RobustLayout& L = d.layout;
  const bool inverted = r.inversion == InversionCode::Inverted;
  for (int ip = 1; ip <= L.periods(); ++ip) {
    PeriodAbundance a;
    a.period = ip;
    for (int jp = 1; jp <= ip; ++jp) a.caught += m.NREL(RobustLayout::closed_cohort(ip, jp));
    const int kk = L.occasions(ip);
    double miss = 1.0;
    bool on_bound = false;
    for (int t = 1; t <= kk; ++t) {
      const ParameterEstimate& p = r.parameters[static_cast<std::size_t>(L.p(ip, t) - 1)];
      miss *= 1.0 - p.estimate;
      on_bound = on_bound || p.on_bound;
    }
    a.p_star = 1.0 - miss;
    // dp*/dp(t) is the product of (1 - p(s)) over the other occasions; p's
    // estimated in one slot add their derivatives.
    std::map<int, double> gradient;
    for (int t = 1; t <= kk; ++t) {
      const ParameterEstimate& p = r.parameters[static_cast<std::size_t>(L.p(ip, t) - 1)];
      if (p.fixed()) continue;
      double others = 1.0;
      for (int s = 1; s <= kk; ++s) {
        if (s != t) others *= 1.0 - r.parameters[static_cast<std::size_t>(L.p(ip, s) - 1)].estimate;
      }
      gradient[p.slot] += others;
    }
    double var_p = 0.0;
    for (const auto& [sa, ga] : gradient) {
      for (const auto& [sb, gb] : gradient) {
        var_p += ga * gb * r.covariance[packed_index(std::max(sa, sb), std::min(sa, sb))];
      }
    }
    const double n = a.caught;
    const double ps = a.p_star;
    a.estimate = n / ps;
    const double var_n = n * (1.0 - ps) / (ps * ps) + n * n * var_p / (ps * ps * ps * ps);
    a.se = (inverted && !on_bound) ? std::sqrt(var_n) : std::numeric_limits<double>::quiet_NaN();
    a.p_star_se = (inverted && !on_bound) ? std::sqrt(var_p) : std::numeric_limits<double>::quiet_NaN();
    a.ci = abundance_interval(a.estimate, n, a.se * a.se);
    // N-hat rests on the p's of the period being probabilities the data
    // estimate, and on p* being one.
    for (int t = 1; t <= kk && a.available(); ++t) {
      const ParameterEstimate& p = r.parameters[static_cast<std::size_t>(L.p(ip, t) - 1)];
      if (!p.estimable) {
        a.unavailable = "S(" + std::to_string(p.index) + ") is not estimable";
        a.p_star = kNaN;
        a.p_star_se = kNaN;
      } else if (!(p.estimate >= 0.0 && p.estimate <= 1.0)) {
        a.unavailable = "S(" + std::to_string(p.index) + ") = " + shown(p.estimate) + " is outside 0 to 1";
      }
    }
    if (a.available() && !(a.p_star > 0.0 && a.p_star <= 1.0)) {
      a.unavailable = "p* = " + shown(a.p_star) + " is not in (0, 1]";
    }
    if (!a.available()) {
      a.estimate = kNaN;
      a.se = kNaN;
      a.ci = Interval{kNaN, kNaN};
    }
    if (a.p_star > 0.0 && a.p_star < 1.0 && std::isfinite(a.p_star_se)) a.p_star_ci = logit_interval(a.p_star, a.p_star_se);
    out.push_back(a);
  }
  return out;
}

}  // namespace quorvale
