#include "io/picture.h"

namespace qv {

bool LoadPictureToPixels(PictureLoader* loader, const std::string& path, Plane<int32_t>& pixels) {
  pixels.Redim(0, 0);
  if (!loader) return false;
  Plane<int32_t> decoded;
  if (!loader->Load(path, decoded) || decoded.Empty()) return false;
  pixels = std::move(decoded);
  return true;
}

std::string PictureFailureText(const PictureLoader* loader, const std::string& path) {
  const std::string why = loader ? loader->failure : std::string();
  return "image illisible" + (why.empty() ? std::string() : " (" + why + ")") + " : " + path;
}

}  // namespace qv
