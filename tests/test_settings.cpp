// Settings: the rules of each option (defaults, load conversions and
// checks, OK of the Options dialog, the writes and their order), and the
// QSettings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/settings_store.h"
#include "support.h"
#include "workspace/form5.h"
#include "workspace/project_file.h"
#include "workspace/settings.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// What the program holds, read field by field rather than through the
// option table, so that a row that reaches the wrong field shows.
std::map<std::string, std::string> Held(TestSession& s) {
  const Options& o = s->opt;
  std::map<std::string, std::string> held = {
      {"InitDir", o.InitDir},   {"OutDir", o.OutDir},           {"MaskFile", o.MaskFile}, {"DarkFile", o.DarkFile},
      {"FlatFile", o.FlatFile}, {"ColorText1", o.ColorText[0]}, {"Text3", s.form1.Text3}};
  // Whole numbers of the options, then of the window and the session.
  const std::pair<const char*, double> options[] = {
      {"Hsens", o.Hsens},           {"UseMask", o.UseMask},        {"MaskThr", o.MaskThr},
      {"CalcThr", o.CalcThr},       {"EdgeSize", o.EdgeSize},      {"MaskSize", o.MaskSize},
      {"CalcSize", o.CalcSize},     {"GradRatio", o.GradRatio},    {"Normalise", o.Normalise},
      {"RejectMode", o.RejectMode}, {"MedianLimit", o.MedianLimit}};
  const std::pair<const char*, double> window[] = {
      {"Expand", s.form1.Check6},      {"HScroll1", s.form1.HScroll1},         {"ColorFilter1", o.ColorChk[0]},
      {"ColorFilter2", o.ColorChk[1]}, {"NormaliseOutput", o.NormaliseOutput}, {"OptionsApplied", s->OptionsApplied}};
  const std::pair<const char*, float> singles[] = {
      {"FovX", o.FovX},       {"FovY", o.FovY},         {"FovR", o.FovR},           {"FovF", o.FovF},
      {"MaxFwhm", o.MaxFwhm}, {"PixRatio", o.PixRatio}, {"RejectLow", o.RejectLow}, {"RejectHigh", o.RejectHigh}};
  for (const auto& [key, v] : options) held[key] = LocaleFromDouble(v, NumLocale::Dot());
  for (const auto& [key, v] : window) held[key] = LocaleFromDouble(v, NumLocale::Dot());
  for (const auto& [key, v] : singles) held[key] = LocaleFromSingle(v, NumLocale::Dot());
  return held;
}

// The reads of the start-up, in a session that held nothing, so that a
// read that reaches no field, or another one, shows.
void StartUp(TestSession& s, SettingsStore& store) {
  s->opt = Options::Fresh();
  LoadSettings(s.form1, store, "/opt/qv");
  LoadHsens(s.form1, store);
  LoadProjectSetting(s.form1, store);
}

}  // namespace

// Every option read at start-up, taken by OK of the Options dialog and
// written back, by the rules of its row (the defaults of a fresh store are
// the golden "settings" output's): rows of one start-up from a store holding `stored` (a null text is
// unreadable), optionally followed by an edit in the dialog and OK (unless
// the edit pressed "Annuler"), after which `option` holds `held` and its
// key was written as `written` (null: not written); then the orders of
// OK's and the quit's writes.
TEST(Settings, EachOptionFollowsItsRules) {
  const struct {
    std::vector<std::pair<const char*, const char*>> stored;
    std::function<void(Form5&)> edit;
    const char *option, *held, *written;
    bool comma = false;  // the user writes 0,5
  } rows[] = {
      // Start-up.
      {{{"MaskThr", "20"}}, nullptr, "MaskThr", "50", nullptr},
      {{{"UseMask", "  49159 trailing words"}}, nullptr, "UseMask", "49159", nullptr},  // leading-number parse
      {{{"PixRatio", " 1.5xyz"}}, nullptr, "PixRatio", "1.5", nullptr},
      {{{"CalcSize", "3.5"}}, nullptr, "CalcSize", "4", nullptr},  // halves to even, no range check
      {{{"Expand", "-2"}}, nullptr, "Expand", "1", nullptr},
      {{{"ColorFilter2", "6"}}, nullptr, "ColorFilter2", "6", nullptr},
      {{{"MinQual", "1.5"}}, nullptr, "Text3", "150.0", nullptr},  // kept: only an edit of the box clamps
      // Far beyond 100 %: the single times 100 shown in full, to 15 digits.
      {{{"MinQual", "99999999999999999999"}}, nullptr, "Text3", "9999999778196310000000.0", nullptr},
      {{{"Hsens", "25 x"}}, nullptr, "Hsens", "25", nullptr},  // leading-number parse
      {{{"Hsens", "25"}}, nullptr, "HScroll1", "0", nullptr},  // the slider refuses it
      // A rejection mode the program does not know is none; kappas are
      // brought to 0.5..10 and read in the user's conventions.
      {{{"RejectMode", "3"}}, nullptr, "RejectMode", "0", nullptr},
      {{{"RejectMode", "1,4"}}, nullptr, "RejectMode", "1", nullptr, true},
      {{{"RejectLow", "0.1"}}, nullptr, "RejectLow", "0.5", nullptr},
      {{{"RejectHigh", "25"}}, nullptr, "RejectHigh", "10", nullptr},
      {{{"RejectLow", "2,5"}}, nullptr, "RejectLow", "2.5", nullptr, true},
      {{{"NormaliseOutput", "2"}}, nullptr, "NormaliseOutput", "1", nullptr},
      // The FWHM factor: 0 (off) for nothing above 0, else brought to 1..5.
      {{{"MaxFwhm", "0.5"}}, nullptr, "MaxFwhm", "1", nullptr},
      {{{"MaxFwhm", "-2"}}, nullptr, "MaxFwhm", "0", nullptr},
      // A value that does not convert, fit or read keeps what was held.
      {{{"MaskSize", "99999"}}, nullptr, "MaskSize", "0", nullptr},
      {{{"MedianLimit", "1e40"}}, nullptr, "MedianLimit", "0", nullptr},
      {{{"FovX", "1e39"}}, nullptr, "FovX", "0", nullptr},
      {{{"GradRatio", "sept"}}, nullptr, "GradRatio", "0", nullptr},
      {{{"EdgeSize", nullptr}}, nullptr, "EdgeSize", "0", nullptr},
      // With a decimal comma, ".75" and a field written with Str do not
      // convert, and "1,28" is read as 1 by the leading-number parse.
      {{}, nullptr, "Text3", "0,0", nullptr, true},
      {{}, nullptr, "PixRatio", "1", nullptr, true},
      {{{"FovX", " .3"}}, nullptr, "FovX", "0", nullptr, true},
      {{{"FovX", "0,3"}}, nullptr, "FovX", "0.3", nullptr, true},
      // OK of the Options dialog.
      {{}, [](Form5& f) { f.Text4 = "3"; }, "PixRatio", "1.28", nullptr},  // "X / Y = 1"
      {{{"UseMask", "16"}}, [](Form5& f) { f.Text4 = "3"; }, "PixRatio", "2", " 2"},
      {{}, [](Form5& f) { f.Option1_Click(1); }, "UseMask", "16", "16"},
      {{}, [](Form5& f) { f.Option2_Click(3); }, "UseMask", "6144", "6144"},
      {{}, [](Form5& f) { f.Text14 = "70000"; }, "MedianLimit", "65535", "65535"},
      {{}, [](Form5& f) { f.Text6 = "12"; }, "EdgeSize", "5", nullptr},  // no border cut
      {{{"UseMask", "8"}}, [](Form5& f) { f.Text6 = "  12.5 px"; }, "EdgeSize", "12", "12"},
      {{}, [](Form5& f) { f.Text9[0] = "0.25"; }, "FovX", "0.5", nullptr},  // no circular crop
      {{{"UseMask", "8192"}}, [](Form5& f) { f.Text9[0] = "0.5"; }, "FovX", "0.5", " .5"},
      {{{"UseMask", "8192"}}, [](Form5& f) { f.Text9[1] = "-1"; }, "FovY", "0", " 0"},
      {{{"UseMask", "8192"}}, [](Form5& f) { f.Text9[2] = "3"; }, "FovR", "2", " 2"},
      {{{"UseMask", "8192"}}, [](Form5& f) { f.Text9[3] = "0.25"; }, "FovF", "0.25", " .25"},
      {{}, [](Form5& f) { f.Text5 = "20"; }, "CalcThr", "20", "20"},          // thresholds as typed
      {{}, [](Form5& f) { f.Text5 = "beaucoup"; }, "CalcThr", "100", "100"},  // kept, written again
      {{}, [](Form5& f) { f.Text7 = "7"; }, "CalcSize", "3", "3"},
      {{}, [](Form5& f) { f.HScroll1 = 7; }, "GradRatio", "7", "7"},
      {{{"GradRatio", "99"}}, [](Form5&) {}, "GradRatio", "0", "0"},  // the slider could not show 99
      {{}, [](Form5& f) { f.Text2 = "/out"; }, "OutDir", "/out", "/out"},
      {{}, [](Form5& f) { f.Text1 = "  /start  "; }, "InitDir", "", "/start"},  // the store only
      {{{"MaskFile", "/d/Mask.fts"}}, [](Form5& f) { f.Text3 = " /D/mask.FTS "; }, "MaskFile", "/d/Mask.fts", nullptr},
      {{}, [](Form5& f) { f.Text11 = " /d/flat.fts"; }, "FlatFile", " /d/flat.fts", " /d/flat.fts"},
      {{{"DarkFile", "/d/dark.fts"}}, [](Form5& f) { f.Text12 = ""; }, "DarkFile", "", ""},
      {{}, [](Form5& f) { f.Text13[1] = "_R"; }, "ColorText1", "_R", nullptr},  // written at quit
      {{}, [](Form5& f) { f.Option3_Click(2); }, "RejectMode", "2", "2"},
      {{}, [](Form5& f) { f.Text15 = "0.2"; }, "RejectLow", "0.5", "0.5"},
      {{}, [](Form5& f) { f.Text16 = "4,5"; }, "RejectHigh", "4.5", "4,5", true},
      {{{"RejectLow", "2"}}, [](Form5& f) { f.Text15 = "deux"; }, "RejectLow", "2", "2"},  // kept, written again
      {{}, [](Form5& f) { f.Check17 = 1; }, "Normalise", "1", "1"},
      {{}, [](Form5& f) { f.Text17 = "1e300"; }, "MaxFwhm", "5", "5"},
      {{{"MaxFwhm", "2"}}, [](Form5& f) { f.Text17 = " "; }, "MaxFwhm", "0", "0"},      // emptied: off
      {{{"MaxFwhm", "2"}}, [](Form5& f) { f.Text17 = "large"; }, "MaxFwhm", "2", "2"},  // kept, written again
      {{}, [](Form5& f) { f.Option3_Click(1), f.Command2_Click(); }, "RejectMode", "0", nullptr},
      {{}, [](Form5&) {}, "MaxFwhm", "0", nullptr},  // at its default and not stored: not written
      {{}, [](Form5& f) { f.Check16[1] = 1; }, "ColorFilter1", "4", nullptr},
      {{}, [](Form5&) {}, "OptionsApplied", "1", nullptr},
      {{}, [](Form5& f) { f.Command2_Click(); }, "OptionsApplied", "0", nullptr},
      {{}, [](Form5& f) { f.Check2 = 1, f.Command2_Click(); }, "UseMask", "0", nullptr},
  };
  for (const auto& r : rows) {
    TestSession s;
    if (r.comma) s->locale = NumLocale::Comma();
    MemorySettingsStore store;
    for (const auto& [key, text] : r.stored) {
      store.Set(kSettingsSection, key, text ? text : "");
      if (!text) store.unreadable.insert(key);
    }
    StartUp(s, store);
    if (r.edit)
      OptionsCommand(s.form1, store, [&](Form5& f) {
        r.edit(f);
        if (f.Visible) f.Command1_Click();
      });
    const std::string row = std::string(r.option) + " -> " + r.held;
    EXPECT_EQ(Held(s).at(r.option), r.held) << row;
    const auto w =
        std::find_if(store.writes.begin(), store.writes.end(), [&](auto& kv) { return kv.first == r.option; });
    EXPECT_EQ(w == store.writes.end() ? "(not written)" : w->second, r.written ? r.written : "(not written)") << row;
    // Neither the start-up nor "Annuler" writes anything.
    EXPECT_TRUE(s->OptionsApplied || store.writes.empty()) << row;
  }

  // OK writes in its order, the master files last and only when changed;
  // the quit writes the main window's values, then the colour table by
  // filter.
  TestSession s;
  MemorySettingsStore store;
  const std::pair<const char*, const char*> stored[] = {
      {"UseMask", "131071"}, {"Hsens", "13"}, {"Project", "/data/m31.txt"},
      {"ColorFilter3", "4"}, {"Expand", "0"}, {"RejectLow", "3"}};
  for (const auto& [key, text] : stored) store.Set(kSettingsSection, key, text);
  StartUp(s, store);
  OptionsCommand(s.form1, store, [](Form5& f) {
    f.Text3 = "/data/mask.fts";
    f.Command1_Click();
  });
  SaveSettingsAtQuit(s.form1, store);
  std::string written;
  for (const auto& [key, text] : store.writes) written += key + "=" + text + ";";
  // UseMask loses 0x100, which no control sets. Of the stacking choices the
  // classic keys do not hold, only those the store holds or that left their
  // default are written.
  EXPECT_EQ(written,
            "UseMask=130815;InitDir=;OutDir=/opt/qv;CalcThr=100;CalcSize=2;MaskThr=1000;MaskSize=3;GradRatio=5;"
            "MedianLimit=1500;PixRatio= 1.28;EdgeSize=5;FovX= .5;FovY= .5;FovR= .5;FovF= .01;"
            "MaskFile=/data/mask.fts;RejectLow=3;"
            "MinQual=0.75;Hsens=13;Project=/data/m31.txt;Expand=0;"
            "ColorText1=_HA;ColorFilter1=0;ColorText2=_SII;ColorFilter2=0;ColorText3=_OIII;ColorFilter3=4;");
}

// The window's start-up says which settings it could not read and left at 0:
// under a decimal comma, the default ".75" and a field written with Str;
// anywhere, a word where a number belongs. The last project follows.
TEST(Settings, TheWindowSaysWhichSettingsItCouldNotRead) {
  TempDir dir;
  const std::string project = dir.File("p.txt");
  std::ofstream(project) << "x";
  for (const bool comma : {true, false}) {
    TestSession s;
    if (comma) s->locale = NumLocale::Comma();
    MemorySettingsStore store;
    store.Set(kSettingsSection, comma ? "FovR" : "GradRatio", comma ? " .4" : "sept");
    store.Set(kSettingsSection, "Project", project);
    s->opt = Options::Fresh();
    Form1_Load(s.form1, store, "", "/opt/qv", {});
    EXPECT_EQ(s.form1.StatusText,
              (comma ? "Réglages avec un point décimal, illisibles avec la virgule de ce système, mis à 0 : "
                       "« Qualité minimale (%) » .75, « R/H » .4 ; saisissez-les de nouveau"
                     : "Réglages illisibles, mis à 0 : « Enlever le gradient » sept ; saisissez-les de nouveau") +
                  std::string(" ; Dernier projet : ") + project + " (Fichier > Ouvrir un projet)");
    // A value the Options dialog's OK cannot take keeps the setting, and
    // the line says which.
    OptionsCommand(s.form1, store, [comma](Form5& f) {
      f.Check5 = 1;  // "Découpage circulaire"
      f.Text9[1] = comma ? "0.55" : "un demi";
      f.Text5 = "";
      f.Command1_Click();
    });
    EXPECT_EQ(s.form1.StatusText,
              std::string("Options : valeurs non prises, réglages gardés : « Écart » (vide), « Y/H » ") +
                  (comma ? "0.55 ; écrivez les décimales avec une virgule" : "un demi"));
  }
}

// What the main window writes at quit, read back the same through a file
// under a decimal comma, names with commas, "@" and backslashes included;
// files written by hand read as plain text, too large or coded ones refused.
TEST(Settings, TheStoreFileReadsBackTheQuitValuesAndPlainText) {
  TempDir dir;
  TestSession s, b;
  s->locale = b->locale = NumLocale::Comma();
  s->opt.MinQual = 0.825f;
  s->opt.Hsens = 3;
  s->opt.ColorText = {"_HA, bis", "@x", "C:\\images\\new"};
  s->opt.ColorChk = {7, 2, 0};
  s.form1.Project = " /data/a b.txt";
  {
    QtSettingsStore store(dir.File("qv.ini"));
    SaveSettingsAtQuit(s.form1, store);
  }
  QtSettingsStore store(dir.File("qv.ini"));
  StartUp(b, store);
  EXPECT_EQ(store.Read(kSettingsSection, "MinQual", ""), "0,825");
  EXPECT_FLOAT_EQ(b->opt.MinQual, 0.825f);
  EXPECT_EQ(b.form1.Text3, "82,5");
  EXPECT_TRUE(b->opt.Hsens == 3 && b->opt.ColorText == s->opt.ColorText && b->opt.ColorChk == s->opt.ColorChk);
  EXPECT_EQ(b.form1.Project, " /data/a b.txt");

  // A file written by hand is read as plain text.
  const std::string ini = dir.File("hand.ini");
  std::ofstream(ini) << "[Settings]\nMinQual=0,75\nFovX=\" .5\"\nBroken=@Invalid()\n[Other]\nMinQual=9\n";
  QtSettingsStore hand(ini, true);
  EXPECT_EQ(hand.Read(kSettingsSection, "MinQual", "d"), "0,75");  // not a list of two values
  EXPECT_EQ(hand.Read(kSettingsSection, "FovX", "d"), " .5");
  EXPECT_EQ(hand.Read(kSettingsSection, "Broken", "d"), std::nullopt);
  const std::string before = qvtest::ReadText(ini);
  EXPECT_FALSE(hand.Write(kSettingsSection, "MinQual", "1"));
  EXPECT_EQ(qvtest::ReadText(ini), before);

  // A file far too large for settings is neither parsed nor accepted.
  const std::string big = dir.File("big.ini");
  std::ofstream(big) << "[Settings]\nMaskThr=5000\n" << std::string(QtSettingsStore::kMaxFileBytes, ';');
  QtSettingsStore huge(big);
  EXPECT_EQ(huge.Read(kSettingsSection, "MaskThr", "1000"), "1000");
  std::string why;
  EXPECT_EQ(OpenSettingsStore(big, true, why), nullptr);
  // A serialised value claiming some 60 Go is refused before Qt reads it.
  const std::string coded = dir.File("coded.ini");
  std::ofstream(coded) << "[Settings]\nMaskThr=5000\nEdgeSize=@Variant(\\0\\0\\0\\x7f\\xe8 \\0\\t\\xb2)\n";
  EXPECT_EQ(QtSettingsStore(coded).Read(kSettingsSection, "MaskThr", "1000"), "1000");
  EXPECT_EQ(OpenSettingsStore(coded, true, why), nullptr);
  EXPECT_NE(why.find("valeur codée « @Variant »"), std::string::npos) << why;
  EXPECT_EQ(OpenSettingsStore(dir.path().string(), true, why), nullptr);
}

// The stored minimum quality is taken as it stands (EachOptionFollowsItsRules
// loads 150 %); the box only clamps an edit, and not while the window is
// busy or a run is going.
TEST(Settings, MinimumQualityOnlyAnEditClamps) {
  TestSession s;
  // An edit in the user's conventions; a text that is not a number is ignored.
  const struct {
    bool busy, running, comma;
    const char* text;
    float held;
  } edits[] = {{true, false, false, "150", 0.75f},   {false, true, false, "-20", 0.75f},
               {false, false, false, "150", 1.0f},   {false, false, false, "-20", 0.0f},
               {false, false, true, "80,5", 0.805f}, {false, false, true, "8x", 0.805f}};
  for (const auto& e : edits) {
    s.form1.Busy = e.busy;
    s->RunState = e.running;
    if (e.comma) s->locale = NumLocale::Comma();
    SetText3(s.form1, e.text);
    EXPECT_FLOAT_EQ(s->opt.MinQual, e.held) << e.text;
  }
}
