// The calibration masters: flat, dark and hot-pixel mask, built from their
// files through the per-image pipeline.
#pragma once

#include "core/session.h"

namespace qv {

// Empties every master, then builds the flat (FlatApply), the dark
// (DarkSub) and the hot-pixel mask (HotMaskOn) from FlatFile, DarkFile and
// MaskFile, each in the running state. A file that cannot be processed
// leaves its master empty and the next one is built; a stop request or a
// run-time error ends the build where it is. Leaves the running state.
void BuildMasters(Session& s);

}  // namespace qv
