// A 2-D array indexed (x, y) from 0, x varying fastest so that one file row
// is contiguous. Sizes are kept as upper bounds (W - 1, H - 1); an empty
// plane has upper bounds -1.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "core/big_buffer.h"
#include "core/numeric.h"

namespace qv {

template <class T>
class Plane {
 public:
  Plane() = default;
  Plane(int ub1, int ub2) { Redim(ub1, ub2); }

  // Re-dimension to (0..ub1, 0..ub2) with every element 0.
  void Redim(int ub1, int ub2) {
    CheckBounds(ub1, ub2);
    // The same number of elements keeps the storage: clearing memory that is
    // already mapped costs far less than mapping it afresh, and a run
    // re-dimensions its planes to the same size image after image.
    if (Count(ub1, ub2) == data_.size()) {
      std::fill(data_.begin(), data_.end(), T{});
      ub1_ = ub1;
      ub2_ = ub2;
      return;
    }
    Storage fresh;
    Allocate(fresh, Count(ub1, ub2));
    data_.swap(fresh);
    ub1_ = ub1;
    ub2_ = ub2;
  }

  // Re-dimension for a caller that writes every element before anything
  // reads them, or clears those it does not reach: storage of the same
  // number of elements is kept as it is rather than cleared first.
  void RedimToOverwrite(int ub1, int ub2) {
    CheckBounds(ub1, ub2);
    if (Count(ub1, ub2) != data_.size()) {
      Redim(ub1, ub2);
      return;
    }
    ub1_ = ub1;
    ub2_ = ub2;
  }

  // Release the storage; the plane becomes empty.
  void Erase() {
    Storage().swap(data_);
    ub1_ = ub2_ = -1;
  }

  int UBound1() const { return ub1_; }
  int UBound2() const { return ub2_; }
  int Width() const { return ub1_ + 1; }
  int Height() const { return ub2_ + 1; }
  bool Empty() const { return data_.empty(); }
  size_t Size() const { return data_.size(); }
  // True when the plane is dimensioned as W x H.
  bool HasSize(int w, int h) const { return !Empty() && Width() == w && Height() == h; }

  T& operator()(int x, int y) { return data_[static_cast<size_t>(y) * Width() + x]; }
  const T& operator()(int x, int y) const { return data_[static_cast<size_t>(y) * Width() + x]; }

  // Bounds-checked access: a subscript outside the plane is a run-time error.
  T& At(int x, int y) {
    if (x < 0 || y < 0 || x > ub1_ || y > ub2_) Raise(kErrSubscript);
    return (*this)(x, y);
  }
  const T& At(int x, int y) const { return const_cast<Plane*>(this)->At(x, y); }

  T* Row(int y) { return data_.data() + static_cast<size_t>(y) * Width(); }
  const T* Row(int y) const { return data_.data() + static_cast<size_t>(y) * Width(); }
  T* Data() { return data_.data(); }
  const T* Data() const { return data_.data(); }

  void Fill(T v) { std::fill(data_.begin(), data_.end(), v); }
  bool operator==(const Plane& o) const { return ub1_ == o.ub1_ && ub2_ == o.ub2_ && data_ == o.data_; }

 private:
  static void CheckBounds(int ub1, int ub2) {
    if (ub1 < 0 || ub2 < 0) Raise(kErrSubscript);
  }
  static size_t Count(int ub1, int ub2) { return (static_cast<size_t>(ub1) + 1) * (static_cast<size_t>(ub2) + 1); }
  using Storage = std::vector<T, BigAllocator<T>>;
  static void Allocate(Storage& v, size_t n) {
    try {
      v.assign(n, T{});
    } catch (const std::bad_alloc&) {
      Raise(kErrOutOfMemory);
    } catch (const std::length_error&) {
      Raise(kErrOutOfMemory);
    }
  }

  Storage data_;
  int ub1_ = -1, ub2_ = -1;
};

}  // namespace qv
