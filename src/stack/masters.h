// The calibration masters: flat, dark and hot-pixel mask, built from their
// files through the per-image pipeline.
#pragma once

#include "core/session.h"

namespace qv {

// Rebuilds FlatPic / FlatMean, DarkR/G/B and HotMask from FlatFile,
// DarkFile and MaskFile.
void BuildMasters(Session& s);

}  // namespace qv
