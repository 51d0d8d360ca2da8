#include "stack/auto_guide.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "process/process_pic.h"
#include "stack/auto_marks.h"
#include "stack/star_match.h"

namespace qv {

namespace {

bool ProcessedAs(Session& s, int i) {
  if (s.CurPic == i && !s.pic.PicR.Empty() && s.pic.PicR.Width() > 1) return true;
  return ProcessPic(s, i, 1).ok;
}

}  // namespace

bool SetGuideStar(Session& s, int i, double x, double y) {
  if (i < 1 || i > s.ImageCount() || !ProcessedAs(s, i)) return false;
  const int u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
  if (u1 < 1 || u2 < 1 || x < 0 || y < 0 || x > u1 || y > u2) return false;
  ImageEntry& e = s.Img[static_cast<size_t>(i)];
  e.ImgGuideX = RoundHalfEven(x) / u1;
  e.ImgGuideY = RoundHalfEven(y) / u2;
  e.GuideOrigin = PairOrigin::Placed;
  // On an image that takes a new reference, showing it checks "Nouvelle
  // référence" and a click then places the reference star; without that,
  // the reference inherited when the image was first shown would win over
  // the position given here.
  if (e.ImgRegFlags & kNewRef) {
    e.ImgRefX = e.ImgGuideX;
    e.ImgRefY = e.ImgGuideY;
    e.RefOrigin = PairOrigin::Placed;
  }
  return true;
}

StarField GuideCandidates(const Session& s, int image) {
  return DetectStars(s.pic.PicR, s.pic.PicG, s.pic.PicB, FullScaleOf(s, image), 5, 2000);
}

std::string UnreadableImageWords(int image, const Outcome& read) {
  return "l'image " + std::to_string(image) + " est illisible" + (read.why.empty() ? "" : " : " + read.why);
}

Outcome AutoGuideStar(Session& s, double& x, double& y, int image) {
  if (image < 1 || image > s.ImageCount()) return Outcome::Failure(UnreadableImageWords(image, Outcome::Success()));
  if (const Outcome read = ProcessPic(s, image, 1); !read) return Outcome::Failure(UnreadableImageWords(image, read));
  return ChooseGuideStar(GuideCandidates(s, image), s.guide.GuideBox, x, y);
}

Outcome ChooseGuideStar(const StarField& field, int guideBox, double& bestX, double& bestY) {
  auto fail = [](const std::string& reason) { return Outcome::Failure(reason); };
  const int w = field.width, h = field.height;
  if (field.stars.empty())
    return fail("aucune étoile ne dépasse le bruit du fond (" + std::to_string(static_cast<long>(field.sky.noise)) +
                ")");
  const int box = (guideBox >= 32 && guideBox < 128) ? guideBox : 32;
  // The template is taken centred on the star: it must lie inside the image.
  const int margin = static_cast<int>(RoundHalfEven(box / 2.0)) + 2;
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, dmax = std::hypot(cx, cy);
  int hot = 0, clipped = 0, faint = 0, edge = 0, crowded = 0;
  for (const double crowding : {0.25, 0.5, 1.0}) {
    hot = clipped = faint = edge = crowded = 0;
    double bestScore = -1;
    for (const StarSpot& c : field.stars) {
      if (c.hot) {
        ++hot;
        continue;
      }
      if (c.saturated) {
        ++clipped;
        continue;
      }
      if (c.peak < 15 * field.sky.noise) {
        ++faint;
        continue;
      }
      if (c.px < margin || c.py < margin || c.px > w - 1 - margin || c.py > h - 1 - margin) {
        ++edge;
        continue;
      }
      bool alone = true;
      for (const StarSpot& o : field.stars)
        if (&o != &c && std::hypot(o.x - c.x, o.y - c.y) <= box && o.peak > crowding * c.peak) {
          alone = false;
          break;
        }
      if (!alone) {
        ++crowded;
        continue;
      }
      const double score = c.peak * (1 - 0.7 * std::hypot(c.px - cx, c.py - cy) / dmax);
      if (score > bestScore) {
        bestScore = score;
        bestX = c.px;
        bestY = c.py;
      }
    }
    if (bestScore >= 0) return Outcome::Success();
  }
  std::string reason = std::to_string(field.stars.size()) + " étoile(s) trouvée(s)";
  const std::pair<int, const char*> parts[] = {{clipped, " saturée(s)"},
                                               {edge, " trop près du bord"},
                                               {faint, " trop faible(s)"},
                                               {crowded, " trop entourée(s)"},
                                               {hot, " pixel(s) chaud(s)"}};
  std::string list;
  for (const auto& [count, what] : parts)
    if (count) list += (list.empty() ? "" : ", ") + std::to_string(count) + what;
  return fail(reason + (list.empty() ? "" : " : " + list));
}

}  // namespace qv
