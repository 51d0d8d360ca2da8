// Placement, temporary files and the final combination on small images,
// and the range of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>

#include "core/error_words.h"
#include "core/parallel.h"
#include "platform/disk_space.h"
#include "stack/accumulate.h"
#include "stack/combine.h"
#include "support.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TestSession;

namespace {

struct StackBench : qvtest::RunSession {
  using RunSession::RunSession;
  // W x H planes valued by f(plane, x, y).
  void Image(int w, int h, const std::function<int32_t(int, int, int)>& f) { qvtest::SetPicture(s, w, h, f); }
  void Flat(int w, int h, int32_t v) {
    Image(w, h, [v](int, int, int) { return v; });
  }
  // Image i with its guide star at (0, 0) landing on (ax, 0).
  Outcome Add(int i, double ax = 0) {
    s.CurPic = static_cast<int16_t>(i);
    s.guide.GuideX = s.guide.GuideY = s.guide.RotCentreX = s.guide.RotCentreY = s.guide.AnchorY = 0;
    s.guide.AnchorX = ax;
    return AccumulateImage(s);
  }
  std::string File(int k) const { return TempFileName(s, k); }
};

// A temporary file: its angle, its box (min x, min y, max x, max y) and
// its three planes, as stored (little-endian, as on this machine).
struct TempFile {
  size_t bytes = 0;
  double angle = 0;
  std::vector<int32_t> box, values;
};
TempFile ReadTemp(const std::string& path) {
  const std::vector<uint8_t> b = qvtest::ReadBytes(path);
  TempFile t;
  t.bytes = b.size();
  if (b.size() < 24) return t;
  std::memcpy(&t.angle, b.data(), 8);
  t.box.resize(4);
  std::memcpy(t.box.data(), b.data() + 8, 16);
  t.values.resize((b.size() - 24) / 4);
  std::memcpy(t.values.data(), b.data() + 24, t.values.size() * 4);
  return t;
}

// The canvas as min x, min y, max x, max y.
std::vector<int32_t> Canvas(const Session& s) {
  return {s.stack.CanvasMinX, s.stack.CanvasMinY, s.stack.CanvasMaxX, s.stack.CanvasMaxY};
}

}  // namespace

TEST(AccumulateImage, ManualAngleStaysForLaterImages) {
  StackBench b(5);
  b.s.Img[3].ImgAngle = 90;
  b.Flat(5, 3, 7);
  for (int i = 1; i <= 5; ++i) b.Add(i);
  const double expected[5] = {0, 0, -90 * kDegree, -90 * kDegree, -90 * kDegree};
  for (int k = 1; k <= 5; ++k) EXPECT_DOUBLE_EQ(ReadTemp(b.File(k)).angle, expected[k - 1]) << k;
  // Turned by -90 degrees about the guide star at (0, 0): (x, y) -> (y, -x).
  EXPECT_EQ(ReadTemp(b.File(2)).box, (std::vector<int32_t>{0, 0, 4, 2}));
  EXPECT_EQ(ReadTemp(b.File(3)).box, (std::vector<int32_t>{0, -4, 2, 0}));
  EXPECT_EQ(Canvas(b.s), (std::vector<int32_t>{0, -4, 4, 2}));
}

// At 30 degrees each corner of the image is the extreme of the turned box
// in its own direction, so the box must span the rectangle's full turned
// width and height.
TEST(AccumulateImage, ATurnedImageSpansItsFourCorners) {
  StackBench b(2);
  b.s.Img[2].ImgAngle = 30;
  b.Flat(41, 21, 7);
  for (int i = 1; i <= 2; ++i) b.Add(i);
  const std::vector<int32_t> box = ReadTemp(b.File(2)).box;
  const double c = std::cos(30 * kDegree), sn = std::sin(30 * kDegree);
  EXPECT_NEAR(box[2] - box[0], 40 * c + 20 * sn, 1.0);
  EXPECT_NEAR(box[3] - box[1], 40 * sn + 20 * c, 1.0);
}

TEST(AccumulateImage, ImageOfAnotherSizeIsLeftOutWithoutAGap) {
  StackBench b(5);
  for (int i = 1; i <= 5; ++i) {
    const bool odd = i == 3;
    b.Flat(odd ? 7 : 6, 4, 100 * i);
    // Were it placed, the odd image would widen the canvas far to the right.
    const Outcome r = b.Add(i, odd ? 1000 : 0);
    EXPECT_EQ(r.ok, !odd) << i;
    EXPECT_EQ(r.Text(), "") << i;  // left out without a reason
  }
  EXPECT_EQ(b.s.stack.StackCount, 4);
  const int tags[4] = {100, 200, 400, 500};
  for (int k = 1; k <= 4; ++k) {
    const TempFile t = ReadTemp(b.File(k));
    ASSERT_EQ(t.bytes, 24u + 3 * 4 * 24) << k;
    EXPECT_EQ(t.values[0], tags[k - 1]);
  }
  EXPECT_FALSE(std::filesystem::exists(b.File(5)));
  EXPECT_EQ(Canvas(b.s), (std::vector<int32_t>{0, 0, 5, 3}));
}

// A 5 x 3 image turned a quarter about the centre of its box (11, 9) -
// (13, 13): destination (xd, yd) takes source (yd - 9, 13 - xd). The yield
// comes after the rows whose y is a multiple of 4, here row 12 only.
TEST(ResampleImage, QuarterTurnAndAStopAfterTheFourthRow) {
  Plane<int32_t> src[3];
  for (Plane<int32_t>& p : src) p.Redim(4, 2);
  for (int y = 0; y <= 2; ++y)
    for (int x = 0; x <= 4; ++x) src[0](x, y) = 1 + x + 10 * y;
  const Placement at{11, 9, 13, 13, kPi / 2};
  Plane<float> sum[3], weight[3];
  for (int p = 0; p < 3; ++p) sum[p].Redim(19, 19), weight[p].Redim(19, 19);
  const PlaneView<float> sv[3] = {sum[0], sum[1], sum[2]}, wv[3] = {weight[0], weight[1], weight[2]};
  int yields = 0;
  EXPECT_FALSE(ResampleImage(src[0], src[1], src[2], sv, wv, Weighting{}, at, [&yields] { return ++yields > 1; }));
  EXPECT_EQ(yields, 1);
  for (int yd = 0; yd <= 19; ++yd)
    for (int xd = 0; xd <= 19; ++xd) {
      const bool in = xd >= 11 && xd <= 13 && yd >= 9 && yd <= 12;
      ASSERT_EQ(sum[0](xd, yd), in ? src[0](yd - 9, 13 - xd) : 0) << xd << "," << yd;
      ASSERT_EQ(weight[0](xd, yd) + weight[1](xd, yd), in ? 1 : 0) << xd << "," << yd;
    }
}

// Both cores share the rows between two stop tests: on odd boxes (one row,
// one column), turned, with blended and circular weights, every sum and
// weight is the single loop's, a stop at each stop test leaves the same
// rows written, and a pixel that fails (a negative edge reaching outside the
// planes) leaves those before it written and none after.
TEST(ResampleImage, TwoCoresGiveTheOneLoopsSumsStopsAndFailures) {
  Plane<int32_t> src[3];
  for (int p = 0; p < 3; ++p) {
    src[p].Redim(36, 22);
    for (int y = 0; y <= 22; ++y)
      for (int x = 0; x <= 36; ++x) src[p](x, y) = (x * 7 + y * 13 + p * 5) % 40 - 3;
  }
  Weighting wt;
  wt.blend = wt.circle = true;
  wt.cx = 18, wt.cy = 11, wt.r = 9, wt.outside = 0.5f;
  // The last box's first row leaves the source in its middle, and only it.
  const Placement boxes[] = {
      {3, 2, 39, 24, 0.3}, {5, 7, 5, 30, -1.1}, {1, 9, 40, 9, 2.0}, {2.5, 1.5, 38.5, 23.5, 0}, {1, 1, 35, 23, 0.05}};
  int raised = 0;
  for (const int edge : {0, -3})
    for (const Placement& at : boxes)
      for (int stopAt = 0; stopAt <= 12; ++stopAt) {
        wt.edge = edge;
        Plane<float> out[2][6];
        int result[2];  // 1 done, 0 stopped, else the error number
        for (const bool two : {false, true}) {
          UseSecondCore(two);
          for (int p = 0; p < 3; ++p) out[two][p].Redim(43, 32), out[two][3 + p].Redim(43, 32);
          const PlaneView<float> sv[3] = {out[two][0], out[two][1], out[two][2]};
          const PlaneView<float> wv[3] = {out[two][3], out[two][4], out[two][5]};
          int yields = 0;
          try {
            result[two] =
                ResampleImage(src[0], src[1], src[2], sv, wv, wt, at, [&] { return stopAt == 0 || ++yields < stopAt; });
          } catch (const RuntimeError& err) {
            result[two] = err.Number();
          }
        }
        UseSecondCore(true);
        EXPECT_EQ(result[0], result[1]);
        raised += result[0] == kErrSubscript;
        for (int p = 0; p < 6; ++p)
          EXPECT_TRUE(out[0][p] == out[1][p]) << "plane " << p << " stop " << stopAt << " edge " << edge;
      }
  EXPECT_GT(raised, 0);
}

// The median filter against a plain sort of each window's values above 0
// (the lower middle one), for the three window sizes, on one core and two,
// with the limit, and a stop that leaves the planes as they were.
TEST(MedianFilter, WindowsMedianOnBothCoresAndAStopChangesNothing) {
  std::mt19937 rng(5);
  Plane<int32_t> in[3];
  for (Plane<int32_t>& p : in) {
    p.Redim(12, 6);
    for (int y = 0; y <= 6; ++y)
      for (int x = 0; x <= 12; ++x) p(x, y) = rng() % 4 == 0 ? 0 : static_cast<int32_t>(rng() % 100);
  }
  for (const int16_t mode : {1, 2, 3})
    for (const bool two : {false, true}) {
      UseSecondCore(two);
      Plane<int32_t> out[3] = {in[0], in[1], in[2]};
      MedianFilter(out[0], out[1], out[2], mode, 60, {});
      const int lo = mode == 3 ? -2 : -1, hi = mode == 1 ? 1 : 2;
      for (int p = 0; p < 3; ++p)
        for (int y = 0; y <= 6; ++y)
          for (int x = 0; x <= 12; ++x) {
            std::vector<int32_t> w;
            for (int j = std::max(0, y + lo); j <= std::min(6, y + hi); ++j)
              for (int i = std::max(0, x + lo); i <= std::min(12, x + hi); ++i)
                if (in[p](i, j) > 0) w.push_back(in[p](i, j));
            std::sort(w.begin(), w.end());
            const int32_t m = w.empty() ? 0 : w[(w.size() - 1) / 2];
            ASSERT_EQ(out[p](x, y), m <= 60 ? m : in[p](x, y)) << mode << " " << p << " " << x << "," << y;
          }
      int rows = 0;
      Plane<int32_t> stopped[3] = {in[0], in[1], in[2]};
      MedianFilter(stopped[0], stopped[1], stopped[2], mode, 60, [&] { return ++rows < 10; });
      EXPECT_EQ(rows, 10);
      for (int p = 0; p < 3; ++p) EXPECT_TRUE(stopped[p] == in[p]);
    }
  UseSecondCore(true);
}

TEST(FitFinal, DefaultOutputName) {
  StackBench b(2);
  b.s.Img[1].ImgFile = "/sky/M31_001.fit";
  b.s.Img[2].ImgFile = "/sky/M31_002.fit";
  b.s.opt.OutDir = b.dir.path().string();
  std::string caption;
  qvtest::ViewSpy window;
  window.onOpenDestination = [&](const std::string& c) { caption = c; };
  b.ts.form1.outer = &window;
  auto stack = [&](int32_t spread) {
    b.s.stack.StackCount = 0;
    b.Image(17, 13, [=](int, int x, int y) { return 1000 + spread * (x + y); });
    b.Add(1);
    FitFinal(b.ts.form1);
  };
  stack(10);
  EXPECT_EQ(std::tuple(b.s.dest.DestFileName, caption),
            std::tuple(b.dir.File("M31_0_1.bmp"), std::string("M31_0_1.bmp")));
  EXPECT_EQ(std::accumulate(b.s.dest.DestHisto.begin(), b.s.dest.DestHisto.end(), 0L), 17 * 13);
  EXPECT_EQ(b.s.dest.DestHisto[1000], 1);
  EXPECT_EQ(b.s.dest.DestHistoMax, 13);  // x + y = 12 happens on 13 pixels

  qvtest::WriteBytes(b.dir.File("M31_0_1.bmp"), {0});
  stack(10);
  EXPECT_EQ(b.s.dest.DestFileName, b.dir.File("M31_0_2.bmp"));

  // An image of one value is an empty result: no name, no window.
  b.s.dest.DestFileName.clear();
  caption.clear();
  stack(0);
  EXPECT_TRUE(b.s.dest.DestFileName.empty() && caption.empty());
}

TEST(RunRange, SubsetFields) {
  TestSession ts;
  Session& s = *ts;
  s.ResizeImageArrays(10);
  const struct {
    bool shown;
    const char *first, *last;
    int wantFirst, wantLast;
  } cases[] = {{true, "5", "3", 5, 5},   {true, "0", "0", 1, 10},   {true, "12", "20", 10, 10},
               {true, "", "4", 1, 4},    {true, "abc", "x", 1, 10}, {true, "2.5", "7.5", 2, 8},
               {false, "5", "6", 1, 10}, {true, "-3", "2", 1, 2}};
  for (const auto& c : cases) {
    ts.form1.Text7Visible = c.shown;
    ts.form1.Text7 = c.first;
    ts.form1.Text8 = c.last;
    int first = -1, last = -1;
    RunRange(ts.form1, first, last);
    EXPECT_EQ(std::tuple(first, last), std::tuple(c.wantFirst, c.wantLast)) << c.first << ".." << c.last;
  }
  // The boxes read in the user's conventions, rounded; "Etendre" rides along.
  s.locale = NumLocale::Comma();
  ts.form1.Text7Visible = true;
  ts.form1.Text7 = "2,6";
  ts.form1.Text8 = "4";
  ts.form1.Check6 = 1;
  const RunRequest r = RequestFromWindow(ts.form1);
  EXPECT_EQ(std::vector<int>({r.first, r.last, r.expand}), std::vector<int>({3, 4, 1}));
}

// The room a run's files take: 24 + 12 W H bytes for each checked image of
// the range, W and H halved (rounded down) under "Fusion 2x2".
TEST(TempSpaceForRun, CheckedImagesOfTheRangeAndTheirHalvedSizes) {
  TestSession ts;
  Session& s = *ts;
  s.ResizeImageArrays(4);
  const int sizes[4][3] = {{101, 75, 1}, {100, 80, 0}, {64, 64, 1}, {3, 3, 1}};  // width, height, checked
  for (int i = 1; i <= 4; ++i) {
    s.Img[static_cast<size_t>(i)].ImgNaxis1 = static_cast<int16_t>(sizes[i - 1][0]);
    s.Img[static_cast<size_t>(i)].ImgNaxis2 = static_cast<int16_t>(sizes[i - 1][1]);
    s.Img[static_cast<size_t>(i)].ImgChecked = static_cast<int16_t>(sizes[i - 1][2]);
  }
  const struct {
    int first, last;
    bool halved;
    uint64_t needed;
    int16_t reject = 0;  // the layers of a rejection outlast the parked files
  } cases[] = {{0, 0, false, 3 * 24 + 12 * (101 * 75 + 64 * 64 + 9)},
               {2, 3, false, 24 + 12 * 64 * 64},
               {0, 0, true, 3 * 24 + 12 * (50 * 37 + 32 * 32 + 1)},
               {4, 4, true, 24 + 12},
               {2, 3, false, 16 + 24 * 64 * 64, 2},
               {4, 4, false, 16 + 24 * 9, 1}};
  ScopedFreeSpace free(1000);
  for (const auto& c : cases) {
    s.opt.UseMask = c.halved ? Bin2x2 : 0;
    s.opt.RejectMode = c.reject;
    const TempSpace space = TempSpaceForRun(s, RunRequest{c.first, c.last, false});
    EXPECT_EQ(space.needed, c.needed) << c.first << ".." << c.last << (c.halved ? " halved" : "");
    EXPECT_EQ(space.Enough(), c.needed <= 1000) << c.needed;
  }
}
