// quelvista-cli settings: the settings as the program would use them.
#include <cstdio>

#include "cli/commands.h"
#include "io/json.h"
#include "workspace/option_table.h"

namespace qvcli {

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
  // Read only when the program is given no file to open, as here.
  qv::OptionPlace place = cli.Place();
  qv::ReadOptions(*cli.store, qv::ReadPhase::WithoutArgument, place, cli.s.locale);
  JsonObject j;
  for (const qv::OptionRow& row : qv::OptionTable()) {
    if (row.type == qv::OptionType::Text)
      j.Add(row.key, qv::TextOf(row, place));
    else if (row.type == qv::OptionType::Single)
      j.AddRaw(row.key, SingleJson(static_cast<float>(qv::NumberOf(row, place))));
    else
      j.Add(row.key, static_cast<int64_t>(qv::NumberOf(row, place)));
  }
  std::fputs((j.Text() + "\n").c_str(), stdout);
  return 0;
}

}  // namespace qvcli
