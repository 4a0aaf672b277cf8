#include "results/figures.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace quorvale {

namespace {

/// The mark of S(index) in a set, with its category; value NaN when the set has none.
ChartMark mark_of(const ParameterValues& set, int index, int category) {
  ChartMark m;
  if (index >= 1 && static_cast<std::size_t>(index) <= set.values.size()) {
    m = set.values[static_cast<std::size_t>(index - 1)];
  } else {
    m.value = std::numeric_limits<double>::quiet_NaN();
  }
  m.category = category;
  return m;
}

}  // namespace

std::optional<RobustLayout> open_part(const DataSummary& data, int npar, int groups) {
  if (data.occasions.size() < 2) return std::nullopt;
  RobustLayout layout(data.occasions, npar, groups);
  if (npar < layout.needed()) return std::nullopt;
  return layout;
}

ParameterValues ParameterValues::of(const FitReport& fit, std::string name) {
  ParameterValues set;
  set.name = std::move(name);
  for (const ParameterEstimate& e : fit.parameters) {
    ChartMark m;
    m.value = e.estimate;
    m.hollow = e.fixed();
    if (!e.fixed()) {
      if (const std::optional<Interval> ci = e.logit_ci) {
        m.lower = ci->lower;
        m.upper = ci->upper;
      }
    }
    set.values.push_back(m);
  }
  return set;
}

PeriodValues capture_values(const FitReport& fit, std::string name, int group) {
  PeriodValues set{std::move(name), {}, {}};
  for (const PeriodAbundance& a : fit.abundance) {
    if (a.group != group) continue;
    ChartMark m;
    m.value = a.p_star;
    if (const std::optional<Interval> ci = a.p_star_ci) {
      m.lower = ci->lower;
      m.upper = ci->upper;
    }
    set.values.push_back(m);
  }
  return set;
}

PeriodValues abundance_values(const FitReport& fit, std::string name, int group) {
  PeriodValues set{std::move(name), {}, {}};
  for (const PeriodAbundance& a : group == 0 ? fit.total_abundance : fit.abundance) {
    if (a.group != group) continue;
    ChartMark m;
    m.value = a.estimate;
    if (std::isfinite(a.se)) {
      m.lower = a.ci.lower;
      m.upper = a.ci.upper;
    }
    set.values.push_back(m);
    set.caught.push_back(a.caught);
  }
  return set;
}

ParameterValues averaged_parameters(const ModelAverage& average, std::string name) {
  ParameterValues set;
  set.name = std::move(name);
  for (const AveragedValue& v : average.parameters) {
    const std::size_t i = static_cast<std::size_t>(std::max(v.index, 1) - 1);
    if (set.values.size() <= i) set.values.resize(i + 1, ChartMark{0, std::numeric_limits<double>::quiet_NaN()});
    ChartMark m;
    m.value = v.estimate;
    m.hollow = v.se == 0.0;
    if (!m.hollow && std::isfinite(v.se)) {
      m.lower = v.ci.lower;
      m.upper = v.ci.upper;
    }
    set.values[i] = m;
  }
  return set;
}

PeriodValues averaged_abundance(const ModelAverage& average, std::string name, int group) {
  PeriodValues set{std::move(name), {}, {}};
  for (const AveragedValue& v : group == 0 ? average.total_abundance : average.abundance) {
    if (v.group != group) continue;
    const std::size_t i = static_cast<std::size_t>(std::max(v.index, 1) - 1);
    if (set.values.size() <= i) set.values.resize(i + 1, ChartMark{0, std::numeric_limits<double>::quiet_NaN()});
    ChartMark m;
    m.value = v.estimate;
    if (std::isfinite(v.se)) {
      m.lower = v.ci.lower;
      m.upper = v.ci.upper;
    }
    set.values[i] = m;
  }
  return set;
}

namespace {

/// Periods 1..M as categories, M the longest set; one point series per set.
void period_series(Chart& c, const std::vector<PeriodValues>& sets) {
  std::size_t periods = 0;
  for (const PeriodValues& set : sets) periods = std::max(periods, set.values.size());
  for (std::size_t ip = 1; ip <= periods; ++ip) c.categories.push_back(std::to_string(ip));
  for (const PeriodValues& set : sets) {
    ChartSeries s{set.name, MarkStyle::Point, {}};
    for (std::size_t k = 0; k < set.values.size(); ++k) {
      ChartMark m = set.values[k];
      m.category = static_cast<int>(k);
      s.marks.push_back(m);
    }
    c.series.push_back(std::move(s));
  }
}

}  // namespace

Chart capture_chart(const std::vector<PeriodValues>& sets, std::string id) {
  Chart c;
  c.id = std::move(id);
  c.title = "Caught at least once, by period";
  c.x_label = "primary period";
  c.y_label = "p*";
  c.summary = "The probability p* of being caught at least once in each primary period, with 95% intervals on the "
              "logit scale.";
  c.y_min = 0.0;
  c.y_max = 1.0;
  period_series(c, sets);
  return c;
}

Chart abundance_chart(const std::vector<PeriodValues>& sets, std::string id) {
  Chart c;
  c.id = std::move(id);
  c.title = "Abundance by period";
  c.x_label = "primary period";
  c.y_label = "N̂";
  c.summary = "Abundance N̂ of each primary period (animals caught divided by p*), with 95% log-normal intervals "
              "that never fall below the animals caught (strokes).";
  c.from_zero = true;
  period_series(c, sets);
  for (std::size_t k = 0; k < sets.size(); ++k) {
    if (sets[k].caught.empty()) continue;
    ChartSeries caught{"animals caught", MarkStyle::Reference, {}};
    if (k > 0) {
      caught.name += ", ";
      caught.name += sets[k].name;
    }
    for (std::size_t ip = 0; ip < sets[k].caught.size(); ++ip) {
      caught.marks.push_back(ChartMark{static_cast<int>(ip), sets[k].caught[ip]});
    }
    c.series.push_back(std::move(caught));
    break;
  }
  return c;
}

std::string series_name(const std::string& set, std::size_t k, const std::vector<std::string>& groups, int g) {
  if (groups.empty()) return set;
  std::string name = g >= 1 && static_cast<std::size_t>(g) <= groups.size() ? groups[static_cast<std::size_t>(g - 1)]
                                                                             : std::to_string(g);
  if (k > 0) {
    name += ' ';
    name += set;
  }
  return name;
}

Chart survival_chart(const RobustLayout& part, const std::vector<ParameterValues>& sets, std::string id,
                     const std::vector<std::string>& groups) {
  Chart c;
  c.id = std::move(id);
  c.title = "Survival by interval";
  c.x_label = "interval between primary periods";
  c.y_label = "survival φ";
  c.summary = "Survival probability φ from each primary period to the next, with 95% intervals on the logit scale; "
              "open marks are fixed values.";
  c.y_min = 0.0;
  c.y_max = 1.0;
  for (int i = 1; i < part.periods(); ++i) c.categories.push_back(std::to_string(i) + "–" + std::to_string(i + 1));
  for (std::size_t k = 0; k < sets.size(); ++k) {
    for (int g = 1; g <= part.groups(); ++g) {
      ChartSeries s{series_name(sets[k].name, k, groups, g), MarkStyle::Point, {}};
      for (int i = 1; i < part.periods(); ++i) s.marks.push_back(mark_of(sets[k], part.phi(i, g), i - 1));
      c.series.push_back(std::move(s));
    }
  }
  return c;
}

Chart emigration_chart(const RobustLayout& part, const std::vector<ParameterValues>& sets, std::string id,
                       const std::vector<std::string>& groups) {
  Chart c;
  c.id = std::move(id);
  c.title = "Temporary emigration by period";
  c.x_label = "primary period";
  c.y_label = "probability";
  c.summary = "γ″ is the probability of being unavailable in a period when available in the one before, γ′ when "
              "unavailable in the one before; 95% intervals on the logit scale; open marks are fixed values.";
  c.y_min = 0.0;
  c.y_max = 1.0;
  for (int j = 2; j <= part.periods(); ++j) c.categories.push_back(std::to_string(j));
  // Each set's gamma'' of every group, then its gamma' of every group: a
  // group's gamma'' takes the colour its values take in the other figures.
  for (std::size_t k = 0; k < sets.size(); ++k) {
    const ParameterValues& set = sets[k];
    std::vector<ChartSeries> g2;
    std::vector<ChartSeries> g1;
    for (int g = 1; g <= part.groups(); ++g) {
      std::string suffix;
      if (!groups.empty()) {
        suffix = ' ';
        suffix += series_name(set.name, k, groups, g);
      } else if (sets.size() > 1) {
        suffix = ' ';
        suffix += set.name;
      }
      g2.push_back({"γ″" + suffix, MarkStyle::Point, {}});
      g1.push_back({"γ′" + suffix, MarkStyle::Point, {}});
      for (int j = 2; j <= part.periods(); ++j) g2.back().marks.push_back(mark_of(set, part.gamma2(j, g), j - 2));
      for (int j = 3; j <= part.periods(); ++j) g1.back().marks.push_back(mark_of(set, part.gamma1(j, g), j - 2));
    }
    for (ChartSeries& s : g2) c.series.push_back(std::move(s));
    if (part.periods() < 3) continue;
    for (ChartSeries& s : g1) c.series.push_back(std::move(s));
  }
  return c;
}

namespace {

/// What the probabilities of a part are, for a figure's title and value axis.
std::string part_words(const std::string& part) {
  if (part == "PHI") return "survival φ";
  if (part == "P") return "capture p";
  if (part == "C") return "recapture c";
  if (part == "GAMMA") return "emigration γ″ = γ′";
  if (part == "GAMMA''") return "emigration γ″";
  if (part == "GAMMA'") return "emigration γ′";
  return part;
}

}  // namespace

Chart covariate_chart(const FitReport& fit, const CovariateEffect& effect, std::string id) {
  Chart c;
  c.id = std::move(id);
  std::string words = part_words(effect.part);
  c.y_label = words;
  words[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(words[0])));
  c.title = words + " against " + effect.covariate;
  c.x_label = effect.covariate;
  c.summary = "The fitted " + c.y_label + " of each period against the value of the covariate " + effect.covariate +
              " there (the first period of an interval for survival), with 95% intervals on the logit scale.";
  c.y_min = 0.0;
  c.y_max = 1.0;
  c.numeric_x = true;
  // A series per group the points name: every group's own, or all groups together.
  std::vector<int> groups;
  for (const CovariatePoint& p : effect.points) {
    if (std::find(groups.begin(), groups.end(), p.group) == groups.end()) groups.push_back(p.group);
  }
  if (!fit.groups.empty() && groups == std::vector<int>{0}) c.summary += " Every group has these probabilities.";
  for (const int g : groups) {
    const std::string name = fit.groups.empty() ? std::string("estimate") : g == 0 ? std::string("all groups")
                                                                                   : fit.group_name(g);
    ChartSeries s{name, MarkStyle::Point, {}};
    for (const CovariatePoint& p : effect.points) {
      if (p.group != g || p.parameter < 1 || static_cast<std::size_t>(p.parameter) > fit.parameters.size()) continue;
      const ParameterEstimate& e = fit.parameters[static_cast<std::size_t>(p.parameter - 1)];
      // Each mark named by its parameter and the covariate's value.
      std::string label = short_label(e.label, e.index);
      label += " at ";
      label += format_significant(p.value, 4);
      ChartMark m;
      m.category = static_cast<int>(c.categories.size());
      c.categories.push_back(std::move(label));
      m.value = e.estimate;
      m.x = p.value;
      if (const std::optional<Interval> ci = e.logit_ci) {
        m.lower = ci->lower;
        m.upper = ci->upper;
      }
      s.marks.push_back(m);
    }
    c.series.push_back(std::move(s));
  }
  return c;
}

Chart goodness_chart(const FitReport& fit, std::string id) {
  Chart c;
  c.id = std::move(id);
  c.title = "Goodness of fit by cohort";
  c.x_label = "cohort";
  c.y_label = "Pearson χ²";
  c.summary = "Each cohort's Pearson chi-square after pooling cells with small expected counts (bars) and its "
              "largest Pearson term (observed − expected)² / expected of one cell (dots).";
  c.from_zero = true;
  // Several groups: each group's cohorts in a bar series of its own.
  const std::size_t groups = fit.groups.size() > 1 ? fit.groups.size() : 1;
  std::vector<ChartSeries> pooled;
  for (std::size_t g = 1; g <= groups; ++g) {
    std::string name = "pooled χ² of the cohort";
    if (groups > 1) {
      name += ", ";
      name += fit.groups[g - 1];
    }
    pooled.push_back({std::move(name), MarkStyle::Bar, {}});
  }
  ChartSeries largest{"largest cell term", MarkStyle::Point, {}};
  for (std::size_t k = 0; k < fit.cohorts.size(); ++k) {
    const int category = static_cast<int>(k);
    c.categories.push_back(std::to_string(k + 1));
    const std::size_t g = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(fit.cohorts[k].group, 1)), 1, groups);
    pooled[g - 1].marks.push_back(ChartMark{category, fit.cohorts[k].pooled_chi});
    double most = 0.0;
    for (const CellFit& cell : fit.cohorts[k].cells) most = std::max(most, cell.chi);
    largest.marks.push_back(ChartMark{category, most});
  }
  for (ChartSeries& s : pooled) c.series.push_back(std::move(s));
  c.series.push_back(std::move(largest));
  return c;
}

Chart replicate_chart(const SimulationTotals& t, int n, const std::vector<ReplicateSpread>& spread, std::string id) {
  Chart c;
  c.id = std::move(id);
  c.title = "Estimates across replicates";
  c.x_label = "parameter";
  c.y_label = "estimate";
  c.summary = "For every estimated parameter: the estimate of each converged fit (pale dots), their mean with the "
              "2.5% to 97.5% range of those fits (bar) and the generating value (stroke).";
  ChartSeries each{"replicate estimates", MarkStyle::Faint, {}};
  ChartSeries mean{"mean and 95% of replicates", MarkStyle::Point, {}};
  ChartSeries generating{"generating value", MarkStyle::Reference, {}};
  // Every replicate's dot only while they stay readable.
  constexpr std::size_t kMostDots = 4000;
  const bool dots = t.fits.size() * spread.size() / std::max(t.NSUB, 1) <= kMostDots;
  for (std::size_t k = 0; k < spread.size(); ++k) {
    const ReplicateSpread& r = spread[k];
    const int category = static_cast<int>(k);
    const std::size_t i = static_cast<std::size_t>(r.index - 1);
    c.categories.push_back(short_label(i < t.labels.size() ? t.labels[i] : std::string(), r.index));
    mean.marks.push_back(ChartMark{category, r.mean, r.low, r.high});
    generating.marks.push_back(ChartMark{category, r.generating});
    if (!dots) continue;
    for (const ReplicateFit& f : t.fits) {
      if (f.submodel == n && f.converged() && i < f.estimates.size()) each.marks.push_back(ChartMark{category, f.estimates[i]});
    }
  }
  if (dots) c.series.push_back(std::move(each));
  c.series.push_back(std::move(mean));
  c.series.push_back(std::move(generating));
  return c;
}

std::string short_label(const std::string& label, int index) {
  const std::size_t start = label.find_first_not_of(' ');
  const std::size_t end = start == std::string::npos ? start : label.find(' ', start);
  std::string word = start == std::string::npos ? std::string() : label.substr(start, end == std::string::npos ? end : end - start);
  // A word that names one parameter, as p(1,2) does; a bare p does not.
  if (word.find('(') == std::string::npos) return "S(" + std::to_string(index) + ")";
  if (word.size() > 14) {
    std::size_t cut = 14;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
    word.resize(cut);
  }
  return word;
}

}  // namespace quorvale
