// The Options menu command on the dialog's model: what it shows, and what
// OK and "Annuler" rebuild (OK's rules for each option are tested with the
// settings).
#include <gtest/gtest.h>

#include "core/options.h"
#include "platform/settings_store.h"
#include "support.h"
#include "workspace/form5.h"
#include "workspace/settings.h"

using namespace qv;
using qvtest::TestSession;

TEST(Form5, OptionsCommandShowsTheStoredFolderAndRebuildsTheMastersOnlyAfterOk) {
  TestSession s;
  MemorySettingsStore store;
  store.Set(kSettingsSection, "InitDir", "/stored/start");
  s->opt.InitDir = "/memory/start";
  s->opt.UseMask = HotCalc | EdgeCut | PixAspect | GradRemove;
  s->opt.RejectMode = 5;  // a rejection the buttons do not offer
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
    // The frames of the options set show; the start folder is the stored
    // one; the rejection shows as "Aucun", the kappas greyed.
    EXPECT_TRUE(f.Frame4.Visible && f.Frame5.Visible && f.Text4Visible && f.HScroll1Visible && !f.Frame8.Visible &&
                !f.Frame6.Visible);
    EXPECT_TRUE(f.Text1 == "/stored/start" && f.Option3[0] && !f.Text15Enabled && !f.Check17Enabled);
    f.Check2 = 1;
    f.Command2_Click();
  });
  EXPECT_EQ(std::tuple(s->OptionsApplied, s->cal.FlatPic.Width(), shown.empty()), std::tuple(false, 5, true));

  OptionsCommand(s.form1, store, [](Form5& f) { f.Command1_Click(); });
  // Rebuilt: no flat option, so empty.
  EXPECT_EQ(std::tuple(s->OptionsApplied, s->cal.FlatPic.Width(), shown), std::tuple(true, 1, std::vector<int>{1}));

  // "Fusion 2 x 2" changed: the box shown may sit off the star until image
  // 1 is chosen again, which the status says.
  OptionsCommand(s.form1, store, [](Form5& f) {
    f.Check9 = 1;
    f.Command1_Click();
  });
  EXPECT_EQ(s.form1.StatusText.rfind("« Fusion 2 x 2 » cochée : les images changent d'échelle", 0), 0u);

  bool called = false;
  s->RunState = 1;
  OptionsCommand(s.form1, store, [&](Form5&) { called = true; });
  EXPECT_FALSE(called);
}
