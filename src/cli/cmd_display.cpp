// quelvista-cli tiff-all and fits-header: the batch TIFF conversion of a
// project's images and the FITS header view.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "core/paths.h"
#include "io/json.h"
#include "io/picture_export.h"
#include "stack/frames.h"

namespace qvcli {

int CmdTiffAll(const Args& args) {
  std::string settingsFile, project;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--settings" && i + 1 < args.size()) {
      settingsFile = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      Complain("option inconnue : " + args[i]);
      return 2;
    } else if (project.empty()) {
      project = args[i];
    } else {
      project.clear();
      break;
    }
  }
  if (project.empty()) {
    Complain("usage : quelvista-cli tiff-all PROJET.txt [--settings FICHIER.ini]");
    return 2;
  }
  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;
  qv::Session& s = cli.s;
  ToolList list(s);
  // A signal stops the save between images, as "&Stop" does: every TIFF
  // left is whole and no part of one stays beside it.
  ListenForInterrupts();
  cli.services.events.onYield = [&s] {
    if (InterruptSignal() && s.RunState == 1) s.RunState = 2;
  };
  cli.StartUp();
  qv::ProjectLoad loaded;
  qv::Ignoring([&] { loaded = cli.OpenProject(project, list); });
  if (loaded.outcome != qv::ProjectLoad::Completed && s.ImageCount() < 1) {
    Complain("projet illisible ou vide : " + project);
    return 1;
  }

  // What exists before the run tells the files this run wrote from those
  // it left alone.
  std::vector<std::string> names;
  std::vector<bool> existed;
  for (int i = 1; i <= s.ImageCount(); ++i) {
    names.push_back(qv::BatchTiffName(s.Entry(i).ImgFile));
    existed.push_back(!names.back().empty() && qv::FileExists(names.back()));
  }
  const int count = qv::SaveListAsTiff(s, list, [&list](const std::string& tiff, int done, int n) {
    list.status = tiff + "\r\n" + std::to_string(done) + "/" + std::to_string(n);
  });

  std::vector<std::string> written, skipped;
  for (size_t k = 0; k < names.size(); ++k) {
    if (names[k].empty() || existed[k])
      skipped.push_back(s.Entry(static_cast<int>(k) + 1).ImgFile);
    else if (qv::FileExists(names[k]))
      written.push_back(names[k]);
  }
  JsonObject j;
  j.Add("converted", count).Add("images", s.ImageCount()).Add("status", list.status);
  j.AddRaw("written", JsonList(written)).AddRaw("skipped", JsonList(skipped));
  if (InterruptSignal()) j.Add("stopped", true);
  std::fputs((j.Text() + "\n").c_str(), stdout);
  if (InterruptSignal()) {
    Complain("arrêt demandé : " + std::to_string(written.size()) + " image(s) enregistrée(s)");
    return InterruptedStatus();
  }
  return 0;
}

int CmdFitsHeader(const Args& args) {
  if (args.size() != 1) {
    Complain("usage : quelvista-cli fits-header FICHIER.fts");
    return 2;
  }
  const qv::FitsHeaderView view = qv::ReadFitsHeaderView(args[0]);
  if (!view.shown) {
    Complain("pas un fichier FITS existant (extension fts ou fit) : " + args[0]);
    return 1;
  }
  std::fputs((view.caption + "\n").c_str(), stdout);
  for (const auto& line : view.lines) std::fputs((line + "\n").c_str(), stdout);
  if (view.lines.empty()) {
    Complain("aucune carte d'en-tête FITS dans " + args[0]);
    return 1;
  }
  return 0;
}

}  // namespace qvcli
