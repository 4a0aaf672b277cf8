#pragma once
// Layout strings: the column-by-column description of every printed line,
// every numeric field read from a statement and every short label built in
// memory. A layout is parsed once into a small program and then applied to
// any number of item lists.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvale {

/// A fault in one of the program's own layouts: bad syntax, an item whose
/// kind does not match its descriptor, or items left with nothing to take them.
class InternalError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// One value handed to an output statement: an integer, a real (double or
/// single precision) or a fixed-length text (its full length, blanks included).
class Item {
 public:
  enum class Kind : std::uint8_t { Integer, Double, Single, Text };

  Item(int v) : kind_(Kind::Integer), int_(v) {}
  Item(double v) : kind_(Kind::Double), real_(v) {}
  /// A single-precision real; it is printed from its exact (widened) value.
  Item(float v) : kind_(Kind::Single), real_(static_cast<double>(v)) {}
  Item(std::string_view text) : kind_(Kind::Text), text_(text) {}
  Item(const char* text) : kind_(Kind::Text), text_(text) {}
  Item(const std::string& text) : kind_(Kind::Text), text_(text) {}

  Kind kind() const { return kind_; }
  int integer() const { return int_; }
  double real() const { return real_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  int int_ = 0;
  double real_ = 0.0;
  std::string_view text_;
};

/// Where one input field of a record read goes: an integer, a double, or a
/// text variable of a fixed length.
struct Target {
  enum class Kind : std::uint8_t { Integer, Double, Text };
  Kind kind;
  int* integer = nullptr;
  double* real = nullptr;
  std::string* text = nullptr;
  std::size_t length = 0;  ///< declared length of a text variable

  static Target of(int& v) { return {Kind::Integer, &v, nullptr, nullptr, 0}; }
  static Target of(double& v) { return {Kind::Double, nullptr, &v, nullptr, 0}; }
  static Target of(std::string& v, std::size_t length) {
    return {Kind::Text, nullptr, nullptr, &v, length};
  }
};

/// A parsed layout string, reusable for any number of output statements.
class Layout {
 public:
  /// Parses `text` (a parenthesised descriptor list); throws InternalError on bad syntax.
  explicit Layout(std::string_view text);
  ~Layout();
  Layout(const Layout&);
  Layout(Layout&&) noexcept;
  Layout& operator=(const Layout&);
  Layout& operator=(Layout&&) noexcept;

  /// Appends the records that `items` produce to `out`, each ended by '\n'.
  void write(std::string& out, std::span<const Item> items) const;
  void write(std::string& out, std::initializer_list<Item> items) const {
    write(out, std::span<const Item>(items.begin(), items.size()));
  }

  /// Returns the records that `items` produce, each ended by '\n'.
  std::string format(std::span<const Item> items) const;
  std::string format(std::initializer_list<Item> items) const {
    return format(std::span<const Item>(items.begin(), items.size()));
  }

  /// In-memory write into a character variable of `length` characters: the
  /// single record, blank-padded to `length`. Throws InternalError when the
  /// output needs more than one record or more than `length` characters.
  std::string write_internal(std::span<const Item> items, std::size_t length) const;
  std::string write_internal(std::initializer_list<Item> items, std::size_t length) const {
    return write_internal(std::span<const Item>(items.begin(), items.size()), length);
  }

  /// Reads one record (a line of an auxiliary file) into `targets` with this
  /// layout's A, I, F, G and X descriptors. Returns 0 on success and a non-zero
  /// status when a numeric field cannot be converted; a short record reads as
  /// if padded with blanks.
  int read(std::string_view record, std::span<const Target> targets) const;
  int read(std::string_view record, std::initializer_list<Target> targets) const {
    return read(record, std::span<const Target>(targets.begin(), targets.size()));
  }

  /// The layout text as given.
  const std::string& text() const { return text_; }

  struct Node;  // one parsed descriptor or group (defined in layout.cpp)

 private:
  std::string text_;
  std::vector<Node> nodes_;
  int reversion_ = 0;  ///< node index where reversion resumes (a group start, or 0)
  bool reversion_has_data_ = false;  ///< whether a data descriptor follows reversion_
  friend struct LayoutEngine;
};

/// Appends one free-form (list-directed) record for `items` to `out`, ended by '\n'.
void write_free(std::string& out, std::span<const Item> items);
inline void write_free(std::string& out, std::initializer_list<Item> items) {
  write_free(out, std::span<const Item>(items.begin(), items.size()));
}

/// Result of reading one numeric field: status 0 and the value, or a non-zero status.
template <typename T>
struct FieldRead {
  int status = 0;
  T value{};
};

/// Reads a 10-column field with "(BN,I10)": blanks ignored, optional sign, digits.
FieldRead<int> read_bn_i10(std::string_view field);

/// Reads a 10-column field with "(BN,F10.0)": blanks ignored, optional sign,
/// digits with an optional point, optional exponent (E, D or a sign alone).
FieldRead<double> read_bn_f10(std::string_view field);

}  // namespace quorvale
