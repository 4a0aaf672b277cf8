#include "estimate/derived.h"

#include <cmath>
#include <limits>
#include <map>

#include "model/likelihood.h"
#include "model/store.h"

namespace quorvale {

std::vector<PeriodAbundance> derived_abundance(const ModelStore& m, const FitReport& r) {
  std::vector<PeriodAbundance> out;
  const RdDesign d = rd_design(m);
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
      on_bound = on_bound || p.on_bound();
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
    out.push_back(a);
  }
  return out;
}

}  // namespace quorvale
