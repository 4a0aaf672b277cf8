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

/// g' V g over the estimated slots of g.
double quadratic_form(const std::map<int, double>& gradient, const std::vector<double>& covariance) {
  double sum = 0.0;
  for (const auto& [sa, ga] : gradient) {
    for (const auto& [sb, gb] : gradient) {
      sum += ga * gb * covariance[packed_index(std::max(sa, sb), std::min(sa, sb))];
    }
  }
  return sum;
}

/// One period of one group, with what the total of all groups needs.
struct GroupPeriod {
  PeriodAbundance a;
  std::map<int, double> gradient;  ///< dp*/d(slot) by estimated slot
  bool with_error = false;         ///< the inversion succeeded and no p of the period lies on a bound
};

GroupPeriod group_period(const ModelStore& m, const FitReport& r, const RobustLayout& L, int ip, int g) {
  GroupPeriod out;
  PeriodAbundance& a = out.a;
  a.period = ip;
  a.group = g;
  for (int jp = 1; jp <= ip; ++jp) a.caught += m.NREL(L.closed_cohort(ip, jp, g));
  const int kk = L.occasions(ip);
  const auto p_of = [&](int t) -> const ParameterEstimate& {
    return r.parameters[static_cast<std::size_t>(L.p(ip, t, g) - 1)];
  };
  double miss = 1.0;
  bool on_bound = false;
  for (int t = 1; t <= kk; ++t) {
    miss *= 1.0 - p_of(t).estimate;
    on_bound = on_bound || p_of(t).on_bound;
  }
  a.p_star = 1.0 - miss;
  // dp*/dp(t) is the product of (1 - p(s)) over the other occasions; p's
  // estimated in one slot add their derivatives.
  for (int t = 1; t <= kk; ++t) {
    const ParameterEstimate& p = p_of(t);
    if (p.fixed()) continue;
    double others = 1.0;
    for (int s = 1; s <= kk; ++s) {
      if (s != t) others *= 1.0 - p_of(s).estimate;
    }
    out.gradient[p.slot] += others;
  }
  const double var_p = quadratic_form(out.gradient, r.covariance);
  const double n = a.caught;
  const double ps = a.p_star;
  a.estimate = n / ps;
  const double var_n = n * (1.0 - ps) / (ps * ps) + n * n * var_p / (ps * ps * ps * ps);
  out.with_error = r.inversion == InversionCode::Inverted && !on_bound;
  a.se = out.with_error ? std::sqrt(var_n) : kNaN;
  a.p_star_se = out.with_error ? std::sqrt(var_p) : kNaN;
  a.ci = abundance_interval(a.estimate, n, a.se * a.se);
  // N-hat rests on the p's of the period being probabilities the data
  // estimate, and on p* being one.
  for (int t = 1; t <= kk && a.available(); ++t) {
    const ParameterEstimate& p = p_of(t);
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
  return out;
}

/// Period ip of all groups together, from each group's (parts[g - 1]).
PeriodAbundance all_groups(const ModelStore& m, const FitReport& r, const std::vector<GroupPeriod>& parts, int ip) {
  PeriodAbundance a;
  a.period = ip;
  a.group = 0;
  a.p_star = kNaN;
  a.p_star_se = kNaN;
  double binomial = 0.0;
  std::map<int, double> gradient;  // dN/d(slot), up to its sign
  bool with_error = true;
  a.estimate = 0.0;
  for (const GroupPeriod& part : parts) {
    const PeriodAbundance& g = part.a;
    a.caught += g.caught;
    if (!g.available() && a.available()) {
      const std::size_t k = static_cast<std::size_t>(g.group - 1);
      a.unavailable = "N-hat of group " + (k < m.group_names.size() ? m.group_names[k] : std::to_string(g.group)) +
                      " is unavailable";
    }
    const double n = g.caught;
    const double ps = g.p_star;
    a.estimate += g.estimate;
    binomial += n * (1.0 - ps) / (ps * ps);
    for (const auto& [slot, d] : part.gradient) gradient[slot] += n / (ps * ps) * d;
    with_error = with_error && part.with_error;
  }
  const double var_n = binomial + quadratic_form(gradient, r.covariance);
  a.se = with_error ? std::sqrt(var_n) : kNaN;
  a.ci = abundance_interval(a.estimate, a.caught, a.se * a.se);
  if (!a.available()) {
    a.estimate = kNaN;
    a.se = kNaN;
    a.ci = Interval{kNaN, kNaN};
  }
  return a;
}

}  // namespace

DerivedAbundance derived_abundance(const ModelStore& m, const FitReport& r) {
  DerivedAbundance out;
  const RdDesign d = laid_out(m);
  if (d.status != EstStatus::Ok || static_cast<int>(r.parameters.size()) < m.NPAR) return out;
  const RobustLayout& L = d.layout;
  std::vector<std::vector<GroupPeriod>> by_period(static_cast<std::size_t>(L.periods()));
  for (int g = 1; g <= L.groups(); ++g) {
    for (int ip = 1; ip <= L.periods(); ++ip) {
      GroupPeriod part = group_period(m, r, L, ip, g);
      out.by_group.push_back(part.a);
      by_period[static_cast<std::size_t>(ip - 1)].push_back(std::move(part));
    }
  }
  if (L.groups() < 2) return out;
  for (int ip = 1; ip <= L.periods(); ++ip) {
    out.total.push_back(all_groups(m, r, by_period[static_cast<std::size_t>(ip - 1)], ip));
  }
  return out;
}

}  // namespace quorvale
