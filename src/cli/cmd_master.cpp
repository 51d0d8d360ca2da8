// quelvista-cli master: one calibration master from many frames. Each frame
// is read once through the pipeline with every option off (its raw values)
// and staged on disk; the combination then walks the frames a band of rows
// at a time, so a few hundred camera frames never sit in memory together.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <algorithm>
#include "cli/commands.h"
#include "core/numeric.h"
#include "core/options.h"
#include "core/paths.h"
#include "io/fits_writer.h"
#include "process/process_pic.h"
#include "stack/frame_combine.h"

namespace qvcli {

namespace {

const char* kMasterUsage =
    "usage : quelvista-cli master dark|flat|mask FICHIER... --out MAITRE.fts [--dark BIAS.fts]\n"
    "  dark, mask : médiane pixel par pixel (nombre pair : moyenne des deux valeurs du milieu,\n"
    "               arrondie au pair le plus proche)\n"
    "  flat       : moyenne pixel par pixel, chaque plage mise à l'échelle par\n"
    "               (médiane des médianes) / (sa médiane), après soustraction de --dark s'il est donné\n"
    "  Un dossier donné à la place de fichiers est remplacé par ses images, dans l'ordre des noms.\n"
    "  Écrit un FITS 16 bits accepté tel quel par DarkFile, FlatFile ou MaskFile.\n";

volatile std::sig_atomic_t stopRequested = 0;
void OnInterrupt(int) { stopRequested = 1; }

// After Ctrl+C: the closing line, and nothing written.
int Stopped() {
  JsonObject o;
  o.Add("stopped", true).Add("output", "");
  std::printf("%s\n", o.Text().c_str());
  Complain("arrêt demandé : rien n'a été écrit");
  return 130;
}

// Memory given to one band of rows across all frames.
constexpr size_t kBandBytes = size_t{256} << 20;

// A frame read through the pipeline: `planes` planes of W x H, laid out row
// by row, each row holding its planes one after the other, so that a band of
// rows is one contiguous run of samples.
struct Frame {
  int width = 0, height = 0, planes = 0;
  std::vector<int32_t> samples;
};

bool ReadFrame(const std::string& file, Frame& f, std::string& why) {
  CliSession cli;
  qv::Session& s = cli.s;
  s.locale = qv::NumLocale::FromEnvironment();
  s.opt = qv::Options::Fresh();
  s.opt.UseMask = 0;
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = file;
  s.Img[1].ImgChecked = 1;
  s.CurPic = 1;
  const qv::Outcome r = qv::ProcessPic(s, 1, 0);
  if (!r.ok) {
    why = "illisible : " + r.Text();
    return false;
  }
  const qv::ImageEntry& e = s.Img[1];
  f.width = s.pic.PicR.Width();
  f.height = s.pic.PicR.Height();
  f.planes = (e.ImgNaxis >= 3 && e.ImgNaxis3 > 1) ? 3 : 1;
  const qv::Plane<int32_t>* p[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  for (int k = 1; k < f.planes; ++k)
    if (!p[k]->HasSize(f.width, f.height)) f.planes = 1;
  f.samples.resize(static_cast<size_t>(f.width) * f.height * f.planes);
  int32_t* out = f.samples.data();
  for (int y = 0; y < f.height; ++y)
    for (int k = 0; k < f.planes; ++k) {
      std::copy(p[k]->Row(y), p[k]->Row(y) + f.width, out);
      out += f.width;
    }
  return true;
}

struct Refused {
  std::string file, reason;
};

std::string RefusedJson(const std::vector<Refused>& refused) {
  std::string json = "[";
  for (const Refused& r : refused) {
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
  std::vector<std::string> files;
  if (!ExpandImageArguments(given, files)) return 1;
  if (!CheckOutputFolder(out)) return 1;

  Frame dark;
  if (!bias.empty()) {
    std::string why;
    if (!ReadFrame(bias, dark, why)) {
      Complain("dark inutilisable (" + why + ") : " + bias);
      return 1;
    }
  }

  // Staging: every usable frame once, to a raw file of its own.
  std::error_code ec;
  const std::filesystem::path stage =
      std::filesystem::temp_directory_path(ec) / ("quelvista-master-" + std::to_string(::getpid()));
  std::filesystem::create_directories(stage, ec);
  if (ec) {
    Complain("dossier temporaire impossible : " + stage.string());
    return 1;
  }
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() {
      std::error_code e;
      std::filesystem::remove_all(dir, e);
    }
  } cleanup{stage};
  // Ctrl+C is seen between frames and between bands, so the staging folder
  // is always removed.
  std::signal(SIGINT, OnInterrupt);

  std::vector<Refused> refused;
  std::vector<std::string> staged;
  std::vector<int32_t> medians;
  int width = 0, height = 0, planes = 0;
  for (const std::string& file : files) {
    if (stopRequested) return Stopped();
    Frame f;
    std::string why;
    if (!ReadFrame(file, f, why)) {
      refused.push_back({file, why});
      Complain("image refusée, " + why + " : " + file);
      continue;
    }
    if (staged.empty()) {
      width = f.width, height = f.height, planes = f.planes;
    } else if (f.width != width || f.height != height || f.planes != planes) {
      why = "taille " + std::to_string(f.width) + " x " + std::to_string(f.height) + " x " + std::to_string(f.planes) +
            " au lieu de " + std::to_string(width) + " x " + std::to_string(height) + " x " + std::to_string(planes);
      refused.push_back({file, why});
      Complain("image refusée, " + why + " : " + file);
      continue;
    }
    if (kind == "flat") {
      if (!bias.empty()) {
        if (dark.width != f.width || dark.height != f.height) {
          Complain("le dark " + bias + " (" + std::to_string(dark.width) + " x " + std::to_string(dark.height) +
                   ") n'a pas la taille des plages (" + std::to_string(f.width) + " x " + std::to_string(f.height) +
                   ")");
          return 1;
        }
        const size_t perRow = static_cast<size_t>(f.width) * f.planes;
        for (int y = 0; y < f.height; ++y)
          for (size_t i = 0; i < perRow; ++i) {
            // A one-plane dark is taken off every plane of a colour flat.
            const size_t di = static_cast<size_t>(y) * dark.width * dark.planes + (i % static_cast<size_t>(f.width)) +
                              (dark.planes == f.planes ? (i / static_cast<size_t>(f.width)) * f.width : 0);
            f.samples[y * perRow + i] -= dark.samples[di];
          }
      }
      std::vector<int32_t> copy = f.samples;
      const int32_t m = qv::MedianHalfEven(copy);
      if (m <= 0) {
        why = "médiane " + std::to_string(m) + " : plage vide ou sous-exposée";
        refused.push_back({file, why});
        Complain("image refusée, " + why + " : " + file);
        continue;
      }
      medians.push_back(m);
    }
    const std::string raw = (stage / (std::to_string(staged.size()) + ".raw")).string();
    std::ofstream os(raw, std::ios::binary);
    os.write(reinterpret_cast<const char*>(f.samples.data()),
             static_cast<std::streamsize>(f.samples.size() * sizeof(int32_t)));
    if (!os) {
      Complain("écriture temporaire impossible : " + raw);
      return 1;
    }
    staged.push_back(raw);
  }
  if (staged.empty()) {
    Complain("aucune image utilisable pour le maître");
    JsonObject o;
    o.Add("master", kind).Add("used", 0).AddRaw("refused", RefusedJson(refused));
    std::printf("%s\n", o.Text().c_str());
    return 1;
  }

  std::vector<double> scales;
  if (kind == "flat") {
    std::vector<int32_t> copy = medians;
    const double target = qv::MedianHalfEven(copy);
    for (int32_t m : medians) scales.push_back(target / m);
  }

  // The combination, band by band.
  const size_t rowSamples = static_cast<size_t>(width) * planes;
  const size_t bandRows =
      std::max<size_t>(1, std::min<size_t>(height, kBandBytes / (rowSamples * sizeof(int32_t) * staged.size())));
  std::vector<int32_t> master(rowSamples * height);
  std::vector<std::vector<int32_t>> band(staged.size());
  std::vector<const int32_t*> rows(staged.size());
  for (size_t y0 = 0; y0 < static_cast<size_t>(height); y0 += bandRows) {
    if (stopRequested) return Stopped();
    const size_t n = std::min(bandRows, height - y0) * rowSamples;
    for (size_t k = 0; k < staged.size(); ++k) {
      band[k].resize(n);
      std::ifstream is(staged[k], std::ios::binary);
      is.seekg(static_cast<std::streamoff>(y0 * rowSamples * sizeof(int32_t)));
      is.read(reinterpret_cast<char*>(band[k].data()), static_cast<std::streamsize>(n * sizeof(int32_t)));
      if (!is) {
        Complain("lecture temporaire impossible : " + staged[k]);
        return 1;
      }
      rows[k] = band[k].data();
    }
    int32_t* dst = master.data() + y0 * rowSamples;
    if (kind == "flat")
      qv::ScaledMeanOfFrames(rows, scales, n, dst);
    else
      qv::MedianOfFrames(rows, n, dst);
  }

  // A 16-bit file holds 0..65535; the writer would store a negative value as
  // the middle of the range, so it is limited here.
  for (int32_t& v : master) v = std::clamp(v, 0, 65535);
  CliSession cli;
  cli.s.opt = qv::Options::Fresh();
  cli.s.opt.UseMask = planes == 1 ? qv::Mono : 0;
  qv::Plane<int32_t>* p[3] = {&cli.s.pic.PicR, &cli.s.pic.PicG, &cli.s.pic.PicB};
  for (int k = 0; k < 3; ++k) p[k]->Redim(width - 1, height - 1);
  for (int y = 0; y < height; ++y)
    for (int k = 0; k < 3; ++k)
      std::copy_n(master.data() + y * rowSamples + static_cast<size_t>(std::min(k, planes - 1)) * width, width,
                  p[k]->Row(y));
  bool fromDestination = false;
  const int err = qv::WriteFitsFile(cli.s, out, fromDestination);
  if (err != 0) {
    Complain("écriture impossible (erreur " + std::to_string(err) + ") : " + out);
    return 1;
  }
  std::vector<int32_t> all = master;
  JsonObject o;
  o.Add("master", kind)
      .Add("used", static_cast<int64_t>(staged.size()))
      .Add("width", width)
      .Add("height", height)
      .Add("planes", planes)
      .Add("median", int64_t{qv::MedianHalfEven(all)})
      .Add("output", out)
      .AddRaw("refused", RefusedJson(refused));
  std::printf("%s\n", o.Text().c_str());
  std::fprintf(stderr, "maître %s de %zu image(s) → %s\n", kind.c_str(), staged.size(), out.c_str());
  return 0;
}

}  // namespace qvcli
