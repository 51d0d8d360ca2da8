// Defect cleaning of the current image: hot pixels found by calculation are
// blanked (set to 0), and blank pixels are filled from their neighbours.
#pragma once

#include "core/session.h"

namespace qv {

// Finds pixels brighter than all four diagonal neighbours by more than a
// threshold that grows with the neighbourhood's brightness, and blanks them
// with a square of radius CalcSize - 1. Clamps opt.CalcThr to 50..10000 and
// keeps the clamped value.
void RemoveHotPixels(Session& s);

// Replaces blank pixels by the mean of their non-blank direct neighbours, in
// passes over four interleaved sub-grids, at most 10 passes. Only the planes
// whose has-data flag is set are filled. Yields after each sub-grid row.
void FillEmpty(Session& s);

}  // namespace qv
