#include "io/picture.h"

namespace qv {

Outcome LoadPictureToPixels(PictureLoader* loader, const std::string& path, Plane<int32_t>& pixels) {
  pixels.Redim(0, 0);
  Plane<int32_t> decoded;
  if (!loader || !loader->Load(path, decoded) || decoded.Empty())
    return Outcome::Failure(PictureFailureText(loader, path));
  pixels = std::move(decoded);
  return Outcome::Success();
}

std::string PictureFailureText(const PictureLoader* loader, const std::string& path) {
  const std::string why = loader ? loader->failure : std::string();
  return "image illisible" + (why.empty() ? std::string() : " (" + why + ")") + " : " + path;
}

}  // namespace qv
