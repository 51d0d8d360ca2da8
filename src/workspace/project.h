// The project file: the processing settings and every image entry of the
// list, as tab-separated text, so that a registration prepared once can be
// reloaded and stacked again.
//
// Layout: line 1 the tag, lines 2..16 the settings, then one line per entry
// with its 22 columns, each followed by a tab. Lines end with CR LF; the
// text is in Windows-1252, the single-byte code page the files have always
// been written in.
//
// Text in the code page. Paths and names are UTF-8 in memory. When a
// project is written, a character that has no Windows-1252 form (or a byte
// that is not valid UTF-8) is written as "?", the way the platform's own
// conversion to the code page does; such a path then matches no file when
// the project is read back (a "?" is a one-character wildcard of the file
// search, so it may also match a similar name), and its line is dropped like
// that of any missing image. Reading never fails on a byte: the five bytes
// that the code page leaves undefined read as the control characters
// U+0081, U+008D, U+008F, U+0090 and U+009D and are written back as the same
// bytes.
//
// Reading. A line ends at CR LF, at a lone CR or at a lone LF (files edited
// with other tools load too). A line longer than kMaxProjectLine bytes is not
// read into memory: it is a run-time error that ends the load like any
// other. A list holds at most 32767 entries (its indices are 16-bit); one
// more is an overflow error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/session.h"
#include "workspace/form1.h"

namespace qv {

// Longest line a project file may hold, in bytes: room for an image line
// with tens of thousands of zone points.
inline constexpr size_t kMaxProjectLine = size_t{1} << 20;

// Largest number of list entries.
inline constexpr int kMaxListEntries = 32767;

inline constexpr const char* kProjectTag = "Quelvista";
// The tag of files written by earlier versions.
inline constexpr const char* kProjectTagEarlier = "Marrowfeld";

struct ProjectLoad {
  enum Outcome {
    Completed,  // the image lines were read and the strip was built
    NoFile,     // no file matches the path
    NoImages,   // the first image line names no file that exists: no entry loaded
    Failed,     // a run-time error ended the load
  };
  Outcome outcome = NoFile;
  int error = 0;  // number of the run-time error (Failed)
  int line = 0;   // 1-based line of the file that was read last
};

struct ProjectSave {
  enum Outcome {
    Saved,
    EmptyList,  // nothing to save: no file is created
    Failed,     // the file could not be written; an existing file is left as it was
  };
  Outcome outcome = EmptyList;
  int error = 0;
};

// Writes the project file of the current list and settings; on success the
// main window's current project becomes `path`. The file is written whole
// beside the target and then takes its name, so a failure never leaves a
// damaged project behind.
ProjectSave SaveProject(Form1& f, const std::string& path);

// Replaces the list and the settings of lines 2..16 by those of the file.
// Tagged files also set the master files and rebuild the masters before
// the image lines are read. Paths that no longer exist are retried in the
// project's own folder. A run-time error ends the load where it happens:
// the settings and masters already read stay, the entries already read
// stay, the strip is not rebuilt and the current project is unchanged.
ProjectLoad LoadProject(Form1& f, const std::string& path);
// The same over the file's bytes in memory; `path` stands for the file's
// name (the folder where moved images are looked for, the current project).
ProjectLoad LoadProjectBytes(Form1& f, std::span<const uint8_t> bytes, const std::string& path);

// The text of one image line, without its line end (UTF-8).
std::string ImageLine(const ImageEntry& e);

// Conversions between the UTF-8 of memory and the file's code page.
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view bytes);

// What the program passes to the platform's file dialogs.
struct FileDialogRequest {
  std::string title;
  std::string filterDescription;
  std::string pattern;
  std::string initialFile;  // save dialog: the name proposed
  std::string startFolder;  // open dialog: where it starts
  std::string defaultExt;
  // Further (description, pattern) entries offered after the first.
  std::vector<std::pair<std::string, std::string>> moreFilters;
};

// What a save dialog answers: the name confirmed (empty when the user
// cancels) and the filter selected when it was confirmed, 0 for the
// request's first (-1 when the dialog does not say).
struct SaveAnswer {
  std::string file;
  int filter = -1;
};

// The extension a filter entry stands for: "fts" for "*.fts"; empty for a
// pattern that names no single extension ("*.*", "*.fts;*.fit").
std::string FilterExtension(const std::string& pattern);

// The name to write: the confirmed name as it is when it has an extension,
// otherwise followed by the selected filter's extension, or by the
// request's default extension in lower case when the dialog named no
// filter that has one. Empty when the user cancelled.
std::string SavedName(const FileDialogRequest& request, const SaveAnswer& answer);

// The platform's open-file and save-file dialogs, owned by the main window.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // The chosen file, or empty text when the user cancels.
  virtual std::string OpenFile(const FileDialogRequest& request) = 0;
  virtual SaveAnswer SaveFile(const FileDialogRequest& request) = 0;
};

// "Enregistrer le projet": save dialog, then SaveProject with the chosen name.
void mnuSavePrj_Click(Form1& f, FileDialogs& dialogs);
// "Ouvrir un projet": open dialog, then LoadProject with the chosen name;
// the subset boxes are cleared in every case.
void mnuLoadPrj_Click(Form1& f, FileDialogs& dialogs);

}  // namespace qv
