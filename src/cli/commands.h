// The sub-commands of quelvista-cli. Each returns the exit status.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/session.h"
#include "io/json.h"
#include "platform/settings_store.h"
#include "stack/frames.h"
#include "workspace/option_table.h"
#include "workspace/project_file.h"

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
int CmdMaster(const Args& args);

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
// Applies the steps to the editor's opening settings and to the
// destination, renders it, and writes `out` by its extension: the rendered
// picture for JPEG and BMP, the destination for FITS and TIFF; `width` and
// `height` get the size of what was written. Returns the exit status.
int RenderAndWrite(qv::Session& s, const std::vector<EditorStep>& steps, const std::string& out, int& width,
                   int& height);

// The output's extension names a format the tool writes: .fts/.fit/.fits
// (FITS), .tif/.tiff (TIFF), .jpg, .bmp. Any other is written as FITS only
// with `forceFits`; false after a message listing the formats.
bool OutputKindAccepted(const std::string& out, bool forceFits);

// True for a project file name (extension "txt").
bool FileKindIsProject(const std::string& path);

// A one-line message on stderr, prefixed with the program name.
void Complain(const std::string& message);

// A single as its shortest decimal text, which is also a JSON number.
std::string SingleJson(float v);

// The list as the window's strip holds it: the images its filling reached,
// the only ones a selection shows, and the status text under the picture
// of the last image tracked.
struct ToolList : qv::ListListener {
  explicit ToolList(const qv::Session& session) : s(session) {}
  const qv::Session& s;
  int strip = 0;
  std::string status;
  // The image the last selection processed, and whether it could.
  int selected = 0;
  bool selectedWhole = false;
  void Reached(int i) override;
  qv::Outcome Select(qv::Session& session, int i) override;
  void Tracked(int i) override;
};

// The session of a command: headless services, the user's number
// conventions, and the settings store, the user's or the INI file given with
// --settings, opened read-only (no command changes the settings).
struct CliSession {
  qv::HeadlessPlatform services;
  qv::Session s{services.Get()};
  // What the main window would hold in its controls: the mosaic expansion,
  // the minimum quality's box, "Auto" and the slider of "Niveau". A project
  // sets them with their handlers' effects on the engine.
  qv::EngineControls shown{s};
  // The current project, the store's Project key.
  std::string project;
  std::unique_ptr<qv::SettingsStore> store;
  // Opens the store; false, after a message, when it cannot be read. The
  // session then holds nothing yet, as the program does before its start-up,
  // so a key that cannot be read keeps 0.
  bool Open(const std::string& settingsFile);
  // Where the options live: the session's, and the two the window keeps.
  qv::OptionPlace Place() { return {s.opt, &shown.expand, &project}; }
  // The settings part of the start-up: every key, then Hsens.
  void LoadStartUpSettings();
  // The program's start-up when it is given a file to open: "Auto" checked,
  // the engine's part (settings, masters, Hsens), the settings shown.
  void StartUp();
  // Opens a project as the program's "Ouvrir un projet" does: the list
  // emptied, the project applied and, once its image lines were all read,
  // the list filled and image 1 selected. A command that shows no
  // thumbnails has the headers read instead (`thumbnails` false).
  qv::ProjectLoad OpenProject(const std::string& path, ToolList& list, bool thumbnails = true);
};

// A --set CLE=VALEUR at args[i] (i then moves past its value): 1 when
// taken into `sets`, 0 when args[i] is not --set, -1 after a message about
// a missing or malformed value.
int ParseSetOption(const Args& args, size_t& i, std::vector<std::pair<std::string, std::string>>& sets);
// --set overrides ("." as decimal point). Returns 0, or the exit status
// after a message about an unknown key or a bad value.
// Each value is first checked as the user typed it: a number for a
// numeric key ("." as decimal point; UseMask also in hexadecimal, 0x18000,
// which is rewritten in decimal), a key that exists. A value the program
// will limit gets a warning naming the value used.
int ApplyOverrides(qv::OptionPlace place, std::vector<std::pair<std::string, std::string>>& sets);

// The files of the command line: a folder stands for its images (FITS,
// TIFF, BMP, JPEG) in name order. False after a message about a missing
// path or a folder without images.
bool ExpandImageArguments(const std::vector<std::string>& given, std::vector<std::string>& files);
// The folder an output goes to exists and can be written; false after a
// message otherwise.
bool CheckOutputFolder(const std::string& out);

// Why FILE cannot be opened although named: "fichier introuvable", or that
// it is a folder where a file is expected; MissingFile adds " : FILE".
std::string MissingWhy(const std::string& file);
std::string MissingFile(const std::string& file);

// `out` is none of `inputs` (by the file it names, not by its spelling):
// the result must never be written over a frame or a master it is made
// from. False after a message otherwise.
bool OutputIsNoInput(const std::string& out, const std::vector<std::string>& inputs, const char* option = "--out");

// The calibration files named on the command line (--dark, --flat, --mask).
struct Calibration {
  std::string dark, flat, mask;
  bool Any() const { return !dark.empty() || !flat.empty() || !mask.empty(); }
};
// An option of the calibration at args[i] (i then moves past its value): 1
// when taken, 0 when not one, -1 after a message about a missing value.
int ParseCalibrationOption(const Args& args, size_t& i, Calibration& c);
// Sets each named file and its option bit.
void ApplyCalibration(qv::Session& s, const Calibration& c);
// Every named file can be used on lights of the size of `firstLight`;
// false after a message naming the file and what is wrong.
bool CheckCalibration(const Calibration& c, const std::string& firstLight);

// A JSON array of texts.
std::string JsonList(const std::vector<std::string>& items);

}  // namespace qvcli
