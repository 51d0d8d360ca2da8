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
int CmdTiffAll(const Args& args);
int CmdFitsHeader(const Args& args);

// True for a project file name (extension "txt").
bool FileKindIsProject(const std::string& path);

// A one-line message on stderr, prefixed with the program name.
void Complain(const std::string& message);

// The session of a command: headless services, the user's number
// conventions, and the settings store, the user's or the INI file given with
// --settings, opened read-only (no command changes the settings).
struct CliSession {
  qv::HeadlessPlatform services;
  qv::Session s{services.Get()};
  std::unique_ptr<qv::SettingsStore> store;
  // Opens the store; false, after a message, when it cannot be read. The
  // session then holds nothing yet, as the program does before its start-up,
  // so a key that cannot be read keeps 0.
  bool Open(const std::string& settingsFile);
  // The settings part of the start-up: every key, then Hsens.
  void LoadStartUpSettings();
};

// --set overrides ("." as decimal point). Returns 0, or the exit status
// after a message about an unknown key or a bad value.
int ApplyOverrides(qv::Session& s, const std::vector<std::pair<std::string, std::string>>& sets);

}  // namespace qvcli
