// quelvista-cli stack: a complete stacking run from the command line, as
// "E&xécuter" runs it, on a project or on a list of image files.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "core/error_words.h"
#include "core/numeric.h"
#include "core/options.h"
#include "core/paths.h"
#include "io/json.h"
#include "platform/settings_store.h"
#include "process/image_files.h"
#include "stack/accumulate.h"
#include "stack/auto_guide.h"
#include "stack/auto_marks.h"
#include "stack/combine.h"
#include "stack/frames.h"
#include "stack/guide.h"
#include "stack/masters.h"
#include "stack/reject.h"
#include "stack/stacking.h"
#include "workspace/project_file.h"

namespace qvcli {

namespace {

struct StackArgs {
  std::string project, out, settingsFile, saveProject, guide, box, first, last, expand, mark, rotation;
  bool keepUnmarked = false, forceFits = false, spaceCheck = true;
  std::string reject, kappa, maxFwhm;
  bool normalise = false, normaliseOutput = false;
  Calibration calibration;
  std::vector<std::string> images;
  std::vector<std::pair<std::string, std::string>> sets;
  std::vector<EditorStep> editor;
};

bool Parse(const Args& args, StackArgs& a) {
  for (size_t i = 0; i < args.size(); ++i) {
    const int editorOption = ParseEditorOption(args, i, a.editor);
    if (editorOption < 0) return false;
    if (editorOption > 0) continue;
    const int calibrationOption = ParseCalibrationOption(args, i, a.calibration);
    if (calibrationOption < 0) return false;
    if (calibrationOption > 0) continue;
    const int setOption = ParseSetOption(args, i, a.sets);
    if (setOption < 0) return false;
    if (setOption > 0) continue;
    const std::string& k = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        Complain("valeur manquante après " + k);
        return false;
      }
      into = args[++i];
      return true;
    };
    bool ok = true;
    if (k == "--out")
      ok = value(a.out);
    else if (k == "--settings")
      ok = value(a.settingsFile);
    else if (k == "--save-project")
      ok = value(a.saveProject);
    else if (k == "--guide")
      ok = value(a.guide);
    else if (k == "--box")
      ok = value(a.box);
    else if (k == "--first")
      ok = value(a.first);
    else if (k == "--last")
      ok = value(a.last);
    else if (k == "--expand")
      ok = value(a.expand);
    else if (k == "--mark")
      ok = value(a.mark);
    else if (k == "--rotation")
      ok = value(a.rotation);
    else if (k == "--keep-unmarked")
      a.keepUnmarked = true;
    else if (k == "--reject")
      ok = value(a.reject);
    else if (k == "--kappa")
      ok = value(a.kappa);
    else if (k == "--max-fwhm")
      ok = value(a.maxFwhm);
    else if (k == "--normalise")
      a.normalise = true;
    else if (k == "--normalise-output")
      a.normaliseOutput = true;
    else if (k == "--force-fits")
      a.forceFits = true;
    else if (k == "--no-space-check")
      a.spaceCheck = false;
    else if (!k.empty() && k[0] == '-') {
      Complain("option inconnue : " + k);
      ok = false;
    } else {
      a.images.push_back(k);
    }
    if (!ok) return false;
  }
  if (a.images.empty()) {
    Complain(
        "usage : quelvista-cli stack PROJET.txt --out RESULTAT\n"
        "        quelvista-cli stack IMAGE... --guide X,Y|auto [--box 32|64|aucun] --out RESULTAT\n"
        "        [--mark auto] [--rotation auto] [--keep-unmarked] [--max-fwhm FACTEUR]\n"
        "        [--reject aucun|sigma|winsor] [--kappa BAS,HAUT] [--normalise] [--normalise-output]\n"
        "        [--settings F.ini] [--set CLE=VALEUR]... [--first N --last M] [--expand 0|1] [--save-project P.txt]\n"
        "        [--dark F] [--flat F] [--mask F] [--force-fits] [--no-space-check] [options de rendu de render]");
    return false;
  }
  if (!a.out.empty() && !OutputKindAccepted(a.out, a.forceFits)) return false;
  // Checked before anything is read: a bound the range box cannot hold, or
  // a guide position that is no number, would otherwise surface mid-run.
  double first = 0, last = 0;
  for (const auto& [option, text, bound] : {std::tuple{"--first", &a.first, &first}, {"--last", &a.last, &last}})
    if (!text->empty() && !qv::DotNumber(*text, *bound)) {
      Complain(std::string(option) + " attend un numéro d'image : " + *text);
      return false;
    } else if (!text->empty() && !(*bound > -32768.5 && *bound < 32767.5)) {
      Complain(std::string(option) + " attend un numéro d'image de -32768 à 32767 : " + *text);
      return false;
    }
  if (!a.guide.empty() && a.guide != "auto") {
    const size_t comma = a.guide.find(',');
    double x, y;
    if (comma == std::string::npos || !qv::DotNumber(a.guide.substr(0, comma), x) ||
        !qv::DotNumber(a.guide.substr(comma + 1), y)) {
      Complain("--guide attend X,Y (deux nombres, \".\" comme séparateur décimal) ou auto : " + a.guide);
      return false;
    }
  }
  if (!a.first.empty() && !a.last.empty() && first > last) {
    Complain("--first " + a.first + " est après --last " + a.last);
    return false;
  }
  if (a.images.size() == 1 && FileKindIsProject(a.images[0])) {
    a.project = a.images[0];
    a.images.clear();
  }
  if (a.project.empty() && a.guide.empty()) {
    Complain("--guide X,Y ou --guide auto est nécessaire avec une liste d'images");
    return false;
  }
  if (a.expand != "" && a.expand != "0" && a.expand != "1") {
    Complain("--expand attend 0 ou 1");
    return false;
  }
  if (a.mark != "" && a.mark != "auto") {
    Complain("--mark attend auto");
    return false;
  }
  if (a.rotation != "" && a.rotation != "auto") {
    Complain("--rotation attend auto");
    return false;
  }
  if (a.box != "" && a.box != "32" && a.box != "64" && a.box != "aucun") {
    Complain("--box attend 32, 64 ou aucun");
    return false;
  }
  if (a.reject != "" && a.reject != "aucun" && a.reject != "sigma" && a.reject != "winsor") {
    Complain("--reject attend aucun, sigma ou winsor");
    return false;
  }
  if (!a.kappa.empty()) {
    const size_t comma = a.kappa.find(',');
    double low = 0, high = 0;
    if (comma == std::string::npos || !qv::DotNumber(a.kappa.substr(0, comma), low) ||
        !qv::DotNumber(a.kappa.substr(comma + 1), high) || !(low > 0) || !(high > 0) || !std::isfinite(low) ||
        !std::isfinite(high)) {
      Complain("--kappa attend BAS,HAUT, deux nombres positifs (\".\" comme séparateur décimal) : " + a.kappa);
      return false;
    }
  }
  if (!a.maxFwhm.empty()) {
    double factor = 0;
    if (!qv::DotNumber(a.maxFwhm, factor) || !std::isfinite(factor) || factor < 0) {
      Complain("--max-fwhm attend un facteur de la FWHM médiane, de 1 à 5 (0 : aucun) : " + a.maxFwhm);
      return false;
    }
    if (a.guide != "auto" && a.mark != "auto" && a.rotation != "auto")
      Complain("--max-fwhm ne sert qu'avec le repérage automatique (--guide auto, --mark auto ou --rotation auto)");
  }
  return true;
}

// The rejection asked on the command line, over the settings'.
void ApplyRejection(const StackArgs& a, qv::Options& o) {
  if (!a.reject.empty()) o.RejectMode = a.reject == "sigma" ? 1 : a.reject == "winsor" ? 2 : 0;
  if (!a.kappa.empty()) {
    const size_t comma = a.kappa.find(',');
    for (const auto& [text, into] :
         {std::pair{a.kappa.substr(0, comma), &o.RejectLow}, std::pair{a.kappa.substr(comma + 1), &o.RejectHigh}}) {
      double v = 0;
      qv::DotNumber(text, v);
      const float held = std::clamp(static_cast<float>(std::min(v, 1e6)), qv::kKappaMin, qv::kKappaMax);
      if (held != static_cast<float>(v))
        Complain("--kappa " + text + " ramené à " + qv::Str(static_cast<double>(held)));
      *into = held;
    }
  }
  if (!a.maxFwhm.empty()) {
    double factor = 0;
    qv::DotNumber(a.maxFwhm, factor);
    o.MaxFwhm = qv::MaxFwhmOf(static_cast<float>(std::min(factor, 1e6)));
    if (factor != 0 && o.MaxFwhm != static_cast<float>(factor))
      Complain("--max-fwhm " + a.maxFwhm + " ramené à " + qv::LocaleFromSingle(o.MaxFwhm, qv::NumLocale::Dot()));
  }
  if (a.normalise) o.Normalise = 1;
  if (a.normaliseOutput) o.Normalise = o.NormaliseOutput = 1;
  if (o.RejectMode == 0 && (a.normalise || a.normaliseOutput))
    Complain("--normalise ne sert qu'avec --reject sigma ou winsor : sans rejet, rien n'est normalisé");
}

// Progress on stderr: a live bar on a terminal, plain lines otherwise.
class Progress {
 public:
  explicit Progress(int total) : total_(total), tty_(isatty(2) != 0), start_(std::chrono::steady_clock::now()) {}
  void Image(int done, int index, const char* state, const std::string& why) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int left = total_ > done ? static_cast<int>((elapsed / std::max(done, 1)) * (total_ - done) + 0.5) : 0;
    char remain[32];
    std::snprintf(remain, sizeof remain, "%d:%02d", left / 60, left % 60);
    if (!why.empty()) std::fprintf(stderr, "%simage %d : %s\n", tty_ ? "\r" : "", index, why.c_str());
    if (tty_) {
      Bar(total_ > 0 ? kBarWidth * done / total_ : kBarWidth,
          std::to_string(done) + "/" + std::to_string(total_) + " images, reste " + remain);
    } else {
      std::fprintf(stderr, "image %d (%d/%d) %s, reste %s\n", index, done, total_, state, remain);
    }
    std::fflush(stderr);
  }
  void Done() {
    if (tty_) std::fputc('\n', stderr);
  }
  // The final combination, which can take as long as the walk (with a
  // rejection rule): on a terminal the bar goes on for it. Plain lines say
  // nothing of it, as before.
  void Combining(double fraction) {
    if (!tty_ || fraction < 0 || fraction > 1) return;
    Bar(static_cast<int>(kBarWidth * fraction),
        "combinaison des images, " + std::to_string(static_cast<int>(100 * fraction)) + " %");
    std::fflush(stderr);
  }
  // The terminal's line: a bar with `filled` of its places filled, then `text`.
  static constexpr int kBarWidth = 30;
  static void Bar(int filled, const std::string& text) {
    std::fprintf(stderr, "\r[%s%s] %s ", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), text.c_str());
  }
  // An image of the run was unticked on the way (the marks could not place
  // its star): one fewer to do.
  void Fewer() { --total_; }
  // When stdout is the same terminal, the bar is wiped before a JSON line
  // so that the line starts a line of its own.
  void Clear() {
    if (tty_ && isatty(1)) {
      std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
    }
  }

 private:
  int total_;
  bool tty_;
  std::chrono::steady_clock::time_point start_;
};

// What the tool shows of a run: a line per image as it is done.
struct RunPrinter : qv::MarkingRun {
  const ToolList* list = nullptr;
  std::function<void(const qv::FrameResult&)> frameDone;
  std::function<void(const qv::ImageMark&)> marked;
  qv::Outcome Select(qv::Session& s, int i) override {
    return list && (i < 1 || i > list->strip) ? qv::Outcome::Success() : MarkingRun::Select(s, i);
  }
  void Marked(const qv::ImageMark& m) override { marked(m); }
  void FrameDone(const qv::FrameResult& frame, int) override { frameDone(frame); }
  // A line a little later costs nothing here; each file is written while
  // the next image is read.
  bool TakesFramesLate() const override { return true; }
};

// Why image i was not stacked, or was stacked in another's stead; empty
// when it was stacked as it is. `error` gets the processing failure.
std::string WhyNotStacked(const qv::Session& s, const qv::FrameResult& frame, std::string& error) {
  std::string why;
  error = qv::OutcomeWords(frame.processed, s.Img[static_cast<size_t>(frame.image)].ImgFile, qv::FileTask::Process);
  if (!error.empty()) {
    why = "image non traitée : " + error;
    // The run does not stop: whatever the planes hold is measured and
    // stacked as this image. That is the previous image when the failure
    // came before the pixels were read, and this one's partly processed
    // rows when it came during them (an overflow in the flat, say).
    why += frame.accepted
               ? " ; les plans restés en mémoire (ceux de l'image précédente, ou la partie lue de celle-ci) ont "
                 "été empilés à sa place"
               : " ; l'exécution continue avec les plans restés en mémoire";
    return why;
  }
  if (frame.accepted) return why;
  const qv::NumLocale dot = qv::NumLocale::Dot();
  why = "qualité " + qv::FormatPercent(frame.quality, dot) + " inférieure au minimum " +
        qv::FormatPercent(s.opt.MinQual, dot);
  if (frame.onEdge)
    why +=
        " ; la meilleure correspondance est au bord de la zone de recherche : l'étoile guide en est peut-être "
        "sortie (essayer --box 64 ou --guide auto)";
  return why;
}

int ImagesInRun(const qv::Session& s, const qv::RunRequest& r) {
  int first, last, n = 0;
  qv::RunRange(s, r, first, last);
  for (int i = first; i <= last && i >= 1; ++i) n += s.Img[static_cast<size_t>(i)].ImgChecked == 1;
  return n;
}

// After Ctrl+C, SIGTERM or SIGHUP: the closing line, and nothing written.
int Stopped(int stacked, int processed) {
  JsonObject o;
  o.Add("stopped", true).Add("stacked", stacked).Add("processed", processed).Add("output", "");
  std::printf("%s\n", o.Text().c_str());
  Complain("arrêt demandé : rien n'a été écrit");
  return InterruptedStatus();
}

// A figure measured to a few decimals, as a JSON number.
std::string Fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "null";
  char text[48];
  const qv::CNumberScope c;
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// The automatic marks of a run: the reference image first, before the run,
// then each image as the run reaches it (RunPrinter). Each image is
// reported on stdout as it is marked.
struct Marking {
  qv::AutoMarker marker;
  bool rotation = false;
  int marked = 0, total = 0;
  bool rotationMarked = false;
  Marking(qv::Session& s, bool rotation_, bool keepUnmarked)
      : marker(s, qv::AutoMarkOptions{rotation_, keepUnmarked}), rotation(rotation_) {}

  void Print(const qv::Session& s, const qv::ImageMark& m) {
    const qv::ImageEntry& e = s.Img[static_cast<size_t>(m.image)];
    JsonObject o;
    o.Add("image", m.image).Add("file", e.ImgFile).Add("marked", m.marked).Add("reference", m.reference);
    if (m.marked) o.Add("markX", m.x).Add("markY", m.y);
    o.Add("stars", static_cast<int64_t>(m.stars)).Add("matched", static_cast<int64_t>(m.agreeing));
    if (!m.reference) o.Add("rms", m.rms).Add("angle", m.angle);
    if (m.rotationMarked) o.Add("rotationX", m.rotX).Add("rotationY", m.rotY);
    if (m.scored) {
      if (m.score.shaped) o.AddRaw("fwhm", Fixed(m.score.fwhm, 3)).AddRaw("roundness", Fixed(m.score.roundness, 3));
      o.AddRaw("background", Fixed(m.score.background, 1)).AddRaw("noise", Fixed(m.score.noise, 2));
    }
    if (!m.marked) o.Add("reason", m.reason).Add("checked", e.ImgChecked == 1);
    std::printf("%s\n", o.Text().c_str());
    std::fflush(stdout);
    ++total;
    marked += m.marked;
    rotationMarked = rotationMarked || (m.reference && m.rotationMarked);
    if (!m.marked)
      Complain("image " + std::to_string(m.image) + " non marquée : " + m.reason +
               (e.ImgChecked == 1 ? " (laissée cochée)" : " (décochée)"));
  }

  // The reference image, whose stars the guide star's choice may already
  // have found: 0, or the exit status after a message.
  int Start(qv::Session& s, bool image1Processed) {
    if ((marker.Report().reference == 0 && !marker.Reference(image1Processed && qv::FirstChecked(s) == 1)) ||
        !marker.Start()) {
      Complain("repérage automatique impossible : " + marker.Report().message +
               " ; indiquez l'étoile guide avec --guide X,Y");
      return 1;
    }
    Print(s, marker.Report().images.front());
    return 0;
  }

  // Once every image is marked.
  void Summary() {
    const qv::AutoMarkReport& report = marker.Report();
    for (const std::string& note : report.notes) Complain("repérage automatique : " + note);
    if (rotation && !rotationMarked)
      Complain("aucune étoile de rotation convenable sur l'image " + std::to_string(report.reference) +
               " : la rotation du champ n'est pas suivie");
    Complain("repérage automatique : " + std::to_string(marked) + " image(s) marquée(s) sur " + std::to_string(total));
  }
};

// A project's image lines name files that are not there: each is said.
void ReportMissingImages(const std::string& project) {
  std::ifstream in(project);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string file = line.substr(0, line.find('\t'));
    const std::string kind = qv::FileKind(file);
    if (n > 10 && !file.empty() &&
        (kind == "fts" || kind == "fit" || kind == "tif" || kind == "bmp" || kind == "jpg") && !qv::FileExists(file))
      Complain("ligne " + std::to_string(n) + ", image introuvable : " + file);
  }
}

}  // namespace

bool FileKindIsProject(const std::string& path) { return qv::FileKind(path) == "txt"; }

int CmdStack(const Args& args) {
  StackArgs a;
  if (!Parse(args, a)) return 2;

  CliSession cli;
  if (!cli.Open(a.settingsFile)) return 1;
  cli.LoadStartUpSettings();
  qv::Session& s = cli.s;
  if (const int status = ApplyOverrides(cli.Place(), a.sets)) return status;

  ToolList list(s);

  // Ctrl+C, SIGTERM and SIGHUP ask the run to stop, as the Stop command
  // does, so that its temporary files go before the tool ends.
  ListenForInterrupts();
  cli.services.events.onYield = [&s] {
    if (InterruptSignal() && s.RunState == 1) s.RunState = 2;
  };

  if (!a.project.empty()) {
    // A run reads each image once: the list is filled from the headers.
    const qv::ProjectLoad load = cli.OpenProject(a.project, list, false);
    if (load.outcome != qv::ProjectLoad::Completed) {
      if (load.outcome == qv::ProjectLoad::NoImages) ReportMissingImages(a.project);
      Complain(load.outcome == qv::ProjectLoad::NoFile ? "projet introuvable : " + a.project
               : qv::IsSpecialFile(a.project)          ? std::string(qv::kNotRegularFile) + " : " + a.project
               : load.outcome == qv::ProjectLoad::NoImages
                   ? "aucune image du projet n'a été trouvée : " + a.project
                   : "projet illisible, ligne " + std::to_string(load.line) + " : " +
                         qv::ErrorWords(load.error, a.project, qv::FileTask::ProjectLoad));
      return 1;
    }
    // The lines of images found nowhere were left out of the list.
    for (const std::string& missing : load.missing) Complain("image du projet introuvable : " + missing);
    // Options given on the command line win over those of the project.
    qv::OptionPlace place = cli.Place();
    for (const auto& [k, v] : a.sets) qv::TakeOptionText(place, k, v, qv::NumLocale::Dot());
    ApplyCalibration(s, a.calibration);
    if (!CheckCalibration(a.calibration, s.Img[1].ImgFile)) return 1;
    if (!a.sets.empty() || a.calibration.Any()) qv::BuildMasters(s);
  } else {
    std::vector<std::string> files;
    if (!ExpandImageArguments(a.images, files)) return 1;
    a.images = files;
    ApplyCalibration(s, a.calibration);
    if (!CheckCalibration(a.calibration, a.images[0])) return 1;
    qv::BuildMasters(s);
    // The open dialog answers with one folder and the names in it; files
    // from several folders join the list folder by folder, in the order given.
    std::map<std::string, std::vector<std::string>> byFolder;
    std::vector<std::string> order;
    for (const std::string& file : a.images) {
      const std::string folder = qv::PathFolder(file);
      if (!byFolder.count(folder)) order.push_back(folder);
      byFolder[folder].push_back(qv::PathName(file));
    }
    for (const std::string& folder : order) {
      std::vector<std::string> parts{folder.empty() ? "./" : folder};
      if (byFolder[folder].size() == 1)
        parts = {parts[0] + byFolder[folder][0]};
      else
        parts.insert(parts.end(), byFolder[folder].begin(), byFolder[folder].end());
      if (const int first = qv::AddImages(s, parts)) qv::FillListWithoutThumbnails(s, first, true, list);
    }
    if (s.ImageCount() < 1) {
      Complain("aucune image à empiler");
      return 1;
    }
  }
  if (a.out.empty()) {
    // Beside the first image, named as the result's base name is.
    a.out = qv::PathFolder(s.Img[1].ImgFile) + qv::BaseName(s) + ".fts";
    Complain("pas de --out : le résultat sera écrit dans " + a.out);
  }
  if (!CheckOutputFolder(a.out)) return 1;
  std::vector<std::string> inputs = {s.opt.MaskFile, s.opt.DarkFile, s.opt.FlatFile};
  for (int i = 1; i <= s.ImageCount(); ++i) inputs.push_back(s.Img[static_cast<size_t>(i)].ImgFile);
  if (!OutputIsNoInput(a.out, inputs)) return 2;
  // The project is written over its path at the end: never over a frame,
  // a master or the result.
  inputs.push_back(a.out);
  if (!a.saveProject.empty() && !OutputIsNoInput(a.saveProject, inputs, "--save-project")) return 2;
  ApplyRejection(a, s.opt);
  // Without --expand the canvas follows the project's box, or the stored
  // setting for a list of images.
  if (!a.expand.empty()) cli.shown.expand = a.expand == "1" ? 1 : 0;
  // The run the main window would ask for with the subset boxes filled in.
  qv::RunRequest request;
  request.expand = cli.shown.expand == 1;
  if (!a.first.empty() || !a.last.empty()) {
    request.first = qv::RangeBoundFromText(s, a.first);
    request.last = qv::RangeBoundFromText(s, a.last);
  }
  const std::string tempFolder = qv::TemporaryFolderShown();
  std::fprintf(stderr, "dossier temporaire : %s\n", tempFolder.c_str());
  // A temporary folder that is missing or cannot be written would leave
  // every frame out after all of them were read: said before any work.
  if (!qv::FolderWritable(tempFolder)) {
    const int err = errno;  // of the folder's own test, when it is one
    std::error_code ec;
    Complain("dossier temporaire inutilisable : " +
             qv::ErrorWords(qv::ErrorNumberOfSystem(std::filesystem::is_directory(tempFolder, ec) ? err : ENOENT),
                            tempFolder, qv::FileTask::Temporary));
    return 1;
  }
  // The temporary files of the run must fit in the temporary folder; the
  // check comes before the guide star is looked for and any image is
  // processed for the run, and leaves the run as it would have been.
  if (a.spaceCheck) {
    if (const qv::TempSpace space = qv::TempSpaceForRun(s, request); !space.Enough()) {
      Complain("espace libre insuffisant dans " + space.folder + " : " + std::to_string(space.FreeMo()) +
               " Mo libres, " + std::to_string(space.NeededMo()) +
               " Mo nécessaires pour les fichiers temporaires ; choisissez un autre dossier temporaire "
               "(TMPDIR=DOSSIER quelvista-cli stack ...) ou passez outre avec --no-space-check");
      return 1;
    }
  }
  if (!a.box.empty()) qv::SetGuideBox(s, a.box == "32" ? 32 : a.box == "64" ? 64 : 128);
  // The automatic guide star is found on every image, wherever the frame
  // moved; the run then gets these marks as if each had been clicked.
  std::optional<Marking> marking;
  // The list's selection processed image 1 with the options and masters of
  // the run: the marks take its planes as they are.
  const bool image1Processed = list.selected == 1 && list.selectedWhole && s.CurPic == 1 &&
                               (a.project.empty() || (a.sets.empty() && !a.calibration.Any()));
  if (a.guide == "auto" || a.mark == "auto" || a.rotation == "auto")
    marking.emplace(s, a.rotation == "auto", a.keepUnmarked);
  if (!a.guide.empty()) {
    // The guide star of image 1, at a pixel of the processed image.
    double gx = 0, gy = 0;
    if (a.guide == "auto") {
      // When image 1 is the marks' reference, its stars are found once for
      // both.
      qv::Outcome chosen = qv::Outcome::Failure("l'image 1 est illisible");
      if (s.Img[1].ImgChecked == 1) {
        if (marking->marker.Reference(image1Processed))
          chosen = qv::ChooseGuideStar(marking->marker.Candidates(), s.guide.GuideBox, gx, gy);
        else
          chosen = qv::Outcome::Failure(marking->marker.Report().message);
      } else {
        chosen = qv::AutoGuideStar(s, gx, gy);
      }
      if (!chosen) {
        Complain("aucune étoile guide convenable trouvée sur l'image 1 : " + chosen.why +
                 " ; indiquez-la avec --guide X,Y (pixels de l'image 1)");
        return 1;
      }
    } else {
      // Parse has checked both numbers.
      const size_t comma = a.guide.find(',');
      qv::DotNumber(a.guide.substr(0, comma), gx);
      qv::DotNumber(a.guide.substr(comma + 1), gy);
    }
    if (!qv::SetGuideStar(s, 1, gx, gy)) {
      Complain("position d'étoile guide hors de l'image 1");
      return 2;
    }
  }
  RunPrinter printer;
  if (marking) {
    // Marking walks the images as a run does, and Ctrl+C stops it the same way.
    s.RunState = 1;
    const int status = marking->Start(s, image1Processed);
    const bool stopped = s.RunState == 2;
    s.RunState = 0;
    if (stopped) return Stopped(0, 0);
    if (status) return status;
    printer.marker = &marking->marker;
    printer.marked = [&](const qv::ImageMark& m) { marking->Print(s, m); };
    s.RunState = 1;
    printer.Begin(s, request);
    if (qv::MaxFwhmOf(s.opt.MaxFwhm) > 0) {
      // The frames' median FWHM needs every image marked before the run
      // can leave out the wide ones; the run then reads them again.
      printer.marked = [](const qv::ImageMark&) {};
      printer.MarkUpTo(s, s.ImageCount());
      printer.planesOf = 0;
      if (s.RunState != 2) {
        marking->marker.LeaveOutWide(s.opt.MaxFwhm);
        const auto& images = marking->marker.Report().images;
        for (size_t k = 1; k < images.size(); ++k) marking->Print(s, images[k]);
      }
    }
    const bool stoppedToo = s.RunState == 2;
    s.RunState = 0;
    if (stoppedToo) return Stopped(0, 0);
  }

  Progress progress(ImagesInRun(s, request));
  // The combination's captions start with the result's size ("W=... H=...").
  cli.services.events.onReport = [&progress](const std::string& caption, double fraction) {
    if (caption.rfind("W=", 0) == 0) progress.Combining(fraction);
  };
  int done = 0, stacked = 0;
  // The last image that could not be parked, which an empty result names,
  // and the final combination's run-time error, which the end warns about.
  std::string parkError, combineError;
  // With the marks, the run's lines wait until every image is marked: the
  // marks' lines all come first.
  std::vector<std::string> runLines;
  auto flushRunLines = [&] {
    for (const std::string& line : runLines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    runLines.clear();
  };
  printer.list = &list;
  if (marking) {
    int first, last;
    qv::RunRange(s, request, first, last);
    printer.marked = [&, first, last](const qv::ImageMark& m) {
      marking->Print(s, m);
      if (m.image >= first && m.image <= last && s.Img[static_cast<size_t>(m.image)].ImgChecked == 0) progress.Fewer();
    };
  }
  printer.frameDone = [&](const qv::FrameResult& frame) {
    const qv::ImageEntry& e = s.Img[static_cast<size_t>(frame.image)];
    JsonObject o;
    o.Add("image", frame.image)
        .Add("file", e.ImgFile)
        .Add("quality", static_cast<double>(frame.quality))
        .Add("accepted", frame.accepted)
        .Add("GuideX", frame.guideX)
        .Add("GuideY", frame.guideY)
        .Add("AnchorX", frame.anchorX)
        .Add("AnchorY", frame.anchorY)
        .Add("StackAngle", frame.angle);
    std::string error;
    const std::string why = WhyNotStacked(s, frame, error);
    if (!error.empty()) o.Add("error", error);
    if (!why.empty()) {
      o.Add("reason", why).Add("onEdge", frame.onEdge);
    }
    if (marking) {
      runLines.push_back(o.Text());
    } else {
      progress.Clear();
      std::printf("%s\n", o.Text().c_str());
      std::fflush(stdout);
    }
    stacked += frame.accepted;
    // The planes parked are the current image's, which a failed selection
    // may have left as another one.
    if (!frame.parked.Text().empty())
      parkError = "image " + std::to_string(frame.planesOf) + " non empilée (" +
                  qv::OutcomeWords(frame.parked, qv::TemporaryFolderShown(), qv::FileTask::Temporary) + ")";
    // An accepted frame whose file could not be parked will not be in the
    // result: the line says so rather than "empilée".
    progress.Image(++done, frame.image,
                   !frame.accepted ? "rejetée"
                   : frame.parked  ? "empilée"
                                   : "acceptée, non empilée",
                   why);
  };
  s.dest.DestFileName.clear();
  const qv::RunResult run = qv::StackRun(s, request, printer);
  if (run.outcome.err != 0)
    combineError = qv::OutcomeWords(run.outcome, qv::TemporaryFolderShown(), qv::FileTask::Combine);
  progress.Done();
  bool stopped = InterruptSignal() != 0;
  if (marking) {
    // The images after the range are marked too, as the project keeps them.
    if (!stopped) {
      s.RunState = 1;
      printer.MarkUpTo(s, s.ImageCount());
      stopped = s.RunState == 2;
      s.RunState = 0;
    }
    if (!stopped) marking->Summary();
    progress.Clear();
    flushRunLines();
  }
  qv::DeleteTempFiles(s);

  int status = 0;
  if (!a.saveProject.empty() &&
      qv::SaveProject(s, cli.shown.Shown(), a.saveProject).outcome != qv::ProjectSave::Saved) {
    Complain("enregistrement du projet impossible : " + a.saveProject);
    status = 1;
  } else if (!a.saveProject.empty() && !a.reject.empty() && a.reject != "aucun") {
    // A project holds the list and the marks, not the combination's rule
    // given here: stacked again without it, it gives the plain average.
    Complain(
        "attention : le projet ne garde pas le rejet (--reject, --kappa, --normalise) : redonnez-les en "
        "l'empilant à nouveau");
  }
  if (stopped) return Stopped(stacked, done);
  if (s.dest.DestFileName.empty()) {
    std::string why = stacked == 0 ? "aucune image n'a été acceptée" : "le résultat est vide";
    for (const std::string* error : {&parkError, &combineError})
      if (!error->empty()) why += " ; " + *error;
    Complain("rien n'a été empilé : " + why);
    return 1;
  }
  bool fromDestination = true;
  int err = 0;
  if (!a.editor.empty() || IsPictureOutput(a.out)) {
    // The result goes through the editor, as the window opened by the end
    // of the run shows it, before it is written.
    int width = 0, height = 0;
    if (RenderAndWrite(s, a.editor, a.out, width, height) != 0) err = -1;
  } else {
    err = (qv::FileKind(a.out) == "tif" ? qv::WriteTiffFile(s, a.out, fromDestination)
                                        : qv::WriteFitsFile(s, a.out, fromDestination))
              .err;
  }
  // `stacked` counts the accepted frames, as it always has; `combined` those
  // that reached the result, which a temporary folder that filled during
  // the run makes fewer, and `missing` names the others.
  const std::vector<const qv::FrameResult*> missing = run.Missing();
  std::string missingJson = "[";
  for (const qv::FrameResult* frame : missing) {
    if (missingJson.size() > 1) missingJson += ",";
    JsonObject m;
    m.Add("index", frame->image)
        .Add("file", s.Img[static_cast<size_t>(frame->image)].ImgFile)
        .Add("why", qv::WhyMissing(*frame));
    missingJson += m.Text();
  }
  missingJson += "]";
  JsonObject sum;
  sum.Add("stacked", stacked)
      .Add("combined", run.Combined())
      .AddRaw("missing", missingJson)
      .Add("width", s.dest.DestSumR.Width())
      .Add("height", s.dest.DestSumR.Height())
      .Add("CanvasMinX", static_cast<int64_t>(s.stack.CanvasMinX))
      .Add("CanvasMinY", static_cast<int64_t>(s.stack.CanvasMinY))
      .Add("CanvasMaxX", static_cast<int64_t>(s.stack.CanvasMaxX))
      .Add("CanvasMaxY", static_cast<int64_t>(s.stack.CanvasMaxY))
      .Add("DestFileName", s.dest.DestFileName)
      .Add("output", a.out)
      .Add("tempFolder", qv::TemporaryFolderShown());
  const bool threeOfOne = qv::ThreeIdenticalPlanes(s, a.out, true);
  if (threeOfOne) {
    char mono[24];
    std::snprintf(mono, sizeof mono, "0x%X", static_cast<unsigned>(s.opt.UseMask | qv::Mono));
    sum.Add("planes", 3)
        .Add("note", std::string("images à un seul plan : trois plans identiques écrits ; "
                                 "--set UseMask=") +
                         mono + " (bit Mono 0x40) pour n'en écrire qu'un");
  }
  std::printf("%s\n", sum.Text().c_str());
  std::fflush(stdout);
  if (err == 0)
    std::fprintf(stderr, "%s → %s\n", qv::CombinedOfAccepted(run.Combined(), stacked).c_str(), a.out.c_str());
  for (const qv::FrameResult* frame : missing)
    Complain("image " + std::to_string(frame->image) + " (" +
             qv::PathName(s.Img[static_cast<size_t>(frame->image)].ImgFile) + ") : " + qv::WhyMissing(*frame));
  if (!combineError.empty()) Complain("attention : " + combineError);
  if (err != 0) {
    // The editor's writer has already said why.
    if (err > 0) Complain(qv::ErrorWords(err, a.out, qv::FileTask::Write));
    return 1;
  }
  // The result is written, but holds fewer frames than the run accepted.
  return status == 0 && !missing.empty() ? 3 : status;
}

}  // namespace qvcli
