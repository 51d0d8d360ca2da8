// Raster pictures (BMP, JPEG, ...) decoded through the platform loader.
#pragma once

#include <string>

#include "core/session.h"

namespace qv {

// Decodes the picture into PicPixels (0x00RRGGBB, y 0 at the top); false
// when it cannot be decoded, PicPixels then holds a single element.
bool LoadPictureToPixels(Session& s, const std::string& path);

// The message for a picture LoadPictureToPixels could not decode, with the
// loader's reason when it gave one.
std::string PictureFailureText(const Session& s, const std::string& path);

}  // namespace qv
