#include "results/svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>


namespace quorvale {

namespace {

// Geometry of a figure, in pixels.
constexpr double kLeft = 66.0;       ///< room for the value axis, its ticks and its label
constexpr double kRight = 16.0;
constexpr double kTitleHeight = 24.0;
constexpr double kLegendHeight = 18.0;
constexpr double kPlotHeight = 170.0;
constexpr double kBottom = 46.0;     ///< room for upright category labels and the axis label
constexpr double kMinPlotWidth = 220.0;
constexpr double kNumericPlotWidth = 300.0;  ///< of a figure with numbers across
constexpr double kInset = 12.0;  ///< between the ends of a numeric axis across and its first and last tick

/// Colours of the point and bar series in order: enough for ten groups of animals.
constexpr const char* kPalette[] = {"#1f5f9f", "#c0392b", "#2e8540", "#7d4fa0", "#d35400",
                                    "#138d90", "#8c564b", "#c2185b", "#7a7a00", "#34495e"};
constexpr const char* kInk = "#222";
constexpr const char* kPale = "#555";  ///< faint dots, drawn half transparent

bool finite(double v) { return std::isfinite(v); }

bool has_interval(const ChartMark& m) { return finite(m.lower) && finite(m.upper); }

/// Appends a pixel position: tenths, without ".0" for whole pixels.
void px(std::string& out, double v) {
  // Positions are small: the digits of the rounded tenths, written backwards.
  const bool negative = v < 0.0;
  unsigned long long tenths = static_cast<unsigned long long>((negative ? -v : v) * 10.0 + 0.5);
  char buf[32];
  char* end = buf + sizeof buf;
  char* p = end;
  const unsigned digit = static_cast<unsigned>(tenths % 10);
  tenths /= 10;
  if (digit != 0) {
    *--p = static_cast<char>('0' + digit);
    *--p = '.';
  }
  do {
    *--p = static_cast<char>('0' + tenths % 10);
    tenths /= 10;
  } while (tenths > 0);
  if (negative && !(p[0] == '0' && p + 1 == end)) *--p = '-';
  out.append(p, static_cast<std::size_t>(end - p));
}

/// Appends a count.
void append_count(std::string& out, std::size_t n) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
}

/// Appends ` name="value"` with a pixel value.
void attr(std::string& out, const char* name, double v) {
  out += ' ';
  out += name;
  out += "=\"";
  px(out, v);
  out += '"';
}

/// The decimals a tick label needs for steps of `step`.
int tick_decimals(double step) {
  const double e = std::floor(std::log10(step) + 1e-9);
  return e >= 0.0 ? 0 : static_cast<int>(-e);
}

/// Where the figure puts its categories and values.
struct Frame {
  double slot = 48.0;  ///< width of one category
  double top = 0.0;    ///< top of the plot area
  double bottom = 0.0; ///< bottom of the plot area
  double width = 0.0;  ///< of the whole figure
  double height = 0.0;
  bool slanted = false;  ///< category labels are written at a slant
  double y_lo = 0.0;     ///< value at the bottom of the plot area
  double y_hi = 1.0;     ///< value at the top
  std::vector<double> ticks;
  std::vector<std::pair<double, double>> legend;  ///< where each series' legend entry starts (x, y)
  bool numeric = false;  ///< numbers across (Chart::numeric_x)
  double x_lo = 0.0;     ///< value across at the first tick
  double x_hi = 1.0;     ///< value across at the last tick
  std::vector<double> x_ticks;

  double x(double category) const { return kLeft + (category + 0.5) * slot; }
  /// Where a value across is drawn, on numeric axes.
  double across(double v) const {
    const double right = width - kRight - kInset;
    return kLeft + kInset + (right - kLeft - kInset) * (std::clamp(v, x_lo, x_hi) - x_lo) / (x_hi - x_lo);
  }
  /// Where a mark is drawn across.
  double at(const ChartMark& m) const { return numeric ? across(m.x) : x(m.category); }
  double y(double v) const {
    const double clamped = std::clamp(v, y_lo, y_hi);
    return bottom - (bottom - top) * (clamped - y_lo) / (y_hi - y_lo);
  }
};

/// Range of every finite value, interval end and (when asked) zero.
void value_range(const Chart& c, double& lo, double& hi) {
  lo = std::numeric_limits<double>::infinity();
  hi = -lo;
  auto take = [&](double v) {
    if (finite(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  };
  for (const ChartSeries& s : c.series) {
    for (const ChartMark& m : s.marks) {
      if (!finite(m.value)) continue;
      take(m.value);
      if (has_interval(m)) {
        take(m.lower);
        take(m.upper);
      }
    }
  }
  if (c.from_zero) take(0.0);
  if (!(lo <= hi)) {
    lo = 0.0;
    hi = 1.0;
  }
  if (finite(c.y_min)) lo = c.y_min;
  if (finite(c.y_max)) hi = c.y_max;
}

Frame frame_of(const Chart& c) {
  Frame f;
  const std::size_t n = std::max<std::size_t>(c.categories.size(), 1);
  std::size_t longest = 0;
  for (const std::string& label : c.categories) longest = std::max(longest, label.size());
  f.slot = n <= 12 ? 48.0 : 28.0;
  f.slanted = static_cast<double>(longest) * 6.5 > f.slot;
  const double plot_width = c.numeric_x ? kNumericPlotWidth : std::max(kMinPlotWidth, static_cast<double>(n) * f.slot);
  f.slot = plot_width / static_cast<double>(n);
  if (c.numeric_x) {
    // Round ticks across every value drawn; the labels are numbers, upright.
    f.numeric = true;
    f.slanted = false;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const ChartSeries& s : c.series) {
      for (const ChartMark& m : s.marks) {
        if (!finite(m.value) || !finite(m.x)) continue;
        lo = std::min(lo, m.x);
        hi = std::max(hi, m.x);
      }
    }
    f.x_ticks = lo <= hi ? nice_ticks(lo, hi, 6) : std::vector<double>{0.0, 1.0};
    f.x_lo = f.x_ticks.front();
    f.x_hi = f.x_ticks.back();
    if (!(f.x_hi > f.x_lo)) f.x_hi = f.x_lo + 1.0;
  }
  f.width = kLeft + plot_width + kRight;
  // Legend entries side by side, on as many lines as they need.
  double x = kLeft;
  double y = kTitleHeight + 10.0;
  for (const ChartSeries& s : c.series) {
    const double w = 16.0 + 6.4 * static_cast<double>(s.name.size()) + 18.0;
    if (x > kLeft && x + w > f.width) {
      x = kLeft;
      y += kLegendHeight;
    }
    f.legend.emplace_back(x, y);
    x += w;
  }
  f.top = c.series.size() > 1 ? y + kLegendHeight : kTitleHeight + 8.0;
  f.bottom = f.top + kPlotHeight;
  const double labels = f.slanted ? 6.0 + std::min<double>(static_cast<double>(longest), 24.0) * 4.6 : 18.0;
  f.height = f.bottom + labels + 28.0;
  if (f.height < f.bottom + kBottom) f.height = f.bottom + kBottom;
  double lo = 0.0;
  double hi = 1.0;
  value_range(c, lo, hi);
  f.ticks = nice_ticks(lo, hi);
  // Fixed ends are kept as given; otherwise the axis runs from tick to tick.
  f.y_lo = finite(c.y_min) ? c.y_min : f.ticks.front();
  f.y_hi = finite(c.y_max) ? c.y_max : f.ticks.back();
  if (!(f.y_hi > f.y_lo)) f.y_hi = f.y_lo + 1.0;
  return f;
}

/// Horizontal offset of point series k of np within a category.
double offset(const Frame& f, int k, int np) {
  if (np <= 1) return 0.0;
  const double step = std::min(f.slot * 0.6 / np, 12.0);
  return (k - (np - 1) / 2.0) * step;
}

/// A spread of faint dots across a category: the i-th of a category's dots.
double spread(const Frame& f, int i) {
  static constexpr double kPattern[] = {0.0, 0.5, -0.5, 0.25, -0.75, 0.75, -0.25, 1.0, -1.0};
  return kPattern[static_cast<std::size_t>(i) % std::size(kPattern)] * f.slot * 0.22;
}

void axes(std::string& out, const Chart& c, const Frame& f) {
  const double right = f.width - kRight;
  const int decimals = f.ticks.size() > 1 ? tick_decimals(f.ticks[1] - f.ticks[0]) : 2;
  std::vector<double> drawn;  // the ticks inside the axis's range
  for (double t : f.ticks) {
    if (t < f.y_lo - 1e-12 * std::abs(f.y_hi - f.y_lo) || t > f.y_hi + 1e-12 * std::abs(f.y_hi - f.y_lo)) continue;
    drawn.push_back(t);
  }
  // Grid lines as one path, then the tick labels.
  out += "<path stroke=\"#ddd\" d=\"";
  for (double t : drawn) {
    out += 'M';
    px(out, kLeft);
    out += ' ';
    px(out, f.y(t));
    out += 'H';
    px(out, right);
  }
  out += "\"/><g class=\"axis y\" font-size=\"11\" text-anchor=\"end\">";
  for (double t : drawn) {
    out += "<text class=\"tick\"";
    attr(out, "x", kLeft - 6.0);
    attr(out, "y", f.y(t) + 4.0);
    out += '>';
    append_fixed(out, t, decimals);
    out += "</text>";
  }
  out += "</g><g class=\"axis x\" font-size=\"11\" text-anchor=\"";
  out += f.slanted ? "end\">" : "middle\">";
  out += "<path stroke=\"";
  out += kInk;
  out += "\" d=\"M";
  px(out, kLeft);
  out += ' ';
  px(out, f.bottom);
  out += 'H';
  px(out, right);
  out += "\"/>";
  if (f.numeric) {
    const int across = f.x_ticks.size() > 1 ? tick_decimals(f.x_ticks[1] - f.x_ticks[0]) : 2;
    out += "<path stroke=\"";
    out += kInk;
    out += "\" d=\"";
    for (double t : f.x_ticks) {
      out += 'M';
      px(out, f.across(t));
      out += ' ';
      px(out, f.bottom);
      out += "v4";
    }
    out += "\"/>";
    for (double t : f.x_ticks) {
      out += "<text class=\"xtick\"";
      attr(out, "x", f.across(t));
      attr(out, "y", f.bottom + 16.0);
      out += '>';
      append_fixed(out, t, across);
      out += "</text>";
    }
  }
  for (std::size_t k = 0; k < c.categories.size() && !f.numeric; ++k) {
    const double x = f.x(static_cast<double>(k));
    out += "<text";
    if (f.slanted) {
      out += " transform=\"translate(";
      px(out, x + 3.0);
      out += ' ';
      px(out, f.bottom + 10.0);
      out += ") rotate(-50)\"";
    } else {
      attr(out, "x", x);
      attr(out, "y", f.bottom + 15.0);
    }
    out += '>';
    append_escaped(out, c.categories[k]);
    out += "</text>";
  }
  out += "</g><text class=\"axis-label x\" font-size=\"12\" text-anchor=\"middle\"";
  attr(out, "x", kLeft + (right - kLeft) / 2.0);
  attr(out, "y", f.height - 8.0);
  out += '>';
  append_escaped(out, c.x_label);
  out += "</text><text class=\"axis-label y\" font-size=\"12\" text-anchor=\"middle\" transform=\"translate(";
  px(out, 14.0);
  out += ' ';
  px(out, (f.top + f.bottom) / 2.0);
  out += ") rotate(-90)\">";
  append_escaped(out, c.y_label);
  out += "</text>";
}

void legend(std::string& out, const Chart& c, const Frame& f, const std::vector<const char*>& colours) {
  if (c.series.size() < 2) return;
  out += "<g class=\"legend\" font-size=\"11\">";
  for (std::size_t s = 0; s < c.series.size(); ++s) {
    const ChartSeries& series = c.series[s];
    const auto [x, y] = f.legend[s];
    out += "<g fill=\"" + std::string(colours[s]) + "\" stroke=\"" + colours[s] + "\">";
    switch (series.style) {
      case MarkStyle::Bar:
        out += "<rect width=\"10\" height=\"8\" fill-opacity=\"0.35\"";
        attr(out, "x", x);
        attr(out, "y", y - 4.0);
        out += "/>";
        break;
      case MarkStyle::Reference:
        out += "<line stroke-width=\"2\"";
        attr(out, "x1", x);
        attr(out, "x2", x + 12.0);
        attr(out, "y1", y);
        attr(out, "y2", y);
        out += "/>";
        break;
      case MarkStyle::Point:
      case MarkStyle::Faint:
        out += series.style == MarkStyle::Faint ? "<circle r=\"2\" fill-opacity=\"0.35\" stroke=\"none\""
                                                 : "<circle r=\"3.5\"";
        attr(out, "cx", x + 6.0);
        attr(out, "cy", y);
        out += "/>";
        break;
    }
    out += "<text stroke=\"none\" fill=\"" + std::string(kInk) + "\"";
    attr(out, "x", x + 16.0);
    attr(out, "y", y + 4.0);
    out += '>';
    append_escaped(out, series.name);
    out += "</text></g>";
  }
  out += "</g>";
}

void marks(std::string& out, const ChartSeries& s, const Frame& f, const char* colour, int k, int np) {
  out += "<g class=\"series\" data-series=\"";
  append_escaped(out, s.name);
  out += "\" fill=\"";
  out += colour;
  out += "\" stroke=\"";
  out += colour;
  out += s.style == MarkStyle::Bar ? "\" fill-opacity=\"0.35\">" : "\">";
  std::vector<int> seen;  // faint dots drawn so far at each category
  bool faint_open = false;
  for (const ChartMark& m : s.marks) {
    if (!finite(m.value) || (f.numeric && !finite(m.x))) continue;
    const double x = f.at(m);
    switch (s.style) {
      case MarkStyle::Bar: {
        const double y0 = f.y(std::clamp(0.0, f.y_lo, f.y_hi));
        const double y1 = f.y(m.value);
        out += "<rect";
        attr(out, "x", x - f.slot * 0.3);
        attr(out, "width", f.slot * 0.6);
        attr(out, "y", std::min(y0, y1));
        attr(out, "height", std::abs(y1 - y0));
        out += "/>";
        break;
      }
      case MarkStyle::Reference: {
        const double y = f.y(m.value);
        out += "<line stroke-width=\"2\"";
        attr(out, "x1", x - f.slot * 0.35);
        attr(out, "x2", x + f.slot * 0.35);
        attr(out, "y1", y);
        attr(out, "y2", y);
        out += "/>";
        break;
      }
      case MarkStyle::Faint: {
        // Dots as zero-length strokes with round ends: one path for all of them.
        const std::size_t k = static_cast<std::size_t>(std::max(m.category, 0));
        if (k >= seen.size()) seen.resize(k + 1, 0);
        if (!faint_open) {
          out += "<path class=\"dots\" fill=\"none\" stroke-width=\"4\" stroke-linecap=\"round\" stroke-opacity=\"0.35\" d=\"";
          faint_open = true;
        }
        out += 'M';
        px(out, x + spread(f, seen[k]++));
        out += ' ';
        px(out, f.y(m.value));
        out += "h0";
        break;
      }
      case MarkStyle::Point: {
        // Side by side within a category; at its own place on numbers across.
        const double cx = f.numeric ? x : x + offset(f, k, np);
        if (has_interval(m)) {
          const double y1 = f.y(m.lower);
          const double y2 = f.y(m.upper);
          out += "<path class=\"bar\" fill=\"none\" d=\"M";
          px(out, cx);
          out += ' ';
          px(out, y1);
          out += 'V';
          px(out, y2);
          out += "M";
          px(out, cx - 3.0);
          out += ' ';
          px(out, y1);
          out += "h6M";
          px(out, cx - 3.0);
          out += ' ';
          px(out, y2);
          out += "h6\"/>";
        }
        out += m.hollow ? "<circle class=\"point\" r=\"3.5\" fill=\"#fff\"" : "<circle class=\"point\" r=\"3.5\"";
        attr(out, "cx", cx);
        attr(out, "cy", f.y(m.value));
        out += "/>";
        break;
      }
    }
  }
  if (faint_open) out += "\"/>";
  out += "</g>";
}

}  // namespace

std::vector<double> nice_ticks(double lo, double hi, int most) {
  most = std::max(most, 2);
  if (!finite(lo) || !finite(hi)) return {0.0, 1.0};
  if (lo > hi) std::swap(lo, hi);
  if (!(hi > lo)) {
    const double pad = lo == 0.0 ? 1.0 : std::abs(lo) * 0.1;
    lo -= pad;
    hi += pad;
  }
  const double raw = (hi - lo) / (most - 1);
  double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  double first = 0.0;
  double last = 0.0;
  for (;;) {
    bool done = false;
    for (double m : {1.0, 2.0, 5.0}) {
      step = m * magnitude;
      first = std::floor(lo / step);
      last = std::ceil(hi / step);
      if (last - first + 1.0 <= most) {
        done = true;
        break;
      }
    }
    if (done) break;
    magnitude *= 10.0;
  }
  std::vector<double> ticks;
  for (double i = first; i <= last; i += 1.0) {
    const double t = i * step;
    ticks.push_back(t == 0.0 ? 0.0 : t);  // no negative zero
  }
  return ticks;
}

std::string chart_text(const Chart& chart) {
  std::string text = chart.summary;
  auto category = [&chart, &text](int k) {
    if (k >= 0 && static_cast<std::size_t>(k) < chart.categories.size()) {
      text += chart.categories[static_cast<std::size_t>(k)];
    } else {
      append_count(text, static_cast<std::size_t>(std::max(k + 1, 0)));
    }
  };
  auto value = [&text](double v) {
    text += ' ';
    text += format_significant(v, 4);
  };
  for (const ChartSeries& s : chart.series) {
    if (!text.empty()) text += ' ';
    text += s.name;
    text += ':';
    if (s.style == MarkStyle::Faint) {
      // Many values per category: their number and range.
      std::vector<std::vector<double>> by(chart.categories.size());
      for (const ChartMark& m : s.marks) {
        if (finite(m.value) && m.category >= 0 && static_cast<std::size_t>(m.category) < by.size()) {
          by[static_cast<std::size_t>(m.category)].push_back(m.value);
        }
      }
      const char* sep = " ";
      for (std::size_t k = 0; k < by.size(); ++k) {
        if (by[k].empty()) continue;
        const auto [lo, hi] = std::minmax_element(by[k].begin(), by[k].end());
        text += sep;
        category(static_cast<int>(k));
        text += ' ';
        append_count(text, by[k].size());
        text += by[k].size() == 1 ? " value" : " values from";
        value(*lo);
        if (by[k].size() > 1) {
          text += " to";
          value(*hi);
        }
        sep = "; ";
      }
      if (*sep == ' ') text += " none";
      text += '.';
      continue;
    }
    const char* sep = " ";
    for (const ChartMark& m : s.marks) {
      text += sep;
      category(m.category);
      value(m.value);
      if (finite(m.value) && has_interval(m)) {
        text += " (";
        text += format_significant(m.lower, 4);
        text += " to";
        value(m.upper);
        text += ')';
      }
      if (m.hollow) text += " (fixed)";
      sep = ", ";
    }
    if (s.marks.empty()) text += " none";
    text += '.';
  }
  return text;
}

std::string chart_svg(const Chart& chart) {
  std::string out;
  append_chart_svg(out, chart);
  return out;
}

void append_chart_svg(std::string& out, const Chart& chart) {
  const Frame f = frame_of(chart);
  std::vector<const char*> colours;
  int points = 0;
  for (const ChartSeries& s : chart.series) {
    if (s.style == MarkStyle::Reference) {
      colours.push_back(kInk);
    } else if (s.style == MarkStyle::Faint) {
      colours.push_back(kPale);
    } else {
      colours.push_back(kPalette[static_cast<std::size_t>(points) % std::size(kPalette)]);
      ++points;
    }
  }
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" role=\"img\" font-family=\"sans-serif\"";
  attr(out, "width", f.width);
  attr(out, "height", f.height);
  out += " viewBox=\"0 0 ";
  px(out, f.width);
  out += ' ';
  px(out, f.height);
  out += "\" aria-labelledby=\"";
  append_escaped(out, chart.id);
  out += "-t ";
  append_escaped(out, chart.id);
  out += "-d\"><title id=\"";
  append_escaped(out, chart.id);
  out += "-t\">";
  append_escaped(out, chart.title);
  out += "</title><desc id=\"";
  append_escaped(out, chart.id);
  out += "-d\">";
  append_escaped(out, chart_text(chart));
  out += "</desc><text class=\"chart-title\" font-size=\"13\" font-weight=\"bold\"";
  attr(out, "x", kLeft);
  attr(out, "y", 16.0);
  out += '>';
  append_escaped(out, chart.title);
  out += "</text>";
  legend(out, chart, f, colours);
  axes(out, chart, f);
  // Bars first, then faint dots, reference marks and points on top.
  int np = 0;
  for (const ChartSeries& s : chart.series) np += s.style == MarkStyle::Point ? 1 : 0;
  for (MarkStyle layer : {MarkStyle::Bar, MarkStyle::Faint, MarkStyle::Reference, MarkStyle::Point}) {
    int k = 0;
    for (std::size_t s = 0; s < chart.series.size(); ++s) {
      const ChartSeries& series = chart.series[s];
      if (series.style == layer) marks(out, series, f, colours[s], k, np);
      if (series.style == MarkStyle::Point) ++k;
    }
  }
  out += "</svg>";
}

}  // namespace quorvale
