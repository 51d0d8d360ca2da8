// Setting values by their key, converted and checked the way they are when
// the settings are loaded.
#pragma once

#include <map>
#include <string>

#include "core/numeric.h"
#include "core/session.h"

namespace qv {

enum class SettingResult { Applied, UnknownKey, BadValue };

// Applies one stored value (text) to the options. Numbers follow `loc`
// except where the key is read with the leading-number parse. A value that
// does not convert leaves the option as it was.
SettingResult ApplySetting(Options& opt, const std::string& key, const std::string& value, const NumLocale& loc);

// The keys of one section of an INI file, in file order of last occurrence.
// Returns false when the file cannot be read.
bool ReadIniSection(const std::string& path, const std::string& section, std::map<std::string, std::string>& out);

}  // namespace qv
