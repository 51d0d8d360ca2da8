// The settings of the program in the per-user store: what the main window
// reads when it loads and what it writes when the program quits, each
// option as its row of the option table says.
#pragma once

#include <functional>
#include <string>

#include "core/session.h"
#include "platform/settings_store.h"
#include "workspace/form1.h"
#include "workspace/option_table.h"

namespace qv {

// The options of the main window: the session's, with its box "Etendre la
// mosaïque" (Check6) as the mosaic expansion and its current project.
OptionPlace PlaceOf(Form1& f);

// Reads MinQual .. Expand in order, each with its default, conversion and
// range check, and shows MinQual on the main window (Text3, whose change
// handler runs as for an edit) and Expand on Check6. A value that cannot be
// read or converted leaves what the session held. `programFolder` is the
// default output folder.
void LoadSettings(Form1& f, SettingsStore& store, const std::string& programFolder);
// Reads Hsens and sets the main window's slider from it (the slider's
// change handler runs; a value outside its range leaves the slider).
void LoadHsens(Form1& f, SettingsStore& store);
// Reads Project into the main window's current-project field.
void LoadProjectSetting(Form1& f, SettingsStore& store);

// The status line's note on settings that start-up could not read (key and
// text each), which were left at 0.
std::string UnreadSettingsNote(const KeyTexts& unread, const NumLocale& loc);

// The status line's note on the values OK of the Options dialog could not
// take (store key, text typed), whose settings were kept.
std::string RefusedValuesNote(const KeyTexts& refused, const NumLocale& loc);

// The parts of the start-up that belong to other windows' logic.
struct StartUpHooks {
  // Clicks the zoom menu item (0..3) matching the stored PicZoom.
  std::function<void(int item)> zoomClick;
  // Opens the command-line argument: a project or one image.
  std::function<void(const std::string& argument)> openArgument;
};

// The main window's load sequence: busy flag, "Auto" checked with the
// levels 0 and 65535, empty image tables, guide position, every setting, the calibration masters, Hsens, zoom, then the
// command line or the stored project.
void Form1_Load(Form1& f, SettingsStore& store, const std::string& commandLine, const std::string& programFolder,
                const StartUpHooks& hooks = {});

// Writes the settings that the main window owns, when the program quits:
// MinQual, Hsens, Project, Expand, then ColorText i and ColorFilter i.
void SaveSettingsAtQuit(Form1& f, SettingsStore& store);

}  // namespace qv
