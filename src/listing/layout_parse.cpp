// The layout parser: turns a layout string into the flat list of nodes
// (descriptors plus group begin/end markers) that the record engine
// interprets.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "listing/layout.h"
#include "listing/layout_internal.h"

namespace quorvale {

Layout::~Layout() = default;
Layout::Layout(const Layout&) = default;
Layout::Layout(Layout&&) noexcept = default;
Layout& Layout::operator=(const Layout&) = default;
Layout& Layout::operator=(Layout&&) noexcept = default;

namespace {

using namespace layout_impl;

// Counts are bounded only to keep arithmetic in range.
constexpr int kMaxCount = 32767;

bool is_data(Op op) {
  return op == Op::Integer || op == Op::Fixed || op == Op::Exponent || op == Op::General ||
         op == Op::Text;
}

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

}  // namespace

Layout::Layout(std::string_view text) : text_(text) {
  reversion_ = Parser(text, nodes_).parse();
  reversion_has_data_ = std::any_of(nodes_.begin() + reversion_, nodes_.end(),
                                    [](const Node& n) { return is_data(n.op); });
}

}  // namespace quorvale
