// Settings: defaults, load conversions and checks, the start-up sequence,
// the values written at quit, and the QSettings store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/settings_store.h"
#include "support.h"
#include "workspace/settings.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

MemorySettingsStore StoreOf(const std::vector<std::pair<std::string, std::string>>& values) {
  MemorySettingsStore m;
  for (const auto& [k, v] : values) m.Set(kSettingsSection, k, v);
  return m;
}

}  // namespace

TEST(Settings, AFreshStoreGivesTheDefaults) {
  TestSession s;
  MemorySettingsStore store;
  // Left by an earlier load: the defaults must replace them.
  s->opt.MinQual = 0.1f;
  s->opt.MaskThr = 7;
  s->opt.ColorText = {"a", "b", "c"};
  LoadSettings(s.form1, store, "/opt/quelvista");
  LoadHsens(s.form1, store);
  const Options& o = s->opt;
  EXPECT_FLOAT_EQ(o.MinQual, 0.75f);
  EXPECT_EQ(s.form1.Text3, "75.0");
  EXPECT_EQ(o.OutDir, "/opt/quelvista");
  EXPECT_EQ(
      std::tie(o.GradRatio, o.UseMask, o.PicZoom, o.MaskThr, o.CalcThr, o.EdgeSize, o.MaskSize, o.CalcSize,
               o.MedianLimit, o.Hsens),
      std::make_tuple(int16_t{5}, 0, int16_t{2}, 1000, 100, int16_t{5}, int16_t{3}, int16_t{2}, 1500, int16_t{10}));
  EXPECT_FLOAT_EQ(o.PixRatio, 1.28f);
  EXPECT_FLOAT_EQ(o.FovR, 0.5f);
  EXPECT_FLOAT_EQ(o.FovF, 0.01f);
  EXPECT_EQ(o.ColorText, (std::array<std::string, 3>{"_HA", "_SII", "_OIII"}));
  EXPECT_EQ(s.form1.Check6, 1);
  EXPECT_EQ(s.form1.HScroll1, 10);
  EXPECT_TRUE(store.writes.empty());
}

TEST(Settings, LoadConvertsChecksAndKeepsWhatDoesNotConvert) {
  TestSession s;
  s->opt.MaskSize = 2;
  s->opt.MedianLimit = 4000;
  s->opt.FovX = 0.25f;
  s->opt.EdgeSize = 9;
  s.form1.HScroll1 = 4;
  MemorySettingsStore store = StoreOf({
      {"MaskThr", "20"},
      {"CalcThr", "20000"},
      {"UseMask", "  49159 trailing words"},  // leading-number parse
      {"PixRatio", " 1.5xyz"},
      {"CalcSize", "3.5"},  // halves to even, no range check
      {"Expand", "0"},
      {"ColorText3", "  _OIII b "},
      {"MinQual", "1.5"},       // shown as 150.0, kept: only an edit of the box clamps
      {"MaskSize", "99999"},    // does not fit 16 bits
      {"MedianLimit", "1e40"},  // does not fit 32 bits
      {"FovX", "1e39"},         // does not fit a single
      {"GradRatio", "sept"},
      {"Hsens", "25"},  // converts, but the slider refuses it
  });
  store.unreadable.insert("EdgeSize");
  LoadSettings(s.form1, store, "");
  LoadHsens(s.form1, store);
  EXPECT_EQ(s->opt.MaskThr, 50);
  EXPECT_EQ(s->opt.CalcThr, 10000);
  EXPECT_EQ(s->opt.UseMask, 49159);
  EXPECT_FLOAT_EQ(s->opt.PixRatio, 1.5f);
  EXPECT_EQ(s->opt.CalcSize, 4);
  EXPECT_EQ(s.form1.Check6, 0);
  EXPECT_EQ(s->opt.ColorText[2], "  _OIII b ");
  EXPECT_EQ(s.form1.Text3, "150.0");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 1.5f);
  EXPECT_FALSE(s.form1.Busy);
  EXPECT_EQ(s->opt.MaskSize, 2);
  EXPECT_EQ(s->opt.MedianLimit, 4000);
  EXPECT_FLOAT_EQ(s->opt.FovX, 0.25f);
  EXPECT_EQ(s->opt.GradRatio, 5);
  EXPECT_EQ(s->opt.EdgeSize, 9);
  EXPECT_EQ(s->opt.Hsens, 25);
  EXPECT_EQ(s.form1.HScroll1, 4);
}

TEST(Settings, CommaLocale) {
  // Defaults: the text default ".75" does not convert, and the numeric 1.28
  // becomes "1,28", of which the leading-number parse keeps 1.
  TestSession s;
  s->locale = NumLocale::Comma();
  s->opt.MinQual = 0.6f;
  MemorySettingsStore fresh;
  LoadSettings(s.form1, fresh, "");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.6f);
  EXPECT_EQ(s.form1.Text3, "60,0");
  EXPECT_FLOAT_EQ(s->opt.PixRatio, 1.0f);
  EXPECT_FLOAT_EQ(s->opt.FovF, 0.01f);

  // What the main window writes at quit reads back the same through a file.
  TempDir dir;
  s->opt.MinQual = 0.825f;
  s->opt.Hsens = 3;
  s->opt.ColorText = {"_HA, bis", "@x", "C:\\images\\new"};
  s->opt.ColorChk = {7, 2, 0};
  s.form1.Project = " /data/a b.txt";
  {
    QtSettingsStore store(dir.File("qv.ini"));
    SaveSettingsAtQuit(s.form1, store);
  }
  TestSession b;
  b->locale = NumLocale::Comma();
  QtSettingsStore store(dir.File("qv.ini"));
  LoadSettings(b.form1, store, "");
  LoadHsens(b.form1, store);
  LoadProjectSetting(b.form1, store);
  EXPECT_EQ(store.Read(kSettingsSection, "MinQual", ""), "0,825");
  EXPECT_FLOAT_EQ(b->opt.MinQual, 0.825f);
  EXPECT_EQ(b.form1.Text3, "82,5");
  EXPECT_EQ(b->opt.Hsens, 3);
  EXPECT_EQ(b->opt.ColorText, s->opt.ColorText);
  EXPECT_EQ(b->opt.ColorChk, s->opt.ColorChk);
  EXPECT_EQ(b.form1.Project, " /data/a b.txt");
}

TEST(Settings, QuitWritesTheMainWindowValuesInOrder) {
  TestSession s;
  s->opt.Hsens = 13;
  s.form1.Project = "/data/m31.txt";
  s->opt.ColorChk = {1, 0, 4};
  MemorySettingsStore store;
  SaveSettingsAtQuit(s.form1, store);
  const std::vector<std::pair<std::string, std::string>> expected{
      {"MinQual", "0.75"},     {"Hsens", "13"},       {"Project", "/data/m31.txt"}, {"Expand", "0"},
      {"ColorText1", "_HA"},   {"ColorFilter1", "1"}, {"ColorText2", "_SII"},       {"ColorFilter2", "0"},
      {"ColorText3", "_OIII"}, {"ColorFilter3", "4"}};
  EXPECT_EQ(store.writes, expected);
}

TEST(Settings, IniFilesAreReadAsPlainText) {
  TempDir dir;
  const std::string ini = dir.File("hand.ini");
  std::ofstream(ini) << "[Settings]\nMinQual=0,75\nFovX=\" .5\"\nBroken=@Invalid()\n[Other]\nMinQual=9\n";
  QtSettingsStore store(ini, true);
  EXPECT_EQ(store.Read(kSettingsSection, "MinQual", "d"), "0,75");  // not a list of two values
  EXPECT_EQ(store.Read(kSettingsSection, "FovX", "d"), " .5");
  EXPECT_EQ(store.Read(kSettingsSection, "Missing", "d"), "d");
  EXPECT_EQ(store.Read(kSettingsSection, "Broken", "d"), std::nullopt);
  const std::string before = qvtest::ReadText(ini);
  EXPECT_FALSE(store.Write(kSettingsSection, "MinQual", "1"));
  EXPECT_EQ(qvtest::ReadText(ini), before);

  // A file far too large for settings is neither parsed nor accepted.
  const std::string big = dir.File("big.ini");
  std::ofstream(big) << "[Settings]\nMaskThr=5000\n" << std::string(QtSettingsStore::kMaxFileBytes, ';');
  QtSettingsStore huge(big);
  EXPECT_EQ(huge.Read(kSettingsSection, "MaskThr", "1000"), "1000");
  EXPECT_FALSE(huge.Write(kSettingsSection, "MaskThr", "1"));
  std::string why;
  EXPECT_EQ(OpenSettingsStore(big, true, why), nullptr);
  EXPECT_EQ(OpenSettingsStore(dir.File("none.ini"), true, why), nullptr);
  EXPECT_EQ(OpenSettingsStore(dir.path().string(), true, why), nullptr);
}

TEST(Settings, StartUpSequence) {
  TestSession s;
  MemorySettingsStore store =
      StoreOf({{"MaskFile", "/nowhere/mask.fts"}, {"UseMask", "2"}, {"PicZoom", "4"}, {"Project", "/data/last.txt"}});
  s->ResizeImageArrays(3);
  s->guide.GuideX = 5;
  s->cal.FlatPic.Redim(9, 9);
  s.form1.Caption = "Quelvista - M31";
  int zoomItem = -1;
  std::string opened;
  StartUpHooks hooks;
  hooks.zoomClick = [&](int item) { zoomItem = s.form1.Busy ? -2 : item; };
  hooks.openArgument = [&](const std::string& a) { opened = a; };
  Form1_Load(s.form1, store, "", "", hooks);
  EXPECT_EQ(s->ImageCount(), 0);
  EXPECT_EQ(s->guide.GuideX, 100.0);
  EXPECT_EQ(s->cal.FlatPic.Width(), 1);  // the masters were rebuilt
  EXPECT_EQ(s->cal.HotMask.Width(), 1);  // its file is missing
  EXPECT_EQ(zoomItem, 2);
  EXPECT_EQ(opened, "");
  EXPECT_EQ(s.form1.Project, "/data/last.txt");
  EXPECT_FALSE(s.form1.Busy);
  EXPECT_EQ(s.form1.Caption, "Quelvista - M31");
  // "Auto" checked, "Minimum" 0 and "Maximum" 65535.
  EXPECT_EQ(s.form1.Check3, 1);
  EXPECT_EQ(s.form1.Text1, "0");
  EXPECT_EQ(s.form1.Text2, "65535");

  // With an argument, it is opened and the stored project is not read.
  TestSession t;
  Form1_Load(t.form1, store, "/data/m42.fts", "", hooks);
  EXPECT_EQ(opened, "/data/m42.fts");
  EXPECT_EQ(t.form1.Project, "");
}

TEST(SettingsCli, ReadsWithoutWriting) {
  TempDir dir;
  const std::string ini = dir.File("s.ini");
  std::ofstream(ini) << "[Settings]\nMaskThr=20\nDarkFile=/d/dark.fts\nPixRatio=\" 1.5\"\nHsens=7\n";
  const std::string before = qvtest::ReadText(ini);
  ASSERT_EQ(qvtest::Cli(dir, "settings --settings " + ini).status, 0);
  EXPECT_EQ(qvtest::ReadText(ini), before);
  ASSERT_EQ(qvtest::Cli(dir, "settings").status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("config")));
  EXPECT_EQ(qvtest::Cli(dir, "settings --settings " + dir.File("none.ini")).status, 1);
}

// The stored minimum quality is taken as it stands; the box only clamps an
// edit, and not while the window is busy or a run is going.
TEST(Settings, MinimumQualityLoadsUnclampedAndOnlyAnEditClamps) {
  for (const auto& [stored, value, shown] :
       {std::tuple{"-0.25", -0.25f, "-25.0"}, std::tuple{"1.5", 1.5f, "150.0"}, std::tuple{"0.5", 0.5f, "50.0"}}) {
    TestSession s;
    MemorySettingsStore store = StoreOf({{"MinQual", stored}});
    LoadSettings(s.form1, store, "");
    EXPECT_FLOAT_EQ(s->opt.MinQual, value) << stored;
    EXPECT_EQ(s.form1.Text3, shown) << stored;
  }
  {
    // Far beyond 100 %: shown in full, without overflowing on the way.
    TestSession big;
    MemorySettingsStore store = StoreOf({{"MinQual", "99999999999999999999"}});
    LoadSettings(big.form1, store, "");
    EXPECT_FLOAT_EQ(big->opt.MinQual, 1e20f);
    EXPECT_EQ(big.form1.Text3, "9999999778196310000000.0");  // the single times 100, to 15 digits
  }
  TestSession s;
  s.form1.Busy = true;
  SetText3(s.form1, "150");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.75f);
  s.form1.Busy = false;
  s->RunState = 1;
  SetText3(s.form1, "-20");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.75f);
  s->RunState = 0;
  SetText3(s.form1, "150");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 1.0f);
  SetText3(s.form1, "-20");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.0f);
  // An edit in the user's conventions; a text that is not a number is ignored.
  s->locale = NumLocale::Comma();
  SetText3(s.form1, "80,5");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.805f);
  SetText3(s.form1, "8x");
  EXPECT_FLOAT_EQ(s->opt.MinQual, 0.805f);
}
