#include "workspace/add_images.h"

#include <algorithm>

#include "core/paths.h"
#include "stack/frames.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

void mnuLoad_Click(Form1& f, std::vector<std::string> parts) {
  if (!Form1Idle(f)) return;
  const int first = AddImages(f.s, std::move(parts));
  if (first == 0) return;
  Populate(f, first, true);
  ForgetReport(f);
}

}  // namespace qv
