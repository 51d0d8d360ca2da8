// Throughput of the editor on a large result: a redraw of a 4096 x 4096
// colour destination with the detail sliders off and with all three on
// (the first redraw builds the detail caches, later ones reuse them), and
// the hole filling of a picture riddled with holes.
#include <benchmark/benchmark.h>

#include <random>

#include "core/session.h"
#include "editor/form2.h"
#include "editor/form3.h"
#include "editor/operations.h"

namespace {

constexpr int kSide = 4096;

void Destination(qv::Session& s) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0, 1);
  qv::Plane<float>* sum[3] = {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB};
  qv::Plane<float>* weight[3] = {&s.dest.DestWeightR, &s.dest.DestWeightG, &s.dest.DestWeightB};
  for (int c = 0; c < 3; ++c) {
    sum[c]->Redim(kSide - 1, kSide - 1);
    weight[c]->Redim(kSide - 1, kSide - 1);
    for (size_t k = 0; k < sum[c]->Size(); ++k) {
      const float w = 1 + static_cast<float>(k % 3);
      weight[c]->Data()[k] = w;
      sum[c]->Data()[k] = w * std::floor(800 + 2000 * u(rng) * u(rng) * u(rng) + 300 * c);
    }
  }
}

struct Editor {
  qv::HeadlessPlatform services;
  qv::Session s{services.Get()};
  qv::Form2 dest;
  qv::Form3 form{s, dest};
  Editor() {
    Destination(s);
    form.ResetPic();
    form.Combo1 = "100";
    form.Text2 = {"6000", "6000", "6000"};
  }
};

void BM_DrawDetailOff(benchmark::State& state) {
  Editor e;
  for (auto _ : state) {
    e.form.draw();
    benchmark::DoNotOptimize(e.form.Picture.Data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kSide} * kSide);
}
BENCHMARK(BM_DrawDetailOff)->Unit(benchmark::kMillisecond);

void BM_DrawDetailAllThree(benchmark::State& state) {
  Editor e;
  e.form.Check3 = 1;
  e.form.HScroll1 = -6;
  e.form.HScroll2 = 4;
  e.form.HScroll3 = 2;
  const bool firstWithCaches = state.range(0) == 1;
  if (!firstWithCaches) e.form.draw();
  for (auto _ : state) {
    if (firstWithCaches) e.form.InvalidateDetail();
    e.form.draw();
    benchmark::DoNotOptimize(e.form.Picture.Data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{kSide} * kSide);
}
// 1: every redraw rebuilds the caches (the first one after a change of the
// destination); 0: the caches are reused.
BENCHMARK(BM_DrawDetailAllThree)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_FillManyHoles(benchmark::State& state) {
  const int side = 2048;
  qv::Plane<int32_t> source(side - 1, side - 1);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pick(0, 99), level(2, 255);
  for (size_t k = 0; k < source.Size(); ++k)
    source.Data()[k] = pick(rng) < 30 ? 0 : (level(rng) << 16) | (level(rng) << 8) | level(rng);
  // Some wide holes too, which take many passes.
  for (int b = 0; b < 40; ++b) {
    const int x0 = pick(rng) * 20, y0 = pick(rng) * 20;
    for (int y = y0; y < y0 + 24 && y < side; ++y)
      for (int x = x0; x < x0 + 24 && x < side; ++x) source(x, y) = 0;
  }
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  qv::Form2 dest;
  qv::Form3 form(s, dest);
  for (auto _ : state) {
    state.PauseTiming();
    form.Picture = source;
    state.ResumeTiming();
    form.Fill();
    benchmark::DoNotOptimize(form.Picture.Data());
  }
  state.counters["passes"] = static_cast<double>(dest.shows) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FillManyHoles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
