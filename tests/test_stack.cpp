// Placement, temporary files and the final combination on small images,
// and the range of a run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "stack/accumulate.h"
#include "stack/combine.h"
#include "support.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// A session with a list of n entries whose temporary files go to a folder
// of the test's own.
struct StackBench {
  TestSession ts;
  TempDir dir;
  Session& s;
  explicit StackBench(int n) : s(*ts) {
    s.ResizeImageArrays(n);
    s.stack.TempBase = dir.File("qv_");
    s.RunState = 1;
  }
  // W x H planes valued by f(plane, x, y).
  void Image(int w, int h, const std::function<int32_t(int, int, int)>& f) { qvtest::SetPicture(s, w, h, f); }
  void Flat(int w, int h, int32_t v) {
    Image(w, h, [v](int, int, int) { return v; });
  }
  // Image i with its guide star at (gx, gy) landing on (ax, ay).
  Outcome Add(int i, double gx = 0, double gy = 0, double ax = 0, double ay = 0) {
    s.CurPic = static_cast<int16_t>(i);
    s.guide.GuideX = s.guide.RotCentreX = gx;
    s.guide.GuideY = s.guide.RotCentreY = gy;
    s.guide.AnchorX = ax;
    s.guide.AnchorY = ay;
    return AccumulateImage(s);
  }
  std::string File(int k) const { return TempFileName(s, k); }
};

struct TempFile {
  size_t bytes = 0;
  double angle = 0;
  int32_t box[4] = {};
  std::vector<int32_t> values;  // the three planes, as stored
};
TempFile ReadTemp(const std::string& path) {
  const std::vector<uint8_t> b = qvtest::ReadBytes(path);
  TempFile t;
  t.bytes = b.size();
  if (b.size() < 24) return t;
  uint64_t a = 0;
  for (int k = 7; k >= 0; --k) a = (a << 8) | b[static_cast<size_t>(k)];
  std::memcpy(&t.angle, &a, 8);
  auto i32 = [&](size_t at) {
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24));
  };
  for (int q = 0; q < 4; ++q) t.box[q] = i32(8 + 4 * static_cast<size_t>(q));
  for (size_t at = 24; at + 4 <= b.size(); at += 4) t.values.push_back(i32(at));
  return t;
}

std::vector<int32_t> Box(const TempFile& t) { return {t.box[0], t.box[1], t.box[2], t.box[3]}; }

// The median of values[1..n] exactly as the rule reads: a partial
// exchange sort up to the middle position.
int32_t LiteralMedian(int n, std::vector<int32_t>& v) {
  if (n <= 0) return 0;
  const int k = (n - 1) / 2 + 1;
  for (int i = 1; i <= k; ++i)
    for (int j = i + 1; j <= n; ++j)
      if (v[static_cast<size_t>(j)] < v[static_cast<size_t>(i)])
        std::swap(v[static_cast<size_t>(i)], v[static_cast<size_t>(j)]);
  return v[static_cast<size_t>(k)];
}

}  // namespace

TEST(AngleOf, QuadrantsAndAxes) {
  const struct {
    double dy, dx, a;
  } cases[] = {{0, 1, 0},
               {1, 1, kPi / 4},
               {1, 0, kPi / 2},
               {1, -1, 3 * kPi / 4},
               {0, -1, kPi},  // a star exactly to the left
               {-1, -1, 5 * kPi / 4},
               {-1, 0, 3 * kPi / 2},
               {-1, 1, 7 * kPi / 4},
               {0, 0, 0},
               {-1e-12, 1, kTwoPi - 1e-12}};
  for (const auto& c : cases) {
    double dy = c.dy, dx = c.dx;
    const double a = AngleOf(dy, dx);
    EXPECT_NEAR(a, c.a, 1e-12) << c.dy << "," << c.dx;
    EXPECT_GE(a, 0);
    EXPECT_LT(a, kTwoPi);
  }
}

TEST(AccumulateImage, TempFileLayout) {
  StackBench b(1);
  b.Image(2, 2, [](int p, int x, int y) { return 1 + 4 * p + x + 2 * y; });
  b.Add(1, 0, 0, 10, 20);
  EXPECT_EQ(b.s.stack.StackCount, 1);
  EXPECT_EQ(b.s.stack.StackW1, 1);
  EXPECT_EQ(b.s.stack.StackH1, 1);
  const TempFile t = ReadTemp(b.File(1));
  EXPECT_EQ(t.bytes, 72u);
  EXPECT_EQ(t.angle, 0);
  EXPECT_EQ(Box(t), (std::vector<int32_t>{10, 20, 11, 21}));
  std::vector<int32_t> planes(12);
  for (int k = 0; k < 12; ++k) planes[static_cast<size_t>(k)] = k + 1;
  EXPECT_EQ(t.values, planes);  // red, green, blue; x fastest, row 0 first
  EXPECT_EQ(b.s.stack.CanvasMinX, 10);
  EXPECT_EQ(b.s.stack.CanvasMaxY, 21);
  DeleteTempFiles(b.s);
  EXPECT_FALSE(std::filesystem::exists(b.File(1)));
  // A temporary folder that is not there: not parked, and the run-time
  // error comes back for the caller to put in words.
  b.s.stack.TempBase = b.dir.File("gone/qv_");
  const Outcome lost = b.Add(1);
  EXPECT_FALSE(lost);
  EXPECT_EQ(lost.err, kErrPathAccess);
}

TEST(AccumulateImage, ManualAngleStaysForLaterImages) {
  StackBench b(5);
  b.s.Img[3].ImgAngle = 90;
  b.Flat(5, 3, 7);
  for (int i = 1; i <= 5; ++i) b.Add(i);
  const double expected[5] = {0, 0, -90 * kDegree, -90 * kDegree, -90 * kDegree};
  for (int k = 1; k <= 5; ++k) EXPECT_DOUBLE_EQ(ReadTemp(b.File(k)).angle, expected[k - 1]) << k;
  // Turned by -90 degrees about the guide star at (0, 0): (x, y) -> (y, -x).
  EXPECT_EQ(Box(ReadTemp(b.File(2))), (std::vector<int32_t>{0, 0, 4, 2}));
  EXPECT_EQ(Box(ReadTemp(b.File(3))), (std::vector<int32_t>{0, -4, 2, 0}));
  EXPECT_EQ(b.s.stack.CanvasMinX, 0);
  EXPECT_EQ(b.s.stack.CanvasMinY, -4);
  EXPECT_EQ(b.s.stack.CanvasMaxX, 4);
  EXPECT_EQ(b.s.stack.CanvasMaxY, 2);
}

TEST(AccumulateImage, ImageOfAnotherSizeIsLeftOutWithoutAGap) {
  StackBench b(5);
  for (int i = 1; i <= 5; ++i) {
    const bool odd = i == 3;
    b.Flat(odd ? 7 : 6, 4, 100 * i);
    // Were it placed, the odd image would widen the canvas far to the right.
    const Outcome r = b.Add(i, 0, 0, odd ? 1000 : 0, 0);
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
  EXPECT_EQ(b.s.stack.CanvasMinX, 0);
  EXPECT_EQ(b.s.stack.CanvasMaxX, 5);
  EXPECT_EQ(b.s.stack.CanvasMaxY, 3);
}

// A 64 x 64 field, guide star at (20, 20), a rotation star whose centroid
// is (40.5, 40.5): direction pi / 4.
TEST(AccumulateImage, RotationStarOnTheFirstImage) {
  auto field = [](StackBench& b, int sx, int sy, int size) {
    b.Image(64, 64, [=](int p, int x, int y) {
      return p == 0 && x >= sx && x < sx + size && y >= sy && y < sy + size ? 5000 : 0;
    });
  };
  const double u = 63;
  {
    // Rotation star only: the stack turns until the star lies on the
    // positive x axis seen from the guide star.
    StackBench b(1);
    field(b, 40, 40, 2);
    ImageEntry& e = b.s.Img[1];
    e.ImgRot = 1;
    e.ImgRotX = e.ImgRotY = 40 / u;
    b.Add(1, 20, 20, 20, 20);
    EXPECT_NEAR(ReadTemp(b.File(1)).angle, -kPi / 4, 1e-12);
    EXPECT_NEAR(b.s.stack.RotAngleRef, kPi / 4, 1e-12);
    EXPECT_DOUBLE_EQ(e.ImgRotX * u, 40.5);  // the refined position is kept
  }
  {
    // With a new rotation star as well, the first image is not turned; the
    // star only fixes the direction later turns are measured against.
    StackBench b(2);
    field(b, 40, 40, 2);
    ImageEntry& e = b.s.Img[1];
    e.ImgRot = e.ImgNewRot = 1;
    e.ImgRotX = e.ImgRotY = 40 / u;
    e.ImgNewRotX = e.ImgNewRotY = 0.1;  // replaced by the rotation star's
    b.Add(1, 20, 20, 20, 20);
    EXPECT_EQ(ReadTemp(b.File(1)).angle, 0);
    EXPECT_EQ(e.ImgRot, 0);
    EXPECT_EQ(e.ImgNewRot, 1);
    EXPECT_DOUBLE_EQ(e.ImgNewRotX * u, 40.5);
    EXPECT_NEAR(b.s.stack.RotAngleRef, kPi / 4, 1e-12);

    // The field turned: the star is now straight below the guide star.
    field(b, 20, 45, 1);
    b.s.Img[2].ImgRot = 1;
    b.s.Img[2].ImgRotX = 20 / u;
    b.s.Img[2].ImgRotY = 45 / u;
    b.Add(2, 20, 20, 20, 20);
    EXPECT_NEAR(ReadTemp(b.File(2)).angle, -kPi / 4, 1e-12);
    EXPECT_NEAR(b.s.stack.RotAngleRef, kPi / 2, 1e-12);
  }
}

TEST(MedianOf, LiteralExchangeSort) {
  std::vector<int32_t> v{0, 7, 3, 9, 5};
  EXPECT_EQ(MedianOf(4, v), 5);  // the lower of the two middle values
  std::vector<int32_t> none{0, 4, 2};
  EXPECT_EQ(MedianOf(0, none), 0);
  EXPECT_EQ(none, (std::vector<int32_t>{0, 4, 2}));

  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> val(-5, 40);
  for (int n = 1; n <= 25; ++n) {
    std::vector<int32_t> a(static_cast<size_t>(n) + 1);
    for (auto& x : a) x = val(rng);
    std::vector<int32_t> ref = a;
    const int32_t want = LiteralMedian(n, ref);
    EXPECT_EQ(MedianOf(static_cast<int16_t>(n), a), want) << n;
    EXPECT_EQ(a, ref) << "partial order after n = " << n;
  }
}

TEST(MedianFilter, WindowsAndLimit) {
  StackBench b(1);
  const int w = 9, h = 7;
  std::mt19937 rng(5);
  std::uniform_int_distribution<int32_t> val(-3, 60);
  b.Image(w, h, [&](int, int, int) { return val(rng); });
  const Plane<int32_t> orig[3] = {b.s.pic.PicR, b.s.pic.PicG, b.s.pic.PicB};
  // Window offsets per mode; an unknown mode filters as 3 x 3.
  const struct {
    int mode, lo, hi;
    int32_t limit;
  } cases[] = {{1, -1, 1, 1 << 30}, {2, -1, 2, 1 << 30}, {3, -2, 2, 1 << 30}, {4, -1, 1, 1 << 30}, {3, -2, 2, 20}};
  for (const auto& c : cases) {
    Plane<int32_t> got[3] = {orig[0], orig[1], orig[2]};
    MedianFilter(got[0], got[1], got[2], static_cast<int16_t>(c.mode), c.limit, {});
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          std::vector<int32_t> win{0};
          for (int wy = y + c.lo; wy <= y + c.hi; ++wy)
            for (int wx = x + c.lo; wx <= x + c.hi; ++wx)
              if (wx >= 0 && wy >= 0 && wx < w && wy < h && orig[p](wx, wy) > 0) win.push_back(orig[p](wx, wy));
          const int32_t m = LiteralMedian(static_cast<int>(win.size()) - 1, win);
          const int32_t want = m <= c.limit ? m : orig[p](x, y);
          ASSERT_EQ(got[p](x, y), want) << "mode " << c.mode << " plane " << p << " at " << x << "," << y;
        }
  }

  // On the current image with MedianLimit 0: only a pixel whose window holds
  // no positive value changes, to 0.
  b.Image(w, h, [](int, int x, int y) {
    if (x == 0 && y == 0) return -8;
    if (x == 2 && y == 2) return -6;
    return x <= 2 && y <= 2 ? 0 : 500;
  });
  b.s.opt.MedianLimit = 0;
  MedianFilter(b.s, 1);
  EXPECT_EQ(b.s.pic.PicR(0, 0), 0);
  EXPECT_EQ(b.s.pic.PicB(0, 0), 0);
  EXPECT_EQ(b.s.pic.PicR(2, 2), -6);  // its window reaches a 500: median 500, kept
  EXPECT_EQ(b.s.pic.PicR(5, 5), 500);
}

// Two 17 x 13 images, the second placed 5 right and 3 down of the first.
TEST(CombineStack, FirstImageFrameAndMissingFile) {
  StackBench b(3);
  b.Flat(17, 13, 100);
  b.Add(1, 8, 6, 8, 6);
  b.Flat(17, 13, 200);
  b.Add(2, 8, 6, 13, 9);
  b.Add(3, 8, 6, 8, 6);
  std::filesystem::remove(b.File(3));  // a failed accumulation
  ASSERT_TRUE(CombineStack(b.s, false));
  EXPECT_EQ(b.s.dest.DestSumR.UBound1(), 16);
  EXPECT_EQ(b.s.dest.DestSumR.UBound2(), 12);
  for (int y = 0; y <= 12; ++y)
    for (int x = 0; x <= 16; ++x) {
      const bool both = x >= 5 && y >= 3;
      ASSERT_FLOAT_EQ(b.s.dest.DestWeightG(x, y), both ? 2 : 1) << x << "," << y;
      ASSERT_FLOAT_EQ(b.s.dest.DestSumB(x, y), both ? 300 : 100) << x << "," << y;
    }
  EXPECT_TRUE(std::filesystem::is_empty(b.dir.path()));
  b.s.stack.StackCount = 0;  // an empty stack
  EXPECT_FALSE(CombineStack(b.s, false));
}

TEST(CombineStack, ExpandedCanvasIsTheUnionOfTheBoxes) {
  StackBench b(2);
  b.Flat(17, 13, 100);
  b.Add(1, 8, 6, 8, 6);  // box (0, 0) - (16, 12)
  b.Flat(17, 13, 200);
  b.Add(2, 8, 6, 3, 1);  // box (-5, -5) - (11, 7)
  ASSERT_TRUE(CombineStack(b.s, true));
  EXPECT_EQ(b.s.stack.CanvasMinX, -5);
  EXPECT_EQ(b.s.stack.CanvasMinY, -5);
  ASSERT_EQ(b.s.dest.DestSumR.Width(), 22);
  ASSERT_EQ(b.s.dest.DestSumR.Height(), 18);
  auto value = [&](int x, int y) { return b.s.dest.DestSumR(x, y) / b.s.dest.DestWeightR(x, y); };
  EXPECT_FLOAT_EQ(value(0, 0), 200);
  EXPECT_FLOAT_EQ(b.s.dest.DestWeightR(5, 5), 2);
  EXPECT_FLOAT_EQ(value(5, 5), 150);
  EXPECT_FLOAT_EQ(value(21, 17), 100);
  for (const auto& [x, y] : {std::pair{21, 0}, std::pair{0, 17}, std::pair{17, 4}})
    for (const Plane<float>* p : {&b.s.dest.DestWeightR, &b.s.dest.DestWeightG, &b.s.dest.DestWeightB})
      EXPECT_EQ((*p)(x, y), 0) << x << "," << y;
}

// One image resampled onto a fresh destination of wd x hd upper bounds.
struct Resample {
  Plane<float> sum[3], weight[3];
  bool done;
  Resample(const Plane<int32_t> (&src)[3], const Weighting& wt, const Placement& at, int wd, int hd,
           const YieldPoint& yield = {}) {
    for (int p = 0; p < 3; ++p) sum[p].Redim(wd, hd), weight[p].Redim(wd, hd);
    const PlaneView<float> s[3] = {sum[0], sum[1], sum[2]}, w[3] = {weight[0], weight[1], weight[2]};
    done = ResampleImage(src[0], src[1], src[2], s, w, wt, at, yield);
  }
};

// A 17 x 13 image of 100s onto the frame it came from.
TEST(ResampleImage, WeightsOfTheOptions) {
  Plane<int32_t> src[3];
  for (Plane<int32_t>& p : src) {
    p.Redim(16, 12);
    p.Fill(100);
  }
  Options o;
  o.FovX = o.FovY = 0.5f;
  o.FovR = 0.25f;  // r = 0.25 x 12 + 1 = 4 around (8, 6)
  o.FovF = 0.01f;
  const Placement frame{0, 0, 16, 12, 0};
  const std::pair<int32_t, std::vector<std::tuple<int, int, float>>> cases[] = {
      // A tent: 1 at the centre, 1 / (half + 1) at a corner.
      {ProgBlend, {{8, 6, 1}, {0, 0, 1.0f / 9}, {16, 12, 1.0f / 9}, {8, 0, 1.0f / 7}}},
      // Strictly inside the circle only.
      {CircCrop, {{11, 6, 1}, {12, 6, 0}, {8, 3, 1}, {8, 2, 0}, {10, 8, 1}, {11, 9, 0}}},
      // Blended circle: falling inside, the outer factor beyond it.
      {CircCrop | ProgBlend, {{8, 6, 1}, {11, 6, 1 - 3.0f / 5}, {12, 6, 0.01f * (1 - 4.0f / 9)}}},
  };
  for (const auto& [mask, weights] : cases) {
    o.UseMask = mask;
    const Resample d(src, WeightingOf(o, 16, 12), frame, 16, 12);
    for (const auto& [x, y, w] : weights) EXPECT_FLOAT_EQ(d.weight[0](x, y), w) << mask << " at " << x << "," << y;
    if (mask == ProgBlend) {
      EXPECT_FLOAT_EQ(d.sum[0](0, 0), 100.0f / 9);
    }
  }

  // Edge cut and values of 0 or less: no sum and no weight.
  o.UseMask = EdgeCut;
  o.EdgeSize = 2;
  src[1](5, 5) = 0;
  src[2](6, 6) = -5;
  const Resample d(src, WeightingOf(o, 16, 12), frame, 16, 12);
  for (const auto& [x, y] : {std::pair{1, 6}, std::pair{15, 6}, std::pair{8, 11}}) EXPECT_EQ(d.weight[0](x, y), 0);
  for (const auto& [x, y] : {std::pair{2, 6}, std::pair{14, 10}, std::pair{5, 5}})
    EXPECT_FLOAT_EQ(d.weight[0](x, y), 1);
  EXPECT_EQ(d.weight[1](5, 5) + d.sum[1](5, 5), 0);
  EXPECT_EQ(d.weight[2](6, 6) + d.sum[2](6, 6), 0);

  // A negative edge would sample outside the planes: a subscript error.
  o.EdgeSize = -1;
  EXPECT_THROW(Resample(src, WeightingOf(o, 16, 12), {0, 0, 18, 12, 0}, 19, 12), RuntimeError);
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
  int yields = 0;
  const Resample d(src, Weighting{}, at, 19, 19, [&yields] { return ++yields > 1; });
  EXPECT_FALSE(d.done);
  EXPECT_EQ(yields, 1);
  for (int yd = 0; yd <= 19; ++yd)
    for (int xd = 0; xd <= 19; ++xd) {
      const bool in = xd >= 11 && xd <= 13 && yd >= 9 && yd <= 12;
      ASSERT_EQ(d.sum[0](xd, yd), in ? src[0](yd - 9, 13 - xd) : 0) << xd << "," << yd;
      ASSERT_EQ(d.weight[0](xd, yd) + d.weight[1](xd, yd), in ? 1 : 0) << xd << "," << yd;
    }
}

TEST(FitFinal, BaseNameAndDefaultOutputName) {
  StackBench b(2);
  b.s.Img[1].ImgFile = "/sky/M31_001.fit";
  b.s.Img[2].ImgFile = "/sky/M31_002.fit";
  EXPECT_EQ(BaseName(b.s), "M31_0");
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
  EXPECT_EQ(b.s.dest.DestFileName, b.dir.File("M31_0_1.bmp"));
  EXPECT_EQ(caption, "M31_0_1.bmp");
  long counted = 0;
  for (int32_t c : b.s.dest.DestHisto) counted += c;
  EXPECT_EQ(counted, 17 * 13);
  EXPECT_EQ(b.s.dest.DestHisto[1000], 1);
  EXPECT_EQ(b.s.dest.DestHistoMax, 13);  // x + y = 12 happens on 13 pixels

  qvtest::WriteBytes(b.dir.File("M31_0_1.bmp"), {0});
  stack(10);
  EXPECT_EQ(b.s.dest.DestFileName, b.dir.File("M31_0_2.bmp"));

  // An image of one value is an empty result: no name, no window.
  b.s.dest.DestFileName.clear();
  caption.clear();
  stack(0);
  EXPECT_EQ(b.s.dest.DestFileName, "");
  EXPECT_EQ(caption, "");

  // A canvas too large: the combination's run-time error comes back with
  // its number, logged but not shown in a message box.
  int boxes = 0;
  window.onMsgBox = [&](const std::string&) { ++boxes; };
  b.s.stack.StackCount = 0;
  b.Add(1);
  b.s.stack.CanvasMaxX = 1 << 30;
  const Outcome r = FitFinal(b.ts.form1, true);
  EXPECT_EQ(r.Text(), "erreur 7 : Mémoire insuffisante");
  EXPECT_EQ(boxes, 0);
  EXPECT_EQ(caption, "");
}

TEST(BaseName, CommonStartOfTheNames) {
  TestSession ts;
  Session& s = *ts;
  auto base = [&](std::vector<std::string> names) {
    s.ResizeImageArrays(static_cast<int>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) s.Img[i + 1].ImgFile = names[i];
    return BaseName(s);
  };
  EXPECT_EQ(base({"/a/m31_001.FIT", "/b/M31_002.fit"}), "m31_0");  // case is ignored
  EXPECT_EQ(base({"abc.fit", "xyz.fit"}), "a");                    // never shorter than one character
  // The last character of the base is compared as a one-character piece
  // against two characters of the longer name.
  EXPECT_EQ(base({"M31_001.fit", "M31_002.fit", "M31_010.fit"}), "M31_");
  EXPECT_EQ(base({"M31.fit"}), "M31.fit");
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
    EXPECT_EQ(first, c.wantFirst) << c.first << ".." << c.last;
    EXPECT_EQ(last, c.wantLast) << c.first << ".." << c.last;
  }
}
