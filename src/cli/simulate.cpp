// A synthetic sky: stars with a Gaussian point-spread function, a sky
// background with a gradient, shot and read noise and optional hot pixels,
// written as 16-bit FITS frames. Everything is seeded, so runs repeat.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/numeric.h"
#include "io/file.h"

namespace qvcli {

namespace {

struct SimOptions {
  std::string out;
  int frames = 1, width = 640, height = 480, stars = 150;
  unsigned seed = 1;
  bool hotPixels = false;
};

struct Star {
  double x, y, flux;
};

std::vector<uint8_t> FitsHeader16(int w, int h) {
  std::vector<uint8_t> hdr(2880, ' ');
  auto card = [&](int i, const std::string& key, const std::string& value) {
    std::copy(key.begin(), key.end(), hdr.begin() + i * 80);
    std::copy(value.begin(), value.end(), hdr.begin() + i * 80 + 30 - static_cast<long>(value.size()));
  };
  card(0, "SIMPLE  =", "T");
  card(1, "BITPIX  =", "16");
  card(2, "NAXIS   =", "2");
  card(3, "NAXIS1  =", std::to_string(w));
  card(4, "NAXIS2  =", std::to_string(h));
  card(5, "BZERO   =", "32768");
  card(6, "END", "");
  return hdr;
}

int WriteFrame(const std::string& path, const std::vector<double>& img, int w, int h) {
  std::vector<uint8_t> data((static_cast<size_t>(w) * h * 2 + 2879) / 2880 * 2880, 0);
  for (size_t i = 0; i < img.size(); ++i) {
    const int v = static_cast<int>(std::lround(std::clamp(img[i], 0.0, 65535.0))) - 32768;
    data[2 * i] = static_cast<uint8_t>((v >> 8) & 255);
    data[2 * i + 1] = static_cast<uint8_t>(v & 255);
  }
  const std::vector<uint8_t> hdr = FitsHeader16(w, h);
  return qv::WriteFileReplacing(path, {&hdr, &data});
}

}  // namespace

int CmdSimulate(const Args& args) {
  SimOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](int& v, int lo, int hi) {
      if (i + 1 >= args.size()) return false;
      v = static_cast<int>(qv::Val(args[++i]));
      return v >= lo && v <= hi;
    };
    bool ok = true;
    if (a == "--out" && i + 1 < args.size()) o.out = args[++i];
    else if (a == "--frames") ok = value(o.frames, 1, 10000);
    else if (a == "--width") ok = value(o.width, 16, 32767);
    else if (a == "--height") ok = value(o.height, 16, 32767);
    else if (a == "--stars") ok = value(o.stars, 0, 100000);
    else if (a == "--seed" && i + 1 < args.size()) o.seed = static_cast<unsigned>(qv::Val(args[++i]));
    else if (a == "--hot-pixels") o.hotPixels = true;
    else ok = false;
    if (!ok) {
      Complain("option invalide : " + a);
      return 2;
    }
  }
  if (o.out.empty()) {
    Complain("usage : quelvista-cli simulate --out DOSSIER [--frames N] [--width W] [--height H] [--seed S] [--hot-pixels]");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  if (ec) {
    Complain("impossible de créer le dossier : " + o.out);
    return 1;
  }
  std::mt19937_64 rng(o.seed);
  std::uniform_real_distribution<double> ux(0, o.width - 1), uy(0, o.height - 1), u01(0, 1);
  std::vector<Star> stars;
  for (int k = 0; k < o.stars; ++k) stars.push_back({ux(rng), uy(rng), 2000 * std::pow(100.0, u01(rng))});
  std::vector<std::pair<int, int>> hot;
  if (o.hotPixels)
    for (int k = 0; k < o.width * o.height / 2000; ++k)
      hot.emplace_back(static_cast<int>(ux(rng)), static_cast<int>(uy(rng)));

  const double sigma = 1.6;
  const int radius = 6;
  std::normal_distribution<double> gauss(0, 1);
  for (int f = 1; f <= o.frames; ++f) {
    const double dx = 1.5 * (f - 1), dy = 0.75 * (f - 1);
    std::vector<double> img(static_cast<size_t>(o.width) * o.height);
    for (int y = 0; y < o.height; ++y)
      for (int x = 0; x < o.width; ++x)
        img[static_cast<size_t>(y) * o.width + x] = 1500 + 600.0 * x / o.width + 300.0 * y / o.height;
    for (const Star& s : stars) {
      const double cx = s.x + dx, cy = s.y + dy;
      const double peak = s.flux / (2 * M_PI * sigma * sigma);
      for (int y = std::max(0, static_cast<int>(cy) - radius); y <= std::min(o.height - 1, static_cast<int>(cy) + radius); ++y)
        for (int x = std::max(0, static_cast<int>(cx) - radius); x <= std::min(o.width - 1, static_cast<int>(cx) + radius); ++x)
          img[static_cast<size_t>(y) * o.width + x] +=
              peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma));
    }
    for (double& v : img) v += std::sqrt(std::max(v, 1.0)) * gauss(rng) + 8 * gauss(rng);
    for (const auto& [x, y] : hot) img[static_cast<size_t>(y) * o.width + x] = 60000;
    char name[32];
    std::snprintf(name, sizeof name, "frame%03d.fts", f);
    const std::string path = (std::filesystem::path(o.out) / name).string();
    if (WriteFrame(path, img, o.width, o.height) != 0) {
      Complain("écriture impossible : " + path);
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}

}  // namespace qvcli
