#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/error_words.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/session.h"
#include "io/file.h"
#include "io/json.h"
#include "io/picture.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "process/image_files.h"
#include "process/process_pic.h"
#include "stack/master_frames.h"
#include "stack/masters.h"

namespace qvcli {

void Complain(const std::string& message) { std::fprintf(stderr, "quelvista-cli : %s\n", message.c_str()); }

bool CliSession::Open(const std::string& settingsFile) {
  s.locale = qv::NumLocale::FromEnvironment();
  s.opt = qv::Options::Fresh();
  std::string why;
  store = qv::OpenSettingsStore(settingsFile, true, why);
  if (!store)
    Complain(why);
  else if (!why.empty())
    Complain("attention : " + why);
  return store != nullptr;
}

namespace {

// MinQual in its box and Hsens on the slider, as start-up shows them; the
// slider takes 0..20 only.
void ShowSettings(CliSession& cli) {
  qv::Ignoring([&] { cli.shown.minQualPercent = qv::FormatFixed1(cli.s.opt.MinQual * 100.0f, cli.s.locale); });
  if (cli.s.opt.Hsens >= 0 && cli.s.opt.Hsens <= 20) cli.shown.levelSlider = cli.s.opt.Hsens;
}

// Under a decimal comma the settings' rules leave at 0 what the program
// itself writes with a point (the minimum quality's default ".75", the
// circle's fields): a night would then be stacked with no minimum quality,
// its dark and flat files too. The tool says so, and how to give them.
void TellUnread(const qv::KeyTexts& unread, const qv::NumLocale& loc) {
  if (unread.empty() || loc.decimal == '.') return;
  std::string list;
  for (const auto& [key, text] : unread) list += (list.empty() ? "" : ", ") + key + "=" + qv::Trim(text);
  Complain("réglages illisibles avec la virgule décimale de ce système, mis à 0 : " + list +
           " ; donnez-les avec --set, point décimal (--set MinQual=0.75)");
}

}  // namespace

void CliSession::LoadStartUpSettings() {
  qv::OptionPlace place = Place();
  qv::KeyTexts unread;
  place.unread = &unread;
  qv::ReadOptions(*store, qv::ReadPhase::First, place, s.locale, qv::ProgramFolder());
  qv::ReadOptions(*store, qv::ReadPhase::AfterMasters, place, s.locale);
  ShowSettings(*this);
  TellUnread(unread, s.locale);
}

void CliSession::StartUp() {
  shown.autoLevels = 1;
  qv::OptionPlace place = Place();
  qv::KeyTexts unread;
  place.unread = &unread;
  qv::StartUpSettings(s, *store, place, qv::ProgramFolder());
  ShowSettings(*this);
  TellUnread(unread, s.locale);
}

qv::ProjectLoad CliSession::OpenProject(const std::string& path, ToolList& list, bool thumbnails) {
  const qv::ProjectRead read = qv::ReadProjectFile(path, s.opt.UseMask);
  // The list is emptied as "&Nouveau" empties it.
  qv::Ignoring([&] { s.ResizeImageArrays(0); });
  s.CurPic = 1;
  const qv::ProjectLoad load = qv::ApplyProject(s, read, shown);
  if (load.outcome == qv::ProjectLoad::Completed) {
    project = path;
    if (thumbnails)
      qv::FillList(s, 1, false, list);
    else
      qv::FillListWithoutThumbnails(s, 1, false, list);
    s.Img[0].ImgFile.clear();
  }
  return load;
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (const std::string& item : items) {
    if (json.size() > 1) json += ',';
    json += JsonString(item);
  }
  return json + "]";
}

std::string SingleJson(float v) {
  return std::isfinite(v) ? qv::LocaleFromSingle(v, qv::NumLocale::Dot()) : std::string("null");
}

void ToolList::Reached(int i) { strip = std::max(strip, i); }

qv::Outcome ToolList::Select(qv::Session& session, int i) {
  if (i < 1 || i > strip) return qv::Outcome::Success();
  const qv::Outcome processed = qv::ProcessAndTrack(session, i, true, *this);
  selected = i;
  selectedWhole = processed.ok;
  return processed;
}

void ToolList::Tracked(int) { status = qv::StatusText(s); }

namespace {

// What a number must fit in memory, for the message of one that does not.
std::string TypeRange(qv::OptionType type) {
  switch (type) {
    case qv::OptionType::Int16:
      return " (entier de -32768 à 32767)";
    case qv::OptionType::Int32:
    case qv::OptionType::Bits32:
      return " (entier de -2147483648 à 2147483647)";
    case qv::OptionType::Single:
      return " (nombre de -3.4e38 à 3.4e38)";
    default:
      return "";
  }
}

}  // namespace

int ParseSetOption(const Args& args, size_t& i, std::vector<std::pair<std::string, std::string>>& sets) {
  if (args[i] != "--set") return 0;
  if (i + 1 >= args.size()) {
    Complain("valeur manquante après --set");
    return -1;
  }
  const std::string& kv = args[++i];
  const size_t eq = kv.find('=');
  if (eq == std::string::npos) {
    Complain("--set attend CLE=VALEUR : " + kv);
    return -1;
  }
  sets.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
  return 1;
}

int ApplyOverrides(qv::OptionPlace place, std::vector<std::pair<std::string, std::string>>& sets) {
  for (auto& [k, v] : sets) {
    const qv::OptionRow* row = qv::FindOption(k);
    if (!row) {
      Complain("réglage inconnu : " + k + " (la liste des clés est dans quelvista-cli --help)");
      return 2;
    }
    double number = 0;
    if (row->type != qv::OptionType::Text) {
      if (row->type == qv::OptionType::Bits32 && v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        char* end = nullptr;
        const unsigned long long bits = std::strtoull(v.c_str() + 2, &end, 16);
        if (end != v.c_str() + v.size() || bits > 0x7fffffffULL) {
          Complain("valeur invalide pour " + k + " : " + v + " (nombre décimal ou hexadécimal 0x...)");
          return 2;
        }
        v = std::to_string(bits);
      }
      if (!qv::DotNumber(v, number)) {
        Complain("valeur invalide pour " + k + " : " + v + " (un nombre, avec \".\" comme séparateur décimal)");
        return 2;
      }
    }
    if (qv::TakeOptionText(place, k, v, qv::NumLocale::Dot()) != qv::SettingResult::Applied) {
      Complain("valeur invalide pour " + k + " : " + v + TypeRange(row->type));
      return 2;
    }
    // The minimum quality is a fraction, held to 0..1 as the main window's
    // box holds the percentage typed in it.
    if (row->id == qv::OptionKey::MinQual)
      place.opt.MinQual = place.opt.MinQual >= 0 ? std::min(place.opt.MinQual, 1.0f) : 0.0f;
    // A value the load limits (or a single cannot hold) is named as used.
    if (row->setWarning == qv::SetWarning::None) continue;
    const bool millionth = row->setWarning == qv::SetWarning::Millionth;
    const double used = qv::NumberOf(*row, place);
    if (std::fabs(used - number) > (millionth ? 1e-6 : 0.5))
      Complain("attention : " + k + "=" + v + " hors des limites, valeur utilisée : " +
               qv::LocaleFromDouble(millionth ? qv::RoundHalfEven(used * 1e6) / 1e6 : used, qv::NumLocale::Dot()));
  }
  return 0;
}

bool ExpandImageArguments(const std::vector<std::string>& given, std::vector<std::string>& files) {
  namespace fs = std::filesystem;
  for (const std::string& g : given) {
    std::error_code ec;
    if (fs::is_directory(g, ec)) {
      const std::vector<std::string> inside = qv::ImagesInFolder(g);
      if (inside.empty()) {
        Complain("aucune image (FITS, TIFF, BMP, JPEG) dans le dossier : " + g);
        return false;
      }
      files.insert(files.end(), inside.begin(), inside.end());
    } else if (!qv::FileExists(g)) {
      Complain(MissingFile(g));
      return false;
    } else {
      files.push_back(g);
    }
  }
  return true;
}

bool OutputKindAccepted(const std::string& out, bool forceFits) {
  const std::string kind = qv::FileKind(out);
  if (forceFits || kind == "fts" || kind == "fit" || kind == "tif" || kind == "jpg" || kind == "bmp") return true;
  Complain("format de sortie non pris en charge : " + out +
           " ; formats écrits : .fts .fit .fits (FITS 16 bits), .tif .tiff (TIFF 16 bits), .jpg (JPEG), .bmp (BMP) ;"
           " --force-fits écrit ce nom en FITS");
  return false;
}

bool CheckOutputFolder(const std::string& out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(out, ec)) {
    Complain("--out désigne un dossier, un nom de fichier est attendu : " + out);
    return false;
  }
  const fs::path parent = fs::path(out).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  if (!fs::is_directory(folder, ec)) {
    Complain("le dossier de sortie n'existe pas : " + folder);
    return false;
  }
  if (::access(folder.c_str(), W_OK) != 0) {
    Complain("le dossier de sortie n'est pas accessible en écriture : " + folder);
    return false;
  }
  return true;
}

std::string MissingWhy(const std::string& file) {
  std::error_code ec;
  return std::filesystem::is_directory(file, ec) ? "c'est un dossier, un fichier est attendu" : "fichier introuvable";
}

std::string MissingFile(const std::string& file) { return MissingWhy(file) + " : " + file; }

bool OutputIsNoInput(const std::string& out, const std::vector<std::string>& inputs, const char* option) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(out, ec)) return true;
  for (const std::string& input : inputs)
    if (!input.empty() && fs::equivalent(out, input, ec)) {
      Complain(std::string(option) + " désigne un fichier d'entrée, qui serait écrasé : " + out +
               " ; choisissez un autre nom");
      return false;
    }
  return true;
}

namespace {

// The width and height of an image's header; false with the reason when
// the file cannot be read.
bool ImageSize(const std::string& file, int& width, int& height, std::string& why) {
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = file;
  const qv::HeaderResult r = qv::ReadHeader(s, 1);
  width = s.Img[1].ImgNaxis1;
  height = s.Img[1].ImgNaxis2;
  if (r == qv::HeaderResult::Missing)
    why = MissingWhy(file);
  else if (r == qv::HeaderResult::NotRegularFile)
    why = qv::kNotRegularFile;
  else if (s.Img[1].ImgBitpix == 0 || width < 1 || height < 1)
    why = "fichier illisible";
  else
    return true;
  return false;
}

}  // namespace

int ParseCalibrationOption(const Args& args, size_t& i, Calibration& c) {
  const std::string& a = args[i];
  std::string* into = a == "--dark" ? &c.dark : a == "--flat" ? &c.flat : a == "--mask" ? &c.mask : nullptr;
  if (!into) return 0;
  if (i + 1 >= args.size()) {
    Complain("valeur manquante après " + a);
    return -1;
  }
  *into = args[++i];
  return 1;
}

void ApplyCalibration(qv::Session& s, const Calibration& c) {
  if (!c.dark.empty()) s.opt.DarkFile = c.dark, s.opt.UseMask |= qv::DarkSub;
  if (!c.flat.empty()) s.opt.FlatFile = c.flat, s.opt.UseMask |= qv::FlatApply;
  if (!c.mask.empty()) s.opt.MaskFile = c.mask, s.opt.UseMask |= qv::HotMaskOn;
}

bool CheckCalibration(const Calibration& c, const std::string& firstLight) {
  if (!c.Any()) return true;
  int width = 0, height = 0;
  std::string why;
  if (!ImageSize(firstLight, width, height, why)) {
    Complain(why + " : " + firstLight);
    return false;
  }
  const std::pair<const char*, const std::string*> named[] = {
      {"dark", &c.dark}, {"flat", &c.flat}, {"masque", &c.mask}};
  for (const auto& [what, file] : named) {
    if (file->empty()) continue;
    int w = 0, h = 0;
    if (!ImageSize(*file, w, h, why)) {
      Complain(std::string("fichier ") + what + " inutilisable (" + why + ") : " + *file);
      return false;
    }
    if (w != width || h != height) {
      Complain(std::string("fichier ") + what + " de " + std::to_string(w) + " x " + std::to_string(h) +
               " pixels, les images font " + std::to_string(width) + " x " + std::to_string(height) + " : " + *file);
      return false;
    }
  }
  return true;
}

namespace {

void PrintJson(const JsonObject& o) {
  std::fputs((o.Text() + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string HeaderMessage(qv::HeaderResult r, const std::string& file) {
  switch (r) {
    case qv::HeaderResult::Missing:
      return MissingFile(file);
    case qv::HeaderResult::Truncated:
      return "en-tête FITS tronqué : " + file;
    case qv::HeaderResult::Empty:
      return "fichier vide : " + file;
    case qv::HeaderResult::NoEndCard:
      return "en-tête sans carte END : " + file;
    case qv::HeaderResult::NotRegularFile:
      return std::string(qv::kNotRegularFile) + " : " + file;
    default:
      return qv::UnreadableHeaderWords(file) + " : " + file;
  }
}

// A session whose list holds the one file.
void OneImageList(qv::Session& s, const std::string& file) {
  s.ResizeImageArrays(1);
  s.Img[1] = qv::ImageEntry{};
  s.Img[1].ImgFile = file;
  s.Img[1].ImgChecked = 1;
  s.CurPic = 1;
}

bool NeedValue(const Args& a, size_t i) {
  if (i + 1 < a.size()) return true;
  Complain("valeur manquante après " + a[i]);
  return false;
}

}  // namespace

int CmdHeader(const Args& args) {
  if (args.size() != 1) {
    Complain("usage : quelvista-cli header FICHIER");
    return 2;
  }
  qv::HeadlessPlatform services;
  qv::Session s(services.Get());
  OneImageList(s, args[0]);
  const qv::HeaderResult r = qv::ReadHeader(s, 1);
  const qv::ImageEntry& e = s.Img[1];
  JsonObject o;
  o.Add("ImgNaxis", int{e.ImgNaxis})
      .Add("ImgNaxis1", int{e.ImgNaxis1})
      .Add("ImgNaxis2", int{e.ImgNaxis2})
      .Add("ImgNaxis3", int{e.ImgNaxis3})
      .Add("ImgBzero", int64_t{e.ImgBzero})
      .Add("ImgFlags", int{e.ImgFlags})
      .Add("ImgBitpix", int{e.ImgBitpix})
      .Add("ImgDataPos", int64_t{e.ImgDataPos});
  PrintJson(o);
  if (e.ImgBitpix == 0) {
    // A picture the loader refused says why in the loader's words.
    const bool picture = r == qv::HeaderResult::Unreadable && !services.loader.failure.empty();
    Complain(picture ? qv::PictureFailureText(s.platform.loader, args[0])
                     : HeaderMessage(r == qv::HeaderResult::Ok ? qv::HeaderResult::Unreadable : r, args[0]));
    return 1;
  }
  if (r != qv::HeaderResult::Ok) Complain("attention : " + HeaderMessage(r, args[0]));
  return 0;
}

int CmdProcess(const Args& args) {
  std::string file, settingsFile, zone, out, planes;
  bool haveZone = false, forceFits = false;
  int step = 1;
  std::vector<std::pair<std::string, std::string>> sets;
  Calibration calibration;
  for (size_t i = 0; i < args.size(); ++i) {
    const int calibrationOption = ParseCalibrationOption(args, i, calibration);
    if (calibrationOption < 0) return 2;
    if (calibrationOption > 0) continue;
    const int setOption = ParseSetOption(args, i, sets);
    if (setOption < 0) return 2;
    if (setOption > 0) continue;
    const std::string& a = args[i];
    if (a == "--step") {
      if (!NeedValue(args, i)) return 2;
      double given = 0;
      if (!qv::WholeDotNumber(args[++i], 0, 32767, given)) {
        Complain("pas invalide : " + args[i] + " (entier de 0 à 32767)");
        return 2;
      }
      step = static_cast<int>(given);
    } else if (a == "--settings") {
      if (!NeedValue(args, i)) return 2;
      settingsFile = args[++i];
    } else if (a == "--zone") {
      if (!NeedValue(args, i)) return 2;
      zone = args[++i];
      haveZone = true;
    } else if (a == "--out") {
      if (!NeedValue(args, i)) return 2;
      out = args[++i];
    } else if (a == "--force-fits") {
      forceFits = true;
    } else if (a == "--planes") {
      if (!NeedValue(args, i)) return 2;
      planes = args[++i];
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      Complain("option inconnue : " + a);
      return 2;
    } else if (file.empty()) {
      file = a;
    } else {
      Complain("un seul fichier attendu : " + a);
      return 2;
    }
  }
  if (file.empty()) {
    Complain("usage : quelvista-cli process FICHIER [options]");
    return 2;
  }
  // This command writes the processed planes, never a picture: a name
  // ending in "jpg" or "bmp" would silently hold FITS.
  if (!out.empty() && !forceFits) {
    const std::string kind = qv::FileKind(out);
    if (kind != "fts" && kind != "fit" && kind != "tif") {
      Complain("format de sortie non pris en charge par process : " + out +
               " ; formats écrits : .fts .fit .fits (FITS 16 bits), .tif .tiff (TIFF 16 bits) ;"
               " --force-fits écrit ce nom en FITS");
      return 2;
    }
  }

  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;
  cli.LoadStartUpSettings();
  qv::Session& s = cli.s;
  if (const int status = ApplyOverrides(cli.Place(), sets)) return status;
  ApplyCalibration(s, calibration);
  if (!CheckCalibration(calibration, file)) return 1;
  if ((!out.empty() && !CheckOutputFolder(out)) || (!planes.empty() && !CheckOutputFolder(planes))) return 1;
  // Built after the overrides, so that master files and their option bits
  // given with --set take effect.
  qv::BuildMasters(s);
  OneImageList(s, file);
  if (haveZone) s.Img[1].ImgZone = zone;

  const qv::Outcome processed = qv::ProcessPic(s, 1, step);
  const bool ok = processed.ok;
  JsonObject o;
  o.Add("ok", ok)
      .Add("width", s.pic.PicR.Width())
      .Add("height", s.pic.PicR.Height())
      .Add("HasR", s.pic.HasR)
      .Add("HasG", s.pic.HasG)
      .Add("HasB", s.pic.HasB)
      .Add("HistoMax", int64_t{s.pic.HistoMax})
      .Add("LevelMin", s.pic.LevelMin)
      .Add("LevelMax", s.pic.LevelMax)
      .Add("LevelLow", s.pic.LevelLow)
      .Add("LevelHigh", s.pic.LevelHigh)
      .Add("UseHotMask", s.cal.UseHotMask)
      .Add("UseDark", s.cal.UseDark)
      .Add("UseFlat", s.cal.UseFlat);
  PrintJson(o);
  if (!ok) {
    Complain("traitement impossible : " + qv::OutcomeWords(processed, file, qv::FileTask::Process));
    return 1;
  }
  int status = 0;
  if (!out.empty()) {
    bool fromDestination = false;
    // As in the save commands, the name's extension picks the writer.
    const int err = (qv::FileKind(out) == "tif" ? qv::WriteTiffFile(s, out, fromDestination)
                                                : qv::WriteFitsFile(s, out, fromDestination))
                        .err;
    if (err != 0) {
      Complain(qv::ErrorWords(err, out, qv::FileTask::Write));
      status = 1;
    }
  }
  if (!planes.empty()) {
    std::vector<uint8_t> bytes;
    bytes.reserve(s.pic.PicR.Size() * 12);
    for (const qv::Plane<int32_t>* p : {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB})
      for (size_t i = 0; i < p->Size(); ++i) {
        const uint32_t v = static_cast<uint32_t>(p->Data()[i]);
        for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(v >> (8 * k)));
      }
    if (const qv::Outcome written = qv::WriteFileReplacing(planes, {&bytes}); !written) {
      Complain(qv::OutcomeWords(written, planes, qv::FileTask::Write));
      status = 1;
    }
  }
  return status;
}

}  // namespace qvcli
