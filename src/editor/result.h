// A saved result read back into the destination accumulator, so that it can
// be rendered and edited again without stacking.
#pragma once

#include <string>

#include "core/outcome.h"

namespace qv {

class Session;

// Reads a FITS or TIFF image as it stands (no calibration, no cleaning, no
// plane routing by name) and makes it the destination: each plane's value
// becomes the sum, with weight 1 wherever the value is above 0 and 0
// elsewhere; then the destination histogram is measured. Fails, saying
// why, when the file cannot be read.
Outcome LoadResult(Session& s, const std::string& path);

}  // namespace qv
