#include "workspace/settings.h"

#include "core/paths.h"
#include "stack/masters.h"
#include "workspace/form1.h"

namespace qv {

OptionPlace PlaceOf(Form1& f) { return {f.s.opt, &f.Check6, &f.Project}; }

void LoadSettings(Form1& f, SettingsStore& store, const std::string& programFolder) {
  Session& s = f.s;
  // The keys are read during the window's start-up, which keeps it busy;
  // callers outside the window's load get the same.
  const bool wasBusy = f.Busy;
  f.Busy = true;
  OptionPlace place = PlaceOf(f);
  ReadOptions(store, ReadPhase::First, place, s.locale, programFolder);
  // The box only shows the value: while the window is busy its handler
  // leaves MinQual as read.
  Ignoring([&] { SetText3(f, FormatFixed1(static_cast<double>(s.opt.MinQual * 100.0f), s.locale)); });
  f.Busy = wasBusy;
}

void LoadHsens(Form1& f, SettingsStore& store) {
  Session& s = f.s;
  OptionPlace place = PlaceOf(f);
  ReadOptions(store, ReadPhase::AfterMasters, place, s.locale);
  Ignoring([&] { SetHScroll1(f, s.opt.Hsens); });
}

void LoadProjectSetting(Form1& f, SettingsStore& store) {
  OptionPlace place = PlaceOf(f);
  ReadOptions(store, ReadPhase::WithoutArgument, place, f.s.locale);
}

namespace {

// The field that shows a setting, as the user knows it; the store's key
// for one that has none.
std::string FieldOf(const std::string& key) {
  static const std::pair<const char*, const char*> kFields[] = {{"MinQual", "Qualité minimale (%)"},
                                                                {"Hsens", "Niveau"},
                                                                {"Expand", "Etendre la mosaïque"},
                                                                {"FovX", "X/L"},
                                                                {"FovY", "Y/H"},
                                                                {"FovR", "R/H"},
                                                                {"FovF", "F. Zone Ext."},
                                                                {"PixRatio", "Autre"},
                                                                {"CalcThr", "Écart"},
                                                                {"MaskThr", "Seuil"},
                                                                {"EdgeSize", "Dimension (pixels)"},
                                                                {"MedianLimit", "Limite sup."},
                                                                {"RejectLow", "κ bas"},
                                                                {"RejectHigh", "κ haut"},
                                                                {"MaxFwhm", "FWHM max. (x médiane)"},
                                                                {"GradRatio", "Enlever le gradient"}};
  for (const auto& [k, field] : kFields)
    if (key == k) return field;
  return key;
}

// "« field » text, « field » text" (`blank` for an empty text), with how
// many of the texts hold a point under a decimal comma (the usual cause: a
// decimal the user's conversion cannot read).
std::string FieldsAndTexts(const KeyTexts& texts, const NumLocale& loc, const char* blank, size_t& withPoint) {
  std::string list;
  withPoint = 0;
  for (const auto& [key, text] : texts) {
    list += (list.empty() ? "« " : ", « ") + FieldOf(key) + " » " + (Trim(text).empty() ? blank : Trim(text));
    withPoint += loc.decimal != '.' && text.find('.') != std::string::npos;
  }
  return list;
}

}  // namespace

std::string RefusedValuesNote(const KeyTexts& refused, const NumLocale& loc) {
  size_t withPoint = 0;
  const std::string list = FieldsAndTexts(refused, loc, "(vide)", withPoint);
  return "Options : valeurs non prises, réglages gardés : " + list +
         (withPoint > 0 ? " ; écrivez les décimales avec une virgule" : std::string());
}

std::string UnreadSettingsNote(const KeyTexts& unread, const NumLocale& loc) {
  // All written with a point, under a decimal comma: the program's own
  // default for the minimum quality and the circle's fields, which are
  // written with a point; the line names the cause.
  size_t withPoint = 0;
  const std::string list = FieldsAndTexts(unread, loc, "", withPoint);
  return std::string(withPoint == unread.size()
                         ? "Réglages avec un point décimal, illisibles avec la virgule de ce système, mis à 0 : "
                         : "Réglages illisibles, mis à 0 : ") +
         list + " ; saisissez-les de nouveau";
}

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
  OptionPlace place = PlaceOf(f);
  KeyTexts unread;
  place.unread = &unread;
  StartUpSettings(s, store, place, programFolder, [&] {
    // Shown only: the window is busy, so the box's handler leaves MinQual.
    Ignoring([&] { SetText3(f, FormatFixed1(static_cast<double>(s.opt.MinQual * 100.0f), s.locale)); });
    f.Caption = caption + ":" + s.opt.MaskFile;
  });
  Ignoring([&] { SetHScroll1(f, s.opt.Hsens); });
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
    // The list starts empty: the line names the project of the last
    // session, which one command opens again.
    if (!f.Project.empty() && FileExists(f.Project))
      f.StatusText = "Dernier projet : " + f.Project + " (Fichier > Ouvrir un projet)";
  }
  // A setting that did not read stays at 0 without a word from the load:
  // the line says which, before anything else.
  if (!unread.empty()) {
    const std::string note = UnreadSettingsNote(unread, s.locale);
    f.StatusText = f.StatusText.empty() ? note : note + " ; " + f.StatusText;
  }
  f.Caption = caption;
}

void SaveSettingsAtQuit(Form1& f, SettingsStore& store) {
  OptionPlace place = PlaceOf(f);
  WriteOptions(store, StoreWriter::Quit, place, f.s.locale);
}

}  // namespace qv
