// The main window's list, selection and "Niveau" handlers on the model:
// what a user sees after adding images, walking the list with the keys
// and moving the level controls while something runs; and where the
// destination window's scroll bars start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/form2.h"
#include "support.h"
#include "workspace/add_images.h"
#include "workspace/form1_events.h"
#include "workspace/image_list.h"

using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// Three small 16-bit images with a star, in a folder of the test's own.
std::vector<std::string> ThreeImages(const TempDir& dir) {
  std::vector<std::string> parts{dir.path().string()};
  for (const char* name : {"c.fts", "a.fts", "b.fts"}) {
    std::vector<int> values(40 * 30, 800);
    values[12 * 40 + 20] = 30000;
    qvtest::WriteFits16(dir.File(name), 40, 30, 1, values);
    parts.push_back(name);
  }
  return parts;
}

class WindowRules : public ::testing::Test {
 protected:
  TestSession t;
  qv::Session& s = *t;
  qv::Form1& f = t.form1;
};

}  // namespace

// Adding images ends with the new image shown in the middle of the panned
// view, wherever the pan bars were left by the previous image; Up on the
// first image and Down on the last then leave the selection alone.
TEST_F(WindowRules, AddingImagesCentresThePanBarsAndTheKeysStayInTheList) {
  TempDir dir;
  f.HScroll2Value = 10;
  f.VScroll2Value = 90;
  qv::mnuLoad_Click(f, ThreeImages(dir));
  ASSERT_EQ(std::tuple(s.ImageCount(), s.Img[1].ImgFile, s.CurPic, f.Frame2Visible),
            std::tuple(3, dir.File("a.fts"), int16_t{1}, true));
  EXPECT_EQ(std::pair(f.HScroll2Value, f.VScroll2Value), (std::pair<int16_t, int16_t>(50, 50)));

  for (const auto& [from, key] : {std::pair(1, qv::kKeyUp), std::pair(3, qv::kKeyDown)}) {
    qv::SelectPic(f, from, false, false);
    const std::string caption = f.Caption;
    qv::Form_KeyDown(f, key, 0, false);
    EXPECT_EQ(std::tuple(s.CurPic, f.VScroll1Value, f.Caption), std::tuple(int16_t(from), int16_t(from), caption));
  }
}

// The "Niveau" slider and "Auto" wait, like the window's other controls,
// until the window is neither busy nor running. The setting follows the
// slider as the histogram is drawn: without an image it stays what it was
// (it is what the quit saves).
TEST_F(WindowRules, LevelControlsActOnlyWhenIdleAndTheSettingWhenAnImageIsShown) {
  int drawn = 0;
  qvtest::ViewSpy window;
  window.onShowHisto = [&] { ++drawn; };
  f.outer = &window;
  s.opt.Hsens = 10;
  f.HScroll1 = 4;
  qv::HScroll1_Change(f);
  EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(10, 1)));

  s.pic.HistoMax = 1;  // an image is shown
  f.HScroll1 = 3;
  f.Check3 = 0;
  for (auto [busy, state] : {std::pair(false, qv::kRunning), std::pair(true, qv::kIdle)}) {
    f.Busy = busy;
    s.RunState = state;
    qv::HScroll1_Change(f);
    qv::Check3_Click(f);
    EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(10, 1)));
  }
  f.Busy = false;
  qv::HScroll1_Change(f);
  qv::Check3_Click(f);
  EXPECT_EQ(std::pair(s.opt.Hsens, drawn), (std::pair<int16_t, int>(3, 3)));
}

// A new result puts each bar shown in the middle of its range, a half going
// to the even value as every conversion to a whole number does (0 .. 7
// gives 4, 0 .. 5 gives 2).
TEST(DestinationWindow, ANewResultCentresTheScrollBars) {
  qv::Form2 d;
  qv::Plane<int32_t> picture(106, 104);  // 107 x 105
  d.ShowPixels(picture, 0, false);
  d.form_scroll(105, 105, 5, false, 1);  // 100 x 100 visible
  ASSERT_EQ(std::tuple(d.Scroll.hVisible, d.Scroll.vVisible, d.Scroll.hMax, d.Scroll.vMax),
            std::tuple(true, true, 7, 5));
  d.CentreScrollBars();
  EXPECT_EQ(std::pair(d.HScroll1, d.VScroll1), std::pair(4, 2));
}
