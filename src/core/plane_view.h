// A non-owning view of a rectangle of pixels: a pointer to its first pixel,
// its width and height, and the pitch (elements from one row to the next).
// A kernel that takes views works on a whole plane or on any rectangle of
// one, without copies; a view never outlives the plane it looks into, and
// re-dimensioning that plane invalidates it.
#pragma once

#include <cassert>
#include <cstddef>
#include <type_traits>

#include "core/plane.h"

namespace qv {

template <class T>
class PlaneView {
 public:
  using Value = std::remove_const_t<T>;

  PlaneView() = default;
  PlaneView(T* data, int width, int height, ptrdiff_t pitch)
      : data_(data), width_(width), height_(height), pitch_(pitch) {}
  // The whole plane. A const plane gives only a view of const pixels.
  PlaneView(Plane<Value>& p) : PlaneView(p.Data(), p.Width(), p.Height(), p.Width()) {}
  PlaneView(const Plane<Value>& p) requires std::is_const_v<T> : PlaneView(p.Data(), p.Width(), p.Height(), p.Width()) {
  }
  // A temporary plane would be gone before its view is used.
  PlaneView(Plane<Value>&&) = delete;
  // A view of pixels may be read through a view of const pixels.
  operator PlaneView<const Value>() const requires(!std::is_const_v<T>) { return {data_, width_, height_, pitch_}; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  // The upper bounds, as a plane gives them (-1 when empty).
  int UBound1() const { return width_ - 1; }
  int UBound2() const { return height_ - 1; }
  ptrdiff_t Pitch() const { return pitch_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  bool SameSize(int w, int h) const { return width_ == w && height_ == h; }

  T* Row(int y) const {
    assert(y >= 0 && y < height_);
    return data_ + y * pitch_;
  }
  T& operator()(int x, int y) const {
    assert(x >= 0 && x < width_);
    return Row(y)[x];
  }
  // The rectangle of w x h pixels whose top left pixel is (x, y); it must
  // lie inside this view.
  PlaneView Sub(int x, int y, int w, int h) const {
    assert(x >= 0 && y >= 0 && w >= 0 && h >= 0 && x + w <= width_ && y + h <= height_);
    return {data_ + y * pitch_ + x, w, h, pitch_};
  }

 private:
  T* data_ = nullptr;
  int width_ = 0, height_ = 0;
  ptrdiff_t pitch_ = 0;
};

template <class T>
using ConstPlaneView = PlaneView<const T>;

// Kernels over the three colour planes read them at the same positions:
// planes of different sizes are a subscript error, not a read past one.
template <class T>
void RequireSameSize(const PlaneView<T>& r, const PlaneView<T>& g, const PlaneView<T>& b) {
  if (!g.SameSize(r.Width(), r.Height()) || !b.SameSize(r.Width(), r.Height())) Raise(kErrSubscript);
}

}  // namespace qv
