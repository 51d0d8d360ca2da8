// 16-bit FITS output of the current image or of the stacked destination.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/session.h"

namespace qv {

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
