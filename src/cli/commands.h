// The sub-commands of quelvista-cli. Each returns the exit status.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/session.h"
#include "platform/settings_store.h"

namespace qvcli {

using Args = std::vector<std::string>;

int CmdHeader(const Args& args);
int CmdProcess(const Args& args);
int CmdSimulate(const Args& args);
int CmdProject(const Args& args);
int CmdSettings(const Args& args);
int CmdStack(const Args& args);

// True for a project file name (extension "txt").
bool FileKindIsProject(const std::string& path);

// A one-line message on stderr, prefixed with the program name.
void Complain(const std::string& message);

// The settings store of a command: the user's store, or the INI file given
// with --settings; opened read-only. Null, after a message, when it cannot
// be read.
std::unique_ptr<qv::SettingsStore> OpenStore(const std::string& settingsFile);

// --set overrides ("." as decimal point). Returns 0, or the exit status
// after a message about an unknown key or a bad value.
int ApplyOverrides(qv::Session& s, const std::vector<std::pair<std::string, std::string>>& sets);

}  // namespace qvcli
