// Throughput of the stacking steps on camera-sized images: the guide
// search for both box sizes, the parking of one image in its temporary
// file, and the final combination of a few parked images, plain and with
// the weighting and median options.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "core/options.h"
#include "core/session.h"
#include "io/scratch_writer.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/guide.h"
#include "stack/star_match.h"

namespace {

namespace fs = std::filesystem;

fs::path g_dir;

// A sky with noise and a few hundred Gaussian stars in all three planes
// (a monochrome image read with three planes, as the processing leaves it).
void Sky(qv::Session& s, int w, int h, unsigned seed, double dx = 0, double dy = 0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<double> v(static_cast<size_t>(w) * h);
  for (auto& p : v) p = 800 + 40 * u(rng);
  std::mt19937 stars(7);  // the same field in every frame
  for (int k = 0; k < w * h / 8000 + 1; ++k) {
    const double sx = u(stars) * (w - 1) + dx, sy = u(stars) * (h - 1) + dy, peak = 500 + 20000 * u(stars);
    for (int y = std::max(0, static_cast<int>(sy) - 6); y <= std::min(h - 1, static_cast<int>(sy) + 6); ++y)
      for (int x = std::max(0, static_cast<int>(sx) - 6); x <= std::min(w - 1, static_cast<int>(sx) + 6); ++x)
        v[static_cast<size_t>(y) * w + x] += peak * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 4.5);
  }
  for (qv::Plane<int32_t>* p : {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB}) {
    p->Redim(w - 1, h - 1);
    for (size_t k = 0; k < v.size(); ++k) p->Data()[k] = static_cast<int32_t>(v[k]);
  }
}

void BM_GuideSearch(benchmark::State& state) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  const int box = static_cast<int>(state.range(0));
  Sky(s, 512, 512, 1);
  s.guide.GuideBox = static_cast<int16_t>(box);
  qv::GuideSearch(s, 256, 256, 1);
  Sky(s, 512, 512, 2, 2, -1);
  for (auto _ : state) benchmark::DoNotOptimize(qv::GuideSearch(s, 256, 256, 0));
  // (box + 1)^2 products for each of the (box + 1)^2 offsets.
  const double products = std::pow(box + 1.0, 4);
  state.counters["Mproducts/s"] =
      benchmark::Counter(products * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_AccumulateImage(benchmark::State& state) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Sky(s, w, h, 3);
  s.ResizeImageArrays(1);
  s.CurPic = 1;
  s.stack.TempBase = (g_dir / "acc_").string();
  s.guide.GuideX = s.guide.AnchorX = w / 2;
  s.guide.GuideY = s.guide.AnchorY = h / 2;
  for (auto _ : state) {
    // Every pass is the first image of a run: file 1 is written again.
    s.stack.StackCount = 0;
    if (const qv::Outcome r = qv::AccumulateImage(s); !r) {
      state.SkipWithError(r.Text().c_str());
      break;
    }
  }
  qv::DeleteTempFiles(s);
  state.counters["Mpixels/s"] = benchmark::Counter(
      static_cast<double>(w) * h * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Some images (the third argument), each a few pixels off
// the previous one, combined on the expanded canvas; their parked files are
// in the page cache (or on /dev/shm with TMPDIR there), as after a run.
void BM_CombineStack(benchmark::State& state, int32_t useMask, int16_t rejectMode) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int images = static_cast<int>(state.range(2));
  s.opt.UseMask = useMask;
  s.opt.RejectMode = rejectMode;
  s.ResizeImageArrays(images);
  s.stack.TempBase = (g_dir / "comb_").string();
  Sky(s, w, h, 4);
  const qv::Plane<int32_t> r = s.pic.PicR, g = s.pic.PicG, b = s.pic.PicB;
  // Parked as the tool's run parks them: each file written aside.
  qv::ScratchWriter writer;
  for (auto _ : state) {
    state.PauseTiming();
    s.stack.StackCount = 0;
    for (int i = 1; i <= images; ++i) {
      s.pic.PicR = r;
      s.pic.PicG = g;
      s.pic.PicB = b;
      s.CurPic = static_cast<int16_t>(i);
      s.guide.GuideX = s.guide.RotCentreX = w / 2 + 3 * i;
      s.guide.GuideY = s.guide.RotCentreY = h / 2 - 2 * i;
      s.guide.AnchorX = w / 2;
      s.guide.AnchorY = h / 2;
      qv::AccumulateImage(s, &writer);
    }
    writer.Await();
    s.RunState = 1;
    state.ResumeTiming();
    if (!qv::CombineStack(s, true)) {
      state.SkipWithError("the combination failed");
      break;
    }
  }
  state.counters["Mpixels/s"] = benchmark::Counter(
      static_cast<double>(w) * h * images * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Finding the stars of one camera-sized image, and recognising a shifted,
// re-noised image of the same field: the work the automatic marks add to
// each frame besides its processing.
void BM_DetectStars(benchmark::State& state) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  Sky(s, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 4);
  for (auto _ : state)
    benchmark::DoNotOptimize(qv::DetectStars(s.pic.PicR, s.pic.PicG, s.pic.PicB, 65535).stars.size());
}

void BM_MatchStars(benchmark::State& state) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  Sky(s, 2048, 1536, 5);
  const std::vector<qv::Point2> ref = qv::MatchablePoints(qv::DetectStars(s.pic.PicR, s.pic.PicG, s.pic.PicB, 65535));
  Sky(s, 2048, 1536, 6, 23.4, -31.7);
  const std::vector<qv::Point2> frame = qv::MatchablePoints(qv::DetectStars(s.pic.PicR, s.pic.PicG, s.pic.PicB, 65535));
  for (auto _ : state) {
    const qv::StarMatch m = qv::MatchStars(ref, frame);
    if (m.outcome != qv::MatchOutcome::Matched) {
      state.SkipWithError("the field was not recognised");
      break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  g_dir = fs::temp_directory_path() / ("quelvista-bench-stack-" + std::to_string(::getpid()));
  fs::create_directories(g_dir);

  benchmark::RegisterBenchmark("GuideSearch", BM_GuideSearch)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("AccumulateImage", BM_AccumulateImage)
      ->Args({2048, 1536})
      ->Args({4096, 4096})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("CombineStack/plain", BM_CombineStack, 0, int16_t{0})
      ->Args({2048, 1536, 4})
      ->Unit(benchmark::kMillisecond);
  // The final combination of a 20-frame night of 2048 x 1536 frames.
  benchmark::RegisterBenchmark("FinalCombination20", BM_CombineStack, 0, int16_t{0})
      ->Args({2048, 1536, 20})
      ->Unit(benchmark::kMillisecond);
  // The same with outliers rejected: sigma and winsorised clipping.
  for (const auto& [name, mode] : {std::pair{"FinalCombination20/sigma", 1}, {"FinalCombination20/winsor", 2}})
    benchmark::RegisterBenchmark(name, BM_CombineStack, 0, static_cast<int16_t>(mode))
        ->Args({2048, 1536, 20})
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("CombineStack/blend+circle", BM_CombineStack, qv::ProgBlend | qv::CircCrop, int16_t{0})
      ->Args({2048, 1536, 4})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("CombineStack/median3x3", BM_CombineStack, 0x800, int16_t{0})
      ->Args({2048, 1536, 4})
      ->Unit(benchmark::kMillisecond);

  benchmark::RegisterBenchmark("DetectStars", BM_DetectStars)
      ->Args({640, 480})
      ->Args({2048, 1536})
      ->Args({4096, 4096})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("MatchStars", BM_MatchStars)->Unit(benchmark::kMillisecond);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_dir, ec);
  return 0;
}
