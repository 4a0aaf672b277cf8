#pragma once
// Figures of the report page as inline SVG: one value axis, one category
// axis (or a second value axis across), and series of points with interval bars, bars from zero, reference
// marks or faint dots, each figure with its title, axis labels and a text
// alternative that lists what it shows.

#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "results/format.h"

namespace quorvale {

/// One value drawn at one category.
struct ChartMark {
  int category = 0;  ///< position on the category axis, from 0
  double value = 0.0;
  double lower = std::numeric_limits<double>::quiet_NaN();  ///< interval bar from here ...
  double upper = std::numeric_limits<double>::quiet_NaN();  ///< ... to here, when both are finite
  bool hollow = false;  ///< drawn open (a value held fixed, not estimated)
  /// Position on a numeric axis across (Chart::numeric_x); the category then only names the mark.
  double x = std::numeric_limits<double>::quiet_NaN();
};

/// How a series is drawn.
enum class MarkStyle {
  Point,      ///< a dot, with its interval bar when it has one
  Bar,        ///< a bar from zero
  Reference,  ///< a short horizontal stroke across the category (a value to compare with)
  Faint,      ///< a small pale dot (one of many values)
};

/// Values of one kind, drawn alike and named in the legend.
struct ChartSeries {
  std::string name;
  MarkStyle style = MarkStyle::Point;
  std::vector<ChartMark> marks;
};

/// A figure: categories across, values up.
struct Chart {
  std::string id;       ///< unique on the page; the ids of the title and text alternative start with it
  std::string title;
  std::string x_label;  ///< what the categories are
  std::string y_label;  ///< what the values are
  std::string summary;  ///< first sentence of the text alternative
  std::vector<std::string> categories;
  std::vector<ChartSeries> series;
  double y_min = std::numeric_limits<double>::quiet_NaN();  ///< fixed ends of the value axis,
  double y_max = std::numeric_limits<double>::quiet_NaN();  ///< when finite; else from the values
  bool from_zero = false;  ///< the value axis reaches down (or up) to zero
  /// Numbers across instead of categories: each mark at its x on an axis
  /// with round ticks; the categories name the marks in the text alternative.
  bool numeric_x = false;
};

/// Round tick values covering lo..hi with a step of 1, 2 or 5 times a power
/// of ten: at most `most` ticks, the first at or below lo, the last at or above hi.
std::vector<double> nice_ticks(double lo, double hi, int most = 7);

/// The figure as one <svg> element.
std::string chart_svg(const Chart& chart);
/// Appends the figure's <svg> element to `out`.
void append_chart_svg(std::string& out, const Chart& chart);

/// The text alternative of the figure: its summary, then every series' values.
std::string chart_text(const Chart& chart);

}  // namespace quorvale
