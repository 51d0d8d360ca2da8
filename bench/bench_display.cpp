// Cost of turning planes into screen pixels: DrawImage of a 4096 x 4096
// colour image at full resolution and at a quarter (step 4), shown in
// colour or in grey, and of a grey camera's frame (one value in the three
// planes); and the stretch a view applies to show it.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/plane.h"
#include "display/render.h"

namespace {

struct Image {
  qv::Plane<int32_t> r, g, b;
  Image() : r(4095, 4095), g(4095, 4095), b(4095, 4095) {
    uint32_t rng = 7;
    for (int y = 0; y < 4096; ++y)
      for (int x = 0; x < 4096; ++x) {
        rng = rng * 1664525u + 1013904223u;
        const int32_t v = 1000 + static_cast<int32_t>(rng >> 18);
        r(x, y) = v;
        g(x, y) = v + 300;
        b(x, y) = v + 600;
      }
  }
};

const Image& Sky() {
  static const Image image;
  return image;
}

void BM_DrawImage(benchmark::State& state) {
  const Image& im = Sky();
  const int step = static_cast<int>(state.range(0));
  const bool mono = state.range(1) != 0;
  const bool greyFrame = state.range(2) != 0;
  // A view keeps its array between redraws: the steady state is measured.
  qv::Plane<int32_t> px;
  for (auto _ : state) {
    qv::DrawImage(im.r, greyFrame ? im.r : im.g, greyFrame ? im.r : im.b, 1500, 12000, step, mono, px);
    benchmark::DoNotOptimize(px.Data());
  }
  const int64_t side = 4095 / step + 1;
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_DrawImage)
    ->Args({1, 0, 0})
    ->Args({1, 0, 1})
    ->Args({4, 0, 0})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Unit(benchmark::kMillisecond);

void BM_ShowPixelsHalf(benchmark::State& state) {
  const qv::Plane<int32_t> px = qv::DrawImage(Sky().r, Sky().g, Sky().b, 1500, 12000, 1, false);
  const qv::PixelsGeometry g = qv::ShowPixelsGeometry(4096, 4096, true, 1.28, 50, false);
  for (auto _ : state) {
    qv::Plane<int32_t> shown = qv::ShowPixels(px, g);
    benchmark::DoNotOptimize(shown.Data());
  }
}
BENCHMARK(BM_ShowPixelsHalf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
