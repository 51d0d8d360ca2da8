#include "workspace/options.h"

#include <fstream>

#include "core/paths.h"

namespace qv {

namespace {

int32_t ClampedThreshold(const std::string& v, const NumLocale& loc) {
  return CLng(MaxOf(50, MinOf(10000, LocaleToDouble(v, loc))));
}

}  // namespace

SettingResult ApplySetting(Options& opt, const std::string& key, const std::string& value, const NumLocale& loc) {
  try {
    if (key == "UseMask") opt.UseMask = CLng(Val(value));
    else if (key == "CalcThr") opt.CalcThr = ClampedThreshold(value, loc);
    else if (key == "MaskThr") opt.MaskThr = ClampedThreshold(value, loc);
    else if (key == "CalcSize") opt.CalcSize = CInt(LocaleToDouble(value, loc));
    else if (key == "MaskSize") opt.MaskSize = CInt(LocaleToDouble(value, loc));
    else if (key == "GradRatio") opt.GradRatio = CInt(LocaleToDouble(value, loc));
    else if (key == "MaskFile") opt.MaskFile = value;
    else if (key == "DarkFile") opt.DarkFile = value;
    else if (key == "FlatFile") opt.FlatFile = value;
    else if (key.size() == 10 && key.rfind("ColorText", 0) == 0 && key[9] >= '1' && key[9] <= '3')
      opt.ColorText[static_cast<size_t>(key[9] - '1')] = value;
    else if (key.size() == 12 && key.rfind("ColorFilter", 0) == 0 && key[11] >= '1' && key[11] <= '3')
      opt.ColorChk[static_cast<size_t>(key[11] - '1')] = CInt(LocaleToDouble(value, loc));
    else
      return SettingResult::UnknownKey;
    return SettingResult::Applied;
  } catch (const RuntimeError&) {
    return SettingResult::BadValue;
  }
}

bool ReadIniSection(const std::string& path, const std::string& section, std::map<std::string, std::string>& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::string line, current;
  size_t lines = 0;
  while (std::getline(f, line)) {
    // Settings files are small; a file of millions of lines is not one.
    if (++lines > 100000) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      current = t.substr(1, t.size() - 2);
      continue;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos || current != section) continue;
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    out[Trim(t.substr(0, eq))] = value;
  }
  return true;
}

}  // namespace qv
