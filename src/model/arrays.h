#pragma once
// Arrays indexed from 1, as every table of the model is numbered.

#include <cassert>
#include <cstddef>
#include <algorithm>
#include <span>
#include <utility>
#include <vector>

namespace quorvale {

/// A vector of n elements indexed 1..n.
template <typename T>
class Vec1 {
 public:
  explicit Vec1(int n = 0, T init = T{}) : v_(static_cast<std::size_t>(n) + 1, init) {}
  T& operator()(int i) {
    assert(i >= 1 && static_cast<std::size_t>(i) < v_.size());
    return v_[static_cast<std::size_t>(i)];
  }
  const T& operator()(int i) const {
    assert(i >= 1 && static_cast<std::size_t>(i) < v_.size());
    return v_[static_cast<std::size_t>(i)];
  }
  int size() const { return static_cast<int>(v_.size()) - 1; }
  /// Pointer p such that p[i] is element i (p[0] is an unused slot).
  T* base() { return v_.data(); }
  const T* base() const { return v_.data(); }
  void fill(T value) { std::fill(v_.begin(), v_.end(), value); }
  /// Gives the vector n elements: elements 1..min(n, size()) keep their values, new ones get `init`.
  void resize(int n, T init = T{}) { v_.resize(static_cast<std::size_t>(n) + 1, init); }

 private:
  std::vector<T> v_;
};

/// A table of columns indexed (row, column) from 1, each column a
/// contiguous run of its own number of rows, the row index varying fastest:
/// (cell, cohort) in the model store, each cohort as long as its cells. A
/// table whose columns are all of one length is a plain matrix.
template <typename T>
class Mat1 {
 public:
  /// No columns.
  Mat1() = default;
  /// `cols` columns of `rows` rows each.
  Mat1(int rows, int cols, T init = T{})
      : start_(static_cast<std::size_t>(cols) + 1), v_(static_cast<std::size_t>(rows) * cols, init) {
    for (std::size_t c = 0; c < start_.size(); ++c) start_[c] = c * static_cast<std::size_t>(rows);
  }
  /// One column per entry of `rows`: column c holds rows[c-1] values.
  explicit Mat1(std::span<const int> rows, T init = T{}) : start_(rows.size() + 1, 0) {
    for (std::size_t c = 0; c < rows.size(); ++c)
      start_[c + 1] = start_[c] + static_cast<std::size_t>(std::max(rows[c], 0));
    v_.assign(start_.back(), init);
  }
  T& operator()(int r, int c) {
    assert(r >= 1 && r <= rows(c));
    return v_[start_[static_cast<std::size_t>(c - 1)] + static_cast<std::size_t>(r - 1)];
  }
  const T& operator()(int r, int c) const {
    assert(r >= 1 && r <= rows(c));
    return v_[start_[static_cast<std::size_t>(c - 1)] + static_cast<std::size_t>(r - 1)];
  }
  /// Pointer to element (1, c): column c as a contiguous run of `rows(c)` values.
  T* column(int c) {
    assert(c >= 1 && c <= cols());
    return v_.data() + start_[static_cast<std::size_t>(c - 1)];
  }
  const T* column(int c) const {
    assert(c >= 1 && c <= cols());
    return v_.data() + start_[static_cast<std::size_t>(c - 1)];
  }
  /// Rows of column c.
  int rows(int c) const {
    assert(c >= 1 && c <= cols());
    return static_cast<int>(start_[static_cast<std::size_t>(c)] - start_[static_cast<std::size_t>(c - 1)]);
  }
  int cols() const { return start_.empty() ? 0 : static_cast<int>(start_.size()) - 1; }
  /// Values in all columns together.
  std::size_t size() const { return v_.size(); }
  /// Values in columns 1..c together, which lie one after the other from column(1).
  std::size_t values_through(int c) const {
    assert(c >= 0 && c <= cols());
    return c <= 0 ? 0 : start_[static_cast<std::size_t>(c)];
  }
  void fill(T value) { std::fill(v_.begin(), v_.end(), value); }

  /// Appends an empty column.
  void add_column() {
    if (start_.empty()) start_.push_back(0);
    start_.push_back(v_.size());
  }
  /// Appends a row to the last column, which must exist.
  void push_back(T value) {
    assert(cols() >= 1);
    v_.push_back(value);
    ++start_.back();
  }
  /// Gives the table rows.size() columns, column c with rows[c-1] rows:
  /// each keeps the values of its first rows that still fit, new rows get `init`.
  void reshape(std::span<const int> rows, T init = T{}) {
    Mat1 next(rows, init);
    for (int c = 1; c <= next.cols() && c <= cols(); ++c)
      std::copy_n(column(c), std::min(this->rows(c), next.rows(c)), next.column(c));
    *this = std::move(next);
  }

 private:
  std::vector<std::size_t> start_;  ///< column c is v_[start_[c-1] .. start_[c])
  std::vector<T> v_;
};

}  // namespace quorvale
