// The numeric editors of the layout formatter: I, F, E and G editing.
// Fields are built in stack buffers from printf's correctly rounded digits,
// so editing allocates nothing.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/layout_internal.h"

namespace quorvale::layout_impl {

namespace {

void fill_stars(char* f, int w) { std::memset(f, '*', static_cast<std::size_t>(w)); }

// Right-justifies `s` (n <= w characters) in w columns.
void put_right(char* f, int w, const char* s, int n) {
  std::memset(f, ' ', static_cast<std::size_t>(w - n));
  std::memcpy(f + (w - n), s, static_cast<std::size_t>(n));
}

// Infinity and NaN, right-justified: "Infinity" when it fits, else "Inf";
// asterisks when even that does not fit.
void edit_special(char* f, int w, double x) {
  const char* s;
  if (std::isnan(x)) {
    s = "NaN";
  } else if (x > 0) {
    s = w >= 8 ? "Infinity" : "Inf";
  } else {
    s = w >= 9 ? "-Infinity" : "-Inf";
  }
  const int n = static_cast<int>(std::strlen(s));
  if (n > w) return fill_stars(f, w);
  put_right(f, w, s, n);
}

// The value |x| rounded to d significant digits: the digits and the decimal
// exponent of the first one (value = D.DDD x 10^exp10). Zero gives d zeros
// and exponent 0.
struct Rounded {
  char digits[kMaxNumericWidth + 1];
  int exp10 = 0;
};

void round_significant(double a, int d, Rounded& r) {
  char buf[kDigitBuffer];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, a);
  r.digits[0] = buf[0];
  const char* p = buf + 1;
  if (*p == '.') ++p;
  int k = 1;
  while (*p != 'e') r.digits[k++] = *p++;
  r.exp10 = a == 0.0 ? 0 : std::atoi(p + 1);
}

// 0.DDDD followed by the exponent, right-justified in w; the zero before the
// point only when it fits.
void edit_exponent_rounded(char* f, int w, int d, bool neg, const Rounded& r, bool zero,
                           ExpStyle style) {
  const int e = zero ? 0 : r.exp10 + 1;
  const int ae = e < 0 ? -e : e;
  char exp[8];
  int ne = 0;
  if (style == ExpStyle::ThreeDigit || ae <= 99) exp[ne++] = 'E';
  exp[ne++] = e < 0 ? '-' : '+';
  if (style == ExpStyle::ThreeDigit || ae > 99) exp[ne++] = static_cast<char>('0' + ae / 100);
  exp[ne++] = static_cast<char>('0' + ae / 10 % 10);
  exp[ne++] = static_cast<char>('0' + ae % 10);
  int len = (neg ? 1 : 0) + 1 + d + ne;
  const bool with_zero = len + 1 <= w;
  if (with_zero) ++len;
  if (len > w) return fill_stars(f, w);
  std::memset(f, ' ', static_cast<std::size_t>(w - len));
  char* p = f + (w - len);
  if (neg) *p++ = '-';
  if (with_zero) *p++ = '0';
  *p++ = '.';
  std::memcpy(p, r.digits, static_cast<std::size_t>(d));
  p += d;
  std::memcpy(p, exp, static_cast<std::size_t>(ne));
}

}  // namespace

void edit_integer(char* f, int w, int m, int v) {
  // Digits of |v|, at least m of them (Iw.0 prints nothing for zero).
  char buf[kMaxNumericWidth + 16];
  long long u = v < 0 ? -static_cast<long long>(v) : v;
  const int min_digits = m < 0 ? 1 : m;
  int nd = 0;
  char rev[16];
  while (u > 0) {
    rev[nd++] = static_cast<char>('0' + u % 10);
    u /= 10;
  }
  const int total = std::max(nd, min_digits) + (v < 0 ? 1 : 0);
  if (total > w) return fill_stars(f, w);
  int k = 0;
  if (v < 0) buf[k++] = '-';
  for (int z = nd; z < min_digits; ++z) buf[k++] = '0';
  while (nd > 0) buf[k++] = rev[--nd];
  put_right(f, w, buf, k);
}

// Fw.d. The zero before the point is written only when it fits (always when
// d is 0, so that a lone point never stands for a number).
void edit_fixed(char* f, int w, int d, double x) {
  if (!std::isfinite(x)) return edit_special(f, w, x);
  const bool neg = std::signbit(x);
  char buf[kDigitBuffer];
  const int n = std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(x));
  if (n <= 0 || n >= static_cast<int>(sizeof buf)) return fill_stars(f, w);
  const int int_len = d > 0 ? n - d - 1 : n;
  const bool zero_int = int_len == 1 && buf[0] == '0';
  int len = (neg ? 1 : 0) + (zero_int ? 0 : int_len) + 1 + d;
  const bool with_zero = zero_int && (d == 0 || len + 1 <= w);
  if (with_zero) ++len;
  if (len > w) return fill_stars(f, w);
  char* p = f + (w - len);
  std::memset(f, ' ', static_cast<std::size_t>(w - len));
  if (neg) *p++ = '-';
  if (!zero_int || with_zero) {
    std::memcpy(p, buf, static_cast<std::size_t>(int_len));
    p += int_len;
  }
  *p++ = '.';
  if (d > 0) std::memcpy(p, buf + int_len + 1, static_cast<std::size_t>(d));
}

void edit_exponent(char* f, int w, int d, double x) {
  if (!std::isfinite(x)) return edit_special(f, w, x);
  Rounded r;
  const double a = std::fabs(x);
  round_significant(a, d, r);
  edit_exponent_rounded(f, w, d, std::signbit(x), r, a == 0.0, ExpStyle::Standard);
}

// General editing: the value is rounded to d significant digits first; zero
// and rounded magnitudes in [0.1, 10^d) are written in fixed form with those
// same digits in w - trail columns followed by `trail` blanks, anything else
// in the E form. A fixed form too wide for its columns fills the whole field
// with asterisks.
void edit_general(char* f, int w, int d, double x, int trail, ExpStyle style) {
  if (!std::isfinite(x)) return edit_special(f, w, x);
  const bool neg = std::signbit(x);
  const double a = std::fabs(x);
  Rounded r;
  round_significant(a, d, r);
  const bool zero = a == 0.0;
  if (!zero && (r.exp10 < -1 || r.exp10 > d - 1))
    return edit_exponent_rounded(f, w, d, neg, r, zero, style);
  // k digits before the point and d - k after; zero has d - 1 zeros after it.
  const int k = zero ? 0 : std::max(r.exp10 + 1, 0);
  const int decimals = zero ? d - 1 : d - k;
  const int cols = w - trail;
  int len = (neg ? 1 : 0) + k + 1 + decimals;
  const bool with_zero = k == 0 && len + 1 <= cols;
  if (with_zero) ++len;
  if (len > cols) return fill_stars(f, w);
  std::memset(f, ' ', static_cast<std::size_t>(cols - len));
  char* p = f + (cols - len);
  if (neg) *p++ = '-';
  if (with_zero) *p++ = '0';
  std::memcpy(p, r.digits, static_cast<std::size_t>(k));
  p += k;
  *p++ = '.';
  std::memcpy(p, r.digits + k, static_cast<std::size_t>(decimals));
  std::memset(f + cols, ' ', static_cast<std::size_t>(trail));
}

}  // namespace quorvale::layout_impl
