// The Options dialog model: loading the controls, visibility, and the
// Options menu command (OK's rules for each option are tested with the
// settings).
#include <gtest/gtest.h>

#include <algorithm>

#include "core/options.h"
#include "platform/settings_store.h"
#include "support.h"
#include "workspace/form5.h"
#include "workspace/settings.h"

using namespace qv;
using qvtest::TestSession;

TEST(Form5, LoadMirrorsTheOptions) {
  TestSession s;
  MemorySettingsStore store;
  store.Set(kSettingsSection, "InitDir", "/stored/start");
  s->opt.InitDir = "/memory/start";
  s->opt.UseMask = HotCalc | EdgeCut | PixAspect | 0x1000 | GradRemove | FlatApply;
  s->opt.GradRatio = 8;
  s->opt.ColorChk = {5, 0, 2};
  s->opt.RejectMode = 5;  // a rejection the buttons do not offer
  Form5 f(*s, store);
  f.Form_Load();
  EXPECT_EQ(std::vector<int>({f.Check1, f.Check2, f.Check4, f.Check5, f.Check11, f.Check12, f.Check13}),
            std::vector<int>({1, 0, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(f.Frame4.Visible && f.Frame5.Visible && f.HScroll1Visible && f.Text4Visible);
  EXPECT_FALSE(f.Frame8.Visible || f.Frame6.Visible);
  EXPECT_TRUE(f.Option2[2] && f.Option1[1]);
  EXPECT_EQ(std::tuple(f.MedianChoice, f.Text1, f.Text4, f.Text9[3], f.HScroll1),
            std::tuple(2, "/stored/start", "1.28", "0.01", 8));
  EXPECT_EQ(std::tuple(f.Check14[1], f.Check15[1], f.Check16[1], f.Check15[3]), std::tuple(1, 0, 1, 1));
  EXPECT_TRUE(f.Option3[0] && !f.Text15Enabled && !f.Check17Enabled);  // shown as "Aucun", the kappas greyed
  f.Option1_Click(0);
  EXPECT_FALSE(f.Text4Visible);
}

TEST(Form5, OptionsCommandRebuildsTheMastersOnlyAfterOk) {
  TestSession s;
  MemorySettingsStore store;
  s->cal.FlatPic.Redim(4, 4);
  s->ResizeImageArrays(1);
  s.form1.Check9.resize(2);
  s->CurPic = 1;
  s.form1.Frame2Visible = true;  // an image is shown
  std::vector<int> shown;
  qvtest::ViewSpy window;
  window.onShowHisto = [&] { shown.push_back(s->CurPic); };
  s.form1.outer = &window;

  s->OptionsApplied = true;  // left over from an earlier dialog
  OptionsCommand(s.form1, store, [](Form5& f) {
    f.Check2 = 1;
    f.Command2_Click();
  });
  EXPECT_EQ(std::tuple(s->OptionsApplied, s->cal.FlatPic.Width(), shown.empty()), std::tuple(false, 5, true));

  OptionsCommand(s.form1, store, [](Form5& f) { f.Command1_Click(); });
  // Rebuilt: no flat option, so empty.
  EXPECT_EQ(std::tuple(s->OptionsApplied, s->cal.FlatPic.Width(), shown), std::tuple(true, 1, std::vector<int>{1}));

  bool called = false;
  s->RunState = 1;
  OptionsCommand(s.form1, store, [&](Form5&) { called = true; });
  EXPECT_FALSE(called);
}
