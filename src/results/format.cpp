#include "results/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/text.h"

namespace quorvale {

void append_escaped(std::string& out, std::string_view typed) {
  // Names, labels and titles keep the bytes typed: those that are not UTF-8
  // are read as ISO-8859-1, so that the page is UTF-8 throughout.
  std::string converted;
  const std::string_view text = utf8_view(typed, converted);
  // Most texts need no entity: one append.
  bool plain = true;
  for (char c : text) plain = plain && c != '&' && c != '<' && c != '>' && c != '"';
  if (plain) {
    out.append(text.data(), text.size());
    return;
  }
  std::size_t from = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char* entity = nullptr;
    switch (text[k]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      default: continue;
    }
    out.append(text.data() + from, k - from);
    out += entity;
    from = k + 1;
  }
  out.append(text.data() + from, text.size() - from);
}

void append_fixed(std::string& out, double v, int decimals) {
  static constexpr double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  char buf[64];
  if (decimals >= 0 && decimals <= 9 && std::abs(v) < 1e9) {
    // Small values: the scaled value rounded to an integer, the point put back in.
    const long long scaled = std::llround(std::abs(v) * kScale[decimals]);
    const auto res = std::to_chars(buf, buf + sizeof buf, scaled);
    std::string_view digits(buf, static_cast<std::size_t>(res.ptr - buf));
    if (scaled != 0 && v < 0.0) out += '-';  // a value that rounds to zero prints without its sign
    const std::size_t d = static_cast<std::size_t>(decimals);
    if (digits.size() <= d) {
      out += "0.";
      out.append(d - digits.size(), '0');
      out += digits;
    } else {
      out += digits.substr(0, digits.size() - d);
      if (d > 0) {
        out += '.';
        out += digits.substr(digits.size() - d);
      }
    }
    return;
  }
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) {
    out += "n/a";
    return;
  }
  std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  if (text.starts_with('-') && text.find_first_not_of("0.", 1) == std::string_view::npos) text.remove_prefix(1);
  out += text;
}

std::string format_significant(double v, int digits) {
  if (!std::isfinite(v)) return "n/a";
  if (v == 0.0) return "0";
  const double a = std::abs(v);
  std::string out;
  if (a >= 1e-4 && a < 1e6) {
    static constexpr double kPowers[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5};
    int exponent = -4;  // a lies in 10^exponent .. 10^(exponent + 1)
    while (exponent < 5 && a >= kPowers[exponent + 5]) ++exponent;
    // A value that rounds up to the next power of ten (0.99996) loses a decimal.
    int decimals = std::clamp(digits - 1 - exponent, 0, 12);
    static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
    if (decimals > 0 && digits <= 12 && std::round(a * kTens[decimals]) >= kTens[digits]) --decimals;
    append_fixed(out, v, decimals);
    return out;
  }
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, std::max(digits - 1, 0));
  return std::string(buf, res.ptr);
}

}  // namespace quorvale
