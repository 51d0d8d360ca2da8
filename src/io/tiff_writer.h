// 16-bit TIFF output of the current image or of the stacked destination.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "io/fits_writer.h"

namespace qv {

// Writes the planes as an uncompressed 16-bit Intel-order TIFF with one
// strip: one sample per pixel when they are mono, else red, green and blue.
// Fails with the run-time error met when the file could not be written (an
// existing file is then untouched).
Outcome WriteTiffFile(const SavedPlanes& planes, const std::string& FileName);
// The same for a file that must not replace another: a file of that name,
// there before or created during the write, stays, and the save fails with
// kErrFileAlreadyExists.
Outcome WriteNewTiffFile(const SavedPlanes& planes, const std::string& FileName);

// The whole file, as it is written.
std::vector<uint8_t> BuildTiffImage(const SavedPlanes& planes);

}  // namespace qv
