#pragma once
// What the parts of the layout formatter share: the parsed node, the bounds
// on fields, the numeric editors and the input conversions. Included only by
// the formatter's own sources (layout_parse.cpp, numeric_edit.cpp, record.cpp,
// input_convert.cpp); everyone else uses layout.h.

#include <cstdint>
#include <string>
#include <string_view>

#include "listing/layout.h"

namespace quorvale {

struct Layout::Node {
  enum class Op : std::uint8_t {
    Literal,     // text written as it stands
    Skip,        // nX: advance n columns (width = n)
    Tab,         // Tc: move to column c (width = c)
    Slash,       // end of record, `repeat` times
    Colon,       // stop here when no items remain
    BlankNull,   // BN: blanks in numeric input fields are ignored (always so here)
    Integer,     // Iw or Iw.m (digits = m, or -1)
    Fixed,       // Fw.d
    Exponent,    // Ew.d
    General,     // Gw.d
    Text,        // A or Aw (width 0 = the item's own length)
    GroupBegin,  // k( with count = k
    GroupEnd,    // ) : repeats the group from its GroupBegin while the count lasts
  };
  Op op = Op::Literal;
  int repeat = 1;  // data descriptors and slashes
  int width = 0;
  int digits = -1;
  int count = 1;
  std::string text;
};

namespace layout_impl {

using Node = Layout::Node;
using Op = Node::Op;

// Widths and decimals of numeric fields are bounded so that every field fits
// a stack buffer.
constexpr int kMaxNumericWidth = 255;
constexpr int kMaxDepth = 8;  // nesting of groups inside the outer parentheses

// Enough for any double under "%.*f" with up to kMaxNumericWidth decimals
// (309 integer digits at most) and for "%.*e".
constexpr int kDigitBuffer = 640;

inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------
// Numeric editors (numeric_edit.cpp). Each fills exactly w characters at `f`.

/// How the exponent of the E form is written.
enum class ExpStyle : std::uint8_t {
  Standard,    // "E+dd"; "+ddd" without the letter when three digits are needed
  ThreeDigit,  // always "E+ddd" (free form doubles)
};

/// Iw.m (m = -1 for plain Iw).
void edit_integer(char* f, int w, int m, int v);
/// Fw.d.
void edit_fixed(char* f, int w, int d, double x);
/// Ew.d.
void edit_exponent(char* f, int w, int d, double x);
/// Gw.d, the fixed form followed by `trail` blanks.
void edit_general(char* f, int w, int d, double x, int trail, ExpStyle style);

// ---------------------------------------------------------------------------
// Input conversions (input_convert.cpp).

/// An integer from a numeric field: blanks ignored, optional sign, digits.
FieldRead<int> parse_integer(std::string_view field);
/// A real from a numeric field; without a point the last `implied` digits are decimals.
FieldRead<double> parse_real(std::string_view field, int implied);

}  // namespace layout_impl
}  // namespace quorvale
