// quelvista-cli master: one calibration master from many frames, built by
// the engine as the main window's "Créer un fichier maître..." builds it.
#include <cstdio>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "core/error_words.h"
#include "core/paths.h"
#include "stack/master_frames.h"

namespace qvcli {

namespace {

const char* kMasterUsage =
    "usage : quelvista-cli master dark|flat|mask FICHIER... --out MAITRE.fts [--dark BIAS.fts]\n"
    "  dark, mask : médiane pixel par pixel (nombre pair : moyenne des deux valeurs du milieu,\n"
    "               arrondie au pair le plus proche)\n"
    "  flat       : moyenne pixel par pixel, chaque plage mise à l'échelle par\n"
    "               (médiane des médianes) / (sa médiane), après soustraction de --dark s'il est donné\n"
    "               (un dark pris à la pose des plages, ou un offset : pas le dark des images)\n"
    "  Un dossier donné à la place de fichiers est remplacé par ses images, dans l'ordre des noms.\n"
    "  Écrit un FITS 16 bits accepté tel quel par DarkFile, FlatFile ou MaskFile.\n";

// After Ctrl+C, SIGTERM or SIGHUP: the closing line, and nothing written.
int Stopped() {
  JsonObject o;
  o.Add("stopped", true).Add("output", "");
  std::printf("%s\n", o.Text().c_str());
  Complain("arrêt demandé : rien n'a été écrit");
  return InterruptedStatus();
}

std::string RefusedJson(const std::vector<qv::RefusedFrame>& refused) {
  std::string json = "[";
  for (const qv::RefusedFrame& r : refused) {
    if (json.size() > 1) json += ",";
    JsonObject o;
    o.Add("file", r.file).Add("reason", r.reason);
    json += o.Text();
  }
  return json + "]";
}

}  // namespace

int CmdMaster(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kMasterUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string kind = args[0];
  if (kind != "dark" && kind != "flat" && kind != "mask") {
    Complain("master attend dark, flat ou mask : " + kind);
    return 2;
  }
  std::string out, bias;
  std::vector<std::string> given;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kMasterUsage, stdout);
      return 0;
    }
    if (a == "--out" || a == "--dark") {
      if (i + 1 >= args.size()) {
        Complain("valeur manquante après " + a);
        return 2;
      }
      (a == "--out" ? out : bias) = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      Complain("option inconnue : " + a);
      return 2;
    } else {
      given.push_back(a);
    }
  }
  if (given.empty() || out.empty()) {
    std::fputs(kMasterUsage, stderr);
    return 2;
  }
  if (!bias.empty() && kind != "flat") {
    Complain("--dark ne s'emploie qu'avec master flat");
    return 2;
  }
  const std::string ext = qv::FileKind(out);
  if (ext != "fts" && ext != "fit") {
    Complain("un maître s'écrit en FITS : donnez à --out l'extension .fts ou .fit : " + out);
    return 2;
  }
  qv::MasterRequest request;
  request.kind = kind == "dark" ? qv::MasterKind::Dark : kind == "flat" ? qv::MasterKind::Flat : qv::MasterKind::Mask;
  request.bias = bias;
  request.out = out;
  request.locale = qv::NumLocale::FromEnvironment();
  if (!ExpandImageArguments(given, request.frames)) return 1;
  if (!CheckOutputFolder(out)) return 1;
  std::vector<std::string> inputs = request.frames;
  inputs.push_back(bias);
  if (!OutputIsNoInput(out, inputs)) return 2;

  // Ctrl+C, SIGTERM and SIGHUP are seen between frames and between bands,
  // and while a frame is read, so the staging folder is always removed.
  ListenForInterrupts();
  std::fprintf(stderr, "dossier temporaire : %s\n", qv::TemporaryFolderShown().c_str());
  qv::MasterWatch watch;
  watch.goOn = [] { return InterruptSignal() == 0; };
  watch.refused = [](const qv::RefusedFrame& r) { Complain("image refusée, " + r.reason + " : " + r.file); };
  const qv::MasterResult r = qv::BuildMasterFromFrames(request, watch);
  switch (r.status) {
    case qv::MasterResult::Stopped:
      return Stopped();
    case qv::MasterResult::Failed:
      Complain(r.why);
      return 1;
    case qv::MasterResult::NoFrame: {
      Complain("aucune image utilisable pour le maître");
      JsonObject o;
      o.Add("master", kind).Add("used", 0).AddRaw("refused", RefusedJson(r.refused));
      std::printf("%s\n", o.Text().c_str());
      return 1;
    }
    case qv::MasterResult::Written:
      break;
  }
  JsonObject o;
  o.Add("master", kind)
      .Add("used", int64_t{r.used})
      .Add("width", r.width)
      .Add("height", r.height)
      .Add("planes", r.planes)
      .Add("median", int64_t{r.median});
  if (request.kind == qv::MasterKind::Flat && !bias.empty()) o.Add("dark_holes", r.darkHoles);
  o.Add("output", out).AddRaw("refused", RefusedJson(r.refused));
  std::printf("%s\n", o.Text().c_str());
  std::fprintf(stderr, "maître %s de %d image(s) → %s\n", kind.c_str(), r.used, out.c_str());
  if (const std::string warning = qv::DarkHolesWarning(r); !warning.empty())
    std::fprintf(stderr, "%s\n", warning.c_str());
  return 0;
}

}  // namespace qvcli
