#include "workspace/project.h"

#include "core/error_words.h"
#include "core/numeric.h"
#include "core/paths.h"
#include "stack/stacking.h"
#include "workspace/form1.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

namespace {

// The window's controls: setting one from the project runs its handler as
// a user edit would.
class WindowControls : public ProjectControls {
 public:
  explicit WindowControls(Form1& f) : f_(f) {}
  void SetExpand(int16_t value) override { f_.Check6 = value; }
  void SetMinQualPercent(const std::string& text) override { SetText3(f_, LocaleFromDouble(Val(text), f_.s.locale)); }
  void SelectGuideBox(int choice) override { SelectOption1(f_, choice); }
  void SetAutoLevels(int16_t value) override { SetCheck3(f_, value); }
  void SetLevelSlider(int16_t value) override { SetHScroll1(f_, value); }

 private:
  Form1& f_;
};

ShownSettings ShownOf(const Form1& f) { return {f.Check6, f.Text3, f.Check3, f.HScroll1}; }

}  // namespace

Project ProjectOf(const Form1& f) { return ProjectOf(f.s, ShownOf(f)); }

ProjectSave SaveProject(Form1& f, const std::string& path) {
  const ProjectSave result = SaveProject(f.s, ShownOf(f), path);
  if (result.outcome == ProjectSave::Saved) f.Project = path;
  return result;
}

ProjectLoad LoadProject(Form1& f, const std::string& path) {
  // Reading touches nothing of the program, so the list is cleared after
  // it as well as before.
  return LoadProject(f, ReadProjectFile(path, f.s.opt.UseMask), path);
}

ProjectLoad LoadProject(Form1& f, const ProjectRead& read, const std::string& path) {
  mnuNew_Click(f);
  WindowControls controls(f);
  const ProjectLoad result = ApplyProject(f.s, read, controls);
  f.LastOpening.missing = result.missing;
  if (result.outcome == ProjectLoad::Completed) {
    f.Project = path;
    Populate(f, 1, false);
    if (!f.s.Img.empty()) f.s.Img[0].ImgFile.clear();
  }
  ForgetReport(f);
  // A load shows no message box: what went wrong goes to the status bar in
  // one line, and the report names the files.
  switch (result.outcome) {
    case ProjectLoad::NoFile:
      f.StatusText = "Projet introuvable : " + path;
      break;
    case ProjectLoad::NoImages:
      f.StatusText = "Aucune image chargée : la première image du projet est introuvable — voir Rapport";
      break;
    case ProjectLoad::Failed:
      f.StatusText = "Projet lu jusqu'à la ligne " + std::to_string(result.line) +
                     " seulement : " + ErrorWords(result.error, path, FileTask::ProjectLoad);
      break;
    case ProjectLoad::Completed:
      f.StatusText = f.LastOpening.Empty()
                         ? "Projet ouvert : " + path + " (" + Counted(f.s.ImageCount(), "image", "images") + ")"
                         : OpeningNote(f.LastOpening, "du projet");
      break;
  }
  return result;
}

std::string SaveDialogStart(const FileDialogRequest& request) {
  const std::string& name = request.initialFile;
  if (request.writableFolder.empty() || !FolderWritable(request.writableFolder)) return name;
  if (!request.preferWritableFolder && FolderWritable(PathFolder(name))) return name;
  return request.writableFolder + PathName(name);
}

std::string FilterExtension(const std::string& pattern) {
  if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return {};
  const std::string ext = pattern.substr(2);
  return ext.find_first_of("*?;. ") == std::string::npos ? ext : std::string();
}

std::string SavedName(const FileDialogRequest& request, const SaveAnswer& answer) {
  if (answer.file.empty()) return {};
  // A point in the name part, not at its start, begins an extension; one in
  // a folder's name does not.
  const std::string name = PathName(answer.file);
  const size_t point = name.rfind('.');
  if (point != std::string::npos && point > 0 && point + 1 < name.size()) return answer.file;
  std::string ext;
  if (answer.filter == 0) ext = FilterExtension(request.pattern);
  if (answer.filter >= 1 && static_cast<size_t>(answer.filter) <= request.moreFilters.size())
    ext = FilterExtension(request.moreFilters[static_cast<size_t>(answer.filter) - 1].second);
  if (ext.empty()) ext = LCase(request.defaultExt);
  if (ext.empty()) return answer.file;
  std::string file = answer.file;
  if (file.back() != '.') file += '.';
  return file + ext;
}

void mnuSavePrj_Click(Form1& f, FileDialogs& dialogs) {
  if (!Form1Idle(f)) return;
  std::string name;
  Ignoring([&] {
    FileDialogRequest r;
    r.title = "Enregistrer un projet";
    r.filterDescription = "Projet Quelvista (TXT)";
    r.pattern = "*.txt";
    r.initialFile = f.Project;
    r.defaultExt = "txt";
    name = SavedName(r, dialogs.SaveFile(r));
  });
  if (name.empty()) return;
  ProjectSave saved;
  Ignoring([&] { saved = SaveProject(f, name); });
  // The user hears where the project went, or why it did not.
  switch (saved.outcome) {
    case ProjectSave::Saved:
      f.StatusText = "Projet enregistré : " + name;
      break;
    case ProjectSave::Failed:
      f.StatusText = "Projet non enregistré : " + ErrorWords(saved.error, name, FileTask::ProjectSave);
      break;
    case ProjectSave::EmptyList:
      f.StatusText = "Projet non enregistré : la liste des images est vide";
      break;
  }
}

void mnuLoadPrj_Click(Form1& f, FileDialogs& dialogs) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  std::string start, name;
  Ignoring([&] { start = PathFolder(f.Project); });
  if (start.empty()) start = s.opt.InitDir;
  Ignoring([&] {
    FileDialogRequest r;
    r.title = "Ouvrir un projet";
    r.filterDescription = "Projet Quelvista (TXT)";
    r.pattern = "*.txt";
    r.startFolder = start;
    name = dialogs.OpenFile(r);
  });
  if (!name.empty()) {
    if (f.mnuDebug) {
      f.DebugLog.clear();
      f.DebugLog.push_back("Ouverture du projet " + name);
    }
    Ignoring([&] { LoadProject(f, name); });
  }
  // The subset boxes name images of the previous list.
  f.Text7.clear();
  f.Text8.clear();
}

}  // namespace qv
