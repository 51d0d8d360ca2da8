// 16-bit TIFF output of the current image or of the stacked destination.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/session.h"

namespace qv {

// Writes the current image (FromDestination false) or the destination,
// sum / weight (true), as an uncompressed 16-bit Intel-order TIFF with one
// strip: one sample when the Mono option is set, else red, green and blue.
// Returns 0, or the number of the error met when the file could not be
// written (an existing file is then untouched).
int16_t WriteTiffFile(Session& s, const std::string& FileName, bool& FromDestination);

// The whole file, as it is written.
std::vector<uint8_t> BuildTiffImage(const Session& s, bool fromDestination);

}  // namespace qv
