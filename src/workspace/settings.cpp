#include "workspace/settings.h"

#include <cfloat>
#include <cmath>
#include <exception>

#include "core/paths.h"
#include "stack/masters.h"
#include "workspace/form1.h"

namespace qv {

namespace {

double Num(const std::string& text, const NumLocale& loc) { return LocaleToDouble(text, loc); }

int32_t Threshold(const std::string& text, const NumLocale& loc) {
  return CLng(MaxOf(50, MinOf(10000, Num(text, loc))));
}

// Index 0..2 of a "ColorText1".."ColorText3" or "ColorFilter1".."ColorFilter3"
// key, or -1.
int ColourIndex(const std::string& key, const std::string& word) {
  if (key.size() != word.size() + 1 || key.compare(0, word.size(), word) != 0) return -1;
  const char c = key.back();
  return c >= '1' && c <= '3' ? c - '1' : -1;
}

// The text a key reads as when the store does not hold it. Numeric
// defaults go through the user's number-to-text conversion first, so they
// are converted exactly like a stored value.
std::string DefaultText(const std::string& key, const NumLocale& loc, const std::string& programFolder) {
  static const std::array<const char*, 3> colours{"_HA", "_SII", "_OIII"};
  auto n = [&](double v) { return LocaleFromDouble(v, loc); };
  if (key == "MinQual") return ".75";
  if (key == "GradRatio") return "5";
  if (key == "OutDir") return programFolder;
  if (key == "UseMask") return n(0);
  if (key == "PixRatio") return n(1.28);
  if (key == "PicZoom") return "2";
  if (key == "MaskThr") return n(1000);
  if (key == "CalcThr") return n(100);
  if (key == "EdgeSize") return n(5);
  if (key == "FovX" || key == "FovY" || key == "FovR") return n(0.5);
  if (key == "FovF") return n(0.01);
  if (key == "MaskSize") return n(3);
  if (key == "CalcSize") return n(2);
  if (key == "MedianLimit") return n(1500);
  if (key == "Expand") return n(1);
  if (key == "Hsens") return n(10);
  if (const int i = ColourIndex(key, "ColorText"); i >= 0) return colours[static_cast<size_t>(i)];
  if (ColourIndex(key, "ColorFilter") >= 0) return n(0);
  return std::string();  // InitDir, MaskFile, DarkFile, FlatFile, Project
}

// Converts and stores one value; a value that does not convert raises a
// run-time error before anything is changed. False for an unknown key.
bool Apply(Form1& f, const std::string& key, const std::string& t, const NumLocale& loc) {
  Session& s = f.s;
  Options& o = s.opt;
  if (key == "MinQual")
    o.MinQual = ToSingle(Num(t, loc));
  else if (key == "GradRatio")
    o.GradRatio = CInt(Num(t, loc));
  else if (key == "InitDir")
    o.InitDir = t;
  else if (key == "OutDir")
    o.OutDir = t;
  else if (key == "UseMask")
    o.UseMask = CLng(Val(t));
  else if (key == "PixRatio")
    o.PixRatio = ToSingle(Val(t));
  else if (key == "MaskFile")
    o.MaskFile = t;
  else if (key == "DarkFile")
    o.DarkFile = t;
  else if (key == "FlatFile")
    o.FlatFile = t;
  else if (key == "PicZoom")
    o.PicZoom = CInt(Num(t, loc));
  else if (key == "MaskThr")
    o.MaskThr = Threshold(t, loc);
  else if (key == "CalcThr")
    o.CalcThr = Threshold(t, loc);
  else if (key == "EdgeSize")
    o.EdgeSize = CInt(Num(t, loc));
  else if (key == "FovX")
    o.FovX = ToSingle(Num(t, loc));
  else if (key == "FovY")
    o.FovY = ToSingle(Num(t, loc));
  else if (key == "FovR")
    o.FovR = ToSingle(Num(t, loc));
  else if (key == "FovF")
    o.FovF = ToSingle(Num(t, loc));
  else if (key == "MaskSize")
    o.MaskSize = CInt(Num(t, loc));
  else if (key == "CalcSize")
    o.CalcSize = CInt(Num(t, loc));
  else if (key == "MedianLimit")
    o.MedianLimit = CLng(Num(t, loc));
  else if (key == "Expand")
    f.Check6 = Num(t, loc) != 0 ? 1 : 0;
  else if (key == "Hsens")
    o.Hsens = CInt(Val(t));
  else if (key == "Project")
    f.Project = t;
  else if (const int i = ColourIndex(key, "ColorText"); i >= 0)
    o.ColorText[static_cast<size_t>(i)] = t;
  else if (const int k = ColourIndex(key, "ColorFilter"); k >= 0)
    o.ColorChk[static_cast<size_t>(k)] = CInt(Num(t, loc));
  else
    return false;
  return true;
}

// One statement of the load: read the key with its default and convert
// it; any failure leaves the value as it was and the load goes on.
void ReadKey(Form1& f, SettingsStore& store, const std::string& key, const std::string& programFolder = {}) {
  Session& s = f.s;
  try {
    const std::optional<std::string> text =
        store.Read(kSettingsSection, key, DefaultText(key, s.locale, programFolder));
    if (text) Apply(f, key, *text, s.locale);
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
  }
}

void Write(SettingsStore& store, const std::string& key, const std::string& value) {
  try {
    store.Write(kSettingsSection, key, value);
  } catch (const std::exception&) {
  }
}

}  // namespace

float ToSingle(double v) {
  if (std::isnan(v)) Raise(kErrOverflow);
  if (std::fabs(v) > static_cast<double>(FLT_MAX)) Raise(kErrOverflow);
  return static_cast<float>(v);
}

const std::vector<std::string>& SettingKeys() {
  static const std::vector<std::string> keys{"MinQual",      "GradRatio",  "InitDir",    "OutDir",       "UseMask",
                                             "PixRatio",     "MaskFile",   "DarkFile",   "FlatFile",     "PicZoom",
                                             "MaskThr",      "CalcThr",    "EdgeSize",   "FovX",         "FovY",
                                             "FovR",         "FovF",       "MaskSize",   "CalcSize",     "MedianLimit",
                                             "ColorText1",   "ColorText2", "ColorText3", "ColorFilter1", "ColorFilter2",
                                             "ColorFilter3", "Expand",     "Hsens",      "Project"};
  return keys;
}

void LoadSettings(Form1& f, SettingsStore& store, const std::string& programFolder) {
  Session& s = f.s;
  // The keys are read during the window's start-up, which keeps it busy;
  // callers outside the window's load (the command-line tool) get the same.
  const bool wasBusy = f.Busy;
  f.Busy = true;
  const std::vector<std::string>& keys = SettingKeys();
  // Hsens and Project come later in the start-up, after the masters.
  for (size_t i = 0; i < keys.size() && keys[i] != "Hsens"; ++i) {
    ReadKey(f, store, keys[i], programFolder);
    if (keys[i] == "GradRatio")
      Ignoring([&] { SetText3(f, FormatFixed1(static_cast<double>(s.opt.MinQual * 100.0f), s.locale)); });
  }
  f.Busy = wasBusy;
}

void LoadHsens(Form1& f, SettingsStore& store) {
  Session& s = f.s;
  ReadKey(f, store, "Hsens");
  Ignoring([&] { SetHScroll1(f, s.opt.Hsens); });
}

void LoadProjectSetting(Form1& f, SettingsStore& store) { ReadKey(f, store, "Project"); }

void Form1_Load(Form1& f, SettingsStore& store, const std::string& commandLine, const std::string& programFolder,
                const StartUpHooks& hooks) {
  Session& s = f.s;
  f.Busy = true;
  // The window opens with "Auto" checked, so the first image shows between
  // its computed levels, and with 0 and 65535 in "Minimum" and "Maximum"
  // for when the box is cleared. A project read below sets "Auto" as it
  // was saved.
  f.Check3 = 1;
  f.Text1 = LocaleFromDouble(0, s.locale);
  f.Text2 = LocaleFromDouble(65535, s.locale);
  const std::string caption = f.Caption;
  Ignoring([&] {
    s.Img.clear();
    s.ResizeImageArrays(0);
  });
  s.guide.GuideX = 100.0;
  s.guide.GuideY = 100.0;
  LoadSettings(f, store, programFolder);
  f.Caption = caption + ":" + s.opt.MaskFile;
  BuildMasters(s);
  LoadHsens(f, store);
  f.Busy = false;
  Ignoring([&] {
    const int item = s.opt.PicZoom == 2 ? 1 : s.opt.PicZoom == 4 ? 2 : s.opt.PicZoom == 8 ? 3 : 0;
    if (hooks.zoomClick) hooks.zoomClick(item);
  });
  if (!commandLine.empty()) {
    Ignoring([&] {
      if (hooks.openArgument) hooks.openArgument(commandLine);
    });
  } else {
    LoadProjectSetting(f, store);
  }
  f.Caption = caption;
}

void SaveSettingsAtQuit(Form1& f, SettingsStore& store) {
  Session& s = f.s;
  const NumLocale& loc = s.locale;
  Write(store, "MinQual", LocaleFromSingle(s.opt.MinQual, loc));
  Write(store, "Hsens", LocaleFromDouble(s.opt.Hsens, loc));
  Write(store, "Project", f.Project);
  Write(store, "Expand", LocaleFromDouble(f.Check6, loc));
  for (size_t i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i + 1);
    Write(store, "ColorText" + n, s.opt.ColorText[i]);
    Write(store, "ColorFilter" + n, LocaleFromDouble(s.opt.ColorChk[i], loc));
  }
}

SettingResult ApplySettingText(Form1& f, const std::string& key, const std::string& text, const NumLocale& loc) {
  try {
    return Apply(f, key, text, loc) ? SettingResult::Applied : SettingResult::UnknownKey;
  } catch (const RuntimeError&) {
    return SettingResult::BadValue;
  }
}

}  // namespace qv
