#include "workspace/master_dialog.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "core/options.h"
#include "core/paths.h"
#include "stack/run_control.h"
#include "workspace/form5.h"
#include "workspace/settings.h"

namespace qv {

namespace {

constexpr MasterKind kKinds[3] = {MasterKind::Dark, MasterKind::Flat, MasterKind::Mask};
constexpr const char* kDefaultNames[3] = {"master-dark.fts", "master-plu.fts", "master-masque.fts"};

// The same file under two spellings ("./a.fts", "a.fts", a link) is one file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  const auto na = std::filesystem::weakly_canonical(a, ec);
  if (ec) return a == b;
  const auto nb = std::filesystem::weakly_canonical(b, ec);
  return ec ? a == b : na == nb;
}

std::string RefusedLines(const std::vector<RefusedFrame>& refused) {
  if (refused.empty()) return "";
  std::string text = "\r\nImages refusées :";
  for (const RefusedFrame& r : refused) text += "\r\n" + PathName(r.file) + " : " + r.reason;
  return text;
}

std::string Paragraph(const std::string& text) { return text.empty() ? "" : "\r\n\r\n" + text; }

// The masters apply only to images of their own size: a master of another
// size than the list's images is put to use all the same (the list may be
// about to change), but the user is told before the run rather than after.
std::string OtherSizeNote(const Session& s, const MasterResult& r) {
  for (int i = 1; i <= s.ImageCount(); ++i) {
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    if (e.ImgNaxis1 < 1 || e.ImgNaxis2 < 1) continue;
    if (e.ImgNaxis1 == r.width && e.ImgNaxis2 == r.height) return "";
    return "Les images de la liste font " + std::to_string(e.ImgNaxis1) + " x " + std::to_string(e.ImgNaxis2) +
           " pixels : ce fichier maître ne leur sera pas appliqué.";
  }
  return "";
}

}  // namespace

const char* MasterKindCaption(MasterKind kind) {
  switch (kind) {
    case MasterKind::Flat:
      return "PLU";
    case MasterKind::Mask:
      return "Masque";
    default:
      return "Dark";
  }
}

void MasterDialog::Form_Load() {
  List1.clear();
  Text1.clear();
  Text2.clear();
  outputChosen_ = outputConfirmed_ = false;
  Accepted = false;
  Option1_Click(0);
  FramesChanged();
  Visible = true;
}

int MasterDialog::Kind() const {
  for (int i = 0; i < 3; ++i)
    if (Option1[static_cast<size_t>(i)]) return i;
  return 0;
}

void MasterDialog::Option1_Click(int index) {
  if (index < 0 || index > 2) return;
  for (int i = 0; i < 3; ++i) Option1[static_cast<size_t>(i)] = i == index;
  Text1Enabled = index == 1;
  if (!outputChosen_) Text2 = DefaultOutput();
}

std::string MasterDialog::DefaultOutput() const {
  if (List1.empty()) return "";
  // Beside the frames' folder rather than in it, where a later master made
  // from the same folder would take this one in as one more frame; but in
  // it when the folder above cannot be written, or holds images itself (a
  // night's lights), which a folder added to a list would then take in.
  const std::string folder = PathFolder(List1.front());
  const std::string parent = folder.size() > 1 ? PathFolder(folder.substr(0, folder.size() - 1)) : "";
  const bool beside = parent.size() > 1 && FolderWritable(parent) && ImagesInFolder(parent).empty();
  return (beside ? parent : folder) + kDefaultNames[Kind()];
}

void MasterDialog::FramesChanged() {
  Label1 = List1.empty() ? "Aucune image" : std::to_string(List1.size()) + " image(s)";
  if (!outputChosen_) Text2 = DefaultOutput();
}

FileDialogRequest MasterDialog::FramesDialog() const {
  FileDialogRequest r;
  r.title = std::string("Images du fichier maître ") + MasterKindCaption(kKinds[Kind()]);
  r.filterDescription = "Image Astro (FTS FIT BMP JPEG TIF)";
  r.pattern = "*.fts;*.fit;*.fits;*.bmp;*.jpg;*.jpeg;*.tif;*.tiff";
  r.startFolder = BrowseStart();
  return r;
}

std::string MasterDialog::BrowseStart() const { return List1.empty() ? s_.opt.InitDir : PathFolder(List1.back()); }

void MasterDialog::Command1_Click(const std::vector<std::string>& chosen) {
  if (chosen.empty() || chosen[0].empty()) return;
  std::vector<std::string> files;
  if (chosen.size() == 1) {
    files.push_back(chosen[0]);
  } else {
    std::string folder = chosen[0];
    if (folder.back() != '/') folder += '/';
    for (size_t i = 1; i < chosen.size(); ++i) files.push_back(folder + chosen[i]);
    // In name order, as a folder gives its images.
    std::sort(files.begin(), files.end());
  }
  // A frame given twice would count twice in the median.
  for (const std::string& file : files)
    if (std::find(List1.begin(), List1.end(), file) == List1.end()) List1.push_back(file);
  FramesChanged();
}

void MasterDialog::Command2_Click(const std::string& folder) {
  if (folder.empty()) return;
  const std::vector<std::string> images = ImagesInFolder(folder);
  if (images.empty()) {
    s_.messages->MsgBox("Aucune image (FITS, TIFF, BMP, JPEG) dans le dossier : " + folder);
    return;
  }
  for (const std::string& file : images)
    if (std::find(List1.begin(), List1.end(), file) == List1.end()) List1.push_back(file);
  FramesChanged();
}

void MasterDialog::Command8_Click(const std::vector<int>& rows) {
  std::vector<int> sorted(rows);
  std::sort(sorted.rbegin(), sorted.rend());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (int row : sorted)
    if (row >= 0 && static_cast<size_t>(row) < List1.size()) List1.erase(List1.begin() + row);
  FramesChanged();
}

void MasterDialog::Command3_Click() {
  List1.clear();
  FramesChanged();
}

void MasterDialog::Command4_Click(FileDialogs& dialogs) {
  FileDialogRequest r;
  r.title = "Ouvrir le Fichier Dark";
  r.filterDescription = "Image Astro (FTS FIT TIF)";
  r.pattern = "*.fts;*.fit;*.tif;*.tiff";
  r.startFolder = Text1.empty() ? BrowseStart() : Text1;
  const std::string chosen = dialogs.OpenFile(r);
  if (!chosen.empty()) Text1 = chosen;
}

FileDialogRequest MasterDialog::OutputDialog() const {
  FileDialogRequest r;
  r.title = "Enregistrer le fichier maître";
  r.filterDescription = "FITS (FTS FIT)";
  r.pattern = "*.fts;*.fit";
  r.initialFile = Trim(Text2).empty() ? DefaultOutput() : Trim(Text2);
  r.defaultExt = "fts";
  return r;
}

void MasterDialog::Command5_Click(FileDialogs& dialogs) {
  const FileDialogRequest request = OutputDialog();
  const std::string chosen = SavedName(request, dialogs.SaveFile(request));
  if (chosen.empty()) return;
  Text2 = chosen;
  outputChosen_ = outputConfirmed_ = true;
}

void MasterDialog::Text2_Change() {
  outputChosen_ = !Trim(Text2).empty();
  outputConfirmed_ = false;
}

void MasterDialog::Command6_Click(FileDialogs& dialogs) {
  auto refuse = [&](const std::string& text) { s_.messages->MsgBox(text); };
  if (List1.empty()) return refuse("Choisissez les images du fichier maître.");
  const std::string out = Trim(Text2);
  if (out.empty()) return refuse("Donnez le nom du fichier maître.");
  const std::string kind = FileKind(out);
  if (kind != "fts" && kind != "fit")
    return refuse("Un fichier maître s'écrit en FITS : donnez-lui l'extension .fts ou .fit.\r\n" + out);
  std::error_code ec;
  if (std::filesystem::is_directory(out, ec)) return refuse("Ce nom est celui d'un dossier : " + out);
  const std::string folder = PathFolder(out).empty() ? "." : PathFolder(out);
  if (!std::filesystem::is_directory(folder, ec))
    return refuse("Le dossier du fichier maître n'existe pas : " + folder);
  for (const std::string& frame : List1)
    if (SameFile(frame, out))
      return refuse("Le fichier maître serait écrit sur l'une de ses images : " + out +
                    "\r\nChoisissez un autre nom ou retirez cette image.");
  const std::string dark = Trim(Text1);
  if (Kind() == 1 && !dark.empty() && !FileExists(dark)) return refuse("Fichier Dark introuvable : " + dark);
  if (FileExists(out) && !outputConfirmed_) {
    // The save dialog asks before the file is replaced; cancelling it
    // leaves the dialog open and the file as it is.
    FileDialogRequest r = OutputDialog();
    r.initialFile = out;
    const std::string chosen = SavedName(r, dialogs.SaveFile(r));
    if (chosen.empty()) return;
    Text2 = chosen;
    outputChosen_ = outputConfirmed_ = true;
    return Command6_Click(dialogs);
  }
  Accepted = true;
  Visible = false;
}

void MasterDialog::Command7_Click() {
  Accepted = false;
  Visible = false;
}

MasterRequest MasterDialog::Request() const {
  MasterRequest r;
  r.kind = kKinds[Kind()];
  r.frames = List1;
  if (r.kind == MasterKind::Flat) r.bias = Trim(Text1);
  r.out = Trim(Text2);
  r.locale = s_.locale;
  return r;
}

void mnuMaster_Click(Form1& f, SettingsStore& store, const std::function<void(MasterDialog&)>& user) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  MasterDialog dialog(s);
  dialog.Form_Load();
  if (user) user(dialog);
  if (!dialog.Accepted) return;
  const MasterRequest request = dialog.Request();
  const std::string caption = std::string("Fichier maître ") + MasterKindCaption(request.kind);

  StartProcess(s);
  s.progress.Report(caption, 0);
  MasterWatch watch;
  watch.goOn = s.progress.WhileStillRunning();
  watch.report = [&](const std::string& text, double done) {
    s.progress.Report(text.empty() ? "" : caption + " : " + text, done);
  };
  MasterResult r;
  try {
    r = BuildMasterFromFrames(request, watch);
  } catch (const std::exception&) {
    r.status = MasterResult::Failed;
    r.why = "mémoire insuffisante";
  }
  StopProcess(s);
  s.progress.Report(kAppTitle);

  switch (r.status) {
    case MasterResult::Written:
      f.MsgBox(caption + " écrit : " + request.out + "\r\n" + std::to_string(r.used) + " image(s) combinée(s), " +
               std::to_string(r.width) + " x " + std::to_string(r.height) + " pixels, mis en service dans « Options »" +
               RefusedLines(r.refused) + Paragraph(DarkHolesWarning(r)) + Paragraph(OtherSizeNote(s, r)));
      break;
    case MasterResult::Stopped:
      f.MsgBox("Création du fichier maître arrêtée : rien n'a été écrit.");
      return;
    case MasterResult::NoFrame:
      f.MsgBox("Aucune image utilisable pour le fichier maître : rien n'a été écrit." + RefusedLines(r.refused));
      return;
    case MasterResult::Failed:
      f.MsgBox(caption + " non écrit : " + r.why + RefusedLines(r.refused));
      return;
  }

  // The new master is put to use as OK of the Options dialog would: its
  // file, its option bit, then the masters and the image shown.
  Options& o = s.opt;
  OptionPlace place{o};
  switch (request.kind) {
    case MasterKind::Dark:
      UseFile(store, OptionKey::DarkFile, place, request.out);
      o.UseMask |= DarkSub;
      break;
    case MasterKind::Flat:
      UseFile(store, OptionKey::FlatFile, place, request.out);
      o.UseMask |= FlatApply;
      break;
    case MasterKind::Mask:
      UseFile(store, OptionKey::MaskFile, place, request.out);
      o.UseMask |= HotMaskOn;
      break;
  }
  WriteOption(store, Option(OptionKey::UseMask), place, s.locale);
  RebuildMastersAndShow(f);
}

}  // namespace qv
