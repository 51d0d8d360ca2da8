#include "workspace/add_images.h"

#include <algorithm>

#include "core/error_words.h"
#include "core/paths.h"
#include "stack/frames.h"
#include "stack/stacking.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

void mnuLoad_Click(Form1& f, std::vector<std::string> parts) {
  if (!Form1Idle(f)) return;
  const int first = AddImages(f.s, std::move(parts));
  if (first == 0) return;
  f.LastOpening = {};
  Populate(f, first, true);
  ForgetReport(f);
  // A file that gave no thumbnail stays in the list and would add the
  // pixels of the frame before it to a run: the status bar says so at once,
  // with what kept the first of them out, and the report names them all.
  const std::vector<UnreadableImage>& bad = f.LastOpening.unreadable;
  if (bad.empty()) return;
  const int found =
      static_cast<int>(std::count_if(bad.begin(), bad.end(), [](const UnreadableImage& u) { return u.found; }));
  const int missing = static_cast<int>(bad.size()) - found;
  std::string counts;
  if (found > 0) counts = Counted(found, "image ajoutée illisible", "images ajoutées illisibles");
  if (missing > 0)
    counts +=
        (counts.empty() ? "" : ", ") + Counted(missing, "image ajoutée introuvable", "images ajoutées introuvables");
  // The words name the file by its path, which the note gives by name.
  const std::string& path = f.s.Entry(bad.front().image).ImgFile;
  const std::string why = WithoutPath(bad.front().why, path);
  f.StatusText = counts + " (" + PathName(path) + (bad.size() > 1 ? ", …" : "") + ")" +
                 (why.empty() ? "" : " : " + why) +
                 (bad.size() > 1 ? " ; décochez-les — voir Rapport" : " ; décochez-la — voir Rapport");
}

}  // namespace qv
