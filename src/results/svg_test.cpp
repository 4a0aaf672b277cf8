#include "results/svg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace quorvale {
namespace {

/// Every value of attribute `name` in the elements of `svg` whose text starts with `tag`.
std::vector<double> attribute_values(const std::string& svg, const std::string& tag, const std::string& name) {
  std::vector<double> values;
  const std::regex element("<" + tag + "[^>]*>");
  const std::regex attribute(" " + name + "=\"([-0-9.]+)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), element); it != std::sregex_iterator(); ++it) {
    std::smatch m;
    const std::string text = it->str();
    if (std::regex_search(text, m, attribute)) values.push_back(std::stod(m[1]));
  }
  return values;
}

/// How often `text` occurs in `svg`.
long count(const std::string& svg, const std::string& text) {
  long n = 0;
  for (std::size_t k = svg.find(text); k != std::string::npos; k = svg.find(text, k + 1)) ++n;
  return n;
}

/// The value axis as drawn: tick value and height of every tick label.
std::vector<std::pair<double, double>> drawn_ticks(const std::string& svg) {
  std::vector<std::pair<double, double>> ticks;
  const std::regex tick("<text class=\"tick\" x=\"[-0-9.]+\" y=\"([-0-9.]+)\">([-0-9.]+)</text>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tick); it != std::sregex_iterator(); ++it) {
    ticks.emplace_back(std::stod((*it)[2]), std::stod((*it)[1]) - 4.0);  // labels sit 4 px below their line
  }
  return ticks;
}

/// The value at height y, read off the first and last tick.
double value_at(const std::vector<std::pair<double, double>>& ticks, double y) {
  const auto [v0, y0] = ticks.front();
  const auto [v1, y1] = ticks.back();
  return v0 + (y - y0) * (v1 - v0) / (y1 - y0);
}

TEST(SvgTicks, RoundStepsThatCoverTheRange) {
  EXPECT_EQ(nice_ticks(0.0, 1.0), (std::vector<double>{0.0, 0.2, 0.4, 0.6000000000000001, 0.8, 1.0}));
  EXPECT_EQ(nice_ticks(-3.0, 250.0), (std::vector<double>{-50.0, 0.0, 50.0, 100.0, 150.0, 200.0, 250.0}));
  // One value: a range is made around it.
  const std::vector<double> one = nice_ticks(5.0, 5.0);
  EXPECT_LT(one.front(), 5.0);
  EXPECT_GT(one.back(), 5.0);
  for (auto [lo, hi] : {std::pair{0.0012, 0.0049}, std::pair{-7.5, -7.4}, std::pair{3.0, 86000.0}, std::pair{0.8, 0.9}}) {
    const std::vector<double> t = nice_ticks(lo, hi);
    ASSERT_GE(t.size(), 2u);
    EXPECT_LE(t.size(), 7u);
    EXPECT_LE(t.front(), lo);
    EXPECT_GE(t.back(), hi);
    const double step = t[1] - t[0];
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    EXPECT_TRUE(std::abs(mantissa - 1.0) < 1e-6 || std::abs(mantissa - 2.0) < 1e-6 || std::abs(mantissa - 5.0) < 1e-6)
        << lo << ".." << hi << " step " << step;
  }
}

TEST(SvgChart, PointsAndIntervalBarsSitWhereTheAxisSays) {
  Chart c;
  c.id = "t1";
  c.title = "Survival";
  c.x_label = "interval";
  c.y_label = "phi";
  c.categories = {"1-2", "2-3", "3-4"};
  c.series.push_back({"estimate", MarkStyle::Point, {{0, 0.887, 0.858, 0.910}, {1, 0.3}, {2, 0.05, 0.01, 0.2}}});
  const std::string svg = chart_svg(c);
  const auto ticks = drawn_ticks(svg);
  ASSERT_GE(ticks.size(), 2u);
  const std::vector<double> cy = attribute_values(svg, "circle class=\"point\"", "cy");
  ASSERT_EQ(cy.size(), 3u);
  EXPECT_NEAR(value_at(ticks, cy[0]), 0.887, 0.002);  // within a pixel's tenth of the scale
  EXPECT_NEAR(value_at(ticks, cy[1]), 0.3, 0.002);
  EXPECT_NEAR(value_at(ticks, cy[2]), 0.05, 0.002);
  // The bar of the first point runs from its lower to its upper end: "M x y1 V y2 ...".
  const std::regex bar("<path class=\"bar\" fill=\"none\" d=\"M[-0-9.]+ ([-0-9.]+)V([-0-9.]+)M");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(svg, m, bar));
  EXPECT_NEAR(value_at(ticks, std::stod(m[1])), 0.858, 0.002);
  EXPECT_NEAR(value_at(ticks, std::stod(m[2])), 0.910, 0.002);
  // Two bars only: the second point has no interval.
  EXPECT_EQ(count(svg, "class=\"bar\""), 2);
  // Categories left to right.
  const std::vector<double> cx = attribute_values(svg, "circle class=\"point\"", "cx");
  EXPECT_LT(cx[0], cx[1]);
  EXPECT_LT(cx[1], cx[2]);
}

/// The axis across as drawn: tick value and position of every tick label.
std::vector<std::pair<double, double>> drawn_ticks_across(const std::string& svg) {
  std::vector<std::pair<double, double>> ticks;
  const std::regex tick("<text class=\"xtick\" x=\"([-0-9.]+)\" y=\"[-0-9.]+\">([-0-9.]+)</text>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tick); it != std::sregex_iterator(); ++it) {
    ticks.emplace_back(std::stod((*it)[2]), std::stod((*it)[1]));
  }
  return ticks;
}

TEST(SvgChart, NumbersAcrossPlaceEachPointAtItsValue) {
  // Values across out of order and unevenly spaced: each point where the
  // axis across puts its x, not at its category's slot; the categories
  // only name the marks in the text alternative.
  Chart c;
  c.id = "t5";
  c.title = "Survival against WINTER";
  c.x_label = "WINTER";
  c.y_label = "phi";
  c.numeric_x = true;
  c.y_min = 0.0;
  c.y_max = 1.0;
  c.categories = {"phi(1) at 0.9", "phi(2) at 0.2", "phi(3) at 0.25", "phi(4) at 3"};
  ChartMark a{0, 0.8, 0.7, 0.9};
  a.x = 0.9;
  ChartMark b{1, 0.6};
  b.x = 0.2;
  ChartMark d{2, 0.5};
  d.x = 0.25;
  ChartMark e{3, 0.4};  // no value across: not drawn
  c.series.push_back({"F", MarkStyle::Point, {a, b, d, e}});
  ChartMark g{0, 0.3};
  g.x = 0.9;  // a second series at the same value across: at the same place
  c.series.push_back({"M", MarkStyle::Point, {g}});
  const std::string svg = chart_svg(c);
  const auto across = drawn_ticks_across(svg);
  ASSERT_GE(across.size(), 2u);
  EXPECT_LE(across.front().first, 0.2);
  EXPECT_GE(across.back().first, 0.9);
  EXPECT_EQ(count(svg, "class=\"xtick\""), static_cast<long>(across.size()));
  for (const std::string& label : c.categories) EXPECT_EQ(svg.find(">" + label + "</text>"), std::string::npos);
  const std::vector<double> cx = attribute_values(svg, "circle class=\"point\"", "cx");
  const std::vector<double> cy = attribute_values(svg, "circle class=\"point\"", "cy");
  ASSERT_EQ(cx.size(), 4u);
  const auto value_across = [&](double x) {
    const auto [v0, x0] = across.front();
    const auto [v1, x1] = across.back();
    return v0 + (x - x0) * (v1 - v0) / (x1 - x0);
  };
  EXPECT_NEAR(value_across(cx[0]), 0.9, 0.005);
  EXPECT_NEAR(value_across(cx[1]), 0.2, 0.005);
  EXPECT_NEAR(value_across(cx[2]), 0.25, 0.005);
  EXPECT_EQ(cx[3], cx[0]);
  const auto ticks = drawn_ticks(svg);
  EXPECT_NEAR(value_at(ticks, cy[0]), 0.8, 0.002);
  EXPECT_NEAR(value_at(ticks, cy[3]), 0.3, 0.002);
  // The text alternative names the marks by their categories.
  EXPECT_NE(chart_text(c).find("F: phi(1) at 0.9 0.8000 (0.7000 to 0.9000), phi(2) at 0.2 0.6000"), std::string::npos);
}

TEST(SvgChart, FixedRangeClampsValuesOutsideIt) {
  Chart c;
  c.id = "t2";
  c.categories = {"a", "b"};
  c.y_min = 0.0;
  c.y_max = 1.0;
  c.series.push_back({"s", MarkStyle::Point, {{0, 1.4}, {1, -0.2}}});
  const std::string svg = chart_svg(c);
  const auto ticks = drawn_ticks(svg);
  EXPECT_EQ(ticks.front().first, 0.0);
  EXPECT_EQ(ticks.back().first, 1.0);
  const std::vector<double> cy = attribute_values(svg, "circle class=\"point\"", "cy");
  ASSERT_EQ(cy.size(), 2u);
  EXPECT_NEAR(value_at(ticks, cy[0]), 1.0, 1e-9);
  EXPECT_NEAR(value_at(ticks, cy[1]), 0.0, 1e-9);
}

TEST(SvgChart, BarsStartAtZeroAndMissingValuesAreNotDrawn) {
  Chart c;
  c.id = "t3";
  c.categories = {"1", "2", "3"};
  c.from_zero = true;
  c.series.push_back({"pooled", MarkStyle::Bar, {{0, 12.0}, {1, std::nan("")}, {2, 30.0}}});
  const std::string svg = chart_svg(c);
  const auto ticks = drawn_ticks(svg);
  EXPECT_EQ(ticks.front().first, 0.0);
  const std::vector<double> y = attribute_values(svg, "rect x", "y");
  const std::vector<double> h = attribute_values(svg, "rect x", "height");
  ASSERT_EQ(y.size(), 2u);
  EXPECT_NEAR(value_at(ticks, y[0]), 12.0, 0.2);
  EXPECT_NEAR(value_at(ticks, y[0] + h[0]), 0.0, 0.2);
  EXPECT_NEAR(value_at(ticks, y[1]), 30.0, 0.2);
}

TEST(SvgChart, TitleAxisLabelsAndTextAlternativeAreThereAndEscaped) {
  Chart c;
  c.id = "t4";
  c.title = "Fits <A & B>";
  c.x_label = "cohort \"c\"";
  c.y_label = "chi";
  c.summary = "What it shows.";
  c.categories = {"p(1,1)", "p(1,2)"};
  c.series.push_back({"estimate", MarkStyle::Point, {{0, 0.5, 0.4, 0.6}, {1, 0.25, std::nan(""), std::nan(""), true}}});
  c.series.push_back({"reps", MarkStyle::Faint, {{0, 0.45}, {0, 0.55}, {0, 0.5}, {1, 0.2}}});
  c.series.push_back({"generating", MarkStyle::Reference, {{0, 0.5}, {1, std::nan("")}}});
  EXPECT_EQ(chart_text(c),
            "What it shows. estimate: p(1,1) 0.5000 (0.4000 to 0.6000), p(1,2) 0.2500 (fixed). "
            "reps: p(1,1) 3 values from 0.4500 to 0.5500; p(1,2) 1 value 0.2000. "
            "generating: p(1,1) 0.5000, p(1,2) n/a.");
  const std::string svg = chart_svg(c);
  EXPECT_NE(svg.find("<title id=\"t4-t\">Fits &lt;A &amp; B&gt;</title>"), std::string::npos);
  EXPECT_NE(svg.find("<desc id=\"t4-d\">What it shows. estimate:"), std::string::npos);
  EXPECT_NE(svg.find("aria-labelledby=\"t4-t t4-d\""), std::string::npos);
  EXPECT_NE(svg.find(">cohort &quot;c&quot;</text>"), std::string::npos);
  EXPECT_NE(svg.find(">chi</text>"), std::string::npos);
  // The hollow (fixed) point is open, the missing reference mark is not drawn.
  EXPECT_NE(svg.find("fill=\"#fff\""), std::string::npos);
  EXPECT_EQ(count(svg, "<line stroke-width=\"2\""), 2);  // the legend's stroke and one mark
}

TEST(SvgNumbers, SignificantDigitsAndFixedDecimals) {
  EXPECT_EQ(format_significant(0.0133168, 4), "0.01332");
  EXPECT_EQ(format_significant(742.2756, 4), "742.3");
  EXPECT_EQ(format_significant(-361.11879, 4), "-361.1");
  EXPECT_EQ(format_significant(0.99996, 4), "1.000");
  EXPECT_EQ(format_significant(99999.7, 4), "100000");
  EXPECT_EQ(format_significant(1.234e-5, 4), "1.234e-05");
  EXPECT_EQ(format_significant(2.5e7, 3), "2.50e+07");
  EXPECT_EQ(format_significant(0.0, 4), "0");
  EXPECT_EQ(format_significant(std::nan(""), 4), "n/a");
  std::string out;
  append_fixed(out, -0.004, 2);
  out += ' ';
  append_fixed(out, 0.125, 2);  // exactly representable: rounds half away from zero
  out += ' ';
  append_fixed(out, -12.3456, 3);
  out += ' ';
  append_fixed(out, 0.05, 0);
  out += ' ';
  append_fixed(out, 3.0e12, 1);
  EXPECT_EQ(out, "0.00 0.13 -12.346 0 3000000000000.0");
}

}  // namespace
}  // namespace quorvale
