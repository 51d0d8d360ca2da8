// quelvista-cli project: a project file as the program loads it, and saved
// back.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "core/error_words.h"
#include "core/numeric.h"
#include "core/session.h"
#include "io/json.h"
#include "workspace/project_file.h"

namespace qvcli {

namespace {

const char* kProjectUsage =
    "usage : quelvista-cli project show PROJET.txt [--settings FICHIER.ini]\n"
    "        quelvista-cli project save PROJET.txt SORTIE.txt [--settings FICHIER.ini]";

std::string EntryJson(const qv::ImageEntry& e) {
  JsonObject o;
  o.Add("ImgFile", e.ImgFile)
      .Add("ImgNaxis", int{e.ImgNaxis})
      .Add("ImgNaxis1", int{e.ImgNaxis1})
      .Add("ImgNaxis2", int{e.ImgNaxis2})
      .Add("ImgNaxis3", int{e.ImgNaxis3})
      .Add("ImgBzero", int64_t{e.ImgBzero})
      .Add("ImgFlags", int{e.ImgFlags})
      .Add("ImgBitpix", int{e.ImgBitpix})
      .Add("ImgDataPos", int64_t{e.ImgDataPos})
      .Add("ImgGuideX", e.ImgGuideX)
      .Add("ImgGuideY", e.ImgGuideY)
      .Add("ImgRegFlags", int{e.ImgRegFlags})
      .Add("ImgChecked", int{e.ImgChecked})
      .Add("ImgRefX", e.ImgRefX)
      .Add("ImgRefY", e.ImgRefY)
      .Add("ImgShiftX", e.ImgShiftX)
      .Add("ImgShiftY", e.ImgShiftY)
      .Add("ImgAngle", e.ImgAngle)
      .Add("ImgRot", int{e.ImgRot})
      .Add("ImgRotX", e.ImgRotX)
      .Add("ImgRotY", e.ImgRotY)
      .Add("ImgNewRot", int{e.ImgNewRot})
      .Add("ImgNewRotX", e.ImgNewRotX)
      .Add("ImgNewRotY", e.ImgNewRotY)
      .Add("ImgZone", e.ImgZone);
  return o.Text();
}

std::string ProjectJson(const CliSession& cli) {
  const qv::Session& s = cli.s;
  const qv::Options& o = s.opt;
  JsonObject j;
  j.Add("UseMask", int64_t{o.UseMask})
      .Add("MaskFile", o.MaskFile)
      .Add("DarkFile", o.DarkFile)
      .Add("FlatFile", o.FlatFile)
      .Add("MaskThr", int64_t{o.MaskThr})
      .Add("MaskSize", int{o.MaskSize})
      .Add("EdgeSize", int{o.EdgeSize})
      .AddRaw("FovX", SingleJson(o.FovX))
      .AddRaw("FovY", SingleJson(o.FovY))
      .AddRaw("FovR", SingleJson(o.FovR))
      .AddRaw("FovF", SingleJson(o.FovF))
      .AddRaw("PixRatio", SingleJson(o.PixRatio))
      .Add("CalcThr", int64_t{o.CalcThr})
      .Add("CalcSize", int{o.CalcSize})
      .Add("Expand", int{cli.shown.expand})
      .Add("GradRatio", int{o.GradRatio})
      .AddRaw("MinQual", SingleJson(o.MinQual))
      .Add("GuideBox", int{s.guide.GuideBox})
      .Add("Auto", int{cli.shown.autoLevels})
      .Add("Hsens", int{o.Hsens});
  for (size_t i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i + 1);
    j.Add("ColorText" + n, o.ColorText[i]).Add("ColorFilter" + n, int{o.ColorChk[i]});
  }
  j.Add("Project", cli.project);
  std::string images = "[";
  for (int i = 1; i <= s.ImageCount(); ++i) {
    if (i > 1) images += ",";
    images += EntryJson(s.Img[static_cast<size_t>(i)]);
  }
  j.AddRaw("images", images + "]");
  return j.Text();
}

std::string LoadMessage(const qv::ProjectLoad& r, const std::string& file) {
  switch (r.outcome) {
    case qv::ProjectLoad::NoFile:
      return "projet introuvable : " + file;
    case qv::ProjectLoad::NoImages:
      return "aucune image chargée, la première image est introuvable : " + file;
    default:
      return "chargement interrompu à la ligne " + std::to_string(r.line) + " : " +
             qv::ErrorWords(r.error, file, qv::FileTask::ProjectLoad);
  }
}

}  // namespace

int CmdProject(const Args& args) {
  std::string settingsFile;
  Args files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--settings") {
      if (i + 1 >= args.size()) {
        Complain("valeur manquante après --settings");
        return 2;
      }
      settingsFile = args[++i];
    } else {
      files.push_back(args[i]);
    }
  }
  const bool show = !files.empty() && files[0] == "show" && files.size() == 2;
  const bool save = !files.empty() && files[0] == "save" && files.size() == 3;
  if (!show && !save) {
    Complain(kProjectUsage);
    return 2;
  }

  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;

  // The program's start-up with the project as its argument, whose list
  // step reads every header and tracks the guide star of entry 1: what is
  // shown and saved is the project as the program holds it once opened.
  ToolList list(cli.s);
  cli.StartUp();
  qv::ProjectLoad loaded;
  qv::Ignoring([&] { loaded = cli.OpenProject(files[1], list); });

  int status = 0;
  if (show) std::fputs((ProjectJson(cli) + "\n").c_str(), stdout);
  // The lines of images found nowhere were left out: each file is named.
  if (loaded.outcome == qv::ProjectLoad::Completed)
    for (const std::string& missing : loaded.missing) Complain("image du projet introuvable : " + missing);
  if (loaded.outcome != qv::ProjectLoad::Completed) {
    Complain(LoadMessage(loaded, files[1]));
    status = 1;
  }
  if (save) {
    const qv::ProjectSave saved = qv::SaveProject(cli.s, cli.shown.Shown(), files[2]);
    if (saved.outcome == qv::ProjectSave::EmptyList) {
      Complain("liste vide, aucun fichier écrit : " + files[2]);
      status = 1;
    } else if (saved.outcome == qv::ProjectSave::Failed) {
      Complain(qv::ErrorWords(saved.error, files[2], qv::FileTask::ProjectSave));
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}

}  // namespace qvcli
