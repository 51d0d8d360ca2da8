#include "workspace/option_table.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <exception>
#include <vector>

#include "core/options.h"
#include "core/paths.h"
#include "stack/masters.h"
#include "stack/reject.h"

namespace qv {

namespace {

using Place = OptionPlace;
using Ref = OptionRef;

// The FWHM factor as the options take it. A number beyond a single's range
// is brought to that range first, so that a huge factor means the largest,
// as a huge kappa does, rather than failing the single's conversion.
double FwhmFactor(double v) {
  return MaxFwhmOf(static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX))));
}

// Rows in the order start-up reads them. The write steps are the orders of
// the Options dialog's OK (UseMask first, the cleaning steps, the master
// files, then the keys added since: the rejection and the FWHM factor), of
// the quit (the main window's values, then the colour table by filter) and
// of the zoom menu.
constexpr std::array<OptionRow, kOptionCount> kRows{{
    {.id = OptionKey::MinQual,
     .key = "MinQual",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.MinQual; },
     .fallback = DefaultText(".75"),
     .load = LoadConversion::CSng,
     .writer = StoreWriter::Quit,
     .writeStep = 1,
     .setWarning = SetWarning::Millionth,
     .help = "qualité minimale d'une image acceptée, fraction 0..1 (0.75)"},
    {.id = OptionKey::GradRatio,
     .key = "GradRatio",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.GradRatio; },
     .fallback = DefaultText("5"),
     .load = LoadConversion::CInt,
     .writeStep = 8,
     .ok = OkAction::Store,
     .help = "force de l'enlèvement du gradient, 0..10"},
    {.id = OptionKey::InitDir,
     .key = "InitDir",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.InitDir; },
     .writeStep = 2,
     .format = WriteFormat::AsText,
     .ok = OkAction::StoreTrimmed,
     .help = "dossier où s'ouvre le choix des images"},
    {.id = OptionKey::OutDir,
     .key = "OutDir",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.OutDir; },
     .fallback = DefaultProgramFolder(),
     .writeStep = 3,
     .format = WriteFormat::AsText,
     .ok = OkAction::Store,
     .help = "dossier de destination (nom proposé par l'éditeur, DestFileName)"},
    {.id = OptionKey::UseMask,
     .key = "UseMask",
     .type = OptionType::Bits32,
     .at = [](Place& p) -> Ref { return &p.opt.UseMask; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::Val,
     .writeStep = 1,
     .ok = OkAction::Store,
     .help = "options de traitement : somme des bits ci-dessous, en décimal ou en 0x..."},
    {.id = OptionKey::PixRatio,
     .key = "PixRatio",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.PixRatio; },
     .fallback = DefaultNumber(1.28),
     .load = LoadConversion::Val,
     .writeStep = 10,
     .format = WriteFormat::Str,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = PixAspect,
     .okLimits = Within(1, 2),
     .help = "largeur / hauteur d'un pixel (bit 0x10)"},
    {.id = OptionKey::MaskFile,
     .key = "MaskFile",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.MaskFile; },
     .writeStep = 22,
     .format = WriteFormat::AsText,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OtherFile,
     .help = "fichier masque des pixels chauds (bit 0x2) ; aussi --mask F"},
    {.id = OptionKey::DarkFile,
     .key = "DarkFile",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.DarkFile; },
     .writeStep = 24,
     .format = WriteFormat::AsText,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OtherFile,
     .help = "fichier dark (bit 0x8000) ; aussi --dark F"},
    {.id = OptionKey::FlatFile,
     .key = "FlatFile",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.FlatFile; },
     .writeStep = 23,
     .format = WriteFormat::AsText,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OtherFile,
     .help = "fichier de plage de lumière uniforme, PLU (bit 0x10000) ; aussi --flat F"},
    {.id = OptionKey::PicZoom,
     .key = "PicZoom",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.PicZoom; },
     .fallback = DefaultText("2"),
     .load = LoadConversion::CInt,
     .writer = StoreWriter::ZoomMenu,
     .writeStep = 1,
     .help = "réduction de l'affichage, 1, 2, 4 ou 8"},
    {.id = OptionKey::MaskThr,
     .key = "MaskThr",
     .type = OptionType::Int32,
     .at = [](Place& p) -> Ref { return &p.opt.MaskThr; },
     .fallback = DefaultNumber(1000),
     .load = LoadConversion::CDbl,
     .loadLimits = Within(50, 10000),
     .writeStep = 6,
     .ok = OkAction::Store,
     .setWarning = SetWarning::Whole,
     .help = "seuil du masque, ramené à 50..10000"},
    {.id = OptionKey::CalcThr,
     .key = "CalcThr",
     .type = OptionType::Int32,
     .at = [](Place& p) -> Ref { return &p.opt.CalcThr; },
     .fallback = DefaultNumber(100),
     .load = LoadConversion::CDbl,
     .loadLimits = Within(50, 10000),
     .writeStep = 4,
     .ok = OkAction::Store,
     .setWarning = SetWarning::Whole,
     .help = "écart des pixels chauds par calcul, ramené à 50..10000"},
    {.id = OptionKey::EdgeSize,
     .key = "EdgeSize",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.EdgeSize; },
     .fallback = DefaultNumber(5),
     .load = LoadConversion::CInt,
     .writeStep = 11,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = EdgeCut,
     .okVal = true,
     .okLimits = Within(1, 300),
     .help = "bordure découpée, en pixels (bit 0x8)"},
    {.id = OptionKey::FovX,
     .key = "FovX",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.FovX; },
     .fallback = DefaultNumber(0.5),
     .load = LoadConversion::CSng,
     .writeStep = 12,
     .format = WriteFormat::Str,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = CircCrop,
     .okLimits = Within(0, 1),
     .helpKeys = "FovX FovY FovR FovF",
     .help = "découpage circulaire : centre, rayon, zone extérieure (bit 0x2000)"},
    {.id = OptionKey::FovY,
     .key = "FovY",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.FovY; },
     .fallback = DefaultNumber(0.5),
     .load = LoadConversion::CSng,
     .writeStep = 13,
     .format = WriteFormat::Str,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = CircCrop,
     .okLimits = Within(0, 1)},
    {.id = OptionKey::FovR,
     .key = "FovR",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.FovR; },
     .fallback = DefaultNumber(0.5),
     .load = LoadConversion::CSng,
     .writeStep = 14,
     .format = WriteFormat::Str,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = CircCrop,
     .okLimits = Within(0, 2)},
    {.id = OptionKey::FovF,
     .key = "FovF",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.FovF; },
     .fallback = DefaultNumber(0.01),
     .load = LoadConversion::CSng,
     .writeStep = 15,
     .format = WriteFormat::Str,
     .ok = OkAction::Store,
     .okWhen = OkCondition::WithBit,
     .okBit = CircCrop,
     .okLimits = Within(0, 1)},
    {.id = OptionKey::MaskSize,
     .key = "MaskSize",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.MaskSize; },
     .fallback = DefaultNumber(3),
     .load = LoadConversion::CInt,
     .writeStep = 7,
     .ok = OkAction::Store,
     .okLimits = Within(1, 3),
     .help = "rayon du masque, 1..3"},
    {.id = OptionKey::CalcSize,
     .key = "CalcSize",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.CalcSize; },
     .fallback = DefaultNumber(2),
     .load = LoadConversion::CInt,
     .writeStep = 5,
     .ok = OkAction::Store,
     .okLimits = Within(1, 3),
     .help = "rayon du calcul des pixels chauds, 1..3"},
    {.id = OptionKey::MedianLimit,
     .key = "MedianLimit",
     .type = OptionType::Int32,
     .at = [](Place& p) -> Ref { return &p.opt.MedianLimit; },
     .fallback = DefaultNumber(1500),
     .load = LoadConversion::CLng,
     .writeStep = 9,
     .ok = OkAction::Store,
     .okLimits = Within(100, 65535),
     .help = "limite supérieure du filtre médian"},
    {.id = OptionKey::ColorText1,
     .key = "ColorText1",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.ColorText[0]; },
     .fallback = DefaultText("_HA"),
     .writer = StoreWriter::Quit,
     .writeStep = 5,
     .format = WriteFormat::AsText,
     .ok = OkAction::MemoryOnly,
     .helpKeys = "ColorText1..3",
     .help = "texte d'un nom de fichier qui désigne un filtre de couleur (_HA, _SII, _OIII)"},
    {.id = OptionKey::ColorText2,
     .key = "ColorText2",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.ColorText[1]; },
     .fallback = DefaultText("_SII"),
     .writer = StoreWriter::Quit,
     .writeStep = 7,
     .format = WriteFormat::AsText,
     .ok = OkAction::MemoryOnly},
    {.id = OptionKey::ColorText3,
     .key = "ColorText3",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return &p.opt.ColorText[2]; },
     .fallback = DefaultText("_OIII"),
     .writer = StoreWriter::Quit,
     .writeStep = 9,
     .format = WriteFormat::AsText,
     .ok = OkAction::MemoryOnly},
    {.id = OptionKey::ColorFilter1,
     .key = "ColorFilter1",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.ColorChk[0]; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CInt,
     .writer = StoreWriter::Quit,
     .writeStep = 6,
     .ok = OkAction::MemoryOnly,
     .helpKeys = "ColorFilter1..3",
     .help = "canaux de ce filtre : 1 rouge, 2 vert, 4 bleu"},
    {.id = OptionKey::ColorFilter2,
     .key = "ColorFilter2",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.ColorChk[1]; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CInt,
     .writer = StoreWriter::Quit,
     .writeStep = 8,
     .ok = OkAction::MemoryOnly},
    {.id = OptionKey::ColorFilter3,
     .key = "ColorFilter3",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.ColorChk[2]; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CInt,
     .writer = StoreWriter::Quit,
     .writeStep = 10,
     .ok = OkAction::MemoryOnly},
    {.id = OptionKey::Expand,
     .key = "Expand",
     .type = OptionType::Check,
     .at = [](Place& p) -> Ref { return p.expand; },
     .fallback = DefaultNumber(1),
     .load = LoadConversion::CDbl,
     .writer = StoreWriter::Quit,
     .writeStep = 4,
     .help = "1 étend la mosaïque, 0 garde le cadre de la première image"},
    {.id = OptionKey::RejectMode,
     .key = "RejectMode",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.RejectMode; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CDbl,
     .choices = 3,
     .writeStep = 25,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .setWarning = SetWarning::Whole,
     .help = "rejet des valeurs aberrantes à la combinaison : 0 aucun, 1 sigma, 2 winsorisé"},
    {.id = OptionKey::RejectLow,
     .key = "RejectLow",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.RejectLow; },
     .fallback = DefaultNumber(3),
     .load = LoadConversion::CSng,
     .loadLimits = Within(kKappaMin, kKappaMax),
     .writeStep = 26,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .okLimits = Within(kKappaMin, kKappaMax),
     .setWarning = SetWarning::Millionth,
     .helpKeys = "RejectLow RejectHigh",
     .help = "κ bas et κ haut du rejet, en écarts-types, ramenés à 0.5..10 (3)"},
    {.id = OptionKey::RejectHigh,
     .key = "RejectHigh",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.RejectHigh; },
     .fallback = DefaultNumber(3),
     .load = LoadConversion::CSng,
     .loadLimits = Within(kKappaMin, kKappaMax),
     .writeStep = 27,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .okLimits = Within(kKappaMin, kKappaMax),
     .setWarning = SetWarning::Millionth},
    {.id = OptionKey::Normalise,
     .key = "Normalise",
     .type = OptionType::Check,
     .at = [](Place& p) -> Ref { return &p.opt.Normalise; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CInt,
     .writeStep = 28,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .help = "1 ramène le fond de chaque image à celui de la première pour le rejet (sans rejet, aucun effet)"},
    {.id = OptionKey::NormaliseOutput,
     .key = "NormaliseOutput",
     .type = OptionType::Check,
     .at = [](Place& p) -> Ref { return &p.opt.NormaliseOutput; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CInt,
     .writeStep = 29,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .help = "1 additionne aussi les valeurs normalisées (avec Normalise=1)"},
    {.id = OptionKey::MaxFwhm,
     .key = "MaxFwhm",
     .type = OptionType::Single,
     .at = [](Place& p) -> Ref { return &p.opt.MaxFwhm; },
     .fallback = DefaultNumber(0),
     .load = LoadConversion::CSng,
     .loadLimits = By(FwhmFactor),
     .writeStep = 30,
     .ok = OkAction::Store,
     .okWhen = OkCondition::OnceSet,
     .okLimits = By(FwhmFactor),
     .setWarning = SetWarning::Millionth,
     .help =
         "marques automatiques : décoche une image de FWHM au-delà de ce facteur fois la médiane, 1..5 ; 0 aucune (0)"},
    {.id = OptionKey::Hsens,
     .key = "Hsens",
     .type = OptionType::Int16,
     .at = [](Place& p) -> Ref { return &p.opt.Hsens; },
     .fallback = DefaultNumber(10),
     .load = LoadConversion::Val,
     .read = ReadPhase::AfterMasters,
     .writer = StoreWriter::Quit,
     .writeStep = 2,
     .help = "sensibilité de l'histogramme, 0..20"},
    {.id = OptionKey::Project,
     .key = "Project",
     .type = OptionType::Text,
     .at = [](Place& p) -> Ref { return p.project; },
     .read = ReadPhase::WithoutArgument,
     .writer = StoreWriter::Quit,
     .writeStep = 3,
     .format = WriteFormat::AsText,
     .help = "projet courant"},
}};

constexpr bool RowsFollowTheKeys() {
  for (size_t i = 0; i < kRows.size(); ++i)
    if (static_cast<size_t>(kRows[i].id) != i) return false;
  return true;
}
static_assert(RowsFollowTheKeys(), "a row out of the order of OptionKey");

double Limited(const Limits& l, double v) {
  if (!l.on) return v;
  return l.rule ? l.rule(v) : MaxOf(l.lo, MinOf(l.hi, v));
}

template <class T>
T* Slot(const OptionRow& row, Place& p) {
  const OptionRef ref = row.at(p);
  T* const* slot = std::get_if<T*>(&ref);
  return slot ? *slot : nullptr;
}

// A choice row's value: the nearest whole number when it names a choice,
// else 0, so that a stray value switches the option off rather than
// failing the read and leaving what was held.
int16_t Choice(const OptionRow& row, double v) {
  const double r = RoundHalfEven(v);
  return r >= 0 && r < row.choices ? static_cast<int16_t>(r) : int16_t{0};
}

// Narrows a number to the type in memory (CInt, CLng, the single's overflow
// check, or a check box's 0 or 1) and takes it; a value that does not fit
// raises before anything changes.
void TakeNumber(const OptionRow& row, Place& p, double v) {
  switch (row.type) {
    case OptionType::Int16:
      if (int16_t* x = Slot<int16_t>(row, p)) *x = row.choices ? Choice(row, v) : CInt(v);
      break;
    case OptionType::Check:
      if (int16_t* x = Slot<int16_t>(row, p)) *x = v != 0 ? 1 : 0;
      break;
    case OptionType::Int32:
    case OptionType::Bits32:
      if (int32_t* x = Slot<int32_t>(row, p)) *x = CLng(v);
      break;
    case OptionType::Single:
      if (float* x = Slot<float>(row, p)) *x = ToSingle(v);
      break;
    case OptionType::Text:
      Raise(kErrTypeMismatch);
  }
}

void TakeText(const OptionRow& row, Place& p, const std::string& text) {
  if (std::string* x = Slot<std::string>(row, p)) *x = text;
}

double Loaded(LoadConversion c, const std::string& t, const NumLocale& loc) {
  switch (c) {
    case LoadConversion::Val:
      return Val(t);
    case LoadConversion::CSng:
      return ToSingle(LocaleToDouble(t, loc));
    case LoadConversion::CDbl:
      return LocaleToDouble(t, loc);
    case LoadConversion::CLng:
      return CLng(LocaleToDouble(t, loc));
    case LoadConversion::CInt:
      return CInt(LocaleToDouble(t, loc));
    case LoadConversion::AsIs:
      break;
  }
  Raise(kErrTypeMismatch);
}

// What OK takes from the dialog's value for the row.
void TakeFromDialog(const OptionRow& row, Place& p, const DialogValue& value, const NumLocale& loc) {
  if (const double* number = std::get_if<double>(&value)) return TakeNumber(row, p, *number);
  const std::string& text = std::get<std::string>(value);
  if (row.type == OptionType::Text) return TakeText(row, p, text);
  TakeNumber(row, p, Limited(row.okLimits, row.okVal ? Val(text) : LocaleToDouble(text, loc)));
}

// A statement of the dialog's OK: its failure leaves the option as it was.
template <class F>
void Statement(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

}  // namespace

float ToSingle(double v) {
  if (std::isnan(v)) Raise(kErrOverflow);
  if (std::fabs(v) > static_cast<double>(FLT_MAX)) Raise(kErrOverflow);
  return static_cast<float>(v);
}

const std::array<OptionRow, kOptionCount>& OptionTable() { return kRows; }

const OptionRow& Option(OptionKey key) { return kRows[static_cast<size_t>(key)]; }

const OptionRow* FindOption(std::string_view key) {
  for (const OptionRow& row : kRows)
    if (key == row.key) return &row;
  return nullptr;
}

bool Holds(const OptionRow& row, OptionPlace& place) {
  return std::visit([](auto* x) { return x != nullptr; }, row.at(place));
}

double NumberOf(const OptionRow& row, OptionPlace& place) {
  return std::visit(
      [](auto* x) -> double {
        if constexpr (std::is_same_v<decltype(x), std::string*>)
          return 0;
        else
          return x ? static_cast<double>(*x) : 0;
      },
      row.at(place));
}

std::string TextOf(const OptionRow& row, OptionPlace& place) {
  const std::string* x = Slot<std::string>(row, place);
  return x ? *x : std::string();
}

std::string DefaultTextOf(const OptionRow& row, const NumLocale& loc, const std::string& programFolder) {
  switch (row.fallback.kind) {
    case OptionDefault::Number:
      return LocaleFromDouble(row.fallback.number, loc);
    case OptionDefault::TheProgramsFolder:
      return programFolder;
    case OptionDefault::Text:
      break;
  }
  return row.fallback.text;
}

void TakeStoredText(const OptionRow& row, OptionPlace& place, const std::string& text, const NumLocale& loc) {
  if (row.type == OptionType::Text) return TakeText(row, place, text);
  TakeNumber(row, place, Limited(row.loadLimits, Loaded(row.load, text, loc)));
}

std::string StoreText(const OptionRow& row, OptionPlace& place, const NumLocale& loc) {
  if (row.type == OptionType::Text) return TextOf(row, place);
  const double v = NumberOf(row, place);
  if (row.format == WriteFormat::Str) return row.type == OptionType::Single ? StrSingle(static_cast<float>(v)) : Str(v);
  return ShownText(row, place, loc);
}

std::string ShownText(const OptionRow& row, OptionPlace& place, const NumLocale& loc) {
  if (row.type == OptionType::Text) return TextOf(row, place);
  const double v = NumberOf(row, place);
  return row.type == OptionType::Single ? LocaleFromSingle(static_cast<float>(v), loc) : LocaleFromDouble(v, loc);
}

void ReadOption(SettingsStore& store, const OptionRow& row, OptionPlace& place, const NumLocale& loc,
                const std::string& programFolder) {
  std::optional<std::string> text;
  try {
    text = store.Read(kSettingsSection, row.key, DefaultTextOf(row, loc, programFolder));
    if (text) TakeStoredText(row, place, *text, loc);
  } catch (const std::exception&) {
    if (place.unread) place.unread->emplace_back(row.key, text.value_or(""));
  }
}

void ReadOptions(SettingsStore& store, ReadPhase phase, OptionPlace& place, const NumLocale& loc,
                 const std::string& programFolder) {
  for (const OptionRow& row : kRows)
    if (row.read == phase) ReadOption(store, row, place, loc, programFolder);
}

SettingResult TakeOptionText(OptionPlace& place, const std::string& key, const std::string& text,
                             const NumLocale& loc) {
  const OptionRow* row = FindOption(key);
  if (!row) return SettingResult::UnknownKey;
  try {
    TakeStoredText(*row, place, text, loc);
    return SettingResult::Applied;
  } catch (const RuntimeError&) {
    return SettingResult::BadValue;
  }
}

void WriteOption(SettingsStore& store, const OptionRow& row, OptionPlace& place, const NumLocale& loc) {
  if (!Holds(row, place)) return;
  Statement([&] { store.Write(kSettingsSection, row.key, StoreText(row, place, loc)); });
}

namespace {

// The rows `writer` writes, in its order.
std::vector<const OptionRow*> WrittenBy(StoreWriter writer) {
  std::vector<const OptionRow*> rows;
  for (const OptionRow& row : kRows)
    if (row.writer == writer) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(),
            [](const OptionRow* a, const OptionRow* b) { return a->writeStep < b->writeStep; });
  return rows;
}

}  // namespace

void WriteOptions(SettingsStore& store, StoreWriter writer, OptionPlace& place, const NumLocale& loc) {
  for (const OptionRow* row : WrittenBy(writer)) WriteOption(store, *row, place, loc);
}

namespace {

bool StoreHolds(SettingsStore& store, const char* key) {
  static const std::string absent("\x01");
  bool holds = false;
  Statement([&] { holds = store.Read(kSettingsSection, key, absent) != absent; });
  return holds;
}

}  // namespace

void ApplyOptionsOk(SettingsStore& store, OptionPlace& place, const NumLocale& loc,
                    const std::function<DialogValue(OptionKey)>& dialog) {
  std::vector<const OptionRow*> rows;
  for (const OptionRow* row : WrittenBy(StoreWriter::OptionsOk))
    if (row->ok != OkAction::NotEdited) rows.push_back(row);
  for (const OptionRow& row : kRows)
    if (row.ok == OkAction::MemoryOnly) rows.push_back(&row);

  // A text that does not convert leaves the option as it was; the place
  // notes it for the user.
  const auto take = [&](const OptionRow& row, const DialogValue& value) {
    try {
      TakeFromDialog(row, place, value, loc);
    } catch (const std::exception&) {
      if (const std::string* text = std::get_if<std::string>(&value); text && place.unread)
        place.unread->emplace_back(row.key, *text);
    }
  };
  for (const OptionRow* row : rows) {
    const DialogValue value = dialog(row->id);
    switch (row->ok) {
      case OkAction::StoreTrimmed:
        Statement([&] { store.Write(kSettingsSection, row->key, Trim(std::get<std::string>(value))); });
        break;
      case OkAction::MemoryOnly:
        take(*row, value);
        break;
      case OkAction::Store:
        // The later rows' conditions read the new UseMask, which is first.
        if (row->okWhen == OkCondition::WithBit && !place.opt.Has(row->okBit)) break;
        if (row->okWhen == OkCondition::OtherFile) {
          OfferFile(store, row->id, place, std::get<std::string>(value));
          break;
        }
        take(*row, value);
        if (row->okWhen == OkCondition::OnceSet && NumberOf(*row, place) == row->fallback.number &&
            !StoreHolds(store, row->key))
          break;
        WriteOption(store, *row, place, loc);
        break;
      case OkAction::NotEdited:
        break;
    }
  }
}

namespace {

// The file option `key` and its store key take `path` unless `same` says
// the current value names that file already.
void PutFile(SettingsStore& store, OptionKey key, OptionPlace& place, const std::string& path,
             bool (*same)(const std::string&, const std::string&)) {
  const OptionRow& row = Option(key);
  std::string* current = Slot<std::string>(row, place);
  if (!current || same(path, *current)) return;
  *current = path;
  Statement([&] { store.Write(kSettingsSection, row.key, *current); });
}

}  // namespace

void OfferFile(SettingsStore& store, OptionKey key, OptionPlace& place, const std::string& text) {
  PutFile(store, key, place, text,
          [](const std::string& a, const std::string& b) { return LCase(Trim(a)) == LCase(Trim(b)); });
}

void UseFile(SettingsStore& store, OptionKey key, OptionPlace& place, const std::string& path) {
  PutFile(store, key, place, path, [](const std::string& a, const std::string& b) { return a == b; });
}

void StartUpSettings(Session& s, SettingsStore& store, OptionPlace& place, const std::string& programFolder,
                     const std::function<void()>& settingsRead) {
  Ignoring([&] {
    s.Img.clear();
    s.ResizeImageArrays(0);
  });
  s.guide.GuideX = 100.0;
  s.guide.GuideY = 100.0;
  ReadOptions(store, ReadPhase::First, place, s.locale, programFolder);
  if (settingsRead) settingsRead();
  BuildMasters(s);
  ReadOptions(store, ReadPhase::AfterMasters, place, s.locale, programFolder);
}

}  // namespace qv
