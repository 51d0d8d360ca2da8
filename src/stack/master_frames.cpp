#include "stack/master_frames.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "core/error_words.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/run_files.h"
#include "core/session.h"
#include "platform/platform.h"
#include "process/image_files.h"
#include "process/process_pic.h"
#include "stack/frame_combine.h"

namespace qv {

namespace {

// Memory given to one band of rows across all frames.
constexpr size_t kBandBytes = size_t{256} << 20;

// Reading the frames is most of the work; the bar gives them this share.
constexpr double kReadingShare = 0.8;

// A frame read through the pipeline: `planes` planes of W x H, laid out row
// by row, each row holding its planes one after the other, so that a band of
// rows is one contiguous run of samples.
struct Frame {
  int width = 0, height = 0, planes = 0;
  std::vector<int32_t> samples;
};

bool ReadFrame(const std::string& file, const NumLocale& locale, const YieldPoint& goOn, Frame& f, std::string& why) {
  HeadlessPlatform services;
  Session s(services.Get());
  // The pipeline yields while it reads a large frame: a stop asked there
  // ends the frame's processing at once instead of after its last row.
  services.events.onYield = [&] {
    if (!GoOn(goOn)) s.RunState = kStopRequested;
  };
  s.locale = locale;
  s.opt = Options::Fresh();
  s.opt.UseMask = 0;
  s.ResizeImageArrays(1);
  s.Img[1] = ImageEntry{};
  s.Img[1].ImgFile = file;
  s.Img[1].ImgChecked = 1;
  s.CurPic = 1;
  const Outcome r = ProcessPic(s, 1, 0);
  if (!r.ok) {
    why = "illisible : " + OutcomeWords(r, file, FileTask::Process);
    return false;
  }
  const ImageEntry& e = s.Img[1];
  f.width = s.pic.PicR.Width();
  f.height = s.pic.PicR.Height();
  f.planes = (e.ImgNaxis >= 3 && e.ImgNaxis3 > 1) ? 3 : 1;
  const Plane<int32_t>* p[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
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

// The staging folder and its files go whatever the end of the build.
struct StagingFolder {
  std::filesystem::path dir;
  ~StagingFolder() {
    std::error_code e;
    if (!dir.empty()) std::filesystem::remove_all(dir, e);
  }
};

MasterResult Fail(MasterResult r, const std::string& why) {
  r.status = MasterResult::Failed;
  r.why = why;
  return r;
}

}  // namespace

std::vector<std::string> ImagesInFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> inside;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    // ".fits", ".tiff" and ".jpeg" are of kinds "fit", "tif" and "jpe".
    const std::string kind = FileKind(e.path().string());
    if (e.is_regular_file(ec) &&
        (kind == "fts" || kind == "fit" || kind == "tif" || kind == "bmp" || kind == "jpg" || kind == "jpe"))
      inside.push_back(e.path().string());
  }
  std::sort(inside.begin(), inside.end());
  return inside;
}

MasterResult BuildMasterFromFrames(const MasterRequest& request, const MasterWatch& watch) {
  MasterResult result;
  const bool flat = request.kind == MasterKind::Flat;
  auto goOn = [&] { return GoOn(watch.goOn); };
  auto report = [&](const std::string& caption, double done) {
    if (watch.report) watch.report(caption, done);
  };
  auto refuse = [&](const std::string& file, const std::string& why) {
    result.refused.push_back({file, why});
    if (watch.refused) watch.refused(result.refused.back());
  };
  auto stopped = [&] {
    result.status = MasterResult::Stopped;
    return result;
  };

  Frame dark;
  if (!request.bias.empty()) {
    std::string why;
    if (!ReadFrame(request.bias, request.locale, watch.goOn, dark, why)) {
      if (!goOn()) return stopped();
      return Fail(result, "dark inutilisable (" + why + ") : " + request.bias);
    }
  }

  // Staging: every usable frame once, to a raw file of its own.
  std::error_code ec;
  StagingFolder stage;
  const std::filesystem::path folder = MasterStagingFolder();
  std::filesystem::create_directories(folder, ec);
  const std::string tempShown = TemporaryFolderShown();
  if (ec)
    return Fail(result, "dossier de travail impossible à créer : " +
                            ErrorWords(ErrorNumberOfSystem(ec.value()), tempShown, FileTask::Temporary));
  stage.dir = folder;

  std::vector<std::string> staged;
  std::vector<int32_t> medians;
  int width = 0, height = 0, planes = 0;
  const size_t count = request.frames.size();
  for (size_t k = 0; k < count; ++k) {
    const std::string& file = request.frames[k];
    report("Lecture de " + PathName(file) + " (" + std::to_string(k + 1) + "/" + std::to_string(count) + ")",
           kReadingShare * static_cast<double>(k) / static_cast<double>(count));
    if (!goOn()) return stopped();
    Frame f;
    std::string why;
    if (!ReadFrame(file, request.locale, watch.goOn, f, why)) {
      // A frame cut short by a stop is not a bad frame.
      if (!goOn()) return stopped();
      refuse(file, why);
      continue;
    }
    if (staged.empty()) {
      width = f.width, height = f.height, planes = f.planes;
    } else if (f.width != width || f.height != height || f.planes != planes) {
      refuse(file, "taille " + std::to_string(f.width) + " x " + std::to_string(f.height) + " x " +
                       std::to_string(f.planes) + " au lieu de " + std::to_string(width) + " x " +
                       std::to_string(height) + " x " + std::to_string(planes));
      continue;
    }
    if (flat) {
      if (!request.bias.empty()) {
        if (dark.width != f.width || dark.height != f.height)
          return Fail(result, "le dark " + request.bias + " (" + std::to_string(dark.width) + " x " +
                                  std::to_string(dark.height) + ") n'a pas la taille des plages (" +
                                  std::to_string(f.width) + " x " + std::to_string(f.height) + ")");
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
      const int32_t m = MedianHalfEven(copy);
      if (m <= 0) {
        refuse(file, "médiane " + std::to_string(m) + " : plage vide ou sous-exposée");
        continue;
      }
      medians.push_back(m);
    }
    const std::string raw = (folder / (std::to_string(staged.size()) + ".raw")).string();
    errno = 0;
    std::ofstream os(raw, std::ios::binary);
    os.write(reinterpret_cast<const char*>(f.samples.data()),
             static_cast<std::streamsize>(f.samples.size() * sizeof(int32_t)));
    os.flush();
    if (!os) return Fail(result, ErrorWords(ErrorNumberOfSystem(errno), tempShown, FileTask::Temporary));
    staged.push_back(raw);
  }
  if (staged.empty()) {
    result.status = MasterResult::NoFrame;
    return result;
  }

  std::vector<double> scales;
  if (flat) {
    std::vector<int32_t> copy = medians;
    const double target = MedianHalfEven(copy);
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
    report("Combinaison de " + std::to_string(staged.size()) + " image(s)",
           kReadingShare + (1 - kReadingShare) * static_cast<double>(y0) / height);
    if (!goOn()) return stopped();
    const size_t n = std::min(bandRows, height - y0) * rowSamples;
    for (size_t k = 0; k < staged.size(); ++k) {
      band[k].resize(n);
      std::ifstream is(staged[k], std::ios::binary);
      is.seekg(static_cast<std::streamoff>(y0 * rowSamples * sizeof(int32_t)));
      is.read(reinterpret_cast<char*>(band[k].data()), static_cast<std::streamsize>(n * sizeof(int32_t)));
      if (!is) return Fail(result, "lecture temporaire impossible : " + staged[k]);
      rows[k] = band[k].data();
    }
    int32_t* dst = master.data() + y0 * rowSamples;
    if (flat)
      ScaledMeanOfFrames(rows, scales, n, dst);
    else
      MedianOfFrames(rows, n, dst);
  }

  // A stop asked during the last band still writes nothing.
  if (!goOn()) return stopped();

  // A 16-bit file holds 0..65535; the writer would store a negative value as
  // the middle of the range, so it is limited here.
  for (int32_t& v : master) v = std::clamp(v, 0, 65535);
  {
    HeadlessPlatform services;
    Session s(services.Get());
    s.opt = Options::Fresh();
    s.opt.UseMask = planes == 1 ? Mono : 0;
    Plane<int32_t>* p[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
    for (int k = 0; k < 3; ++k) p[k]->Redim(width - 1, height - 1);
    for (int y = 0; y < height; ++y)
      for (int k = 0; k < 3; ++k)
        std::copy_n(master.data() + y * rowSamples + static_cast<size_t>(std::min(k, planes - 1)) * width, width,
                    p[k]->Row(y));
    bool fromDestination = false;
    const Outcome written = WriteFitsFile(s, request.out, fromDestination);
    if (!written) return Fail(result, OutcomeWords(written, request.out, FileTask::Write));
  }
  report("", 1.0);
  result.status = MasterResult::Written;
  result.used = static_cast<int>(staged.size());
  result.width = width;
  result.height = height;
  result.planes = planes;
  if (flat && !request.bias.empty()) {
    // Where the dark itself reaches a quarter of its plane's flat level:
    // a dark of the flats' exposure or an offset never does, the lights'
    // long dark does at each hot pixel. The flat's own dark parts (a weak
    // plane, vignetted corners, the sky outside a round field) are not the
    // dark's doing and are not counted.
    std::vector<int32_t> quarter(static_cast<size_t>(planes));
    for (int p = 0; p < planes; ++p) {
      std::vector<int32_t> plane;
      plane.reserve(static_cast<size_t>(width) * height);
      for (int y = 0; y < height; ++y) {
        const int32_t* row = master.data() + y * rowSamples + static_cast<size_t>(p) * width;
        plane.insert(plane.end(), row, row + width);
      }
      quarter[static_cast<size_t>(p)] = MedianHalfEven(plane) / 4;
    }
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        bool hole = false;
        for (int p = 0; p < planes && !hole; ++p) {
          const int dp = dark.planes == planes ? p : 0;
          const size_t di =
              static_cast<size_t>(y) * dark.width * dark.planes + static_cast<size_t>(dp) * dark.width + x;
          hole = dark.samples[di] > quarter[static_cast<size_t>(p)];
        }
        result.darkHoles += hole;
      }
  }
  result.median = MedianHalfEven(master);
  return result;
}

std::string DarkHolesWarning(const MasterResult& result) {
  if (result.darkHoles <= 0) return "";
  const bool one = result.darkHoles == 1;
  return "Attention : le dark retranché atteint le quart du niveau de la PLU en " + std::to_string(result.darkHoles) +
         (one ? " pixel, qui y est creusé" : " pixels, qui y sont creusés") +
         ". Retranchez le dark des PLU (pris à leur pose) ou un offset, pas le dark des images : ses pixels chauds "
         "creusent la PLU et ressortent en points brillants.";
}

}  // namespace qv
