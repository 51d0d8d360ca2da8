// JPEG and BMP files of a rendered picture: 8 bits per channel, at the size
// at which the picture is shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/plane.h"

namespace qv {

// The bytes of a 24-bit BMP file of packed pixels (0x00RRGGBB, row 0 at the
// top): the 14-byte file header, the 40-byte info header, then the rows
// bottom-up, blue green red, each padded to a multiple of 4 bytes.
std::vector<uint8_t> BmpImage(const Plane<int32_t>& pixels);

// Writes BmpImage to `path`; an existing file is replaced only by a
// complete one. False when there is nothing to write or the write fails.
bool SavePictureAsBmp(const Plane<int32_t>& pixels, const std::string& path);

// A JPEG file of good quality through FreeImage, written the same way.
bool SaveJpeg(const Plane<int32_t>& pixels, const std::string& path);

}  // namespace qv
