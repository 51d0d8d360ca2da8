// A synthetic sky for the demo, the tests and the benchmarks: a star field
// with a bright isolated guide star, a sky gradient, shot and read noise, a
// known drift and optional field rotation per frame, optional hot pixels
// (with a matching dark), vignetting (with a matching flat) and a frame
// whose guide star is hidden by cloud. Everything is seeded, so the same
// options write the same files.
#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/simulate.h"

#include "core/error_words.h"
#include "core/numeric.h"
#include "core/paths.h"
#include "core/session.h"
#include "io/file.h"
#include "io/json.h"
#include "process/image_files.h"
#include "workspace/project_file.h"

namespace qvsim {

namespace {

// The message of a failure, in words for the user.
void Fail(std::string& why, const std::string& message) { why = message; }

constexpr int kMaxFrames = 1000;
// Below a pixel a star is no longer sampled (its drawn light would not add
// up to its flux); past 30 pixels it is no star a night would be kept for.
constexpr double kMinFwhm = 1, kMaxFwhm = 30;
constexpr double kNightSigma = 1.5;  // the stars' Gaussian on a night without --seeing
const double kFwhmPerSigma = 2 * std::sqrt(2 * std::log(2.0));
constexpr double kTrailFwhm = 1.5;  // a satellite is a point source: its line is as thin as the optics allow

// A straight line drawn across a frame: its two ends on the frame's edges.
struct Segment {
  double x1, y1, x2, y2;
  double Length() const { return std::hypot(x2 - x1, y2 - y1); }
};

// The part of the line through (px, py) along (ux, uy) that lies in a
// frame of w x h pixel centres; false when the line misses it.
bool ClipToFrame(double px, double py, double ux, double uy, int w, int h, Segment& seg) {
  double lo = -HUGE_VAL, hi = HUGE_VAL;
  auto slab = [&](double p, double u, double upper) {
    if (u == 0) return p >= 0 && p <= upper;
    const double t1 = -p / u, t2 = (upper - p) / u;
    lo = std::max(lo, std::min(t1, t2));
    hi = std::min(hi, std::max(t1, t2));
    return true;
  };
  if (!slab(px, ux, w - 1) || !slab(py, uy, h - 1) || lo >= hi) return false;
  seg = {px + lo * ux, py + lo * uy, px + hi * ux, py + hi * uy};
  return true;
}

// A thin Gaussian line of `peak` along the segment, into every plane. The
// segment runs from edge to edge, so its distance to the infinite line is
// the distance that counts for every pixel of the frame.
void AddTrail(std::vector<double>& planes, int w, int h, int count, const Segment& seg, double peak) {
  const double len = seg.Length();
  if (len <= 0) return;
  const double ux = (seg.x2 - seg.x1) / len, uy = (seg.y2 - seg.y1) / len;
  const double sigma = kTrailFwhm / kFwhmPerSigma, reach = 5 * sigma;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = (x - seg.x1) * uy - (y - seg.y1) * ux;
      if (std::fabs(d) > reach) continue;
      const double g = peak * std::exp(-d * d / (2 * sigma * sigma));
      for (int p = 0; p < count; ++p) planes[(static_cast<size_t>(p) * h + y) * w + x] += g;
    }
}

struct Star {
  double x, y, flux, r, g, b;
};

// One frame's planes in floating values, 0..65535.
struct Frame {
  int w, h, planes;
  std::vector<double> v;
  double& at(int p, int x, int y) { return v[(static_cast<size_t>(p) * h + y) * w + x]; }
};

void Card(std::vector<uint8_t>& hdr, int& i, const std::string& key, const std::string& value) {
  std::memcpy(hdr.data() + i * 80, key.data(), key.size());
  if (!value.empty()) std::memcpy(hdr.data() + i * 80 + 30 - value.size(), value.data(), value.size());
  ++i;
}

void PutBig(std::vector<uint8_t>& d, size_t at, uint64_t u, int bytes) {
  for (int k = 0; k < bytes; ++k) d[at + k] = static_cast<uint8_t>(u >> (8 * (bytes - 1 - k)));
}

int WriteFits(const std::string& path, const Frame& f, int bitpix, bool raw) {
  std::vector<uint8_t> hdr(2880, ' ');
  int i = 0;
  Card(hdr, i, "SIMPLE  =", "T");
  Card(hdr, i, "BITPIX  =", std::to_string(bitpix));
  Card(hdr, i, "NAXIS   =", f.planes == 1 ? "2" : "3");
  Card(hdr, i, "NAXIS1  =", std::to_string(f.w));
  Card(hdr, i, "NAXIS2  =", std::to_string(f.h));
  if (f.planes > 1) Card(hdr, i, "NAXIS3  =", std::to_string(f.planes));
  if (bitpix == 16) Card(hdr, i, "BZERO   =", "32768");
  if (raw) Card(hdr, i, "READOUTM= 'RAW     '", "");
  Card(hdr, i, "END", "");
  const int b = bitpix == 8 ? 1 : bitpix == 16 ? 2 : bitpix == -64 ? 8 : 4;
  std::vector<uint8_t> data((f.v.size() * b + 2879) / 2880 * 2880, 0);
  for (size_t k = 0; k < f.v.size(); ++k) {
    const double v = std::clamp(f.v[k], 0.0, 65535.0);
    switch (bitpix) {
      case 8:
        data[k] = static_cast<uint8_t>(std::lround(v / 257));
        break;
      case 16:
        PutBig(data, k * 2, static_cast<uint16_t>(std::lround(v) - 32768), 2);
        break;
      case 32:
        PutBig(data, k * 4, static_cast<uint32_t>(std::lround(v)), 4);
        break;
      case -32: {
        const float fv = static_cast<float>(v);
        uint32_t u;
        std::memcpy(&u, &fv, 4);
        PutBig(data, k * 4, u, 4);
        break;
      }
      default: {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        PutBig(data, k * 8, u, 8);
      }
    }
  }
  return qv::WriteFileReplacing(path, {&hdr, &data}).err;
}

int WriteTiff(const std::string& path, const Frame& f) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.opt.UseMask = f.planes == 1 ? qv::Mono : 0;
  qv::Plane<int32_t>* planes[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  for (int p = 0; p < 3; ++p) {
    planes[p]->Redim(f.w - 1, f.h - 1);
    const int src = std::min(p, f.planes - 1);
    for (int y = 0; y < f.h; ++y)
      for (int x = 0; x < f.w; ++x)
        (*planes[p])(x, y) = static_cast<int32_t>(
            std::lround(std::clamp(f.v[(static_cast<size_t>(src) * f.h + y) * f.w + x], 0.0, 65535.0)));
  }
  bool fromDestination = false;
  return qv::WriteTiffFile(s, path, fromDestination).err;
}

int WritePicture(const std::string& path, const Frame& f, bool jpeg) {
  FreeImage_Initialise(FALSE);
  FIBITMAP* dib = FreeImage_Allocate(f.w, f.h, 24);
  if (!dib) return qv::kErrOutOfMemory;
  for (int y = 0; y < f.h; ++y) {
    BYTE* row = FreeImage_GetScanLine(dib, f.h - 1 - y);
    for (int x = 0; x < f.w; ++x) {
      auto byte = [&](int p) {
        const int src = std::min(p, f.planes - 1);
        return static_cast<BYTE>(
            std::lround(std::clamp(f.v[(static_cast<size_t>(src) * f.h + y) * f.w + x] / 257, 0.0, 255.0)));
      };
      row[x * 3 + FI_RGBA_RED] = byte(0);
      row[x * 3 + FI_RGBA_GREEN] = byte(1);
      row[x * 3 + FI_RGBA_BLUE] = byte(2);
    }
  }
  const BOOL ok = FreeImage_Save(jpeg ? FIF_JPEG : FIF_BMP, dib, path.c_str(), jpeg ? JPEG_QUALITYSUPERB : 0);
  FreeImage_Unload(dib);
  FreeImage_DeInitialise();
  return ok ? 0 : qv::kErrPathAccess;
}

}  // namespace

double NightFwhm() { return kNightSigma * kFwhmPerSigma; }

bool ParseOptions(const std::vector<std::string>& args, SimOptions& o, std::string& why) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    // Values are checked whole: "nan" or "5x" is no count, and a number
    // is range-checked before it is narrowed to the option's type.
    auto integer = [&](int& v, int lo, int hi) {
      double d;
      if (!hasValue || !qv::WholeDotNumber(args[++i], lo, hi, d)) return false;
      v = static_cast<int>(d);
      return true;
    };
    auto real = [&](double& v, double lim) {
      if (!hasValue) return false;
      return qv::DotNumber(args[++i], v) && std::fabs(v) <= lim;
    };
    bool ok = true;
    std::string detail;  // what is wrong with the value, when more than its range
    if (a == "--out" && hasValue)
      o.out = args[++i];
    else if (a == "--frames")
      ok = integer(o.frames, 1, kMaxFrames);
    else if (a == "--width")
      ok = integer(o.width, 64, 16384);
    else if (a == "--height")
      ok = integer(o.height, 64, 16384);
    else if (a == "--stars")
      ok = integer(o.stars, 0, 100000);
    else if (a == "--seed") {
      double seed;
      ok = hasValue && qv::WholeDotNumber(args[++i], 0, 4294967295.0, seed);
      if (ok) o.seed = static_cast<unsigned>(seed);
    } else if (a == "--bitpix")
      ok = integer(o.bitpix, -64, 32) &&
           (o.bitpix == 8 || o.bitpix == 16 || o.bitpix == 32 || o.bitpix == -32 || o.bitpix == -64);
    else if (a == "--hot-pixels")
      o.hotPixels = true;
    else if (a == "--vignetting")
      o.vignetting = true;
    else if (a == "--calibrated")
      o.hotPixels = o.vignetting = true;
    else if (a == "--calibration-frames")
      ok = integer(o.calibrationFrames, 1, 1000);
    // One frame each: a second value would silently replace the first.
    else if (a == "--cloud" && o.cloud != 0) {
      ok = false;
      detail = "une seule pose voilée par nuit (déjà la pose " + std::to_string(o.cloud) + ")";
    } else if (a == "--cloud")
      ok = integer(o.cloud, 1, 1000);
    else if (a == "--rotation")
      ok = real(o.rotation, 10);
    else if (a == "--dither")
      ok = real(o.dither, 200) && o.dither >= 0;
    else if (a == "--dither-angle")
      ok = real(o.ditherAngle, 180) && o.ditherAngle >= 0;
    else if (a == "--other-field" && o.otherField != 0) {
      ok = false;
      detail = "une seule pose d'un autre champ par nuit (déjà la pose " + std::to_string(o.otherField) + ")";
    } else if (a == "--other-field")
      ok = integer(o.otherField, 1, 1000);
    else if (a == "--drift") {
      ok = hasValue;
      if (ok) {
        const std::string v = args[++i];
        const size_t comma = v.find(',');
        ok = comma != std::string::npos;
        if (ok) {
          ok = qv::DotNumber(v.substr(0, comma), o.driftX) && qv::DotNumber(v.substr(comma + 1), o.driftY) &&
               std::fabs(o.driftX) <= 50 && std::fabs(o.driftY) <= 50;
        }
      }
    } else if (a == "--seeing") {
      ok = hasValue;
      if (ok) {
        const std::string v = args[++i];
        const size_t colon = v.find(':');
        double frame = 0, fwhm = 0;
        if (colon == std::string::npos) {
          ok = false;
          detail = "attend POSE:FWHM, par exemple 3:5";
        } else if (!qv::WholeDotNumber(v.substr(0, colon), 1, kMaxFrames, frame)) {
          ok = false;
          detail = "la pose est un numéro de 1 à " + std::to_string(kMaxFrames);
        } else if (!qv::DotNumber(v.substr(colon + 1), fwhm) || fwhm < kMinFwhm || fwhm > kMaxFwhm) {
          ok = false;
          detail = "la FWHM est un nombre de pixels de 1 à 30";
        } else if (!o.seeing.emplace(static_cast<int>(frame), fwhm).second &&
                   o.seeing[static_cast<int>(frame)] != fwhm) {
          ok = false;
          detail = "la pose " + std::to_string(static_cast<int>(frame)) + " a déjà une autre FWHM";
        }
      }
    } else if (a == "--trail") {
      // POSE, or POSE:SATELLITE: the frames of one satellite show it on one
      // line of the sky; other satellites cross elsewhere.
      ok = hasValue;
      if (ok) {
        const std::string v = args[++i];
        const size_t colon = v.find(':');
        double frame = 0, satellite = 1;
        if (!qv::WholeDotNumber(v.substr(0, colon), 1, kMaxFrames, frame)) {
          ok = false;
          detail = "la pose est un numéro de 1 à " + std::to_string(kMaxFrames);
        } else if (colon != std::string::npos && !qv::WholeDotNumber(v.substr(colon + 1), 1, kMaxFrames, satellite)) {
          ok = false;
          detail = "le satellite est un numéro de 1 à " + std::to_string(kMaxFrames);
        } else if (!o.trails.emplace(static_cast<int>(frame), static_cast<int>(satellite)).second &&
                   o.trails[static_cast<int>(frame)] != static_cast<int>(satellite)) {
          ok = false;
          detail = "la pose " + std::to_string(static_cast<int>(frame)) + " a déjà un autre satellite";
        }
      }
    } else if (a == "--trail-flux") {
      ok = real(o.trailFlux, 65535) && o.trailFlux >= 1;
    } else if (a == "--colour" && hasValue) {
      o.colour = args[++i];
      ok = o.colour == "mono" || o.colour == "rgb" || o.colour == "cfa" || o.colour == "split";
    } else if (a == "--format" && hasValue) {
      o.format = args[++i];
      ok = o.format == "fits" || o.format == "tif" || o.format == "bmp" || o.format == "jpg";
    } else {
      ok = false;
    }
    if (!ok) {
      Fail(why, "option invalide : " + a + (i < args.size() && args[i] != a ? " " + args[i] : std::string()) +
                    (detail.empty() ? "" : " : " + detail) + " (limites : quelvista-cli simulate --help)");
      return false;
    }
  }
  // A frame number is checked against --frames once every option is read:
  // the count may come after the frame.
  auto beyond = [&](const std::string& option, int frame) {
    Fail(why, "option invalide : " + option + " " + std::to_string(frame) + " : pas de pose " + std::to_string(frame) +
                  ", la nuit en compte " + std::to_string(o.frames) + " (--frames)");
    return false;
  };
  if (!o.seeing.empty() && o.seeing.rbegin()->first > o.frames) return beyond("--seeing", o.seeing.rbegin()->first);
  if (!o.trails.empty() && o.trails.rbegin()->first > o.frames) return beyond("--trail", o.trails.rbegin()->first);
  if (o.out.empty()) {
    Fail(why,
         "usage : quelvista-cli simulate --out DOSSIER [--frames N] [--width W] [--height H] [--stars N]\n"
         "        [--seed S] [--drift DX,DY] [--rotation DEGRES] [--hot-pixels] [--vignetting] [--calibrated]\n"
         "        [--cloud IMAGE] [--dither PX] [--dither-angle DEGRES] [--other-field IMAGE]\n"
         "        [--colour mono|rgb|cfa|split] [--bitpix 8|16|32|-32|-64] [--format fits|tif|bmp|jpg]\n"
         "        [--calibration-frames N] [--seeing POSE:FWHM] [--trail POSE[:SAT]] [--trail-flux ADU]\n"
         "quelvista-cli simulate --help : chaque option, ses unités et ses limites");
    return false;
  }
  if (o.format != "fits" && (o.colour == "cfa" || o.colour == "split")) {
    Fail(why, "les couleurs cfa et split n'existent qu'en FITS");
    return false;
  }
  return true;
}

int Simulate(const SimOptions& o, std::vector<std::string>& written, std::string& why) {
  SimRecord record;
  const int status = Simulate(o, record, why);
  if (status == 0) {
    written = record.frames;
    written.push_back(record.truth);
    written.push_back(record.project);
  }
  return status;
}

int Simulate(const SimOptions& o, SimRecord& record, std::string& why) {
  const int W = o.width, H = o.height;
  const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
  std::mt19937_64 rng(o.seed);
  std::uniform_real_distribution<double> u01(0, 1);
  std::normal_distribution<double> gauss(0, 1);

  // The guide star: bright but unsaturated, a little off the centre, with
  // no other star within 40 pixels.
  const double sigma = kNightSigma;
  const double twoPiS2 = 2 * M_PI * sigma * sigma;
  std::vector<Star> stars;
  stars.push_back({cx + 17.3, cy - 11.6, 30000 * twoPiS2, 1, 1, 1});
  while (static_cast<int>(stars.size()) < o.stars + 1) {
    Star s{u01(rng) * (W - 1), u01(rng) * (H - 1), 150 * twoPiS2 * std::pow(150.0, u01(rng)), 0, 0, 0};
    if (std::hypot(s.x - stars[0].x, s.y - stars[0].y) < 40) continue;
    const double t = u01(rng);  // colour temperature, red to blue
    s.r = 1.2 - 0.4 * t;
    s.g = 1.0;
    s.b = 0.8 + 0.4 * t;
    stars.push_back(s);
  }
  // A bright star far from the guide star serves as the rotation star.
  int rotStar = -1;
  double bestScore = 0;
  for (size_t k = 1; k < stars.size(); ++k) {
    const double d = std::hypot(stars[k].x - stars[0].x, stars[k].y - stars[0].y);
    const bool inside = stars[k].x > 60 && stars[k].x < W - 61 && stars[k].y > 60 && stars[k].y < H - 61;
    const double peak = stars[k].flux / twoPiS2;
    if (inside && peak > 3000 && peak < 40000 && d * peak > bestScore) {
      bestScore = d * peak;
      rotStar = static_cast<int>(k);
    }
  }

  // Another part of the sky for --other-field, and the random pointing of
  // each frame for --dither, drawn from their own generator so that the
  // other options keep writing the same files.
  std::mt19937_64 pointing(o.seed ^ 0x9e3779b97f4a7c15ULL);
  std::vector<Star> elsewhere;
  if (o.otherField)
    for (const Star& s : stars)
      elsewhere.push_back({u01(pointing) * (W - 1), u01(pointing) * (H - 1), s.flux, s.r, s.g, s.b});
  std::vector<double> jitterX(static_cast<size_t>(o.frames) + 1), jitterY(jitterX.size()), jitterA(jitterX.size());
  for (size_t f = 2; f < jitterX.size(); ++f) {
    jitterX[f] = o.dither * (2 * u01(pointing) - 1);
    jitterY[f] = o.dither * (2 * u01(pointing) - 1);
    jitterA[f] = o.ditherAngle * (2 * u01(pointing) - 1);
  }
  // Frame f's turn in degrees and shift in pixels from frame 1.
  auto pointingOf = [&](int f, double& degrees, double& dx, double& dy) {
    // Added only when asked for: 0 added to -0 would change the record.
    degrees = o.rotation * (f - 1), dx = o.driftX * (f - 1), dy = o.driftY * (f - 1);
    if (o.ditherAngle != 0) degrees += jitterA[static_cast<size_t>(f)];
    if (o.dither != 0) {
      dx += jitterX[static_cast<size_t>(f)];
      dy += jitterY[static_cast<size_t>(f)];
    }
  };

  // A satellite's trail is one line of the sky, so that the frames it
  // crosses show it where their own pointing puts that line: a stack must
  // find it in the same place of every aligned frame. It passes near the
  // mean of those frames' centres (on frame 1's sky) at a seeded angle,
  // drawn from a generator of its own so that the frames' noise stays as it
  // was without a trail; each satellite has its own line.
  std::map<int, Segment> trailOn;
  std::map<int, std::vector<int>> framesOf;
  for (const auto& [f, satellite] : o.trails) framesOf[satellite].push_back(f);
  for (const auto& [satellite, frames] : framesOf) {
    double mx = 0, my = 0;
    for (int f : frames) {
      double degrees, dx, dy;
      pointingOf(f, degrees, dx, dy);
      const double a = degrees * M_PI / 180, ca = std::cos(a), sa = std::sin(a);
      mx += cx - ca * dx - sa * dy;
      my += cy + sa * dx - ca * dy;
    }
    mx /= static_cast<double>(frames.size());
    my /= static_cast<double>(frames.size());
    std::mt19937_64 trailRng(o.seed * 0x2545f4914f6cdd1dULL + 0x7472 +
                             static_cast<uint64_t>(satellite - 1) * 0x9e3779b97f4a7c15ULL);
    const double heading = M_PI * u01(trailRng);
    const double offset = (2 * u01(trailRng) - 1) * std::min(W, H) / 4.0;
    const double sx = mx - offset * std::sin(heading), sy = my + offset * std::cos(heading);
    for (int f : frames) {
      double degrees, dx, dy;
      pointingOf(f, degrees, dx, dy);
      const double a = degrees * M_PI / 180, ca = std::cos(a), sa = std::sin(a);
      const double px = ca * (sx - cx) - sa * (sy - cy) + cx + dx, py = sa * (sx - cx) + ca * (sy - cy) + cy + dy;
      Segment seg{};
      // A trail that only grazes a corner would be no crossing to test with.
      if (!ClipToFrame(px, py, std::cos(heading + a), std::sin(heading + a), W, H, seg) ||
          seg.Length() < std::min(W, H) / 4.0) {
        Fail(why, "option invalide : --trail " + std::to_string(f) +
                      " : la traînée, fixe sur le ciel, ne traverse pas" +
                      " cette pose, trop loin des autres poses à traînée (--drift, --dither) ; choisissez des poses" +
                      " plus proches");
        return 2;
      }
      trailOn[f] = seg;
    }
  }

  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  const std::string dir = std::filesystem::absolute(o.out, ec).string();
  if (ec || !std::filesystem::is_directory(dir)) {
    Fail(why, "impossible de créer le dossier : " + o.out);
    return 1;
  }

  std::vector<std::pair<int, int>> hot;
  if (o.hotPixels)
    for (int k = 0; k < W * H / 3000 + 1; ++k) {
      // The draws are named one by one: the order of a call's arguments is
      // the compiler's choice, and the same seed must give the same frames
      // whoever built the program.
      const int y = static_cast<int>(u01(rng) * (H - 1));
      const int x = static_cast<int>(u01(rng) * (W - 1));
      hot.emplace_back(x, y);
    }
  auto vignette = [&](int x, int y) {
    if (!o.vignetting) return 1.0;
    const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
    return 1 - 0.35 * r2;
  };
  const double darkLevel = o.hotPixels ? 300 : 0;

  const int planes = o.colour == "rgb" || o.format == "bmp" || o.format == "jpg" ? 3 : 1;
  const bool cfa = o.colour == "cfa";
  const bool split = o.colour == "split";
  const std::string ext = o.format == "fits" ? ".fts" : "." + o.format;
  std::vector<std::string> files;
  qv::JsonObject truth;
  std::string framesJson = "[";
  const int radius = 7;
  // Nights without seeing or trails keep the record they always had.
  const bool recordSeeing = !o.seeing.empty() || !o.trails.empty();

  for (int f = 1; f <= o.frames; ++f) {
    double degrees, dx, dy;
    pointingOf(f, degrees, dx, dy);
    const double angle = degrees * M_PI / 180;
    const double ca = std::cos(angle), sa = std::sin(angle);
    auto place = [&](double x, double y, double& fx, double& fy) {
      fx = ca * (x - cx) - sa * (y - cy) + cx + dx;
      fy = sa * (x - cx) + ca * (y - cy) + cy + dy;
    };
    const bool cloudy = f == o.cloud;
    // Colour planes of the sky in electrons: sky gradient plus stars.
    const int skyPlanes = (planes == 3 || cfa || split) ? 3 : 1;
    Frame sky{W, H, skyPlanes, std::vector<double>(static_cast<size_t>(skyPlanes) * W * H)};
    for (int p = 0; p < skyPlanes; ++p)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) sky.at(p, x, y) = 800 + 500.0 * x / W + 250.0 * y / H + 60 * p;
    const bool foreign = f == o.otherField;
    // Seeing spreads the same light of each star over a wider (or narrower)
    // Gaussian, reached out to five of its sigmas.
    const auto seen = o.seeing.find(f);
    const bool ownSeeing = seen != o.seeing.end();
    const double starSigma = ownSeeing ? seen->second / kFwhmPerSigma : sigma;
    const double starTwoPiS2 = ownSeeing ? 2 * M_PI * starSigma * starSigma : twoPiS2;
    const int starRadius = ownSeeing ? std::max(radius, static_cast<int>(std::ceil(5 * starSigma))) : radius;
    for (const Star& s : foreign ? elsewhere : stars) {
      double fx, fy;
      place(s.x, s.y, fx, fy);
      const double flux = s.flux * (cloudy ? 0.02 : 1);
      const double peak = flux / starTwoPiS2;
      for (int y = std::max(0, static_cast<int>(fy) - starRadius);
           y <= std::min(H - 1, static_cast<int>(fy) + starRadius); ++y)
        for (int x = std::max(0, static_cast<int>(fx) - starRadius);
             x <= std::min(W - 1, static_cast<int>(fx) + starRadius); ++x) {
          const double g = peak * std::exp(-((x - fx) * (x - fx) + (y - fy) * (y - fy)) / (2 * starSigma * starSigma));
          if (skyPlanes == 1)
            sky.at(0, x, y) += g;
          else {
            sky.at(0, x, y) += g * s.r;
            sky.at(1, x, y) += g * s.g;
            sky.at(2, x, y) += g * s.b;
          }
        }
    }
    // A cloud veils the satellite as it veils the stars: it flies above it.
    const auto trail = trailOn.find(f);
    const double trailPeak = o.trailFlux * (cloudy ? 0.02 : 1);
    if (trail != trailOn.end()) AddTrail(sky.v, W, H, skyPlanes, trail->second, trailPeak);
    // Vignetting, shot and read noise, then the dark signal and hot pixels.
    for (int p = 0; p < skyPlanes; ++p)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          double& v = sky.at(p, x, y);
          v *= vignette(x, y);
          const double shot = std::sqrt(std::max(v, 1.0)) * gauss(rng);
          const double read = 6 * gauss(rng);
          v += shot + read + darkLevel;
        }
    for (const auto& [x, y] : hot)
      for (int p = 0; p < skyPlanes; ++p) sky.at(p, x, y) = std::min(65535.0, sky.at(p, x, y) + 20000);

    char stem[32];
    std::snprintf(stem, sizeof stem, "frame%03d", f);
    int err = 0;
    if (cfa) {
      // One plane through a filter grid: green, blue / red, green.
      Frame mosaic{W, H, 1, std::vector<double>(static_cast<size_t>(W) * H)};
      static const int code[2][2] = {{1, 2}, {0, 1}};  // [y % 2][x % 2] -> plane
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) mosaic.at(0, x, y) = sky.at(code[y % 2][x % 2], x, y);
      const std::string path = dir + "/" + stem + ext;
      err = WriteFits(path, mosaic, o.bitpix, true);
      files.push_back(path);
    } else if (split) {
      static const char letter[3] = {'r', 'g', 'b'};
      for (int p = 0; p < 3 && !err; ++p) {
        Frame one{W, H, 1,
                  std::vector<double>(sky.v.begin() + static_cast<long>(p) * W * H,
                                      sky.v.begin() + static_cast<long>(p + 1) * W * H)};
        const std::string path = dir + "/" + stem + letter[p] + ext;
        err = WriteFits(path, one, o.bitpix, false);
        files.push_back(path);
      }
    } else {
      const std::string path = dir + "/" + stem + ext;
      if (o.format == "fits")
        err = WriteFits(path, sky, o.bitpix, false);
      else if (o.format == "tif")
        err = WriteTiff(path, sky);
      else
        err = WritePicture(path, sky, o.format == "jpg");
      files.push_back(path);
    }
    if (err != 0) {
      Fail(why, qv::ErrorWords(err, files.back(), qv::FileTask::Write));
      return 1;
    }
    double gx, gy;
    place(stars[0].x, stars[0].y, gx, gy);
    qv::JsonObject fr;
    fr.Add("frame", f).Add("file", files.back()).Add("dx", dx).Add("dy", dy).Add("angle", degrees);
    fr.Add("centreX", cx).Add("centreY", cy).Add("guideX", gx).Add("guideY", gy).Add("cloud", cloudy);
    if (o.otherField) fr.Add("otherField", foreign);
    if (rotStar >= 0) {
      double rx, ry;
      place(stars[static_cast<size_t>(rotStar)].x, stars[static_cast<size_t>(rotStar)].y, rx, ry);
      fr.Add("rotStarX", rx).Add("rotStarY", ry);
    }
    if (recordSeeing) fr.Add("fwhm", ownSeeing ? seen->second : NightFwhm());
    if (trail != trailOn.end()) {
      const Segment& t = trail->second;
      qv::JsonObject line;
      line.Add("x1", t.x1).Add("y1", t.y1).Add("x2", t.x2).Add("y2", t.y2).Add("flux", trailPeak);
      fr.AddRaw("trail", line.Text());
    }
    if (f > 1) framesJson += ",";
    framesJson += fr.Text();
  }
  framesJson += "]";

  // The calibration frames match the simulated camera exactly.
  // They are FITS whatever the lights' format: a picture format would clip
  // or round the levels a master must keep.
  std::string darkFile, flatFile;
  if ((o.hotPixels || o.vignetting) && o.format != "fits")
    record.note = "poses de calibration écrites en FITS (dark.fts, flat.fts) : le format " + o.format +
                  " ne garde pas leurs niveaux";
  else if (o.calibrationFrames > 0 && o.format != "fits")
    record.note =
        "poses de calibration écrites en FITS (darks/, flats/) : le format " + o.format + " ne garde pas leurs niveaux";
  if (o.hotPixels) {
    Frame dark{W, H, 1, std::vector<double>(static_cast<size_t>(W) * H, darkLevel)};
    for (const auto& [x, y] : hot) dark.at(0, x, y) += 20000;
    darkFile = dir + "/dark.fts";
    if (WriteFits(darkFile, dark, 16, cfa) != 0) return 1;
  }
  if (o.vignetting) {
    Frame flat{W, H, 1, std::vector<double>(static_cast<size_t>(W) * H)};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) flat.at(0, x, y) = 30000 * vignette(x, y);
    flatFile = dir + "/flat.fts";
    if (WriteFits(flatFile, flat, 16, false) != 0) return 1;
  }
  if (o.calibrationFrames > 0) {
    // Frames as a camera gives them: read noise on every dark, shot noise
    // and a sky that brightens from one flat to the next, so that the
    // masters have real work to do. Their own generator leaves the lights'
    // noise as it was. A camera without hot pixels or vignetting still
    // gives both: darks of read noise alone, flats without fall-off.
    std::mt19937_64 calRng(o.seed * 7919 + 17);
    std::normal_distribution<double> calGauss(0, 1);
    auto frameName = [&](const std::string& folder, const std::string& stem, int k) {
      char name[32];
      std::snprintf(name, sizeof name, "%s%03d.fts", stem.c_str(), k);
      std::filesystem::create_directories(dir + "/" + folder, ec);
      return dir + "/" + folder + "/" + name;
    };
    for (int k = 1; k <= o.calibrationFrames; ++k) {
      Frame darkFrame{W, H, 1, std::vector<double>(static_cast<size_t>(W) * H)};
      for (double& v : darkFrame.v) v = darkLevel + 6 * calGauss(calRng);
      for (const auto& [x, y] : hot) darkFrame.at(0, x, y) += 20000;
      record.darks.push_back(frameName("darks", "dark", k));
      if (WriteFits(record.darks.back(), darkFrame, 16, cfa) != 0) return 1;

      const double level = 24000 + 12000 * (k - 1) / std::max(1, o.calibrationFrames - 1);
      Frame flatFrame{W, H, 1, std::vector<double>(static_cast<size_t>(W) * H)};
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const double v = level * vignette(x, y);
          flatFrame.at(0, x, y) = v + std::sqrt(v) * calGauss(calRng);
        }
      record.flats.push_back(frameName("flats", "flat", k));
      if (WriteFits(record.flats.back(), flatFrame, 16, false) != 0) return 1;
    }
  }
  record.dark = darkFile;
  record.flat = flatFile;

  std::string starsJson = "[";
  for (size_t k = 0; k < stars.size(); ++k) {
    qv::JsonObject st;
    st.Add("x", stars[k].x).Add("y", stars[k].y).Add("flux", stars[k].flux).Add("peak", stars[k].flux / twoPiS2);
    if (k) starsJson += ",";
    starsJson += st.Text();
  }
  starsJson += "]";
  truth.Add("width", W).Add("height", H).Add("seed", static_cast<int64_t>(o.seed)).Add("colour", o.colour);
  truth.Add("bitpix", o.bitpix).Add("format", o.format).Add("rotationPerFrame", o.rotation);
  truth.Add("guideStar", 0).Add("rotationStar", rotStar).Add("cloudFrame", o.cloud);
  if (o.otherField) truth.Add("otherFieldFrame", o.otherField);
  if (recordSeeing) truth.Add("fwhm", NightFwhm());
  truth.Add("darkFile", darkFile).Add("flatFile", flatFile);
  truth.AddRaw("frames", framesJson).AddRaw("stars", starsJson);
  {
    std::ofstream t(dir + "/truth.json", std::ios::binary);
    t << truth.Text() << "\n";
    if (!t) {
      Fail(why, "écriture impossible : " + dir + "/truth.json");
      return 1;
    }
  }

  // A ready project: every frame checked, the guide star marked on the
  // first one, calibration on when its frames exist; the other settings
  // are the program's defaults.
  qv::Project project;
  std::vector<qv::ImageEntry>& list = project.images.emplace(files.size());
  const double u1 = W - 1, u2 = H - 1;
  for (size_t k = 0; k < files.size(); ++k) {
    list[k].ImgFile = files[k];
    list[k].ImgChecked = 1;
  }
  qv::ImageEntry& first = list[0];
  first.ImgGuideX = (stars[0].x) / u1;
  first.ImgGuideY = (stars[0].y) / u2;
  first.ImgRegFlags = 3;
  if (o.rotation != 0 && rotStar >= 0) {
    first.ImgRot = first.ImgNewRot = 1;
    first.ImgRotX = first.ImgNewRotX = stars[static_cast<size_t>(rotStar)].x / u1;
    first.ImgRotY = first.ImgNewRotY = stars[static_cast<size_t>(rotStar)].y / u2;
    for (size_t k = 1; k < files.size(); ++k) list[k].ImgRot = 1;
  }
  project.guideBox = 32;
  project.minQualPercent = qv::StrSingle(50.0f);
  project.expand = 0;
  project.autoLevels = 0;
  project.levelSlider = 10;
  int32_t useMask = planes == 1 && !cfa && !split ? qv::Mono : 0;
  if (!darkFile.empty()) {
    project.darkFile = darkFile;
    useMask |= qv::DarkSub;
  }
  if (!flatFile.empty()) {
    project.flatFile = flatFile;
    useMask |= qv::FlatApply;
  }
  project.useMask = useMask;
  const std::string projectFile = dir + "/project.txt";
  if (qv::WriteProjectFile(project, projectFile).outcome != qv::ProjectSave::Saved) {
    Fail(why, "écriture impossible : " + projectFile);
    return 1;
  }
  record.frames = files;
  record.truth = dir + "/truth.json";
  record.project = projectFile;
  return 0;
}

}  // namespace qvsim
