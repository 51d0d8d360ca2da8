#include "cli/commands.h"

#include <cstdio>
#include <fstream>
#include <map>

#include "io/json.h"
#include "core/paths.h"
#include "core/session.h"
#include "io/fits_reader.h"
#include "io/file.h"
#include "io/fits_writer.h"
#include "io/picture.h"
#include "io/tiff_writer.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "process/process_pic.h"
#include "stack/masters.h"
#include "workspace/settings.h"

namespace qvcli {

void Complain(const std::string& message) { std::fprintf(stderr, "quelvista-cli : %s\n", message.c_str()); }

bool CliSession::Open(const std::string& settingsFile) {
  s.locale = qv::NumLocale::FromEnvironment();
  s.opt = qv::Options::Fresh();
  std::string why;
  store = qv::OpenSettingsStore(settingsFile, true, why);
  if (!store) Complain(why);
  else if (!why.empty()) Complain("attention : " + why);
  return store != nullptr;
}

void CliSession::LoadStartUpSettings() {
  qv::LoadSettings(form1, *store, qv::ProgramFolder());
  qv::LoadHsens(form1, *store);
}

int ApplyOverrides(qv::Form1& f, const std::vector<std::pair<std::string, std::string>>& sets) {
  for (const auto& [k, v] : sets) {
    const qv::SettingResult r = qv::ApplySettingText(f, k, v, qv::NumLocale::Dot());
    if (r == qv::SettingResult::UnknownKey) {
      Complain("réglage inconnu : " + k);
      return 2;
    }
    if (r == qv::SettingResult::BadValue) {
      Complain("valeur invalide pour " + k + " : " + v);
      return 2;
    }
  }
  return 0;
}

namespace {

void PrintJson(const JsonObject& o) {
  std::fputs((o.Text() + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string HeaderMessage(qv::HeaderResult r, const std::string& file) {
  switch (r) {
    case qv::HeaderResult::Missing: return "fichier introuvable : " + file;
    case qv::HeaderResult::Truncated: return "en-tête FITS tronqué : " + file;
    case qv::HeaderResult::Empty: return "fichier vide : " + file;
    case qv::HeaderResult::NoEndCard: return "en-tête sans carte END : " + file;
    default: return "en-tête illisible ou valeur hors limites : " + file;
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
    Complain(picture ? qv::PictureFailureText(s, args[0])
                     : HeaderMessage(r == qv::HeaderResult::Ok ? qv::HeaderResult::Unreadable : r, args[0]));
    return 1;
  }
  if (r != qv::HeaderResult::Ok) Complain("attention : " + HeaderMessage(r, args[0]));
  return 0;
}

int CmdProcess(const Args& args) {
  std::string file, settingsFile, zone, out, planes;
  bool haveZone = false;
  int step = 1;
  std::vector<std::pair<std::string, std::string>> sets;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--step") {
      if (!NeedValue(args, i)) return 2;
      step = static_cast<int>(qv::Val(args[++i]));
      if (step < 0 || step > 32767) {
        Complain("pas invalide : " + args[i]);
        return 2;
      }
    } else if (a == "--set") {
      if (!NeedValue(args, i)) return 2;
      const std::string kv = args[++i];
      const size_t eq = kv.find('=');
      if (eq == std::string::npos) {
        Complain("--set attend CLE=VALEUR : " + kv);
        return 2;
      }
      sets.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
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

  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;
  cli.LoadStartUpSettings();
  qv::Session& s = cli.s;
  if (const int status = ApplyOverrides(cli.form1, sets)) return status;
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
    Complain("traitement impossible : " + processed.Text());
    return 1;
  }
  int status = 0;
  if (!out.empty()) {
    bool fromDestination = false;
    // As in the save commands, the name's extension picks the writer.
    const int err = qv::FileKind(out) == "tif" ? qv::WriteTiffFile(s, out, fromDestination)
                                               : qv::WriteFitsFile(s, out, fromDestination);
    if (err != 0) {
      Complain("écriture impossible (erreur " + std::to_string(err) + ") : " + out);
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
    if (qv::WriteFileReplacing(planes, {&bytes}) != 0) {
      Complain("écriture impossible : " + planes);
      status = 1;
    }
  }
  return status;
}

}  // namespace qvcli
