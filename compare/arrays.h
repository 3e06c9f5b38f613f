// Bounded arrays of the comparison program and their allocation policy.
//
// The correlation code addresses its images and spectra with the index ranges
// it thinks in: images and normalisation tables from 1 (row 1 .. rows), the
// correlation surfaces centred on 0 (-R .. R). Vector<T> and Matrix<T> carry
// those bounds; elements are stored contiguously, a matrix row-major (the
// column index varies fastest), and new arrays are zero-filled.
//
// Copying an array shares its elements (the sub-cell records of one extract
// all look at the one image); release() drops this handle's share only.
//
// Every allocation may fail. It then leaves the array empty and the caller
// reports the shortage in the results file and goes on. Tests make any
// allocation fail on purpose through set_allocation_hook, keyed by the purpose
// tag each allocation site passes ("image", "X array", ...).
//
// Single-threaded: the hook is process-wide and not synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

namespace tarvik {

// Decides whether an allocation of `bytes` for `purpose` may go ahead; false
// makes it fail as if memory were exhausted. An empty hook allows everything.
using AllocationHook = std::function<bool(std::string_view purpose, std::size_t bytes)>;
void set_allocation_hook(AllocationHook hook);
bool allocation_allowed(std::string_view purpose, std::size_t bytes);

// Zero-filled storage of `count` elements, or null when the hook refuses, the
// size overflows or memory is short.
template <class T>
std::shared_ptr<T[]> allocate_elements(std::string_view purpose, std::size_t count) {
  if (count == 0 || count > SIZE_MAX / sizeof(T)) return nullptr;
  if (!allocation_allowed(purpose, count * sizeof(T))) return nullptr;
  T* raw = new (std::nothrow) T[count]();
  if (raw == nullptr) return nullptr;
  try {
    return std::shared_ptr<T[]>(raw);
  } catch (const std::bad_alloc&) {
    return nullptr;  // the constructor has already freed raw
  }
}

// One-dimensional array with indices lo .. hi.
template <class T>
class Vector {
 public:
  // Zero-filled lo .. hi; false (and the array empty) when it cannot be had.
  bool allocate(long lo, long hi, std::string_view purpose) {
    release();
    if (hi < lo) return false;
    data_ = allocate_elements<T>(purpose, static_cast<std::size_t>(hi - lo) + 1);
    if (!data_) return false;
    lo_ = lo;
    hi_ = hi;
    return true;
  }
  void release() {
    data_.reset();
    lo_ = 0;
    hi_ = -1;
  }
  bool empty() const { return !data_; }
  long lo() const { return lo_; }
  long hi() const { return hi_; }
  std::size_t size() const { return data_ ? static_cast<std::size_t>(hi_ - lo_ + 1) : 0; }
  T& operator()(long i) { return data_[i - lo_]; }
  const T& operator()(long i) const { return data_[i - lo_]; }
  // Element lo; the rest follow contiguously.
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  bool shares_with(const Vector& other) const { return data_ && data_ == other.data_; }

 private:
  std::shared_ptr<T[]> data_;
  long lo_ = 0, hi_ = -1;
};

// Two-dimensional array, rows row_lo .. row_hi, columns col_lo .. col_hi.
template <class T>
class Matrix {
 public:
  bool allocate(long row_lo, long row_hi, long col_lo, long col_hi, std::string_view purpose) {
    release();
    if (row_hi < row_lo || col_hi < col_lo) return false;
    const std::size_t nr = static_cast<std::size_t>(row_hi - row_lo) + 1;
    const std::size_t nc = static_cast<std::size_t>(col_hi - col_lo) + 1;
    if (nc > SIZE_MAX / nr) return false;
    data_ = allocate_elements<T>(purpose, nr * nc);
    if (!data_) return false;
    row_lo_ = row_lo;
    row_hi_ = row_hi;
    col_lo_ = col_lo;
    col_hi_ = col_hi;
    stride_ = static_cast<long>(nc);
    return true;
  }
  void release() {
    data_.reset();
    row_lo_ = col_lo_ = 0;
    row_hi_ = col_hi_ = -1;
    stride_ = 0;
  }
  bool empty() const { return !data_; }
  long row_lo() const { return row_lo_; }
  long row_hi() const { return row_hi_; }
  long col_lo() const { return col_lo_; }
  long col_hi() const { return col_hi_; }
  long rows() const { return data_ ? row_hi_ - row_lo_ + 1 : 0; }
  long cols() const { return data_ ? col_hi_ - col_lo_ + 1 : 0; }
  T& operator()(long r, long c) { return data_[(r - row_lo_) * stride_ + (c - col_lo_)]; }
  const T& operator()(long r, long c) const {
    return data_[(r - row_lo_) * stride_ + (c - col_lo_)];
  }
  // First element of row r (column col_lo).
  T* row(long r) { return data_.get() + (r - row_lo_) * stride_; }
  const T* row(long r) const { return data_.get() + (r - row_lo_) * stride_; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  bool shares_with(const Matrix& other) const { return data_ && data_ == other.data_; }

 private:
  std::shared_ptr<T[]> data_;
  long row_lo_ = 0, row_hi_ = -1, col_lo_ = 0, col_hi_ = -1, stride_ = 0;
};

}  // namespace tarvik
