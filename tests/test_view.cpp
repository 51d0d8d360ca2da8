// The main-window model as the session's listeners.
#include <gtest/gtest.h>

#include "support.h"
#include "workspace/form1_events.h"
#include "workspace/image_list.h"

using namespace qv;
using qvtest::TestSession;

namespace {

// What the window is told, and asked to draw again.
struct Recorder : Form1Window {
  std::vector<std::string> seen;
  void ShowCaption(const std::string& t) override { seen.push_back(std::string("caption ").append(t)); }
  void ShowDebugLine(const std::string& l) override { seen.push_back(std::string("debug ").append(l)); }
  void MsgBox(const std::string& t) override { seen.push_back(std::string("msg ").append(t)); }
  void Preview(int i) override { seen.push_back("preview " + std::to_string(i)); }
  void ShowZones() override { seen.push_back("zones"); }
};

// The controls follow the messages and the window is told after; a new run
// putting the result away and a zone point drawn at once are the window's
// checks, here the zone mode and the preview.
TEST(MainWindowView, ControlsFollowAndRedrawsGoThroughTheView) {
  TestSession ts;
  Recorder window;
  ts.form1.outer = &window;
  ts->messages->ShowCaption("W=5  H=4");
  ts->messages->ShowDebugLine("hidden");  // the debug menu is not checked
  ts.form1.mnuDebug = true;
  ts->messages->ShowDebugLine("shown");
  ts->messages->MsgBox("Mémoire insuffisante");
  EXPECT_EQ(ts.form1.Caption, "W=5  H=4");
  EXPECT_EQ(ts.form1.DebugLog, std::vector<std::string>{"shown"});
  EXPECT_EQ(window.seen,
            (std::vector<std::string>{"caption W=5  H=4", "debug hidden", "debug shown", "msg Mémoire insuffisante"}));

  window.seen.clear();
  Session& s = *ts;
  qvtest::SetPicture(s, 9, 5, [](int, int x, int) { return 100 * x; });
  qvtest::OneImage(s, "a.fts");
  SelectOption2(ts.form1, 4);
  EXPECT_EQ(window.seen, (std::vector<std::string>{"zones"}));
  // An image selected for display is previewed before it is processed.
  window.seen.clear();
  ts.form1.Check9.resize(2);
  SelectPic(ts.form1, 1, false, false);
  ASSERT_FALSE(window.seen.empty());
  EXPECT_EQ(window.seen.front(), "preview 1");
}

TEST(MainWindowView, TheSessionForgetsAModelThatIsGone) {
  HeadlessPlatform services;
  Session s(services.Get());
  std::make_unique<Form1>(s).reset();  // a model made, then gone
  EXPECT_TRUE(s.messages == &Messages::None() && s.guideDisplay == &GuideDisplay::None() &&
              s.window == &MainWindowView::None());
}

}  // namespace
