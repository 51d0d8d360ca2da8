// quelvista-cli settings: the settings as the program would use them.
#include <cmath>
#include <cstdio>

#include "cli/commands.h"
#include "core/session.h"
#include "io/json.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "workspace/settings.h"

namespace qvcli {

namespace {

// A single as its shortest decimal text, which is also a JSON number.
std::string SingleJson(float v) {
  return std::isfinite(v) ? qv::LocaleFromSingle(v, qv::NumLocale::Dot()) : std::string("null");
}

}  // namespace

int CmdSettings(const Args& args) {
  std::string settingsFile;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--settings" && i + 1 < args.size()) {
      settingsFile = args[++i];
    } else {
      Complain("usage : quelvista-cli settings [--settings FICHIER.ini]");
      return 2;
    }
  }
  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;
  cli.LoadStartUpSettings();
  qv::LoadProjectSetting(cli.form1, *cli.store);
  const qv::Session& s = cli.s;

  const qv::Options& o = s.opt;
  JsonObject j;
  j.AddRaw("MinQual", SingleJson(o.MinQual))
      .Add("GradRatio", int{o.GradRatio})
      .Add("InitDir", o.InitDir)
      .Add("OutDir", o.OutDir)
      .Add("UseMask", int64_t{o.UseMask})
      .AddRaw("PixRatio", SingleJson(o.PixRatio))
      .Add("MaskFile", o.MaskFile)
      .Add("DarkFile", o.DarkFile)
      .Add("FlatFile", o.FlatFile)
      .Add("PicZoom", int{o.PicZoom})
      .Add("MaskThr", int64_t{o.MaskThr})
      .Add("CalcThr", int64_t{o.CalcThr})
      .Add("EdgeSize", int{o.EdgeSize})
      .AddRaw("FovX", SingleJson(o.FovX))
      .AddRaw("FovY", SingleJson(o.FovY))
      .AddRaw("FovR", SingleJson(o.FovR))
      .AddRaw("FovF", SingleJson(o.FovF))
      .Add("MaskSize", int{o.MaskSize})
      .Add("CalcSize", int{o.CalcSize})
      .Add("MedianLimit", int64_t{o.MedianLimit});
  for (size_t i = 0; i < 3; ++i) j.Add("ColorText" + std::to_string(i + 1), o.ColorText[i]);
  for (size_t i = 0; i < 3; ++i) j.Add("ColorFilter" + std::to_string(i + 1), int{o.ColorChk[i]});
  j.Add("Expand", int{cli.form1.Check6}).Add("Hsens", int{o.Hsens}).Add("Project", cli.form1.Project);
  std::fputs((j.Text() + "\n").c_str(), stdout);
  return 0;
}

}  // namespace qvcli
