// The options of the program, one row each: the key of the settings store,
// where the value lives and its type in memory, its default, how start-up
// converts and limits the stored text, who writes it back, when and in
// which form, and what the command-line tool says about it. The start-up
// load, OK of the Options dialog, the quit, the zoom menu, the tool's --set,
// its JSON and its help all walk this table, so that an option is described
// in one place and a new one is added by one row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/numeric.h"
#include "core/session.h"
#include "platform/settings_store.h"
#include "workspace/options.h"

namespace qv {

inline constexpr const char* kSettingsSection = "Settings";

// Assignment of a double to a single: an overflow error when it does not fit.
float ToSingle(double v);

// The options, in the order start-up reads them, which is also the order of
// the rows, of the tool's JSON and of its help.
enum class OptionKey : uint8_t {
  MinQual,
  GradRatio,
  InitDir,
  OutDir,
  UseMask,
  PixRatio,
  MaskFile,
  DarkFile,
  FlatFile,
  PicZoom,
  MaskThr,
  CalcThr,
  EdgeSize,
  FovX,
  FovY,
  FovR,
  FovF,
  MaskSize,
  CalcSize,
  MedianLimit,
  ColorText1,
  ColorText2,
  ColorText3,
  ColorFilter1,
  ColorFilter2,
  ColorFilter3,
  Expand,
  RejectMode,
  RejectLow,
  RejectHigh,
  Normalise,
  NormaliseOutput,
  MaxFwhm,
  Hsens,
  Project,
};
inline constexpr size_t kOptionCount = 35;

// What an option holds in memory.
enum class OptionType : uint8_t {
  Text,
  Int16,
  Int32,
  Bits32,  // a set of option bits (UseMask), which --set also takes in hexadecimal
  Single,  // a 32-bit float
  Check,   // a check box: 0 or 1
};

// The start-up conversion of the stored text: none, the leading-number parse
// ("." as decimal point), or the user's-locale conversion of that name
// (integers rounded half to even). The value then goes through the load
// limits, if any, and is narrowed to the type in memory.
enum class LoadConversion : uint8_t { AsIs, Val, CSng, CDbl, CLng, CInt };

// When start-up reads an option: with the others, before the calibration
// masters are built; after them (the histogram sensitivity, which sets its
// slider); or last, and only when the program was given no file to open.
enum class ReadPhase : uint8_t { First, AfterMasters, WithoutArgument };

// Who writes an option to the store.
enum class StoreWriter : uint8_t { OptionsOk, Quit, ZoomMenu };

// The form of a value in the store: text as it is, a number in the user's
// conventions, or Str ("." and a leading blank, " .5"), which the load's
// locale conversion may not read back under other conventions.
enum class WriteFormat : uint8_t { AsText, Locale, Str };

// What OK of the Options dialog does with an option.
enum class OkAction : uint8_t {
  NotEdited,     // the dialog has no control for it
  Store,         // the value in memory and the store
  StoreTrimmed,  // the store only, the text trimmed: the value in memory is the folder the image dialog last opened
  MemoryOnly,    // the value in memory; the quit writes it
};

// When OK takes an option the dialog edits: always, only while the new
// UseMask has the row's bit (its control is shown then), or only when the
// text names another file than the current one, apart from letter case and
// surrounding blanks (a retyped path must not count as a change).
// When OK writes a row: always; only with a UseMask bit; a file key only
// when it names another file; a stacking choice the classic keys do not
// hold only once it leaves its default or the store holds it already, so a
// store whose user never set one keeps the classic keys alone.
enum class OkCondition : uint8_t { Always, WithBit, OtherFile, OnceSet };

// What --set of the tool warns about: nothing, or a value that the load
// changed by more than rounding, to a whole number or to a millionth.
enum class SetWarning : uint8_t { None, Whole, Millionth };

// A range a value is brought into: max(lo, min(hi, v)); or, where a range
// does not say what the option allows (a factor whose 0 means off), the
// rule that brings a value to it.
struct Limits {
  bool on = false;
  double lo = 0, hi = 0;
  double (*rule)(double) = nullptr;
};
constexpr Limits Within(double lo, double hi) { return {true, lo, hi}; }
constexpr Limits By(double (*rule)(double)) { return {true, 0, 0, rule}; }

// The text a key reads as when the store does not hold it. A numeric
// default goes through the user's number-to-text conversion first, so it is
// converted exactly like a stored value.
struct OptionDefault {
  enum Kind : uint8_t { Text, Number, TheProgramsFolder } kind = Text;
  const char* text = "";
  double number = 0;
};
constexpr OptionDefault DefaultText(const char* text) { return {OptionDefault::Text, text, 0}; }
constexpr OptionDefault DefaultNumber(double v) { return {OptionDefault::Number, "", v}; }
constexpr OptionDefault DefaultProgramFolder() { return {OptionDefault::TheProgramsFolder, "", 0}; }

// Where the options live: the session's options, and the two that the main
// window keeps among its own state (the mosaic expansion box and the current
// project), which a place without the main window does not hold.
// Settings by store key, each with a text: one that did not convert.
using KeyTexts = std::vector<std::pair<std::string, std::string>>;

struct OptionPlace {
  Options& opt;
  int16_t* expand = nullptr;
  std::string* project = nullptr;
  // Start-up and the Options dialog's OK note here each key whose text did
  // not convert or fit, with the text (empty when the store could not give
  // it).
  KeyTexts* unread = nullptr;
};

// The value of one option in a place; a null pointer where the place does
// not hold it.
using OptionRef = std::variant<std::string*, int16_t*, int32_t*, float*>;

struct OptionRow {
  OptionKey id;
  const char* key;  // the store's key, also --set's and the JSON's
  OptionType type;
  OptionRef (*at)(OptionPlace&);
  OptionDefault fallback{};
  LoadConversion load = LoadConversion::AsIs;
  Limits loadLimits{};
  // A choice among 0..choices - 1 (none when 0): any other value, whether
  // stored, given to --set or made by the dialog, is taken as 0, the choice
  // that changes nothing.
  int16_t choices = 0;
  ReadPhase read = ReadPhase::First;
  StoreWriter writer = StoreWriter::OptionsOk;
  int writeStep = 0;  // its place in the writer's sequence, from 1
  WriteFormat format = WriteFormat::Locale;
  OkAction ok = OkAction::NotEdited;
  OkCondition okWhen = OkCondition::Always;
  int32_t okBit = 0;   // with OkCondition::WithBit
  bool okVal = false;  // OK reads the box with the leading-number parse rather than the user's conventions
  Limits okLimits{};
  SetWarning setWarning = SetWarning::None;
  // The help of the tool: the keys as its line names them (the key when
  // null) and what they set; no line for a row whose text an earlier line
  // gives.
  const char* helpKeys = nullptr;
  const char* help = nullptr;
};

const std::array<OptionRow, kOptionCount>& OptionTable();
const OptionRow& Option(OptionKey key);
// The row of a store key, or null.
const OptionRow* FindOption(std::string_view key);

// Whether the place holds the row's value.
bool Holds(const OptionRow& row, OptionPlace& place);
// The value as a number (0 for a text or one the place does not hold).
double NumberOf(const OptionRow& row, OptionPlace& place);
// The value of a text option (empty for a number).
std::string TextOf(const OptionRow& row, OptionPlace& place);

// The text start-up reads when the store does not hold the key.
std::string DefaultTextOf(const OptionRow& row, const NumLocale& loc, const std::string& programFolder);
// Converts a stored text as start-up does and takes it; a value that does
// not convert or fit raises a run-time error before anything is changed.
void TakeStoredText(const OptionRow& row, OptionPlace& place, const std::string& text, const NumLocale& loc);
// The value in its write format.
std::string StoreText(const OptionRow& row, OptionPlace& place, const NumLocale& loc);
// The value as a text box shows it, in the user's conventions.
std::string ShownText(const OptionRow& row, OptionPlace& place, const NumLocale& loc);

// One read of start-up: the key with its default, converted; any failure
// leaves the value as it was.
void ReadOption(SettingsStore& store, const OptionRow& row, OptionPlace& place, const NumLocale& loc,
                const std::string& programFolder = {});
// Every read of one start-up phase, in the order of the rows.
void ReadOptions(SettingsStore& store, ReadPhase phase, OptionPlace& place, const NumLocale& loc,
                 const std::string& programFolder = {});
// One value given as text under `key`, converted and checked exactly as
// start-up takes a stored one, with the conventions `loc` (the tool's --set).
SettingResult TakeOptionText(OptionPlace& place, const std::string& key, const std::string& text, const NumLocale& loc);
// Writes the value in its write format; a store that refuses is ignored.
void WriteOption(SettingsStore& store, const OptionRow& row, OptionPlace& place, const NumLocale& loc);
// Every option of `writer`, in its order.
void WriteOptions(SettingsStore& store, StoreWriter writer, OptionPlace& place, const NumLocale& loc);

// What the Options dialog holds for an option it edits: the text of its box,
// or the number its check boxes, option buttons or slider make.
using DialogValue = std::variant<std::string, double>;
// OK of the Options dialog: every option it edits, in the order of its
// writes (then the memory-only ones), taken from `dialog` by the row's
// conversion, limits and condition, and written. A box that does not
// convert leaves its option as it was, and that value is written again.
void ApplyOptionsOk(SettingsStore& store, OptionPlace& place, const NumLocale& loc,
                    const std::function<DialogValue(OptionKey)>& dialog);
// The rule of OK for a master file: the option takes `text`, and the store
// its key, only when it names another file than the current value.
void OfferFile(SettingsStore& store, OptionKey key, OptionPlace& place, const std::string& text);
// A file the program itself has just written (a new master): the option
// takes it by its exact name, and the store its key; here a name that
// differs in case only is another file.
void UseFile(SettingsStore& store, OptionKey key, OptionPlace& place, const std::string& path);

// The engine's part of the program's start-up, with or without a window:
// the image tables emptied, the guide position (100, 100), the settings read
// before the masters, `settingsRead` (where the window shows them), the
// calibration masters built, then the settings read after them (Hsens).
void StartUpSettings(Session& s, SettingsStore& store, OptionPlace& place, const std::string& programFolder,
                     const std::function<void()>& settingsRead = {});

}  // namespace qv
