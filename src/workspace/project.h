// The project file from the main window: saving the list and settings the
// window holds, loading a project into them, and the menu commands. The
// file itself (its value, reader and writer) is project_file.h.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "workspace/form1.h"
#include "workspace/project_file.h"

namespace qv {

// The project of the window's list and settings: the session's options and
// entries, with "Etendre la mosaïque", the minimum quality as its box shows
// it (while the box holds no number, the value its handler last took), the
// guide box, and "Auto" and the slider of "Niveau".
Project ProjectOf(const Form1& f);

// Writes the project file of the current list and settings; on success the
// main window's current project becomes `path`. The file is written whole
// beside the target and then takes its name, so a failure never leaves a
// damaged project behind.
ProjectSave SaveProject(Form1& f, const std::string& path);

// Replaces the list and the settings of lines 2..16 by those of the file.
// Tagged files also set the master files and rebuild the masters before
// the image lines are read. Paths that no longer exist are retried in the
// project's own folder. A run-time error ends the load where it happens:
// the settings and masters already read stay, the entries already read
// stay, the strip is not rebuilt and the current project is unchanged.
ProjectLoad LoadProject(Form1& f, const std::string& path);
// The same with the project already read from the file `path` (read with
// the window's option bits, as ReadProjectFile(path, f.s.opt.UseMask)):
// the list is cleared as "&Nouveau" does, the project applied through the
// window's controls and, once its image lines were all read, the strip
// built and entry 1 selected.
ProjectLoad LoadProject(Form1& f, const ProjectRead& read, const std::string& path);

// What the program passes to the platform's file dialogs.
struct FileDialogRequest {
  std::string title;
  std::string filterDescription;
  std::string pattern;
  std::string initialFile;  // save dialog: the name proposed
  // Save dialog: where it opens instead, with the same name, when the
  // proposed name's folder cannot be written, or always with
  // `preferWritableFolder` (empty: nowhere else).
  std::string writableFolder;
  bool preferWritableFolder = false;
  std::string startFolder;  // open dialog: where it starts
  std::string defaultExt;
  // Further (description, pattern) entries offered after the first.
  std::vector<std::pair<std::string, std::string>> moreFilters;
};

// What a save dialog answers: the name confirmed (empty when the user
// cancels) and the filter selected when it was confirmed, 0 for the
// request's first (-1 when the dialog does not say).
struct SaveAnswer {
  std::string file;
  int filter = -1;
};

// The extension a filter entry stands for: "fts" for "*.fts"; empty for a
// pattern that names no single extension ("*.*", "*.fts;*.fit").
std::string FilterExtension(const std::string& pattern);

// The name a save dialog opens on: the proposed one, or the same name in
// the request's writable folder when that one can be written and the
// proposed name's folder cannot (or the request prefers it).
std::string SaveDialogStart(const FileDialogRequest& request);

// The name to write: the confirmed name as it is when it has an extension,
// otherwise followed by the selected filter's extension, or by the
// request's default extension in lower case when the dialog named no
// filter that has one. Empty when the user cancelled.
std::string SavedName(const FileDialogRequest& request, const SaveAnswer& answer);

// The platform's open-file and save-file dialogs, owned by the main window.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // The chosen file, or empty text when the user cancels.
  virtual std::string OpenFile(const FileDialogRequest& request) = 0;
  virtual SaveAnswer SaveFile(const FileDialogRequest& request) = 0;
};

// "Enregistrer le projet": save dialog, then SaveProject with the chosen name.
void mnuSavePrj_Click(Form1& f, FileDialogs& dialogs);
// "Ouvrir un projet": open dialog, then LoadProject with the chosen name;
// the subset boxes are cleared in every case.
void mnuLoadPrj_Click(Form1& f, FileDialogs& dialogs);

}  // namespace qv
