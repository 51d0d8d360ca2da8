// Guide-star tracking: the correlation's ties, the search's edge states and a change of guide
// star; the golden stacks follow the guide star itself.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "stack/guide.h"
#include "support.h"
#include "workspace/form1.h"

using namespace qv;
using qvtest::TestSession;

namespace {

constexpr int kW = 256, kH = 192;

// A sky of `sky` plus Gaussian stars (x, y, peak) in the red plane; green
// and blue carry a third of it each so that the intensity is their sum.
struct StarSpec {
  double x, y, peak;
};
void Sky(Session& s, const std::vector<StarSpec>& stars, double sky = 600, unsigned seed = 0) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(0, seed ? 20 : 0);
  std::vector<int32_t> sum;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      double v = sky + noise(rng);
      for (const StarSpec& st : stars)
        v += st.peak * std::exp(-((x - st.x) * (x - st.x) + (y - st.y) * (y - st.y)) / (2 * 1.5 * 1.5));
      sum.push_back(static_cast<int32_t>(v));
    }
  qvtest::SetPicture(s, kW, kH, [&](int c, int x, int y) {
    const int32_t v = sum[static_cast<size_t>(y) * kW + x];
    return v / 3 + (c == 0 ? v % 3 : 0);
  });
}

}  // namespace

TEST(Correlate, FirstMaximumInScanOrderWinsAndNegativesKeepOrigin) {
  const int box = 8;
  Plane<int32_t> t(box, box), a(2 * box, 2 * box);
  t(0, 0) = 1;  // C(dx, dy) is then a(dx, dy)
  for (const auto& [x, y] : {std::pair{5, 1}, {3, 1}, {1, 3}}) a(x, y) = 9;
  Correlation c;
  ASSERT_TRUE(Correlate(t, a, box, c, {}));
  EXPECT_EQ(std::tuple(c.bestDx, c.bestDy, c.best), std::tuple(3, 1, 9.0));

  t(0, 0) = -1;  // every C is 0 or negative: nothing beats the start value 0
  ASSERT_TRUE(Correlate(t, a, box, c, {}));
  EXPECT_EQ(std::tuple(c.bestDx, c.bestDy, c.best), std::tuple(0, 0, 0.0));
}

// The box of the window's choice: "Aucun" hides the markers and searches
// nothing; a box of another size makes the old template useless until a
// new reference is taken; a stop finds nothing and moves nothing.
TEST(GuideSearch, BoxChangesAndAStopKeepThePosition) {
  TestSession ts;
  GuideStar& g = ts->guide;
  Sky(*ts, {{140, 90, 20000}});
  g.GuideBox = 0;  // replaced by 32 on the first search
  FindGuide(*ts, 140, 90, true);
  EXPECT_EQ(g.GuideBox, 32);
  ASSERT_FLOAT_EQ(g.Quality, 1.0f);
  EXPECT_TRUE(ts.form1.Shape2.Visible);

  SelectOption1(ts.form1, 2);
  g.Quality = 0.42f;
  g.GuideX = 7;
  FindGuide(*ts, 140, 90, true);
  EXPECT_FLOAT_EQ(g.Quality, 0.42f);
  EXPECT_EQ(g.GuideX, 7);
  EXPECT_FALSE(ts.form1.Shape2.Visible || ts.form1.Shape3.Visible);

  SelectOption1(ts.form1, 1);
  FindGuide(*ts, 140, 90, false);
  EXPECT_FLOAT_EQ(g.Quality, 0.0f);
  EXPECT_EQ(g.GuideX, 7);
  FindGuide(*ts, 140, 90, true);
  EXPECT_FLOAT_EQ(g.Quality, 1.0f);
  FindGuide(*ts, 138, 92, false);
  EXPECT_EQ(std::pair(g.GuideX, g.GuideY), std::pair(140.0, 90.0));
  SelectOption1(ts.form1, 0);  // between two real sizes just the same
  EXPECT_EQ(GuideSearch(*ts, 140, 90, 0), 0);

  ASSERT_EQ(GuideSearch(*ts, 140, 90, 1), 1);
  const double refPeak = g.RefPeak;
  Sky(*ts, {{143, 91, 20000}});
  ts->RunState = 2;
  EXPECT_EQ(GuideSearch(*ts, 140, 90, 0), 0);
  EXPECT_EQ(std::pair(g.GuideX, g.GuideY), std::pair(140.0, 90.0));
  EXPECT_EQ(GuideSearch(*ts, 143, 91, 1), 0);
  EXPECT_EQ(g.RefPeak, refPeak);
}

// A guide-star change on the same field: the anchor moves by the offset
// from the old star to the new one, and the rotation centre stays on the
// old star.
TEST(TrackGuide, GuideStarChangeMovesTheAnchor) {
  TestSession ts;
  Sky(*ts, {{140, 90, 20000}, {60, 50, 15000}}, 600, 5);
  ts->guide.GuideBox = 32;
  ts->ResizeImageArrays(2);
  const double u1 = kW - 1, u2 = kH - 1;
  ts->Img[1].ImgChecked = ts->Img[2].ImgChecked = 1;
  ts->Img[1].ImgRegFlags = 3;
  ts->Img[1].ImgGuideX = 140 / u1;
  ts->Img[1].ImgGuideY = 90 / u2;
  TrackGuide(*ts, 1);
  EXPECT_EQ(std::pair(ts->guide.AnchorX, ts->guide.AnchorY), std::pair(140.0, 90.0));
  EXPECT_NEAR(ts->Img[1].ImgRefX * u1, 140, 1e-9);

  ts->Img[2].ImgRegFlags = 1;
  ts->Img[2].ImgRefX = 60 / u1;
  ts->Img[2].ImgRefY = 50 / u2;
  TrackGuide(*ts, 2);
  EXPECT_NEAR(ts->Img[2].ImgGuideX * u1, 140, 1e-9);  // inherited position
  // The guide star and the anchor on the new star, the rotation centre on the old.
  const GuideStar& g = ts->guide;
  EXPECT_EQ((std::vector<double>{g.GuideX, g.GuideY, g.RotCentreX, g.RotCentreY, g.AnchorX, g.AnchorY}),
            (std::vector<double>{60, 50, 140, 90, 60, 50}));
  EXPECT_FLOAT_EQ(ts->guide.Quality, 1.0f);
  EXPECT_TRUE(ts.form1.Shape3.Visible);
}
