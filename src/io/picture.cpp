#include "io/picture.h"

namespace qv {

bool LoadPictureToPixels(Session& s, const std::string& path) {
  s.pic.PicPixels.Redim(0, 0);
  if (!s.platform.loader) return false;
  Plane<int32_t> pixels;
  if (!s.platform.loader->Load(path, pixels) || pixels.Empty()) return false;
  s.pic.PicPixels = std::move(pixels);
  return true;
}

std::string PictureFailureText(const Session& s, const std::string& path) {
  const std::string why = s.platform.loader ? s.platform.loader->failure : std::string();
  return "image illisible" + (why.empty() ? std::string() : " (" + why + ")") + " : " + path;
}

}  // namespace qv
