// The main-window model as the session's view, and the run request it makes.
#include <gtest/gtest.h>

#include "support.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TestSession;

namespace {

struct Recorder : View {
  std::vector<std::string> seen;
  void ShowCaption(const std::string& t) override { seen.push_back(std::string("caption ").append(t)); }
  void ShowDebugLine(const std::string& l) override { seen.push_back(std::string("debug ").append(l)); }
  void MsgBox(const std::string& t) override { seen.push_back(std::string("msg ").append(t)); }
};

TEST(MainWindowView, ControlsFollowAndTheWindowIsToldAfter) {
  TestSession ts;
  Recorder window;
  ts.form1.outer = &window;
  ts->view->ShowCaption("W=5  H=4");
  ts->view->ShowDebugLine("hidden");  // the debug menu is not checked
  ts.form1.mnuDebug = true;
  ts->view->ShowDebugLine("shown");
  ts->view->MsgBox("Mémoire insuffisante");
  EXPECT_EQ(ts.form1.Caption, "W=5  H=4");
  EXPECT_EQ(ts.form1.DebugLog, std::vector<std::string>{"shown"});
  EXPECT_EQ(window.seen,
            (std::vector<std::string>{"caption W=5  H=4", "debug hidden", "debug shown", "msg Mémoire insuffisante"}));
}

TEST(MainWindowView, TheSessionForgetsAModelThatIsGone) {
  HeadlessPlatform services;
  Session s(services.Get());
  EXPECT_EQ(s.view, &View::Headless());
  {
    Form1 f(s);
    EXPECT_EQ(s.view, &f);
  }
  EXPECT_EQ(s.view, &View::Headless());
  s.view->ShowCaption("nobody");  // must not reach the model that is gone
}

TEST(RunRequest, TheWindowAsksWithItsSubsetBoxesOnlyWhileShown) {
  TestSession ts;
  ts->ResizeImageArrays(6);
  ts->locale = NumLocale::Comma();
  ts.form1.Text7 = std::string{"2,6"};
  ts.form1.Text8 = std::string{"4"};
  ts.form1.Check6 = 1;
  RunRequest r = RequestFromWindow(ts.form1);
  EXPECT_EQ(r.first, 0);
  EXPECT_EQ(r.last, 0);
  EXPECT_TRUE(r.expand);
  ts.form1.Text7Visible = true;
  r = RequestFromWindow(ts.form1);
  EXPECT_EQ(r.first, 3);  // read with the user's conventions, rounded
  EXPECT_EQ(r.last, 4);
  int first = 0, last = 0;
  RunRange(*ts, RunRequest{9, 2, false}, first, last);
  EXPECT_EQ(first, 6);
  EXPECT_EQ(last, 6);
}

}  // namespace
