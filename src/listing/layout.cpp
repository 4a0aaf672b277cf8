// The layout formatter: parses a layout string once into a flat list of
// nodes (descriptors plus group begin/end markers) and interprets that list
// for output records, in-memory writes and record reads. Numeric fields are
// built in stack buffers from printf's correctly rounded digits, so applying a
// layout allocates nothing beyond the growth of the output string.

#include "listing/layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

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

Layout::~Layout() = default;
Layout::Layout(const Layout&) = default;
Layout::Layout(Layout&&) noexcept = default;
Layout& Layout::operator=(const Layout&) = default;
Layout& Layout::operator=(Layout&&) noexcept = default;

namespace {

using Node = Layout::Node;
using Op = Node::Op;

// Widths and decimals of numeric fields are bounded so that every field fits
// a stack buffer; other counts are bounded only to keep arithmetic in range.
constexpr int kMaxNumericWidth = 255;
constexpr int kMaxCount = 32767;
constexpr int kMaxDepth = 8;  // nesting of groups inside the outer parentheses

/// The groups an interpreter is inside, with the repeats each has left.
class GroupStack {
 public:
  /// Enters the group whose first node is `begin`, to be run `count` times.
  void enter(int begin, int count) { frames_[depth_++] = Frame{begin, count}; }
  /// At a group's end: back to its start (pc set to it) while repeats are left.
  void end(int& pc) {
    if (--frames_[depth_ - 1].left > 0) {
      pc = frames_[depth_ - 1].begin;
    } else {
      --depth_;
    }
  }
  /// Leaves every group (reversion restarts outside them).
  void clear() { depth_ = 0; }

 private:
  struct Frame {
    int begin;
    int left;
  };
  Frame frames_[kMaxDepth];
  int depth_ = 0;
};

// Enough for any double under "%.*f" with up to kMaxNumericWidth decimals
// (309 integer digits at most) and for "%.*e".
constexpr int kDigitBuffer = 640;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_data(Op op) {
  return op == Op::Integer || op == Op::Fixed || op == Op::Exponent || op == Op::General ||
         op == Op::Text;
}

// ---------------------------------------------------------------------------
// Parsing

class Parser {
 public:
  Parser(std::string_view text, std::vector<Node>& nodes) : s_(text), nodes_(nodes) {}

  // Parses the whole layout; returns the node index where reversion resumes.
  int parse() {
    skip_blanks();
    if (!take('(')) fail("a layout must begin with '('");
    parse_list(1);
    if (!take(')')) fail("missing ')'");
    skip_blanks();
    if (i_ != s_.size()) fail("text after the closing ')'");
    return reversion_;
  }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw InternalError("layout \"" + std::string(s_) + "\" at column " +
                        std::to_string(i_ + 1) + ": " + what);
  }

  void skip_blanks() {
    while (i_ < s_.size() && s_[i_] == ' ') ++i_;
  }
  // Next significant character (upper-cased), or '\0' at the end.
  char peek() {
    skip_blanks();
    return i_ < s_.size() ? upper(s_[i_]) : '\0';
  }
  bool take(char c) {
    if (peek() != c) return false;
    ++i_;
    return true;
  }
  // An unsigned number, blanks between its digits ignored; -1 if none.
  int number() {
    if (!is_digit(peek())) return -1;
    long v = 0;
    while (is_digit(peek())) {
      v = v * 10 + (s_[i_++] - '0');
      if (v > kMaxCount) fail("number too large");
    }
    return static_cast<int>(v);
  }

  Node& emit(Op op) {
    nodes_.push_back(Node{});
    nodes_.back().op = op;
    return nodes_.back();
  }

  // The items between a '(' already taken and its ')', which is left for the caller.
  void parse_list(int depth) {
    enum class Prev { Open, Comma, Item, Separator } prev = Prev::Open;
    for (;;) {
      const char c = peek();
      if (c == '\0') fail("missing ')'");
      if (c == ')') {
        if (prev == Prev::Comma) fail("',' before ')'");
        return;
      }
      if (c == ',') {
        if (prev == Prev::Open || prev == Prev::Comma) fail("empty item");
        ++i_;
        prev = Prev::Comma;
        continue;
      }
      if (c == '/' || c == ':') {
        ++i_;
        emit(c == '/' ? Op::Slash : Op::Colon);
        prev = Prev::Separator;
        continue;
      }
      if (prev == Prev::Item) fail("missing ','");
      prev = parse_item(depth) ? Prev::Separator : Prev::Item;
    }
  }

  // Parses one item; returns true when it was a slash with a count (which,
  // like any slash, needs no comma after it).
  bool parse_item(int depth) {
    const int n = number();
    if (n == 0) fail("a count must be positive");
    const char c = peek();
    if (c == '\0') fail("missing ')'");
    ++i_;
    switch (c) {
      case '(': {
        if (depth >= kMaxDepth) fail("groups nested too deeply");
        const int begin = static_cast<int>(nodes_.size());
        emit(Op::GroupBegin).count = n < 0 ? 1 : n;
        parse_list(depth + 1);
        if (!take(')')) fail("missing ')'");
        emit(Op::GroupEnd);
        if (depth == 1) reversion_ = begin;
        return false;
      }
      case 'H': {
        if (n < 0) fail("H needs a character count");
        if (s_.size() - i_ < static_cast<std::size_t>(n)) fail("H literal runs past the end");
        emit(Op::Literal).text.assign(s_.substr(i_, n));
        i_ += n;
        return false;
      }
      case '\'': {
        if (n >= 0) fail("a quoted literal takes no count");
        std::string text;
        for (;;) {
          if (i_ >= s_.size()) fail("unterminated literal");
          const char ch = s_[i_++];
          if (ch == '\'') {
            if (i_ < s_.size() && s_[i_] == '\'') {
              text.push_back('\'');
              ++i_;
              continue;
            }
            break;
          }
          text.push_back(ch);
        }
        emit(Op::Literal).text = std::move(text);
        return false;
      }
      case 'X':
        emit(Op::Skip).width = n < 0 ? 1 : n;
        return false;
      case '/':  // only reached with a count in front
        emit(Op::Slash).repeat = n;
        return true;
      case 'T': {
        if (n >= 0) fail("T takes no count");
        const char next = peek();
        if (next == 'L' || next == 'R') fail("TL and TR are not supported");
        const int col = number();
        if (col < 1) fail("T needs a column of at least 1");
        emit(Op::Tab).width = col;
        return false;
      }
      case 'B': {
        if (n >= 0 || !take('N')) fail("unsupported descriptor");
        emit(Op::BlankNull);
        return false;
      }
      case 'I':
      case 'F':
      case 'E':
      case 'G':
      case 'A': {
        const Op op = c == 'I' ? Op::Integer
                      : c == 'F' ? Op::Fixed
                      : c == 'E' ? Op::Exponent
                      : c == 'G' ? Op::General
                                 : Op::Text;
        Node node;
        node.op = op;
        node.repeat = n < 0 ? 1 : n;
        node.width = number();
        if (op == Op::Text) {
          if (node.width == 0) fail("A needs a positive width");
          if (node.width < 0) node.width = 0;
        } else {
          if (node.width < 1) fail("a numeric descriptor needs a positive width");
          if (node.width > kMaxNumericWidth) fail("field too wide");
          if (take('.')) {
            node.digits = number();
            if (node.digits < 0) fail("missing digits after '.'");
            if (node.digits > kMaxNumericWidth) fail("too many digits");
          }
          if (op != Op::Integer && node.digits < 0) fail("missing '.d'");
          if ((op == Op::Exponent || op == Op::General) && node.digits < 1)
            fail("E and G need at least one digit");
        }
        nodes_.push_back(std::move(node));
        return false;
      }
      default:
        fail("unsupported descriptor");
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::vector<Node>& nodes_;
  int reversion_ = 0;
};

// ---------------------------------------------------------------------------
// Numeric fields. Each editor fills exactly w characters at `f`.

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

// How the exponent of the E form is written.
enum class ExpStyle : std::uint8_t {
  Standard,    // "E+dd"; "+ddd" without the letter when three digits are needed
  ThreeDigit,  // always "E+ddd" (free form doubles)
};

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

// ---------------------------------------------------------------------------
// Output records

// Builds records at the end of a string. The current record starts at
// `start_`; `pos_` is the 0-based column where the next output goes. Columns
// skipped over become blanks only when something is written beyond them;
// output after a move to the left overwrites what is there.
class RecordSink {
 public:
  explicit RecordSink(std::string& out) : out_(out), start_(out.size()) {}

  void put(const char* s, std::size_t n) {
    const std::size_t at = start_ + pos_;
    if (at > out_.size()) out_.append(at - out_.size(), ' ');
    const std::size_t overlap = std::min(n, out_.size() - at);
    if (overlap > 0) out_.replace(at, overlap, s, overlap);
    if (overlap < n) out_.append(s + overlap, n - overlap);
    pos_ += n;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  void put_blanks(std::size_t n) {
    const std::size_t at = start_ + pos_;
    if (at > out_.size()) out_.append(at - out_.size(), ' ');
    const std::size_t overlap = std::min(n, out_.size() - at);
    if (overlap > 0) out_.replace(at, overlap, overlap, ' ');
    if (overlap < n) out_.append(n - overlap, ' ');
    pos_ += n;
  }
  void skip(int n) { pos_ += static_cast<std::size_t>(n); }
  void tab(int column) { pos_ = static_cast<std::size_t>(column - 1); }
  void end_record() {
    out_.push_back('\n');
    start_ = out_.size();
    pos_ = 0;
    ++records_;
  }
  int records() const { return records_; }

 private:
  std::string& out_;
  std::size_t start_;
  std::size_t pos_ = 0;
  int records_ = 0;
};

const char* kind_name(Item::Kind k) {
  switch (k) {
    case Item::Kind::Integer: return "an integer";
    case Item::Kind::Double: return "a double";
    case Item::Kind::Single: return "a single real";
    case Item::Kind::Text: return "a text";
  }
  return "an item";
}

const char* op_name(Op op) {
  switch (op) {
    case Op::Integer: return "I";
    case Op::Fixed: return "F";
    case Op::Exponent: return "E";
    case Op::General: return "G";
    default: return "A";
  }
}

}  // namespace

// ---------------------------------------------------------------------------

struct LayoutEngine {
  static void mismatch(const Layout& layout, const Node& node, const char* what) {
    throw InternalError(std::string("layout \"") + layout.text_ + "\": " + what +
                        " item for descriptor " + op_name(node.op));
  }

  static void edit(const Layout& layout, const Node& node, const Item& item, RecordSink& sink) {
    if (node.op == Op::Text) {
      if (item.kind() != Item::Kind::Text) mismatch(layout, node, kind_name(item.kind()));
      const std::string_view t = item.text();
      const std::size_t w = node.width == 0 ? t.size() : static_cast<std::size_t>(node.width);
      if (t.size() >= w) {
        sink.put(t.data(), w);
      } else {
        sink.put_blanks(w - t.size());
        sink.put(t);
      }
      return;
    }
    char field[kMaxNumericWidth];
    const int w = node.width;
    if (node.op == Op::Integer) {
      if (item.kind() != Item::Kind::Integer) mismatch(layout, node, kind_name(item.kind()));
      edit_integer(field, w, node.digits, item.integer());
    } else {
      if (item.kind() != Item::Kind::Double && item.kind() != Item::Kind::Single)
        mismatch(layout, node, kind_name(item.kind()));
      const double x = item.real();
      switch (node.op) {
        case Op::Fixed: edit_fixed(field, w, node.digits, x); break;
        case Op::Exponent: edit_exponent(field, w, node.digits, x); break;
        default: edit_general(field, w, node.digits, x, 4, ExpStyle::Standard); break;
      }
    }
    sink.put(field, static_cast<std::size_t>(w));
  }

  static void run(const Layout& layout, RecordSink& sink, std::span<const Item> items) {
    const std::vector<Node>& nodes = layout.nodes_;
    const int end = static_cast<int>(nodes.size());
    GroupStack groups;
    std::size_t next = 0;
    int pc = 0;
    for (;;) {
      if (pc == end) {
        if (next == items.size()) break;
        if (!layout.reversion_has_data_)
          throw InternalError("layout \"" + layout.text_ + "\": " +
                              std::to_string(items.size() - next) +
                              " items left with no descriptor to take them");
        sink.end_record();
        pc = layout.reversion_;
        groups.clear();
        continue;
      }
      const Node& node = nodes[pc];
      switch (node.op) {
        case Op::Literal: sink.put(node.text); break;
        case Op::Skip: sink.skip(node.width); break;
        case Op::Tab: sink.tab(node.width); break;
        case Op::Slash:
          for (int r = 0; r < node.repeat; ++r) sink.end_record();
          break;
        case Op::Colon:
          if (next == items.size()) goto done;
          break;
        case Op::BlankNull: break;
        case Op::GroupBegin: groups.enter(pc, node.count); break;
        case Op::GroupEnd: groups.end(pc); break;
        default:
          for (int r = 0; r < node.repeat; ++r) {
            if (next == items.size()) goto done;
            edit(layout, node, items[next++], sink);
          }
          break;
      }
      ++pc;
    }
  done:
    sink.end_record();
  }

  static int read(const Layout& layout, std::string_view record, std::span<const Target> targets);
};

Layout::Layout(std::string_view text) : text_(text) {
  reversion_ = Parser(text, nodes_).parse();
  reversion_has_data_ = std::any_of(nodes_.begin() + reversion_, nodes_.end(),
                                    [](const Node& n) { return is_data(n.op); });
}

void Layout::write(std::string& out, std::span<const Item> items) const {
  const std::size_t mark = out.size();
  try {
    RecordSink sink(out);
    LayoutEngine::run(*this, sink, items);
  } catch (...) {
    out.resize(mark);
    throw;
  }
}

std::string Layout::format(std::span<const Item> items) const {
  std::string out;
  write(out, items);
  return out;
}

std::string Layout::write_internal(std::span<const Item> items, std::size_t length) const {
  std::string out;
  RecordSink sink(out);
  LayoutEngine::run(*this, sink, items);
  if (sink.records() != 1)
    throw InternalError("layout \"" + text_ + "\": an in-memory write needs one record, not " +
                        std::to_string(sink.records()));
  out.pop_back();
  if (out.size() > length)
    throw InternalError("layout \"" + text_ + "\": " + std::to_string(out.size()) +
                        " characters do not fit a text of " + std::to_string(length));
  out.resize(length, ' ');
  return out;
}

// ---------------------------------------------------------------------------
// Free form

void write_free(std::string& out, std::span<const Item> items) {
  out.push_back(' ');
  bool prev_text = false;
  bool first = true;
  for (const Item& item : items) {
    const bool text = item.kind() == Item::Kind::Text;
    if (!first && !(text && prev_text)) out.push_back(' ');
    first = false;
    prev_text = text;
    char field[32];
    switch (item.kind()) {
      case Item::Kind::Text: out.append(item.text()); break;
      case Item::Kind::Integer:
        edit_integer(field, 11, -1, item.integer());  // 11 columns hold any 32-bit value
        out.append(field, 11);
        break;
      case Item::Kind::Double:
        edit_general(field, 25, 17, item.real(), 5, ExpStyle::ThreeDigit);
        out.append(field, 25);
        break;
      case Item::Kind::Single:
        edit_general(field, 15, 8, item.real(), 4, ExpStyle::Standard);
        out.append(field, 15);
        break;
    }
  }
  out.push_back('\n');
}

// ---------------------------------------------------------------------------
// Input conversions

namespace {

constexpr int kBadField = 1;

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

std::string_view first_columns(std::string_view field, std::size_t n) {
  return field.substr(0, std::min(field.size(), n));
}

}  // namespace

FieldRead<int> read_bn_i10(std::string_view field) {
  return parse_integer(first_columns(field, 10));
}

FieldRead<double> read_bn_f10(std::string_view field) {
  return parse_real(first_columns(field, 10), 0);
}

int LayoutEngine::read(const Layout& layout, std::string_view record,
                       std::span<const Target> targets) {
  const std::vector<Node>& nodes = layout.nodes_;
  auto fault = [&](const std::string& what) {
    throw InternalError("layout \"" + layout.text_ + "\" (input): " + what);
  };
  GroupStack groups;
  std::size_t next = 0;
  std::size_t pos = 0;
  // The w columns at the position, as far as the record reaches (the rest
  // reads as blanks).
  auto field_at = [&](std::size_t w) {
    const std::size_t at = std::min(pos, record.size());
    pos += w;
    return record.substr(at, std::min(w, record.size() - at));
  };
  const int end = static_cast<int>(nodes.size());
  for (int pc = 0; pc < end; ++pc) {
    const Node& node = nodes[pc];
    switch (node.op) {
      case Op::Literal: fault("a literal cannot be read"); break;
      case Op::Slash: fault("a read takes one record"); break;
      case Op::Skip: pos += static_cast<std::size_t>(node.width); break;
      case Op::Tab: pos = static_cast<std::size_t>(node.width - 1); break;
      case Op::Colon:
        if (next == targets.size()) return 0;
        break;
      case Op::BlankNull: break;
      case Op::GroupBegin: groups.enter(pc, node.count); break;
      case Op::GroupEnd: groups.end(pc); break;
      default:
        for (int r = 0; r < node.repeat; ++r) {
          if (next == targets.size()) return 0;
          const Target& t = targets[next++];
          if (node.op == Op::Text) {
            if (t.kind != Target::Kind::Text) fault("A needs a text variable");
            const std::size_t w = node.width == 0 ? t.length : static_cast<std::size_t>(node.width);
            const std::string_view f = field_at(w);
            t.text->assign(f.substr(0, std::min(f.size(), t.length)));
            t.text->resize(t.length, ' ');
          } else if (node.op == Op::Integer) {
            if (t.kind != Target::Kind::Integer) fault("I needs an integer variable");
            const FieldRead<int> v = parse_integer(field_at(static_cast<std::size_t>(node.width)));
            if (v.status != 0) return v.status;
            *t.integer = v.value;
          } else {
            if (t.kind != Target::Kind::Double) fault("F, E and G need a real variable");
            const FieldRead<double> v =
                parse_real(field_at(static_cast<std::size_t>(node.width)), node.digits);
            if (v.status != 0) return v.status;
            *t.real = v.value;
          }
        }
        break;
    }
  }
  if (next < targets.size()) fault("more variables than fields");
  return 0;
}

int Layout::read(std::string_view record, std::span<const Target> targets) const {
  return LayoutEngine::read(*this, record, targets);
}

}  // namespace quorvale
