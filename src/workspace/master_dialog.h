// "Créer un fichier maître...": the dialog that gathers a master's frames
// as a plain model, and the command that builds the master in the running
// state and puts it to use as the Options dialog would.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "stack/master_frames.h"
#include "workspace/form1.h"
#include "workspace/project.h"

namespace qv {

class MasterDialog {
 public:
  explicit MasterDialog(Session& s) : s_(s) {}

  std::string Caption = "Créer un fichier maître";
  // True from Form_Load until "Créer" or "Annuler" closes the dialog.
  bool Visible = false;
  // "Créer" closed it: the master is to be built.
  bool Accepted = false;

  // The kind, frame "Type": "Dark", "PLU", "Masque".
  std::array<bool, 3> Option1{true, false, false};
  // The frames, full paths, in the order they were added; Label1 counts them.
  std::vector<std::string> List1;
  std::string Label1;
  // "Dark ou offset à soustraire" and its "Explorer" (Command4): a PLU only.
  std::string Text1;
  bool Text1Enabled = false;
  // "Fichier maître" and its "Explorer" (Command5).
  std::string Text2;

  // Empty list, Dark, the output name following the defaults.
  void Form_Load();
  // Selects a kind: the dark box is enabled for a PLU only, and an output
  // name the user did not choose becomes the new kind's default.
  void Option1_Click(int index);
  int Kind() const;

  // "Ajouter des images..." (Command1): what the open dialog is asked, and
  // what it answered (one full path, or a folder followed by names in it).
  FileDialogRequest FramesDialog() const;
  void Command1_Click(const std::vector<std::string>& chosen);
  // Where the dialogs for the frames open: the last frame's folder, or the
  // folder images were last added from.
  std::string BrowseStart() const;
  // "Ajouter un dossier..." (Command2): the folder's images, as the tool's
  // `master` takes a folder; a folder without images is said so.
  void Command2_Click(const std::string& folder);
  // "Vider la liste" (Command3).
  void Command3_Click();
  // "Retirer" (Command8): the frames at these rows of the list leave it
  // (the user's selection; rows outside the list are passed over).
  void Command8_Click(const std::vector<int>& rows);
  // "Explorer" of the dark box: an open dialog.
  void Command4_Click(FileDialogs& dialogs);
  // "Explorer" of the output: the save dialog, which asks before an
  // existing file is replaced.
  FileDialogRequest OutputDialog() const;
  void Command5_Click(FileDialogs& dialogs);
  // The user typed in the output box: the defaults no longer replace it
  // (until it is emptied), and a file it names that exists is confirmed
  // through the save dialog before it is replaced.
  void Text2_Change();
  // "Créer" (Command6): the choices are checked (a message says what is
  // missing); an existing output file not yet confirmed opens the save
  // dialog on its name; then the dialog closes, accepted.
  void Command6_Click(FileDialogs& dialogs);
  // "Annuler" (Command7).
  void Command7_Click();

  // The output name for the kind and the frames: master-dark.fts,
  // master-plu.fts or master-masque.fts in the first frame's folder; empty
  // without frames.
  std::string DefaultOutput() const;
  // The build the choices ask for.
  MasterRequest Request() const;

 private:
  void FramesChanged();
  Session& s_;
  // The user chose the output name (typed or through the save dialog).
  bool outputChosen_ = false;
  // The save dialog gave the name, so replacing that file was confirmed.
  bool outputConfirmed_ = false;
};

// The caption of a kind: "Dark", "PLU", "Masque".
const char* MasterKindCaption(MasterKind kind);

// "Créer un fichier maître..." of the menu "&Fichier", only while the window
// is neither busy nor running: shows the dialog (`user` acts on it; a window
// runs its modal loop there). When "Créer" closed it, builds the master in
// the running state ("&Stop" and Escape end it), says in a message what was
// written and which frames were refused, and then does what OK of the
// Options dialog does for this master: its file key (DarkFile, FlatFile or
// MaskFile) by its exact name (UseFile), its UseMask bit (DarkSub,
// FlatApply, HotMaskOn) set and saved, the masters rebuilt and the current
// image shown again.
void mnuMaster_Click(Form1& f, SettingsStore& store, const std::function<void(MasterDialog&)>& user);

}  // namespace qv
