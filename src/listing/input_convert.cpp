// The input conversions of the layout formatter: integer and real numeric
// fields read from a record or a statement.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "listing/layout_internal.h"

namespace quorvale {

namespace layout_impl {

namespace {

constexpr int kBadField = 1;

}  // namespace

// An integer from a numeric field: blanks ignored, optional sign, digits.
FieldRead<int> parse_integer(std::string_view field) {
  FieldRead<int> r;
  bool neg = false, sign = false, any = false;
  long long v = 0;
  for (const char c : field) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign && !any) {
      sign = true;
      neg = c == '-';
    } else if (is_digit(c)) {
      any = true;
      v = v * 10 + (c - '0');
      if (v > 2147483648LL) return {kBadField, 0};
    } else {
      return {kBadField, 0};
    }
  }
  if (!any) return {sign ? kBadField : 0, 0};
  if (neg) v = -v;
  if (v > std::numeric_limits<int>::max()) return {kBadField, 0};
  r.value = static_cast<int>(v);
  return r;
}

// A real from a numeric field: blanks ignored; optional sign; digits with an
// optional point (at least one digit); optional exponent introduced by E or D
// (either case) or by a sign alone. Without a point the last `implied`
// digits are decimals.
FieldRead<double> parse_real(std::string_view field, int implied) {
  char clean[kDigitBuffer];
  int n = 0;
  std::size_t i = 0;
  auto next = [&]() -> char {
    while (i < field.size() && field[i] == ' ') ++i;
    return i < field.size() ? field[i] : '\0';
  };
  char c = next();
  if (c == '\0') return {0, 0.0};
  bool neg = false;
  if (c == '+' || c == '-') {
    neg = c == '-';
    ++i;
    c = next();
  }
  if (neg) clean[n++] = '-';
  int digits = 0, before_point = 0, first_nonzero = -1;
  bool point = false;
  while (is_digit(c) || (c == '.' && !point)) {
    if (c == '.') {
      point = true;
    } else {
      if (first_nonzero < 0 && c != '0') first_nonzero = digits;
      ++digits;
      if (!point) ++before_point;
    }
    if (n >= kDigitBuffer - 16) return {kBadField, 0.0};
    clean[n++] = c;
    ++i;
    c = next();
  }
  if (digits == 0) return {kBadField, 0.0};
  long exponent = 0;
  if (c != '\0') {
    const char u = upper(c);
    if (u == 'E' || u == 'D') {
      ++i;
      c = next();
    }
    bool exp_neg = false;
    if (c == '+' || c == '-') {
      exp_neg = c == '-';
      ++i;
      c = next();
    } else if (u != 'E' && u != 'D') {
      return {kBadField, 0.0};
    }
    if (!is_digit(c)) return {kBadField, 0.0};
    while (is_digit(c)) {
      if (exponent < 100000) exponent = exponent * 10 + (c - '0');
      ++i;
      c = next();
    }
    if (c != '\0') return {kBadField, 0.0};
    if (exp_neg) exponent = -exponent;
  }
  if (!point) exponent -= implied;
  n += std::snprintf(clean + n, 16, "e%ld", exponent);
  double v = 0.0;
  const auto res = std::from_chars(clean, clean + n, v);
  if (res.ec == std::errc::result_out_of_range) {
    // Decimal order of the leading digit decides between overflow and underflow.
    const long order = before_point - first_nonzero - 1 + exponent;
    if (order > 0) return {kBadField, 0.0};
    return {0, neg ? -0.0 : 0.0};
  }
  if (res.ec != std::errc() || res.ptr != clean + n || std::isinf(v)) return {kBadField, 0.0};
  return {0, v};
}

}  // namespace layout_impl

namespace {

std::string_view first_columns(std::string_view field, std::size_t n) {
  return field.substr(0, std::min(field.size(), n));
}

}  // namespace

FieldRead<int> read_bn_i10(std::string_view field) {
  return layout_impl::parse_integer(first_columns(field, 10));
}

FieldRead<double> read_bn_f10(std::string_view field) {
  return layout_impl::parse_real(first_columns(field, 10), 0);
}

}  // namespace quorvale
