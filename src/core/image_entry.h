// One slot of the image list: the header fields the readers fill and the
// registration marks the user and the tracking place. Kept apart from the
// session so that the readers can fill an entry without knowing the rest
// of the program's state.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Registration bits of ImgRegFlags: the guide star changes on this image
// (the new star at ImgRefX/Y); the guide star is searched at the image's own
// ImgGuideX/Y instead of where the previous image left it.
inline constexpr uint8_t kNewRef = 1;
inline constexpr uint8_t kNewPos = 2;

// Who put a position pair of an entry there. The tracking fills an empty
// pair from wherever the last search ended, which may be empty sky: only a
// pair that someone chose says where a star is. A project does not record
// the difference, so its non-zero pairs come back as `Loaded`.
enum class PairOrigin : uint8_t { Inherited, Placed, Loaded };

// One slot of the image list. Slot 0 is used while a master file is read.
struct ImageEntry {
  // Header fields, filled by the readers.
  std::string ImgFile;
  int16_t ImgNaxis = 0;
  int16_t ImgNaxis1 = 0;
  int16_t ImgNaxis2 = 0;
  int16_t ImgNaxis3 = 0;
  int32_t ImgBzero = 0;
  uint8_t ImgFlags = 0;
  int16_t ImgBitpix = 0;   // 0: header not read yet
  int32_t ImgDataPos = 0;  // 1-based position of the first data byte
  // Measurement and registration fields; positions are fractions of the
  // processed image's upper bounds.
  double ImgGuideX = 0, ImgGuideY = 0;
  double ImgRefX = 0, ImgRefY = 0;
  uint8_t ImgRot = 0;
  double ImgRotX = 0, ImgRotY = 0;
  uint8_t ImgNewRot = 0;
  double ImgNewRotX = 0, ImgNewRotY = 0;
  double ImgShiftX = 0, ImgShiftY = 0;
  double ImgAngle = 0;
  uint8_t ImgRegFlags = 0;
  uint8_t ImgChecked = 0;
  std::string ImgZone;
  // Origins of the guide and reference pairs; not saved in projects.
  PairOrigin GuideOrigin = PairOrigin::Inherited, RefOrigin = PairOrigin::Inherited;
};

}  // namespace qv
