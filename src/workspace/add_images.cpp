#include "workspace/add_images.h"

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
  // While the thumbnails are made the picture is empty: the line says why.
  f.StatusText = "Ajout des images en cours";
  Populate(f, first, true);
  ForgetReport(f);  // the line too
  // A file that gave no thumbnail stays in the list and would add the
  // pixels of the frame before it to a run: the status bar says so at once,
  // with what kept the first of them out, and the report names them all.
  const std::vector<UnreadableImage>& bad = f.LastOpening.unreadable;
  if (bad.empty()) {
    // A window opened on one image shows it without a guide star ("Aucun"):
    // a night added to it would be stacked unaligned, which is said now
    // rather than after the run.
    if (f.s.guide.GuideBox >= 128 && f.s.ImageCount() >= 2)
      f.StatusText =
          "Référence « Aucun » : les images seront empilées sans être alignées ni triées par qualité ; choisissez "
          "« 32 x 32 » et cliquez sur une étoile brillante";
    else
      f.StatusText = Counted(f.s.ImageCount() - first + 1, "image ajoutée", "images ajoutées") +
                     (first > 1 ? " ; " + Counted(f.s.ImageCount(), "image", "images") + " dans la liste" : "");
    return;
  }
  // A file read whole but of another size than the first image is not
  // called unreadable: it is of no use to this list.
  int unreadable = 0, unusable = 0, missing = 0;
  for (const UnreadableImage& u : bad) ++(!u.found ? missing : ReadButUnusable(u.why) ? unusable : unreadable);
  std::string counts;
  auto add = [&counts](int n, const char* one, const char* many) {
    if (n > 0) counts += (counts.empty() ? "" : ", ") + Counted(n, one, many);
  };
  add(unreadable, "image ajoutée illisible", "images ajoutées illisibles");
  add(unusable, "image ajoutée inutilisable", "images ajoutées inutilisables");
  add(missing, "image ajoutée introuvable", "images ajoutées introuvables");
  // The words name the file by its path, which the note gives by name.
  const std::string& path = f.s.Entry(bad.front().image).ImgFile;
  const std::string why = WithoutPath(bad.front().why, path);
  f.StatusText = counts + " (" + PathName(path) + (bad.size() > 1 ? ", …" : "") + ")" +
                 (why.empty() ? "" : " : " + why) +
                 (bad.size() > 1 ? " ; décochez-les — voir Rapport" : " ; décochez-la — voir Rapport");
}

}  // namespace qv
