// The Options dialog model: loading the controls, visibility, OK's clamps
// and write rules, "Annuler", and the Options menu command.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/options.h"
#include "platform/settings_store.h"
#include "support.h"
#include "workspace/form5.h"
#include "workspace/settings.h"

using namespace qv;
using qvtest::TestSession;

namespace {

std::vector<std::string> WrittenKeys(const MemorySettingsStore& store) {
  std::vector<std::string> keys;
  for (const auto& w : store.writes) keys.push_back(w.first);
  return keys;
}

bool Wrote(const MemorySettingsStore& store, const std::string& key) {
  const auto keys = WrittenKeys(store);
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::string Stored(const MemorySettingsStore& store, const std::string& key) {
  return store.Get(kSettingsSection, key);
}

}  // namespace

TEST(Form5, LoadMirrorsTheOptions) {
  TestSession s;
  MemorySettingsStore store;
  store.Set(kSettingsSection, "InitDir", "/stored/start");
  s->opt.InitDir = "/memory/start";
  s->opt.UseMask = HotCalc | EdgeCut | PixAspect | 0x1000 | GradRemove | FlatApply;
  s->opt.GradRatio = 8;
  s->opt.ColorChk = {5, 0, 2};
  Form5 f(*s, store);
  f.Form_Load();
  EXPECT_EQ(f.Caption, std::string("Options - V ") + QUELVISTA_VERSION);
  EXPECT_EQ(std::vector<int>({f.Check1, f.Check2, f.Check4, f.Check5, f.Check11, f.Check12, f.Check13}),
            std::vector<int>({1, 0, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(f.Frame4.Visible && f.Frame5.Visible && f.HScroll1Visible && f.Text4Visible);
  EXPECT_FALSE(f.Frame8.Visible || f.Frame6.Visible);
  EXPECT_EQ(f.MedianChoice, 2);
  EXPECT_TRUE(f.Option2[2] && f.Option1[1]);
  EXPECT_EQ(f.Text1, "/stored/start");
  EXPECT_EQ(f.Text4, "1.28");
  EXPECT_EQ(f.Text9[3], "0.01");
  EXPECT_EQ(f.HScroll1, 8);
  EXPECT_EQ(f.Check14[1] * 100 + f.Check15[1] * 10 + f.Check16[1], 101);
  EXPECT_EQ(f.Check15[3], 1);

  f.Check1 = 0;
  f.Check1_Click();
  f.Option1_Click(0);
  EXPECT_FALSE(f.Frame4.Visible);
  EXPECT_FALSE(f.Text4Visible);
  EXPECT_EQ(f.Option1, (std::array<bool, 2>{true, false}));
}

TEST(Form5, OkClampsAndWritesInOrder) {
  TestSession s;
  MemorySettingsStore store;
  s->opt.UseMask = 0x1FFFF;
  s->opt.GradRatio = 99;  // outside the slider's range: the slider keeps 0
  Form5 f(*s, store);
  f.Form_Load();
  f.Text5 = "20";  // thresholds are stored as typed
  f.Text10 = "123456";
  f.Text7 = "7";
  f.Text8 = "0";
  f.Text14 = "50";
  f.Text1 = "  /start  ";
  f.Command1_Click();
  EXPECT_EQ(s->opt.UseMask, 0x1FFFF & ~0x100);  // no control for 0x100
  EXPECT_EQ(std::vector<int>({s->opt.CalcThr, s->opt.MaskThr, s->opt.CalcSize, s->opt.MaskSize, s->opt.MedianLimit,
                              s->opt.GradRatio}),
            std::vector<int>({20, 123456, 3, 1, 100, 0}));
  EXPECT_EQ(Stored(store, "InitDir"), "/start");
  EXPECT_EQ(s->opt.InitDir, "");  // the folder in use is not the dialog's
  EXPECT_TRUE(s->OptionsApplied);
  EXPECT_FALSE(f.Visible);
  const std::vector<std::string> expected{"UseMask",  "InitDir",  "OutDir",    "CalcThr",     "CalcSize",
                                          "MaskThr",  "MaskSize", "GradRatio", "MedianLimit", "PixRatio",
                                          "EdgeSize", "FovX",     "FovY",      "FovR",        "FovF"};
  EXPECT_EQ(WrittenKeys(store), expected);

  // A field that does not convert keeps its option, whose value is written again.
  store.writes.clear();
  f.Text5 = "beaucoup";
  f.Text14 = "70000";
  f.Command1_Click();
  EXPECT_EQ(s->opt.CalcThr, 20);
  EXPECT_TRUE(Wrote(store, "CalcThr"));
  EXPECT_EQ(s->opt.MedianLimit, 65535);
}

TEST(Form5, RatioEdgeAndFieldOnlyWithTheirOptions) {
  TestSession s;
  MemorySettingsStore store;
  Form5 f(*s, store);
  f.Form_Load();
  f.Text4 = "3";
  f.Text6 = "  12.5 px";  // leading-number parse, halves to even
  f.Text9 = {"3", "-1", "3", "0.25"};
  f.Command1_Click();
  EXPECT_FLOAT_EQ(s->opt.PixRatio, 1.28f);
  EXPECT_EQ(s->opt.EdgeSize, 5);
  EXPECT_FLOAT_EQ(s->opt.FovX, 0.5f);
  for (const char* key : {"PixRatio", "EdgeSize", "FovX"}) EXPECT_FALSE(Wrote(store, key)) << key;

  f.Option1_Click(1);
  f.Check4 = 1;
  f.Check5 = 1;
  f.Command1_Click();
  EXPECT_FLOAT_EQ(s->opt.PixRatio, 2.0f);
  EXPECT_EQ(Stored(store, "PixRatio"), " 2");
  EXPECT_EQ(s->opt.EdgeSize, 12);
  EXPECT_EQ(std::vector<float>({s->opt.FovX, s->opt.FovY, s->opt.FovR, s->opt.FovF}),
            std::vector<float>({1, 0, 2, 0.25f}));
  EXPECT_EQ(Stored(store, "FovF"), " .25");
}

TEST(Form5, FieldIsWrittenWithAPointWhateverTheLocale) {
  // Written with Str, read with the user's conversion: under decimal-comma
  // conventions the next start does not convert it and keeps what it had.
  TestSession s;
  s->locale = NumLocale::Comma();
  MemorySettingsStore store;
  Form5 f(*s, store);
  f.Form_Load();
  f.Check5 = 1;
  f.Text9[0] = "0,3";
  f.Command1_Click();
  EXPECT_FLOAT_EQ(s->opt.FovX, 0.3f);
  EXPECT_EQ(Stored(store, "FovX"), " .3");
  TestSession next;
  next->locale = NumLocale::Comma();
  next->opt.FovX = 0.1f;
  LoadSettings(next.form1, store, "");
  EXPECT_FLOAT_EQ(next->opt.FovX, 0.1f);
}

TEST(Form5, MasterFilesAreRewrittenOnlyWhenTheyNameAnotherFile) {
  TestSession s;
  MemorySettingsStore store;
  s->opt.MaskFile = "/data/Mask.fts";
  s->opt.FlatFile = "/data/flat.fts";
  s->opt.DarkFile = "/data/dark.fts";
  Form5 f(*s, store);
  f.Form_Load();
  f.Text3 = "  /DATA/mask.FTS ";
  f.Text11 = " /data/flat2.fts";
  f.Text12 = "";
  f.Text13[1] = "_R";
  f.Check16[1] = 1;
  f.Command1_Click();
  EXPECT_EQ(s->opt.MaskFile, "/data/Mask.fts");
  EXPECT_EQ(s->opt.FlatFile, " /data/flat2.fts");  // taken as typed
  EXPECT_EQ(s->opt.DarkFile, "");
  const auto keys = WrittenKeys(store);
  EXPECT_EQ(std::vector<std::string>(keys.end() - 2, keys.end()), (std::vector<std::string>{"FlatFile", "DarkFile"}));
  EXPECT_FALSE(Wrote(store, "MaskFile"));
  // The colour table changes in memory only.
  EXPECT_EQ(s->opt.ColorText[0], "_R");
  EXPECT_EQ(s->opt.ColorChk[0], 4);
  EXPECT_FALSE(Wrote(store, "ColorText1"));
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
  EXPECT_FALSE(s->OptionsApplied);
  EXPECT_EQ(s->opt.UseMask, 0);
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(s->cal.FlatPic.Width(), 5);
  EXPECT_TRUE(shown.empty());

  OptionsCommand(s.form1, store, [](Form5& f) { f.Command1_Click(); });
  EXPECT_TRUE(s->OptionsApplied);
  EXPECT_EQ(s->cal.FlatPic.Width(), 1);  // rebuilt: no flat option, so empty
  EXPECT_EQ(shown, std::vector<int>{1});

  bool called = false;
  s->RunState = 1;
  OptionsCommand(s.form1, store, [&](Form5&) { called = true; });
  EXPECT_FALSE(called);
}
