#include "workspace/add_images.h"

#include <algorithm>

#include "core/paths.h"
#include "process/image_files.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

void mnuLoad_Click(Form1& f, std::vector<std::string> parts) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  if (parts.empty() || parts[0].empty()) return;
  size_t m = parts.size() - 1;
  if (m >= 1) {
    // Plain character-code order, upper case before lower case.
    std::sort(parts.begin() + 1, parts.end());
  } else {
    const std::string path = parts[0];
    parts = {PathFolder(path), PathName(path)};
    m = 1;
  }
  if (parts[0].empty() || (parts[0].back() != '/' && parts[0].back() != '\\')) parts[0] += '/';
  s.opt.InitDir = parts[0];

  int base = s.ImageCount();
  if (base < 1) {
    s.ResizeImageArrays(0);
    s.ResizeImageArrays(1);
    s.Img[1] = ImageEntry{};
    s.Img[1].ImgFile = parts[0] + parts[1];
    ReadHeader(s, 1);
    base = 0;
  }
  int c = 0;
  for (size_t i = 1; i <= m; ++i) {
    if (s.opt.Has(ColourOnly) && PathName(parts[i]).find('L') != std::string::npos) continue;
    ++c;
    const int at = base + c;
    s.ResizeImageArrays(std::max(at, s.ImageCount()));
    s.Img[static_cast<size_t>(at)].ImgFile = parts[0] + parts[i];
    if (at >= 2 && s.opt.Has(GradRemove) && !s.Img[static_cast<size_t>(at - 1)].ImgZone.empty())
      s.Img[static_cast<size_t>(at)].ImgZone = s.Img[static_cast<size_t>(at - 1)].ImgZone;
  }
  Populate(f, base + 1, true);
  ForgetReport(f);
}

}  // namespace qv
