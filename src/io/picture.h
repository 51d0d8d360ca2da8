// Raster pictures (BMP, JPEG, ...) decoded through the platform loader.
#pragma once

#include <string>

#include "core/outcome.h"
#include "core/plane.h"
#include "platform/platform.h"

namespace qv {

// Decodes the picture through `loader` into `pixels` (0x00RRGGBB, y 0 at
// the top). Fails when it cannot be decoded or there is no loader, saying so
// as PictureFailureText does; `pixels` then holds a single element.
Outcome LoadPictureToPixels(PictureLoader* loader, const std::string& path, Plane<int32_t>& pixels);

// The message for a picture LoadPictureToPixels could not decode, with the
// loader's reason when it gave one.
std::string PictureFailureText(const PictureLoader* loader, const std::string& path);

}  // namespace qv
