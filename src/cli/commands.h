// The sub-commands of quelvista-cli. Each returns the exit status.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/session.h"
#include "io/json.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"

namespace qvcli {

using Args = std::vector<std::string>;
using qv::JsonObject;
using qv::JsonString;

int CmdHeader(const Args& args);
int CmdProcess(const Args& args);
int CmdSimulate(const Args& args);
int CmdProject(const Args& args);
int CmdSettings(const Args& args);
int CmdStack(const Args& args);
int CmdRender(const Args& args);
int CmdTiffAll(const Args& args);
int CmdFitsHeader(const Args& args);

// One editor setting of `render` and `stack`, applied in the order given.
struct EditorStep {
  std::string option, value;
};
// An editor option at args[i] (i then moves past its value): 1 when taken
// into `steps`, 0 when args[i] is not an editor option, -1 after a message
// about a missing or bad value.
int ParseEditorOption(const Args& args, size_t& i, std::vector<EditorStep>& steps);
// True for a picture export (JPEG or BMP) by the output's extension.
bool IsPictureOutput(const std::string& path);
// Opens the editor on the destination, applies the steps, renders, and
// writes `out` by its extension: the rendered picture for JPEG and BMP,
// the destination for FITS and TIFF. Returns the exit status.
int RenderAndWrite(qv::Session& s, const std::vector<EditorStep>& steps, const std::string& out);

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
  // The main window's model, without a window: the commands go through
  // its handlers as the program's windows do.
  qv::Form1 form1{s};
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
int ApplyOverrides(qv::Form1& f, const std::vector<std::pair<std::string, std::string>>& sets);

}  // namespace qvcli
