// 16-bit FITS output of the current image or of the stacked destination.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/session.h"

namespace qv {

// The image a writer stores, and the value of each of its samples: the rule
// the FITS and TIFF writers share.
class SavedImage {
 public:
  // The current image (fromDestination false) or the destination; one
  // plane when the Mono option is set, else three. Raises a subscript error
  // when the planes to store are missing or differ in size.
  SavedImage(const Session& s, bool fromDestination);
  int Width() const { return w_; }
  int Height() const { return h_; }
  int Planes() const { return planes_; }
  // Plane p (0 red, 1 green, 2 blue) at (x, y): the integer sample, or the
  // destination's sum / weight where the weight is above 0, else the weight
  // itself (so an uncovered pixel gives 0). Not yet limited to 0..65535.
  float Value(int p, int x, int y) const {
    if (!destination_) return static_cast<float>((*pic_[p])(x, y));
    const float w = (*weight_[p])(x, y);
    return w > 0 ? (*sum_[p])(x, y) / w : w;
  }

 private:
  bool destination_;
  int w_, h_, planes_;
  const Plane<int32_t>* pic_[3];
  const Plane<float>* sum_[3];
  const Plane<float>* weight_[3];
};

// Writes the current image (FromDestination false) or the destination,
// sum / weight (true), as 16-bit FITS with BZERO 32768: one plane when the
// Mono option is set, else three. Returns 0, or the number of the error met
// when the file could not be written (an existing file is then untouched).
int16_t WriteFitsFile(Session& s, const std::string& FileName, bool& FromDestination);

// The 2880-byte header and the data bytes, as the file holds them.
struct FitsImage {
  std::vector<uint8_t> header;
  std::vector<uint8_t> data;  // padded to a multiple of 2880 bytes
};
FitsImage BuildFitsImage(const Session& s, bool fromDestination);

}  // namespace qv
