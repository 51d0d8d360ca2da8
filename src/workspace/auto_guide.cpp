#include "workspace/auto_guide.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "process/process_pic.h"
#include "workspace/image_list.h"

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
  // On an image that takes a new reference, showing it checks "Nouvelle
  // référence" and a click then places the reference star; without that,
  // the reference inherited when the image was first shown would win over
  // the position given here.
  if (e.ImgRegFlags & kNewRef) {
    e.ImgRefX = e.ImgGuideX;
    e.ImgRefY = e.ImgGuideY;
  }
  return true;
}

bool AutoGuideStar(Session& s, double& bestX, double& bestY) {
  if (s.ImageCount() < 1 || !ProcessPic(s, 1, 1)) return false;
  const int w = s.pic.PicR.Width(), h = s.pic.PicR.Height();
  std::vector<int64_t> in(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      in[static_cast<size_t>(y) * w + x] = int64_t{s.pic.PicR(x, y)} + s.pic.PicG(x, y) + s.pic.PicB(x, y);
    }
  auto I = [&](int x, int y) { return in[static_cast<size_t>(y) * w + x]; };
  std::vector<int64_t> sample;
  for (size_t k = 0; k < in.size(); k += 7) sample.push_back(in[k]);
  std::nth_element(sample.begin(), sample.begin() + sample.size() / 2, sample.end());
  const double sky = static_cast<double>(sample[sample.size() / 2]);
  for (auto& v : sample) v = static_cast<int64_t>(std::fabs(v - sky));
  std::nth_element(sample.begin(), sample.begin() + sample.size() / 2, sample.end());
  const double noise = std::max(1.0, 1.4826 * static_cast<double>(sample[sample.size() / 2]));
  const int32_t fullScale = s.Img[1].ImgBitpix == 8 ? 2040 : 65535;
  const int box = (s.guide.GuideBox >= 32 && s.guide.GuideBox < 128) ? s.guide.GuideBox : 32;
  const int margin = box + 2;

  struct Peak {
    int x, y;
    double p;
  };
  std::vector<Peak> peaks;
  for (int y = 2; y < h - 2; ++y)
    for (int x = 2; x < w - 2; ++x) {
      const int64_t v = I(x, y);
      if (v - sky < 20 * noise) continue;
      bool isMax = true;
      for (int dy = -2; dy <= 2 && isMax; ++dy)
        for (int dx = -2; dx <= 2 && isMax; ++dx)
          if ((dx || dy) && (I(x + dx, y + dy) > v || (I(x + dx, y + dy) == v && (dy < 0 || (dy == 0 && dx < 0)))))
            isMax = false;
      if (isMax) peaks.push_back({x, y, v - sky});
    }
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, dmax = std::hypot(cx, cy);
  double bestScore = -1;
  for (const Peak& c : peaks) {
    if (c.x < margin || c.y < margin || c.x > w - 1 - margin || c.y > h - 1 - margin) continue;
    bool ok = true;
    for (int dy = -3; dy <= 3 && ok; ++dy)
      for (int dx = -3; dx <= 3 && ok; ++dx) {
        const int x = c.x + dx, y = c.y + dy;
        ok = s.pic.PicR(x, y) < 0.9 * fullScale && s.pic.PicG(x, y) < 0.9 * fullScale && s.pic.PicB(x, y) < 0.9 * fullScale;
      }
    const int nx[4] = {-1, 1, 0, 0}, ny[4] = {0, 0, -1, 1};
    for (int k = 0; k < 4 && ok; ++k) ok = I(c.x + nx[k], c.y + ny[k]) - sky >= 0.3 * c.p;
    for (const Peak& o : peaks) {
      if (!ok) break;
      if (&o == &c) continue;
      if (std::hypot(o.x - c.x, o.y - c.y) <= box && o.p > 0.25 * c.p) ok = false;
    }
    if (!ok) continue;
    const double score = c.p * (1 - 0.7 * std::hypot(c.x - cx, c.y - cy) / dmax);
    if (score > bestScore) {
      bestScore = score;
      bestX = c.x;
      bestY = c.y;
    }
  }
  return bestScore >= 0;
}

}  // namespace qv
