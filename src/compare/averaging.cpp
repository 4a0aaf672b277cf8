#include "compare/averaging.h"

#include <cmath>
#include <limits>

#include "stats/distributions.h"

namespace quorvale {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// The weighted mean and the unconditional standard error of one quantity.
AveragedValue average(const std::vector<double>& w, const std::vector<double>& value,
                      const std::vector<double>& variance, double inflation) {
  AveragedValue a;
  // Measured from the first value, so that a quantity every model holds at
  // one value (a fixed parameter) averages to exactly that value.
  double shift = 0.0;
  for (std::size_t m = 0; m < w.size(); ++m) shift += w[m] * (value[m] - value[0]);
  a.estimate = value[0] + shift;
  double total = 0.0;
  for (std::size_t m = 0; m < w.size(); ++m) {
    const double d = value[m] - a.estimate;
    total += w[m] * (variance[m] * inflation + d * d);
  }
  a.se = std::sqrt(total);
  return a;
}

}  // namespace

ModelAverage model_average(std::span<const FitReport> fits, double chat, int from_file) {
  ModelAverage avg;
  avg.chat = chat;
  avg.quasi = quasi_criterion(chat);
  avg.from_file = from_file;
  std::vector<const FitReport*> used;
  std::vector<double> criteria;
  for (const FitReport& f : fits) {
    if (!f.sound()) {
      avg.impossible.push_back(f.full_name);
      continue;
    }
    if (f.optimizer != OptimizerCode::Converged || f.inversion != InversionCode::Inverted) {
      avg.not_converged.push_back(f.full_name);
      continue;
    }
    criteria.push_back(avg.quasi ? -2.0 * f.lnL / chat + 2.0 * f.nest + aicc_correction(f.nest, f.sample_size)
                                 : f.aicc);
    used.push_back(&f);
  }
  if (used.empty()) return avg;
  const std::vector<double> w = akaike_weights(criteria);
  for (std::size_t m = 0; m < used.size(); ++m) {
    avg.models.push_back({used[m]->full_name, criteria[m], w[m]});
    if (w[m] > w[avg.best]) avg.best = m;
  }
  const double inflation = avg.quasi ? chat : 1.0;
  const FitReport& best = *used[avg.best];

  std::size_t npar = best.parameters.size();
  for (const FitReport* f : used) npar = std::min(npar, f->parameters.size());
  std::vector<double> value(used.size());
  std::vector<double> variance(used.size());
  for (std::size_t i = 0; i < npar; ++i) {
    for (std::size_t m = 0; m < used.size(); ++m) {
      const ParameterEstimate& e = used[m]->parameters[i];
      value[m] = e.estimate;
      variance[m] = e.fixed() ? 0.0 : e.se * e.se;
    }
    AveragedValue a = average(w, value, variance, inflation);
    a.index = best.parameters[i].index;
    a.label = best.parameters[i].label;
    for (const FitReport* f : used) a.available = a.available && f->parameters[i].estimable;
    if (!a.available) {
      a.estimate = a.se = kNaN;
      a.ci = {kNaN, kNaN};
      avg.parameters.push_back(std::move(a));
      continue;
    }
    if (a.estimate > 0.0 && a.estimate < 1.0 && std::isfinite(a.se)) {
      a.ci = logit_interval(a.estimate, a.se);
    } else {
      a.ci = {a.estimate - 1.96 * a.se, a.estimate + 1.96 * a.se};
    }
    avg.parameters.push_back(std::move(a));
  }

  std::size_t periods = best.abundance.size();
  for (const FitReport* f : used) periods = std::min(periods, f->abundance.size());
  for (std::size_t p = 0; p < periods; ++p) {
    for (std::size_t m = 0; m < used.size(); ++m) {
      const PeriodAbundance& n = used[m]->abundance[p];
      value[m] = n.estimate;
      variance[m] = n.se * n.se;
    }
    AveragedValue a = average(w, value, variance, inflation);
    const PeriodAbundance& first = best.abundance[p];
    a.index = first.period;
    a.ci = abundance_interval(a.estimate, first.caught, a.se * a.se);
    for (const FitReport* f : used) a.available = a.available && f->abundance[p].available();
    if (!a.available) {
      a.estimate = a.se = kNaN;
      a.ci = {kNaN, kNaN};
    }
    avg.abundance.push_back(std::move(a));
  }
  return avg;
}

}  // namespace quorvale
