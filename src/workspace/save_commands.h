// The main window's and the editor's save commands, and the batch TIFF
// conversion of the image list.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/plane.h"
#include "core/session.h"
#include "io/picture_export.h"
#include "workspace/form1.h"
#include "workspace/project.h"

namespace qv {

// The save dialog of both windows: its title, default extension and filter
// entries (description, pattern) in order.
struct SaveDialogParams {
  std::string title = "Enregistrer l'image sous ...";
  std::string defaultExtension = "BMP";
  std::vector<std::pair<std::string, std::string>> filter{{"Image Astro (FTS)", "*.fts"},
                                                          {"Image TIFF (TIF)", "*.tif"},
                                                          {"Image JPEG (JPG)", "*.jpg"},
                                                          {"Image Bitmap (BMP)", "*.bmp"}};
  std::string initialName;
  std::string writableFolder;  // see FileDialogRequest
  bool preferWritableFolder = false;
  // The same, as the platform's save dialog takes it.
  FileDialogRequest Request() const {
    FileDialogRequest r;
    r.title = title;
    r.defaultExt = defaultExtension;
    r.initialFile = initialName;
    r.writableFolder = writableFolder;
    r.preferWritableFolder = preferWritableFolder;
    if (!filter.empty()) {
      r.filterDescription = filter.front().first;
      r.pattern = filter.front().second;
      r.moreFilters.assign(filter.begin() + 1, filter.end());
    }
    return r;
  }
};
// Main window "Enregistrer l'image ...": the dialog starts from the selected
// image's name less its extension; the save does nothing while the window is
// busy or an operation runs (nor for a cancelled, empty name). In both
// windows the name to save is SavedName of the dialog's answer: a name
// typed without extension takes the selected filter's, which then chooses
// the writer. The main window's status bar then gives SaveNote.
SaveDialogParams MainSaveDialog(const Session& s);
int SaveMainImageAs(Form1& f, const std::string& chosenName, const Plane<int32_t>& shown);
// Editor "Enregistrer": the dialog starts from DestFileName less its
// extension; a confirmed name becomes DestFileName before the destination
// is written. Where DestFileName's folder cannot be written (the program's
// own folder once it is installed), or no output folder is set (the name
// then lies at the root), the platform's dialog opens on the same name in
// the folder of list image 1 when that one can be written.
SaveDialogParams EditorSaveDialog(const Session& s);
int SaveDestinationAs(Session& s, const std::string& chosenName, const Plane<int32_t>& shown);

// What a save of the result did, in words for the status bar: the file
// written (a JPEG or BMP with its size, as it is the picture shown), or
// that it could not be, and how to get one plane when the three written are
// the same.
std::string SaveNote(const Session& s, const std::string& name, int err, bool fromDestination,
                     const Plane<int32_t>& shown);

// "Enregistrer toutes les images en TIFF": every list image whose name has
// a ".f" and whose TIFF name is not taken is selected, processed and
// written as TIFF; the status label counts them. Runs in the running state
// and stops at the user's stop. Returns the number of images converted.
int SaveAllTiff(Form1& f);

// "Entête FITS": while the debug window is not checked, nothing runs and an
// image is selected, the cards of the selected FITS file are added to the
// debug window's lines; the view returned carries them and the caption of
// the window to show modal (shown false: nothing to show).
FitsHeaderView mnuFITS_Click(Form1& f);

}  // namespace qv
