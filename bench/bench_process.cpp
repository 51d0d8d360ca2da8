// Throughput of the per-image pipeline on camera-sized files: a 4096 x 4096
// monochrome frame and a 2048 x 2048 three-plane frame, both 16-bit FITS,
// read plain, calibrated (hot-pixel mask, dark and flat) and with hot-pixel
// removal, filling and gradient removal.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/session.h"
#include "io/file.h"
#include "process/process_pic.h"

namespace {

namespace fs = std::filesystem;

// A sky with a gradient, noise, stars and a sprinkling of hot pixels, so
// that the cleaning steps have real work. Stored with BZERO 32768.
std::vector<uint8_t> SkyFits(int w, int h, int planes) {
  std::vector<uint8_t> header(2880, ' ');
  auto card = [&](int i, const std::string& key, const std::string& value) {
    std::copy(key.begin(), key.end(), header.begin() + i * 80);
    std::copy(value.begin(), value.end(), header.begin() + i * 80 + 30 - static_cast<long>(value.size()));
  };
  int n = 0;
  card(n++, "SIMPLE  =", "T");
  card(n++, "BITPIX  =", "16");
  card(n++, "NAXIS   =", planes == 1 ? "2" : "3");
  card(n++, "NAXIS1  =", std::to_string(w));
  card(n++, "NAXIS2  =", std::to_string(h));
  if (planes > 1) card(n++, "NAXIS3  =", std::to_string(planes));
  card(n++, "BZERO   =", "32768");
  card(n++, "END", "");

  const size_t count = static_cast<size_t>(w) * h * planes;
  std::vector<uint8_t> bytes = header;
  bytes.resize(2880 + (count * 2 + 2879) / 2880 * 2880, 0);
  uint32_t rng = 12345;
  auto next = [&] { return rng = rng * 1664525u + 1013904223u; };
  uint8_t* out = bytes.data() + 2880;
  for (int p = 0; p < planes; ++p)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double v = 1500 + 600.0 * x / w + 300.0 * y / h + 200 * p + (next() >> 24) / 8.0;
        const uint32_t r = next();
        if ((r & 0xFFFF) < 4)
          v = 60000;  // hot pixel
        else if ((r & 0xFFFF) < 40)
          v += 8000 + (r >> 20);  // star core
        const int stored = static_cast<int>(std::min(65535.0, v)) - 32768;
        *out++ = static_cast<uint8_t>((stored >> 8) & 255);
        *out++ = static_cast<uint8_t>(stored & 255);
      }
  return bytes;
}

struct Files {
  fs::path dir;
  std::string mono, colour;
};
Files g_files;

// Masters of the image's size: a dark of 100, a flat of 20000 and 21000
// around a mean of 20500, and one pixel in a thousand masked.
void Calibrate(qv::Session& s, int w, int h) {
  for (qv::Plane<int32_t>* d : {&s.cal.DarkR, &s.cal.DarkG, &s.cal.DarkB}) {
    d->Redim(w - 1, h - 1);
    d->Fill(100);
  }
  s.cal.FlatPic.Redim(w - 1, h - 1);
  s.cal.HotMask.Redim(w - 1, h - 1);
  for (size_t k = 0; k < s.cal.FlatPic.Size(); ++k) {
    s.cal.FlatPic.Data()[k] = k % 2 ? 20000 : 21000;
    s.cal.HotMask.Data()[k] = k % 1000 == 0;
  }
  s.cal.FlatMean = 20500;
}

void BM_ProcessPic(benchmark::State& state, const std::string* path, int w, int h, int32_t useMask) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.opt.UseMask = useMask;
  s.ResizeImageArrays(1);
  s.Img[1].ImgFile = *path;
  if (useMask & qv::DarkSub) Calibrate(s, w, h);
  for (auto _ : state) {
    if (const qv::Outcome r = qv::ProcessPic(s, 1, 1); !r) {
      state.SkipWithError(r.Text().c_str());
      break;
    }
    benchmark::DoNotOptimize(s.pic.PicR.Data());
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(w) * h * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  g_files.dir = fs::temp_directory_path() / ("quelvista-bench-" + std::to_string(::getpid()));
  fs::create_directories(g_files.dir);
  g_files.mono = (g_files.dir / "mono4096.fts").string();
  g_files.colour = (g_files.dir / "rgb2048.fts").string();
  {
    const std::vector<uint8_t> mono = SkyFits(4096, 4096, 1);
    const std::vector<uint8_t> colour = SkyFits(2048, 2048, 3);
    if (!qv::WriteFileReplacing(g_files.mono, {&mono}) || !qv::WriteFileReplacing(g_files.colour, {&colour})) {
      std::fprintf(stderr, "cannot write the benchmark files in %s\n", g_files.dir.c_str());
      return 1;
    }
  }

  const int32_t cleaning = qv::HotCalc | qv::CalcFill | qv::GradRemove;
  const int32_t calibration = qv::HotMaskOn | qv::DarkSub | qv::FlatApply;
  benchmark::RegisterBenchmark("ProcessPic/mono4096/plain", BM_ProcessPic, &g_files.mono, 4096, 4096, 0)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ProcessPic/mono4096/mask+dark+flat", BM_ProcessPic, &g_files.mono, 4096, 4096,
                               calibration)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ProcessPic/mono4096/hot+fill+gradient", BM_ProcessPic, &g_files.mono, 4096, 4096,
                               cleaning)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ProcessPic/rgb2048/plain", BM_ProcessPic, &g_files.colour, 2048, 2048, 0)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ProcessPic/rgb2048/mask+dark+flat", BM_ProcessPic, &g_files.colour, 2048, 2048,
                               calibration)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ProcessPic/rgb2048/hot+fill+gradient", BM_ProcessPic, &g_files.colour, 2048, 2048,
                               cleaning)
      ->Unit(benchmark::kMillisecond);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_files.dir, ec);
  return 0;
}
