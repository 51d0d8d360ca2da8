#include "workspace/save_commands.h"

#include <filesystem>
#include <system_error>

#include "core/error_words.h"
#include "core/paths.h"
#include "io/picture_export.h"
#include "process/image_files.h"
#include "stack/frames.h"
#include "workspace/form1.h"
#include "workspace/select_pic.h"

namespace qv {

SaveDialogParams MainSaveDialog(const Session& s) {
  SaveDialogParams p;
  if (s.CurPic >= 1 && s.CurPic <= s.ImageCount())
    p.initialName = SaveDialogInitialName(s.Img[static_cast<size_t>(s.CurPic)].ImgFile);
  return p;
}

int SaveMainImageAs(Form1& f, const std::string& chosenName, const Plane<int32_t>& shown) {
  Session& s = f.s;
  if (!Form1Idle(f) || chosenName.empty()) return 0;
  const int err = SaveImageAs(s, chosenName, shown, false);
  // The status bar says what became of the file, as the editor's save does:
  // a picture that could not be written must not pass for saved.
  f.StatusText = SaveNote(s, chosenName, err, false, shown);
  return err;
}

SaveDialogParams EditorSaveDialog(const Session& s) {
  SaveDialogParams p;
  p.initialName = SaveDialogInitialName(s.dest.DestFileName);
  if (s.ImageCount() >= 1) p.writableFolder = PathFolder(s.Img[1].ImgFile);
  p.preferWritableFolder = s.opt.OutDir.empty();
  return p;
}

int SaveDestinationAs(Session& s, const std::string& chosenName, const Plane<int32_t>& shown) {
  if (chosenName.empty()) return 0;
  s.dest.DestFileName = chosenName;
  return SaveImageAs(s, chosenName, shown, true);
}

std::string SaveNote(const Session& s, const std::string& name, int err, bool fromDestination,
                     const Plane<int32_t>& shown) {
  if (err != 0) {
    // The same refusal stands for a protected folder and a missing one:
    // a missing one is named as such.
    const std::string folder = PathFolder(name);
    std::error_code ec;
    if (err == kErrPathAccess && !folder.empty() &&
        std::filesystem::status(folder, ec).type() == std::filesystem::file_type::not_found)
      return "Enregistrement impossible : le dossier " + folder + " n'existe pas ; créez-le ou choisissez-en un autre";
    return "Enregistrement impossible : " + ErrorWords(err, name, FileTask::Write);
  }
  std::string note = "Enregistré : " + name;
  // A JPEG or BMP is the picture as shown, at the zoom of the moment: its
  // size says whether that was the whole image.
  const PictureWriter writer = WriterForName(name);
  if (writer == PictureWriter::Jpeg || writer == PictureWriter::Bmp)
    note += " (" + std::to_string(shown.Width()) + " x " + std::to_string(shown.Height()) +
            " pixels : l'image telle qu'affichée, à son zoom)";
  // The end of the name chooses the format: "photo.jpeg" is a FITS file,
  // which an image viewer will not open.
  const std::string kind = FileKind(name);  // ".fits" gives "fit"
  if (writer == PictureWriter::Fits && kind != "fts" && kind != "fit")
    note +=
        " (au format FITS : la fin du nom choisit le format, « .tif », « .jpg » ou « .bmp », et tout autre nom "
        "donne un fichier FITS)";
  if (ThreeIdenticalPlanes(s, name, fromDestination))
    note +=
        " ; images à un seul plan : trois plans identiques écrits, cochez « Monochrome » dans « Options » "
        "pour n'en écrire qu'un";
  return note;
}

int SaveAllTiff(Form1& f) {
  if (!Form1Idle(f)) return 0;
  // Each image is selected as a click selects it, so the window shows it.
  SelectionShown shown(f);
  // The user hears what was written, and why the others were not: a TIFF
  // already beside its image is left as it is.
  int written = 0, present = 0;
  const int tried = SaveListAsTiff(
      f.s, shown,
      [&f, &written](const std::string& tiff, int count, int n) {
        ++written;
        f.Label6 = tiff + "\r\n" + std::to_string(count) + "/" + std::to_string(n);
      },
      &present);
  f.StatusText = "TIFF : " + Counted(written, "image enregistrée", "images enregistrées");
  // Where they went: nothing else says it.
  if (written > 0)
    f.StatusText +=
        std::string(written > 1 ? " à côté de leur image" : " à côté de son image") + " (même nom, en « .tif »)";
  if (present > 0)
    f.StatusText += " ; " + Counted(present, "déjà présente à côté de son image, laissée telle quelle",
                                    "déjà présentes à côté de leur image, laissées telles quelles");
  if (tried > written)
    f.StatusText += " ; " + Counted(tried - written, "non écrite", "non écrites") +
                    " (dossier protégé en écriture ou disque plein ?)";
  return tried;
}

FitsHeaderView mnuFITS_Click(Form1& f) {
  Session& s = f.s;
  if (f.mnuDebug || s.RunState != kIdle || f.Busy || s.CurPic == 0 || s.CurPic > s.ImageCount()) return {};
  FitsHeaderView view = ReadFitsHeaderView(s.Entry(s.CurPic).ImgFile);
  // The log window opens afresh for the header: its list holds these cards.
  if (view.shown) f.DebugLog = view.lines;
  return view;
}

}  // namespace qv
