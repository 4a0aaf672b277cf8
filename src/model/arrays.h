#pragma once
// Arrays indexed from 1, as every table of the model is numbered.

#include <cassert>
#include <cstddef>
#include <algorithm>
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

 private:
  std::vector<T> v_;
};

/// A matrix (row, column) indexed from 1, the row index varying fastest:
/// (cell, cohort) in the model store.
template <typename T>
class Mat1 {
 public:
  Mat1(int rows, int cols, T init = T{})
      : rows_(rows), cols_(cols), v_(static_cast<std::size_t>(rows) * cols, init) {}
  T& operator()(int r, int c) {
    assert(r >= 1 && r <= rows_ && c >= 1 && c <= cols_);
    return v_[static_cast<std::size_t>(c - 1) * rows_ + (r - 1)];
  }
  const T& operator()(int r, int c) const {
    assert(r >= 1 && r <= rows_ && c >= 1 && c <= cols_);
    return v_[static_cast<std::size_t>(c - 1) * rows_ + (r - 1)];
  }
  /// Pointer to element (1, c): column c as a contiguous run of `rows()` values.
  T* column(int c) {
    assert(c >= 1 && c <= cols_);
    return v_.data() + static_cast<std::size_t>(c - 1) * rows_;
  }
  const T* column(int c) const {
    assert(c >= 1 && c <= cols_);
    return v_.data() + static_cast<std::size_t>(c - 1) * rows_;
  }
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  void fill(T value) { std::fill(v_.begin(), v_.end(), value); }

 private:
  int rows_;
  int cols_;
  std::vector<T> v_;
};

}  // namespace quorvale
