// Outlier rejection in the final combination: the rule on one pixel's
// samples against a plain reading of it, and whole combinations where a
// trail crosses some frames, backgrounds differ, or a stop comes mid-band.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "io/scratch_writer.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "stack/reject.h"
#include "support.h"

using namespace qv;

namespace {

// The rule as written, with nothing clever: sort, take the middle, the
// mean, the spread, drop, start again.
std::vector<uint8_t> Reference(const RejectRule& rule, const std::vector<double>& v) {
  std::vector<uint8_t> kept(v.size(), 1);
  if (rule.mode == kRejectNone) return kept;
  for (int round = 0; round < 10; ++round) {
    std::vector<double> k;
    for (size_t i = 0; i < v.size(); ++i)
      if (kept[i]) k.push_back(v[i]);
    if (k.size() < 3) break;
    std::sort(k.begin(), k.end());
    const size_t m = k.size();
    const double c = m % 2 ? k[m / 2] : (k[m / 2 - 1] + k[m / 2]) / 2;
    auto sd = [&](double lo, double hi) {
      double mean = 0, sq = 0;
      for (double x : k) mean += std::clamp(x, lo, hi);
      mean /= static_cast<double>(m);
      for (double x : k) sq += (std::clamp(x, lo, hi) - mean) * (std::clamp(x, lo, hi) - mean);
      return std::sqrt(sq / static_cast<double>(m));
    };
    double sigma = sd(-HUGE_VAL, HUGE_VAL);
    if (rule.mode == kRejectWinsorised)
      for (int i = 0; i < 100 && sigma > 0; ++i) {
        const double next = sd(c - 1.5 * sigma, c + 1.5 * sigma);
        const bool done = std::fabs(next - sigma) < 0.0005 * sigma;
        sigma = next;
        if (done) break;
      }
    bool gone = false;
    for (size_t i = 0; i < v.size(); ++i)
      if (kept[i] && (v[i] < c - rule.low * sigma || v[i] > c + rule.high * sigma)) kept[i] = 0, gone = true;
    if (!gone) break;
  }
  return kept;
}

// A session whose images are parked and combined as a run does.
struct Night : qvtest::RunSession {
  using RunSession::RunSession;
  // Image i, its planes valued by f(plane, x, y), parked where it lies.
  // With a writer, the file is written aside as the tool's run writes it.
  void Park(int i, int w, int h, const std::function<int32_t(int, int, int)>& f, ScratchWriter* writer = nullptr) {
    qvtest::SetPicture(s, w, h, f);
    s.CurPic = static_cast<int16_t>(i);
    s.guide.GuideX = s.guide.RotCentreX = s.guide.AnchorX = 10;
    s.guide.GuideY = s.guide.RotCentreY = s.guide.AnchorY = 10;
    ASSERT_TRUE(AccumulateImage(s, writer));
    if (writer) {
      ASSERT_TRUE(writer->Await());
    }
  }
};

constexpr int kW = 41, kH = 37, kFrames = 9;

// Sky of frame k at (x, y): a level of its own plus a small fixed ripple.
int32_t Sky(int k, int x, int y, int32_t level) { return level + ((x * 7 + y * 13 + k * 5) % 11) - 5; }
bool OnTrail(int k, int x, int y) { return (k == 3 && y == 11) || (k == 6 && x == 19); }

// Nine frames, a trail of 3000 across frames 3 (a row) and 6 (a column),
// combined under `mode`; the sky levels differ by frame when `levels`.
// `colour` gives red and blue their own values (green stays the grey
// sky); `useMask` may weigh the samples.
std::unique_ptr<Night> Combined(int16_t mode, bool levels, bool normalise, bool colour = false, int32_t useMask = 0) {
  auto night = std::make_unique<Night>(kFrames);
  Night& n = *night;
  n.s.opt.RejectMode = mode;
  n.s.opt.Normalise = normalise;
  n.s.opt.UseMask = useMask;
  for (int k = 1; k <= kFrames; ++k) {
    const int32_t level = levels ? 1000 + 150 * k : 1000;
    n.Park(k, kW, kH, [&](int p, int x, int y) {
      return Sky(k, x, y, level) + (OnTrail(k, x, y) ? 3000 : 0) + (colour && p != 1 ? 7 * p + 3 : 0);
    });
  }
  std::vector<int> combined;
  EXPECT_TRUE(CombineStack(n.s, false, &combined));
  EXPECT_EQ(combined.size(), static_cast<size_t>(kFrames));
  return night;
}

}  // namespace

TEST(Reject, EachPixelsSamplesAsTheRuleReads) {
  std::mt19937 rng(11);
  std::vector<double> scratch;
  int rejectedSome = 0;
  for (int c = 0; c < 4000; ++c) {
    RejectRule rule;
    rule.mode = c % 2 ? kRejectSigma : c % 10 ? kRejectWinsorised : kRejectNone;
    const double kappas[] = {kKappaMin, 1, 2.5, 3, kKappaMax};
    rule.low = kappas[c % 5];
    rule.high = kappas[(c / 5) % 5];
    const size_t n = static_cast<size_t>(c % 14);
    std::vector<double> v(n);
    // Few distinct values make ties; an outlier now and then.
    for (double& x : v) x = 1000 + static_cast<int>(rng() % (c % 3 == 0 ? 3 : 40));
    if (n && c % 4 == 0) v[rng() % n] = 9000;
    if (c % 7 == 0) std::fill(v.begin(), v.end(), 1234);  // all equal: nothing goes
    std::vector<uint8_t> kept(n);
    const size_t left = RejectOutliers(rule, v.data(), n, kept.data(), scratch);
    ASSERT_EQ(kept, Reference(rule, v)) << "case " << c;
    EXPECT_EQ(left, static_cast<size_t>(std::count(kept.begin(), kept.end(), 1)));
    rejectedSome += left < n;
  }
  EXPECT_GT(rejectedSome, 500);
}

// Without rejection the trails stay in the average; with either rule they
// go, and every other pixel is the plain average to the last bit.
TEST(Reject, TrailsLeaveTheCombination) {
  const auto plain = Combined(kRejectNone, false, false);
  const uint64_t held = HeldLayerBytes();
  // Layers held in memory, or every one parked in its file; grey or colour.
  for (const auto& [mode, inFiles, colour] : {std::tuple{kRejectSigma, false, false},
                                              {kRejectWinsorised, false, false},
                                              {kRejectSigma, true, false},
                                              {kRejectSigma, true, true},
                                              {kRejectWinsorised, false, true}}) {
    HeldLayerBytes() = inFiles ? 0 : held;
    const auto n = Combined(mode, false, false, colour);
    HeldLayerBytes() = held;
    const auto plainToo = colour ? Combined(kRejectNone, false, false, true) : nullptr;
    const Night& base = colour ? *plainToo : *plain;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const bool trail = y == 11 || x == 19;
        float sum = 0, weight = 0;
        for (int k = 1; k <= kFrames; ++k)
          if (!OnTrail(k, x, y)) {
            weight = static_cast<float>(weight + 1.0);
            sum = static_cast<float>(sum + Sky(k, x, y, 1000) * 1.0);
          }
        if (trail && !(y == 11 && x == 19)) {
          ASSERT_EQ(n->s.dest.DestWeightG(x, y), weight) << x << "," << y << " mode " << mode;
          ASSERT_EQ(n->s.dest.DestSumG(x, y), sum) << x << "," << y;
          ASSERT_GT(base.s.dest.DestSumG(x, y) / base.s.dest.DestWeightG(x, y), 1200) << x << "," << y;
        } else if (!trail) {
          ASSERT_EQ(n->s.dest.DestSumR(x, y), base.s.dest.DestSumR(x, y)) << x << "," << y;
          ASSERT_EQ(n->s.dest.DestSumB(x, y), base.s.dest.DestSumB(x, y)) << x << "," << y;
          ASSERT_EQ(n->s.dest.DestWeightB(x, y), base.s.dest.DestWeightB(x, y)) << x << "," << y;
        }
      }
    EXPECT_TRUE(std::filesystem::is_empty(n->dir.path())) << "the layers are deleted";
  }
  // Weighted samples (the progressive blend): away from the trails every
  // pixel is still the plain weighted average's.
  const auto blendPlain = Combined(kRejectNone, false, false, false, qv::ProgBlend);
  const auto blend = Combined(kRejectSigma, false, false, false, qv::ProgBlend);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (y != 11 && x != 19) {
        ASSERT_EQ(blend->s.dest.DestSumR(x, y), blendPlain->s.dest.DestSumR(x, y)) << x << "," << y;
        ASSERT_EQ(blend->s.dest.DestWeightR(x, y), blendPlain->s.dest.DestWeightR(x, y)) << x << "," << y;
      }
}

// Frames whose skies lie at different levels: compared as they are, the
// spread of the levels hides the trail; brought to the first frame's level
// and spread, the trail goes and nothing else does. The sums keep each
// frame's own values unless the output is normalised too.
TEST(Reject, BackgroundsBroughtToOneLevelForTheTest) {
  const auto raw = Combined(kRejectSigma, true, false);
  const auto level = Combined(kRejectSigma, true, true);
  int trailKeptRaw = 0;
  for (int x = 0; x < kW; ++x) {
    if (x == 19) continue;
    trailKeptRaw += raw->s.dest.DestWeightR(x, 11) == kFrames;
    EXPECT_EQ(level->s.dest.DestWeightR(x, 11), kFrames - 1) << x;
    EXPECT_EQ(level->s.dest.DestWeightR(x, 5), kFrames) << x;
  }
  EXPECT_GT(trailKeptRaw, kW / 2);
  float plainSum = 0;
  for (int k = 1; k <= kFrames; ++k) plainSum = static_cast<float>(plainSum + Sky(k, 4, 5, 1000 + 150 * k) * 1.0);
  EXPECT_EQ(level->s.dest.DestSumR(4, 5), plainSum);
}

// A stop between two bands' rows ends the combination with no reason; the
// rows past the stop are untouched and every file of the run is gone.
TEST(Reject, AStopDuringABandLeavesTheLaterRowsAlone) {
  Night n(kFrames);
  n.s.opt.RejectMode = kRejectSigma;
  for (int k = 1; k <= kFrames; ++k) n.Park(k, kW, kH, [&](int, int x, int y) { return Sky(k, x, y, 1000); });
  int yields = 0;
  n.ts.services.events.onYield = [&] {
    if (n.ts.services.events.caption.find(" - bande 1/1 Rejet") != std::string::npos && ++yields == 3) n.s.RunState = 2;
  };
  const Outcome stopped = CombineStack(n.s, false);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(stopped.why, "");
  EXPECT_GT(n.s.dest.DestWeightR(3, 0), 0);
  EXPECT_EQ(n.s.dest.DestWeightR(3, kH - 1), 0);
  EXPECT_TRUE(std::filesystem::is_empty(n.dir.path()));
}

// Grey frames sum red alone and copy it to green and blue however the
// combination ends (at the end, at a frame in colour, at a stop), and a grey
// frame's file, parked by the run or written aside, is read by its red plane
// alone, copied to green and blue; a night whose names were forgotten reads
// all three. With or without a rejection and the median filter, the six
// planes and the result are those of a night in colour whose red is each
// colour of this one in turn; and rows past a stop are left alone.
TEST(Combine, GreyFramesLeaveThePlanesOfThreeColours) {
  enum Way { kForgotten, kInTheRun, kAside };
  for (const int stopAt : {0, 9})
    for (const int colourFrame : {0, 4})
      for (const int16_t mode : {kRejectNone, kRejectSigma})
        for (const int32_t useMask : {0, 0x800}) {
          // The files the run knows to be grey: `grey` of them.
          auto run = [&](const std::function<int32_t(int, int, int, int)>& f, Way way, size_t grey) {
            auto n = std::make_unique<Night>(kFrames);
            n->s.opt.RejectMode = mode;
            n->s.opt.UseMask = useMask;
            ScratchWriter writer;
            for (int k = 1; k <= kFrames; ++k)
              n->Park(
                  k, kW, kH, [&](int p, int x, int y) { return f(k, p, x, y); }, way == kAside ? &writer : nullptr);
            EXPECT_EQ(n->s.stack.KnownGreyFiles.size(), grey);
            if (way == kForgotten) n->s.stack.KnownGreyFiles.clear();
            int yields = 0;
            if (stopAt)
              n->ts.services.events.onYield = [&yields, stopAt, &s = n->s] {
                if (++yields == stopAt) s.RunState = 2;
              };
            EXPECT_EQ(static_cast<bool>(CombineStack(n->s, false)), stopAt == 0);
            n->ts.services.events.onYield = nullptr;
            return n;
          };
          // Frame colourFrame's green stands 7 above its red and blue.
          auto plane = [&](int k, int p, int x, int y) {
            const int32_t v = 500 + ((x * 3 + y * 5 + k * 11) % 17) * (k + 1) + (OnTrail(k, x, y) ? 3000 : 0);
            return v + (k == colourFrame && p == 1 ? 7 : 0);
          };
          std::unique_ptr<Night> asRed[3];  // nights in colour whose red is this night's colour p
          for (int p = 0; p < 3; ++p)
            asRed[p] = run([&](int k, int q, int x, int y) { return plane(k, p, x, y) + 100 * q; }, kInTheRun, 0);
          for (const Way way : {kForgotten, kInTheRun, kAside}) {
            const auto night = run(plane, way, kFrames - (colourFrame > 0));
            // Past the stop, nothing is summed.
            EXPECT_TRUE(stopAt == 0 || night->s.dest.DestWeightR(3, kH - 1) == 0) << stopAt;
            const std::string where = "way " + std::to_string(way) + " stop " + std::to_string(stopAt) +
                                      " colour frame " + std::to_string(colourFrame) + " mode " + std::to_string(mode) +
                                      " mask " + std::to_string(useMask);
            const Session& s = night->s;
            const Plane<float>* sums[3] = {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB};
            const Plane<float>* weights[3] = {&s.dest.DestWeightR, &s.dest.DestWeightG, &s.dest.DestWeightB};
            const Plane<int32_t>* result[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
            for (int p = 0; p < 3; ++p) {
              const Session& red = asRed[p]->s;
              EXPECT_TRUE(*sums[p] == red.dest.DestSumR && *weights[p] == red.dest.DestWeightR)
                  << where << " colour " << p;
              EXPECT_TRUE(*result[p] == red.pic.PicR) << where << " colour " << p;
            }
          }
        }
}
