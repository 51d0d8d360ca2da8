#include "workspace/add_images.h"

#include <algorithm>

#include "core/paths.h"
#include "io/tiff_reader.h"
#include "stack/frames.h"
#include "stack/stacking.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

void mnuLoad_Click(Form1& f, std::vector<std::string> parts) {
  if (!Form1Idle(f)) return;
  const int first = AddImages(f.s, std::move(parts));
  if (first == 0) return;
  Populate(f, first, true);
  ForgetReport(f);
  // A file whose header could not be read stays in the list, unread, and
  // would add the pixels of the frame before it to a run: the status bar
  // says so at once, with what keeps the first of them out.
  int unread = 0;
  std::string firstUnread;
  for (int i = first; i <= f.s.ImageCount(); ++i) {
    const ImageEntry& e = f.s.Img[static_cast<size_t>(i)];
    if (e.ImgBitpix != 0) continue;
    if (unread++ == 0) firstUnread = e.ImgFile;
  }
  if (unread > 0) {
    const std::string why = FileKind(firstUnread) == "tif" ? TiffHeaderProblem(firstUnread) : std::string();
    f.StatusText = Counted(unread, "image ajoutée illisible", "images ajoutées illisibles") + " (" +
                   PathName(firstUnread) + (unread > 1 ? ", …" : "") + ")" + (why.empty() ? "" : " : " + why) +
                   (unread > 1 ? " ; décochez-les" : " ; décochez-la");
  }
}

}  // namespace qv
