#pragma once
// Number and text formatting shared by the report page and its figures:
// fixed decimals, significant digits and HTML-escaped UTF-8 text.

#include <string>
#include <string_view>

namespace quorvale {

/// Appends `text` with &, <, > and " written as entities, in UTF-8 (bytes
/// that are not UTF-8 read as ISO-8859-1).
void append_escaped(std::string& out, std::string_view text);

/// Appends `v` with `decimals` digits after the point (no exponent).
void append_fixed(std::string& out, double v, int decimals);

/// `v` to `digits` significant digits: fixed notation from 1e-4 to below 1e6,
/// with an exponent outside; "n/a" when not finite.
std::string format_significant(double v, int digits);

}  // namespace quorvale
