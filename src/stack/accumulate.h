// Placement of each accepted image in the destination canvas, and its
// temporary file.
#pragma once

#include <string>

#include "core/outcome.h"
#include "core/session.h"
#include "io/scratch_writer.h"

namespace qv {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kDegree = 0.0174532925199433;

// Direction of the vector (dx, dy) in [0, 2 pi).
double AngleOf(double& dy, double& dx);

// Rotates and places the current image (CurPic) and parks it in temporary
// file StackCount; fails when it was not parked. An image of another size
// than the first is left out without a reason; a run-time error ends it
// quietly and gives its number and words, with the temporary folder.
// With a writer, the file is written on the writer's thread while the
// caller goes on; the writer's outcome, once awaited, is the parking's.
Outcome AccumulateImage(Session& s, ScratchWriter* writer = nullptr);

// The name of temporary file k.
std::string TempFileName(const Session& s, int k);
// Deletes every temporary file of this program run.
void DeleteTempFiles(const Session& s);

}  // namespace qv
