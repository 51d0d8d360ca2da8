#include "workspace/project.h"

#include <cmath>
#include <exception>
#include <new>

#include "core/numeric.h"
#include "core/paths.h"
#include "workspace/form1.h"
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

// The minimum quality in the short form, as the box shows it; while the
// box holds no number, the value its handler last took.
std::string MinQualPercent(const Form1& f) {
  const Session& s = f.s;
  double shown = 0;
  try {
    shown = LocaleToDouble(f.Text3, s.locale);
  } catch (const RuntimeError&) {
    const float taken = s.opt.MinQual * 100.0f;
    if (!std::isfinite(taken)) Raise(kErrOverflow);
    return StrSingle(taken);
  }
  return Str(shown);
}

}  // namespace

Project ProjectOf(const Form1& f) {
  const Session& s = f.s;
  const Options& o = s.opt;
  Project p;
  p.useMask = o.UseMask;
  p.maskFile = o.MaskFile;
  p.darkFile = o.DarkFile;
  p.flatFile = o.FlatFile;
  p.maskThr = o.MaskThr;
  p.maskSize = o.MaskSize;
  p.edgeSize = o.EdgeSize;
  p.fovX = o.FovX;
  p.fovY = o.FovY;
  p.fovR = o.FovR;
  p.fovF = o.FovF;
  p.pixRatio = o.PixRatio;
  p.calcThr = o.CalcThr;
  p.calcSize = o.CalcSize;
  p.expand = f.Check6;
  p.gradRatio = o.GradRatio;
  p.minQualPercent = MinQualPercent(f);
  p.guideBox = s.guide.GuideBox;
  p.autoLevels = f.Check3;
  p.levelSlider = f.HScroll1;
  for (size_t i = 0; i < 3; ++i) {
    p.colourNames[i] = o.ColorText[i];
    p.colourPlanes[i] = o.ColorChk[i];
  }
  p.images.emplace(s.Img.begin() + (s.Img.empty() ? 0 : 1), s.Img.end());
  return p;
}

ProjectSave SaveProject(Form1& f, const std::string& path) {
  ProjectSave result;
  if (f.s.ImageCount() < 1) return result;
  try {
    result = WriteProjectFile(ProjectOf(f), path);
  } catch (const RuntimeError& e) {
    result.outcome = ProjectSave::Failed;
    result.error = e.Number();
  } catch (const std::bad_alloc&) {
    result.outcome = ProjectSave::Failed;
    result.error = kErrOutOfMemory;
  }
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
  if (result.outcome == ProjectLoad::Completed) {
    f.Project = path;
    Populate(f, 1, false);
    if (!f.s.Img.empty()) f.s.Img[0].ImgFile.clear();
  }
  return result;
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
  if (!name.empty()) Ignoring([&] { SaveProject(f, name); });
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
