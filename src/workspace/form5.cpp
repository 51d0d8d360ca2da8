#include "workspace/form5.h"

#include <exception>

#include "core/paths.h"
#include "stack/masters.h"
#include "workspace/image_list.h"
#include "workspace/settings.h"

#ifndef QUELVISTA_VERSION
#define QUELVISTA_VERSION "0.0.0"
#endif

namespace qv {

namespace {

// A handler of the dialog goes on with its next statement when one fails.
template <class F>
void Statement(F&& f) {
  try {
    f();
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
  }
}

int16_t Bit(int32_t mask, int32_t bit) { return (mask & bit) != 0 ? 1 : 0; }

}  // namespace

void Form5::Form_Load() {
  const Options& o = s_.opt;
  const NumLocale& loc = s_.locale;
  const int32_t m = o.UseMask;
  Check1 = Bit(m, HotCalc);
  Check1_Click();
  Check2 = Bit(m, HotMaskOn);
  Check2_Click();
  Check8 = Bit(m, CalcFill);
  Check4 = Bit(m, EdgeCut);
  Check4_Click();
  Check5 = Bit(m, CircCrop);
  Check5_Click();
  Check3 = Bit(m, MaskFill);
  Check6 = Bit(m, Mono);
  Check7 = Bit(m, ColourOnly);
  Check9 = Bit(m, Bin2x2);
  Check10 = Bit(m, ProgBlend);
  Check11 = Bit(m, GradRemove);
  Check11_Click();
  Check12 = Bit(m, DarkSub);
  Check13 = Bit(m, FlatApply);
  Option2_Click((m & MedianMode) / 2048);
  Option1_Click((m & PixAspect) / 16);

  // The start folder as stored: the one in memory follows the folder the
  // user last opened images from.
  Statement([&] {
    if (const auto stored = store_.Read(kSettingsSection, "InitDir", "")) Text1 = *stored;
  });
  Text2 = o.OutDir;
  Statement([&] { Text5 = LocaleFromDouble(o.CalcThr, loc); });
  Statement([&] { Text7 = LocaleFromDouble(o.CalcSize, loc); });
  Text3 = o.MaskFile;
  Text11 = o.FlatFile;
  Text12 = o.DarkFile;
  Statement([&] { Text10 = LocaleFromDouble(o.MaskThr, loc); });
  Statement([&] { Text8 = LocaleFromDouble(o.MaskSize, loc); });
  Statement([&] { Text4 = LocaleFromSingle(o.PixRatio, loc); });
  Statement([&] { Text6 = LocaleFromDouble(o.EdgeSize, loc); });
  Statement([&] { Text9[0] = LocaleFromSingle(o.FovX, loc); });
  Statement([&] { Text9[1] = LocaleFromSingle(o.FovY, loc); });
  Statement([&] { Text9[2] = LocaleFromSingle(o.FovR, loc); });
  Statement([&] { Text9[3] = LocaleFromSingle(o.FovF, loc); });
  Statement([&] { Text14 = LocaleFromDouble(o.MedianLimit, loc); });
  // The slider refuses a value outside its range and keeps its position.
  if (o.GradRatio >= kHScroll1Min && o.GradRatio <= kHScroll1Max) HScroll1 = o.GradRatio;
  for (size_t i = 1; i <= 3; ++i) {
    Text13[i] = o.ColorText[i - 1];
    Check14[i] = Bit(o.ColorChk[i - 1], 1);
    Check15[i] = Bit(o.ColorChk[i - 1], 2);
    Check16[i] = Bit(o.ColorChk[i - 1], 4);
  }
  Caption += std::string(" - V ") + QUELVISTA_VERSION;
  Visible = true;
}

void Form5::Check1_Click() { Frame4.Visible = Check1 != 0; }
void Form5::Check2_Click() { Frame8.Visible = Check2 != 0; }
void Form5::Check4_Click() { Frame5.Visible = Check4 != 0; }
void Form5::Check5_Click() { Frame6.Visible = Check5 != 0; }
void Form5::Check11_Click() { HScroll1Visible = Check11 != 0; }

void Form5::Option1_Click(int index) {
  if (index < 0 || index > 1) return;
  for (int i = 0; i < 2; ++i) Option1[static_cast<size_t>(i)] = i == index;
  Text4Visible = index == 1;
}

void Form5::Option2_Click(int index) {
  if (index < 0 || index > 3) return;
  for (int i = 0; i < 4; ++i) Option2[static_cast<size_t>(i)] = i == index;
  MedianChoice = static_cast<int16_t>(index);
}

void Form5::Command1_Click() {
  Options& o = s_.opt;
  const NumLocale& loc = s_.locale;
  auto num = [&](const std::string& text) { return LocaleToDouble(text, loc); };
  auto save = [&](const char* key, const std::string& value) {
    Statement([&] { store_.Write(kSettingsSection, key, value); });
  };
  auto saveNumber = [&](const char* key, double v) { save(key, LocaleFromDouble(v, loc)); };

  // 0x100 is not a control of the dialog: it is always written as 0.
  o.UseMask = Check1 + 2 * Check2 + 4 * Check8 + 8 * Check4 + 0x2000 * Check5 + 0x20 * Check3 + 0x40 * Check6 +
              0x80 * Check7 + 0x200 * Check9 + 0x400 * Check10 + 0x4000 * Check11 + 0x8000 * Check12 +
              0x10000 * Check13 + 0x800 * (MedianChoice & 3) + (Option1[1] ? 0x10 : 0);
  saveNumber("UseMask", o.UseMask);
  save("InitDir", Trim(Text1));
  o.OutDir = Text2;
  save("OutDir", o.OutDir);

  // A field that does not convert leaves its option unchanged, and the
  // value it had is written again.
  Statement([&] { o.CalcThr = CLng(num(Text5)); });
  saveNumber("CalcThr", o.CalcThr);
  Statement([&] { o.CalcSize = CInt(MaxOf(1, MinOf(3, num(Text7)))); });
  saveNumber("CalcSize", o.CalcSize);
  Statement([&] { o.MaskThr = CLng(num(Text10)); });
  saveNumber("MaskThr", o.MaskThr);
  Statement([&] { o.MaskSize = CInt(MaxOf(1, MinOf(3, num(Text8)))); });
  saveNumber("MaskSize", o.MaskSize);
  o.GradRatio = HScroll1;
  saveNumber("GradRatio", o.GradRatio);
  Statement([&] { o.MedianLimit = CLng(MaxOf(100, MinOf(num(Text14), 65535))); });
  saveNumber("MedianLimit", o.MedianLimit);

  // The pixel ratio and the field of view are written with Str ("." and a
  // leading blank), whatever the user's conventions.
  if (Option1[1]) {
    Statement([&] { o.PixRatio = ToSingle(MaxOf(1, MinOf(2, num(Text4)))); });
    save("PixRatio", StrSingle(o.PixRatio));
  }
  if (o.Has(EdgeCut)) {
    Statement([&] { o.EdgeSize = CInt(MaxOf(1, MinOf(300, Val(Text6)))); });
    saveNumber("EdgeSize", o.EdgeSize);
  }
  if (o.Has(CircCrop)) {
    Statement([&] { o.FovX = ToSingle(MaxOf(0, MinOf(1, num(Text9[0])))); });
    Statement([&] { o.FovY = ToSingle(MaxOf(0, MinOf(1, num(Text9[1])))); });
    Statement([&] { o.FovR = ToSingle(MaxOf(0, MinOf(2, num(Text9[2])))); });
    Statement([&] { o.FovF = ToSingle(MaxOf(0, MinOf(1, num(Text9[3])))); });
    save("FovX", StrSingle(o.FovX));
    save("FovY", StrSingle(o.FovY));
    save("FovR", StrSingle(o.FovR));
    save("FovF", StrSingle(o.FovF));
  }

  SetMasterFile(store_, Text3, o.MaskFile, "MaskFile");
  SetMasterFile(store_, Text11, o.FlatFile, "FlatFile");
  SetMasterFile(store_, Text12, o.DarkFile, "DarkFile");

  // The colour table is written when the program quits.
  for (size_t i = 1; i <= 3; ++i) {
    o.ColorText[i - 1] = Text13[i];
    o.ColorChk[i - 1] = static_cast<int16_t>(Check14[i] + 2 * Check15[i] + 4 * Check16[i]);
  }
  s_.OptionsApplied = true;
  Visible = false;
}

void Form5::Command2_Click() { Visible = false; }

void OptionsCommand(Form1& f, SettingsStore& store, const std::function<void(Form5&)>& user) {
  Session& s = f.s;
  if (f.Busy || s.RunState != 0) return;
  s.OptionsApplied = false;
  Statement([&] {
    Form5 dialog(s, store);
    dialog.Form_Load();
    if (user) user(dialog);
  });
  if (!s.OptionsApplied) return;
  RebuildMastersAndShow(f);
}

void SetMasterFile(SettingsStore& store, const std::string& text, std::string& current, const char* key) {
  // A master path is rewritten only when it names another file: retyping
  // its case or blanks must not count as a change.
  if (LCase(Trim(text)) == LCase(Trim(current))) return;
  current = text;
  Statement([&] { store.Write(kSettingsSection, key, current); });
}

void RebuildMastersAndShow(Form1& f) {
  Session& s = f.s;
  s.DoEvents();
  Statement([&] { BuildMasters(s); });
  if (f.Frame2Visible) Statement([&] { SelectPic(f, s.CurPic, false, false); });
}

}  // namespace qv
