// 16-bit FITS output of the current image or of the stacked destination.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/plane_view.h"

namespace qv {

// The planes a writer stores: the current image's three planes, or the
// destination's sums and weights (value sum / weight); one plane, the
// first, when `mono` is set, else three.
struct SavedPlanes {
  bool fromDestination = false;
  bool mono = false;
  ConstPlaneView<int32_t> pic[3];
  ConstPlaneView<float> sum[3], weight[3];

  static SavedPlanes Picture(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, bool mono);
  static SavedPlanes Destination(const Plane<float>& sumR, const Plane<float>& sumG, const Plane<float>& sumB,
                                 const Plane<float>& weightR, const Plane<float>& weightG, const Plane<float>& weightB,
                                 bool mono);
};

// The image a writer stores, and the value of each of its samples: the rule
// the FITS and TIFF writers share.
class SavedImage {
 public:
  // Raises a subscript error when the planes to store are missing or
  // differ in size; the size is that of the first plane (or sum).
  explicit SavedImage(const SavedPlanes& planes);
  int Width() const { return w_; }
  int Height() const { return h_; }
  int Planes() const { return planes_; }
  // Plane p (0 red, 1 green, 2 blue) at (x, y): the integer sample, or the
  // destination's sum / weight where the weight is above 0, else the weight
  // itself (so an uncovered pixel gives 0). Not yet limited to 0..65535.
  float Value(int p, int x, int y) const {
    const SavedPlanes& s = source_;
    if (!s.fromDestination) return static_cast<float>(s.pic[p](x, y));
    const float w = s.weight[p](x, y);
    return w > 0 ? s.sum[p](x, y) / w : w;
  }

 private:
  SavedPlanes source_;
  int w_, h_, planes_;
};

// Writes the planes as 16-bit FITS with BZERO 32768. Fails with the
// run-time error met when the file could not be written (an existing file
// is then untouched).
Outcome WriteFitsFile(const SavedPlanes& planes, const std::string& FileName);

// The 2880-byte header and the data bytes, as the file holds them.
struct FitsImage {
  std::vector<uint8_t> header;
  std::vector<uint8_t> data;  // padded to a multiple of 2880 bytes
};
FitsImage BuildFitsImage(const SavedPlanes& planes);

}  // namespace qv
