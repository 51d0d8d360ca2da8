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

// The dialog's text boxes and the option each one edits.
struct Box {
  OptionKey option;
  std::string& (*text)(Form5&);
};
const Box kBoxes[] = {
    {OptionKey::InitDir, [](Form5& f) -> std::string& { return f.Text1; }},
    {OptionKey::OutDir, [](Form5& f) -> std::string& { return f.Text2; }},
    {OptionKey::MaskFile, [](Form5& f) -> std::string& { return f.Text3; }},
    {OptionKey::PixRatio, [](Form5& f) -> std::string& { return f.Text4; }},
    {OptionKey::CalcThr, [](Form5& f) -> std::string& { return f.Text5; }},
    {OptionKey::EdgeSize, [](Form5& f) -> std::string& { return f.Text6; }},
    {OptionKey::CalcSize, [](Form5& f) -> std::string& { return f.Text7; }},
    {OptionKey::MaskSize, [](Form5& f) -> std::string& { return f.Text8; }},
    {OptionKey::FovX, [](Form5& f) -> std::string& { return f.Text9[0]; }},
    {OptionKey::FovY, [](Form5& f) -> std::string& { return f.Text9[1]; }},
    {OptionKey::FovR, [](Form5& f) -> std::string& { return f.Text9[2]; }},
    {OptionKey::FovF, [](Form5& f) -> std::string& { return f.Text9[3]; }},
    {OptionKey::MaskThr, [](Form5& f) -> std::string& { return f.Text10; }},
    {OptionKey::FlatFile, [](Form5& f) -> std::string& { return f.Text11; }},
    {OptionKey::DarkFile, [](Form5& f) -> std::string& { return f.Text12; }},
    {OptionKey::ColorText1, [](Form5& f) -> std::string& { return f.Text13[1]; }},
    {OptionKey::ColorText2, [](Form5& f) -> std::string& { return f.Text13[2]; }},
    {OptionKey::ColorText3, [](Form5& f) -> std::string& { return f.Text13[3]; }},
    {OptionKey::MedianLimit, [](Form5& f) -> std::string& { return f.Text14; }},
    {OptionKey::RejectLow, [](Form5& f) -> std::string& { return f.Text15; }},
    {OptionKey::RejectHigh, [](Form5& f) -> std::string& { return f.Text16; }},
    {OptionKey::MaxFwhm, [](Form5& f) -> std::string& { return f.Text17; }},
};

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
  // A mode the buttons do not offer shows as "Aucun", which is what the
  // engine makes of it.
  Option3_Click(o.RejectMode >= 0 && o.RejectMode <= 2 ? o.RejectMode : 0);
  Check17 = o.Normalise != 0 ? 1 : 0;
  Check18 = o.NormaliseOutput != 0 ? 1 : 0;
  Check17_Click();

  OptionPlace place{s_.opt};
  for (const Box& box : kBoxes) {
    const OptionRow& row = Option(box.option);
    std::string& text = box.text(*this);
    // The start folder as stored: the one in memory follows the folder the
    // user last opened images from.
    if (row.ok == OkAction::StoreTrimmed)
      Statement([&] {
        if (const auto stored = store_.Read(kSettingsSection, row.key, "")) text = *stored;
      });
    else
      Statement([&] { text = ShownText(row, place, loc); });
  }
  // The slider refuses a value outside its range and keeps its position.
  if (o.GradRatio >= kHScroll1Min && o.GradRatio <= kHScroll1Max) HScroll1 = o.GradRatio;
  for (size_t i = 1; i <= 3; ++i) {
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
void Form5::Check17_Click() { Check18Enabled = RejectChoice != 0 && Check17 != 0; }

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

void Form5::Option3_Click(int index) {
  if (index < 0 || index > 2) return;
  for (int i = 0; i < 3; ++i) Option3[static_cast<size_t>(i)] = i == index;
  RejectChoice = static_cast<int16_t>(index);
  Text15Enabled = Text16Enabled = Check17Enabled = index != 0;
  Check17_Click();
}

DialogValue Form5::ValueOf(OptionKey key) {
  switch (key) {
    case OptionKey::UseMask:
      // 0x100 is not a control of the dialog: it is always written as 0.
      return static_cast<double>(Check1 + 2 * Check2 + 4 * Check8 + 8 * Check4 + 0x2000 * Check5 + 0x20 * Check3 +
                                 0x40 * Check6 + 0x80 * Check7 + 0x200 * Check9 + 0x400 * Check10 + 0x4000 * Check11 +
                                 0x8000 * Check12 + 0x10000 * Check13 + 0x800 * (MedianChoice & 3) +
                                 (Option1[1] ? 0x10 : 0));
    case OptionKey::GradRatio:
      return static_cast<double>(HScroll1);
    case OptionKey::RejectMode:
      return static_cast<double>(RejectChoice);
    // A greyed box keeps its value: choosing "Aucun" for a while does not
    // lose the normalisation the user had set.
    case OptionKey::Normalise:
      return static_cast<double>(Check17);
    case OptionKey::NormaliseOutput:
      return static_cast<double>(Check18);
    case OptionKey::ColorFilter1:
    case OptionKey::ColorFilter2:
    case OptionKey::ColorFilter3: {
      const size_t i = static_cast<size_t>(key) - static_cast<size_t>(OptionKey::ColorFilter1) + 1;
      return static_cast<double>(Check14[i] + 2 * Check15[i] + 4 * Check16[i]);
    }
    default:
      break;
  }
  // An emptied FWHM box is the factor off, as 0 is, rather than a number
  // that does not convert.
  if (key == OptionKey::MaxFwhm && Trim(Text17).empty()) return 0.0;
  for (const Box& box : kBoxes)
    if (box.option == key) return box.text(*this);
  return std::string();
}

void Form5::Command1_Click() {
  // The pixel ratio only with "Autre", the border only with its cut, the
  // field only with its circular crop, the master files only when they
  // name other files; the colour table is written when the program quits.
  OptionPlace place{s_.opt};
  refused.clear();
  place.unread = &refused;
  ApplyOptionsOk(store_, place, s_.locale, [this](OptionKey key) { return ValueOf(key); });
  s_.OptionsApplied = true;
  Visible = false;
}

void Form5::Command2_Click() { Visible = false; }

void OptionsCommand(Form1& f, SettingsStore& store, const std::function<void(Form5&)>& user) {
  Session& s = f.s;
  if (f.Busy || s.RunState != kIdle) return;
  const bool binned = s.opt.Has(Bin2x2);
  s.OptionsApplied = false;
  KeyTexts refused;
  Statement([&] {
    Form5 dialog(s, store);
    dialog.Form_Load();
    if (user) user(dialog);
    refused = dialog.refused;
  });
  if (!s.OptionsApplied) return;
  RebuildMastersAndShow(f);
  // A value OK could not read was left as it was, which the line says.
  if (!refused.empty()) f.StatusText = RefusedValuesNote(refused, s.locale);
  // The image shown takes its guide star from the one shown before, at the
  // other scale: its box can land off the star until image 1 is selected
  // again (a run starts from image 1's marks, which are fractions).
  if (binned != s.opt.Has(Bin2x2) && f.Frame2Visible && s.ImageCount() > 0)
    f.StatusText = std::string("« Fusion 2 x 2 » ") + (binned ? "décochée" : "cochée") +
                   " : les images changent d'échelle ; le cadre de l'étoile guide de cette image peut en être "
                   "décalé jusqu'à ce que l'image 1 soit de nouveau choisie (l'exécution part des marques de "
                   "l'image 1)";
}

void RebuildMastersAndShow(Form1& f) {
  Session& s = f.s;
  s.progress.Yield();
  Statement([&] { BuildMasters(s); });
  if (f.Frame2Visible) Statement([&] { SelectPic(f, s.CurPic, false, false); });
}

}  // namespace qv
