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

/// The row of `rows` for period `period` of group `group`; none when there is none.
const PeriodAbundance* row_of(const std::vector<PeriodAbundance>& rows, int group, int period) {
  for (const PeriodAbundance& a : rows) {
    if (a.group == group && a.period == period) return &a;
  }
  return nullptr;
}

/// Averages the abundance rows (`rows` of each fit, by group and period) the
/// best model `used[best]` has and every other fit has too.
void average_abundance(const std::vector<const FitReport*>& used, std::size_t best, const std::vector<double>& w,
                       double inflation, std::vector<PeriodAbundance> FitReport::*rows,
                       std::vector<AveragedValue>& out) {
  std::vector<double> value(used.size());
  std::vector<double> variance(used.size());
  std::vector<const PeriodAbundance*> row(used.size());
  for (const PeriodAbundance& first : used[best]->*rows) {
    bool everywhere = true;
    for (std::size_t m = 0; m < used.size() && everywhere; ++m) {
      row[m] = row_of(used[m]->*rows, first.group, first.period);
      everywhere = row[m] != nullptr;
    }
    if (!everywhere) continue;
    for (std::size_t m = 0; m < used.size(); ++m) {
      value[m] = row[m]->estimate;
      variance[m] = row[m]->se * row[m]->se;
    }
    AveragedValue a = average(w, value, variance, inflation);
    a.index = first.period;
    a.group = first.group;
    a.ci = abundance_interval(a.estimate, first.caught, a.se * a.se);
    for (const PeriodAbundance* r : row) a.available = a.available && r->available();
    if (!a.available) {
      a.estimate = a.se = kNaN;
      a.ci = {kNaN, kNaN};
    }
    out.push_back(std::move(a));
  }
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
    a.group = best.parameters[i].group;
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

  avg.groups = best.groups;
  average_abundance(used, avg.best, w, inflation, &FitReport::abundance, avg.abundance);
  average_abundance(used, avg.best, w, inflation, &FitReport::total_abundance, avg.total_abundance);
  return avg;
}

}  // namespace quorvale
