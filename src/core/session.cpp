#include "core/session.h"

namespace qv {

Session::Session(Platform p) : platform(p) {
  Img.resize(1);
  pic.PicPixels.Redim(0, 0);
}

void Session::ResizeImageArrays(int n) {
  if (n < 0) Raise(kErrSubscript);
  Img.resize(static_cast<size_t>(n) + 1);
}

ImageEntry& Session::Entry(int index) {
  if (index < 0 || index >= static_cast<int>(Img.size())) Raise(kErrSubscript);
  return Img[static_cast<size_t>(index)];
}

}  // namespace qv
