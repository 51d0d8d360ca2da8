// The project file as a value: the processing settings and every image
// entry of the list, read from the file's bytes, applied to the program and
// written back, with no window involved.
//
// Layout: line 1 the tag, lines 2..16 the settings, then one line per entry
// with its 22 columns, each followed by a tab. Lines end with CR LF; the
// text is in Windows-1252, the single-byte code page the files have always
// been written in. A file whose first line is no tag starts with line 11.
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
// read into memory: it is a run-time error that ends the reading like any
// other. A list holds at most 32767 entries (its indices are 16-bit); one
// more is an overflow error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/session.h"
#include "io/file.h"

namespace qv {

// Longest line a project file may hold, in bytes: room for an image line
// with tens of thousands of zone points.
inline constexpr size_t kMaxProjectLine = size_t{1} << 20;

// Largest number of list entries.
inline constexpr int kMaxListEntries = 32767;

inline constexpr const char* kProjectTag = "Quelvista";
// The tag of files written by earlier versions.
inline constexpr const char* kProjectTagEarlier = "Marrowfeld";

// A project. Read from a file, it holds the settings the file gave: an
// untagged file gives none of lines 2..10, an empty line 6 no border or
// field values, a line 16 of fewer than six fields no colours, and a
// reading that stopped at an error nothing past it. A setting it does not
// hold leaves the program's own in force when the project is applied, and
// is written as the program's default.
struct Project {
  // The project's own folder, where files that moved with it are looked
  // for; applying makes it the folder open dialogs start in. Absent when
  // no project file was found, and in a project built by a program.
  std::optional<std::string> folder;
  // The file carries the tag and lines 2..10. Written projects always do.
  bool tagged = true;

  // Lines 2..10: the option bits, the master files (a name that matched no
  // file is already the project's folder with its file name), the mask and
  // hot-pixel settings, the border and circular crop, the pixel ratio and
  // "Etendre la mosaïque".
  std::optional<int32_t> useMask;
  std::optional<std::string> maskFile, darkFile, flatFile;
  std::optional<int32_t> maskThr;
  std::optional<int16_t> maskSize;
  std::optional<int16_t> edgeSize;
  std::optional<float> fovX, fovY, fovR, fovF;
  std::optional<float> pixRatio;
  std::optional<int32_t> calcThr;
  std::optional<int16_t> calcSize;
  std::optional<int16_t> expand;  // 0 or 1

  // Lines 11..16. The minimum quality is kept as text, as the file holds it
  // (a program writes it in the short form, " 75"): the window shows its
  // number in its own box. The guide box is 32, 64 or 128 ("Aucun") once
  // read. "Auto" and the slider are those of the frame "Niveau".
  std::optional<int16_t> gradRatio;
  std::optional<std::string> minQualPercent;
  std::optional<int16_t> guideBox;
  std::optional<int16_t> autoLevels;
  std::optional<int16_t> levelSlider;
  // Per colour channel: the text that names its files and the planes it
  // goes to (1 red, 2 green, 4 blue).
  std::array<std::optional<std::string>, 3> colourNames;
  std::array<std::optional<int16_t>, 3> colourPlanes;

  // Entries 1..n in list order. Absent when the reading stopped before the
  // image lines; an entry whose line met an error holds the columns before
  // the faulty one.
  std::optional<std::vector<ImageEntry>> images;
};

struct ProjectLoad {
  enum Outcome {
    Completed,  // the image lines were read (by the window: and its list was built)
    NoFile,     // no file matches the path
    NoImages,   // the first image line names no file that exists: no entry loaded
    Failed,     // a run-time error ended the load
  };
  Outcome outcome = NoFile;
  int error = 0;  // number of the run-time error (Failed)
  int line = 0;   // 1-based line of the file that was read last
  // The image files the lines named that were found nowhere, in file order;
  // their lines were left out (with NoImages, the first line's file).
  std::vector<std::string> missing;
};

// A project as read: everything up to where the reading stopped, and how
// it stopped.
struct ProjectRead {
  Project project;
  ProjectLoad status;
};

// Whether a file of that name exists: the program's file search.
using FileTest = std::function<bool(const std::string& path)>;

// The platform's file search: an existing file of that exact name, or a
// match of the wildcards of the name part. Wildcards in the folder part
// match nothing (the search looks in one folder), and no name holds a NUL.
bool FindsFile(const std::string& path);

// Reads a project from its bytes. `path` is the project's own name: its
// folder is where a file that `fileExists` does not find is looked for
// next. `useMaskBefore` is the option bits the program holds: an untagged
// file keeps them, and the pixel positions of its older image lines are
// converted under their 2 x 2 fusion. Never fails as a whole: an error ends
// the reading and is reported with the line where it happened.
ProjectRead ParseProject(std::span<const uint8_t> bytes, const std::string& path, const FileTest& fileExists,
                         int32_t useMaskBefore = 0);
// The same over any bytes, read a chunk at a time: a long file is never
// held whole.
ProjectRead ParseProject(ByteSource& bytes, const std::string& path, const FileTest& fileExists,
                         int32_t useMaskBefore = 0);
// The project file at `path`, its files looked for with FindsFile: NoFile
// when nothing matches the path, Failed when it cannot be opened.
ProjectRead ReadProjectFile(const std::string& path, int32_t useMaskBefore = 0);

// What the settings of lines 10 and 12..15 reach: the main window holds them
// in its controls, whose handlers carry them into the engine.
class ProjectControls {
 public:
  virtual ~ProjectControls() = default;
  // "Etendre la mosaïque".
  virtual void SetExpand(int16_t value) = 0;
  // The minimum quality in percent, as text; the handler keeps
  // max(0, min(100, value)) / 100 as MinQual.
  virtual void SetMinQualPercent(const std::string& text) = 0;
  // The guide box choice: 0 "32 x 32", 1 "64 x 64", 2 "Aucun". The handler
  // sets GuideBox, empties the template and searches again.
  virtual void SelectGuideBox(int choice) = 0;
  // "Auto" of the levels, then the display.
  virtual void SetAutoLevels(int16_t value) = 0;
  // The levels slider (0..20): Hsens, then the display.
  virtual void SetLevelSlider(int16_t value) = 0;
};

// What the main window keeps of a project in its controls rather than in
// the session (the guide box is the session's GuideBox): "Etendre la
// mosaïque", the text of the minimum quality's box, and "Auto" and the
// slider of "Niveau".
struct ShownSettings {
  int16_t expand = 0;
  std::string minQualShown;
  int16_t autoLevels = 0;
  int16_t levelSlider = 0;
};

// The controls of a caller without a window: the handlers' effects on the
// engine state (the same search, the same clamp), and the values a window
// would show, which the caller keeps (the expansion is its run's). As the
// window's handlers do, they leave the minimum quality and the guide box
// alone while an operation runs. Set the members to the caller's own values
// first: a project that does not give one leaves it.
class EngineControls : public ProjectControls {
 public:
  explicit EngineControls(Session& s) : s_(s) {}
  void SetExpand(int16_t value) override;
  void SetMinQualPercent(const std::string& text) override;
  void SelectGuideBox(int choice) override;
  void SetAutoLevels(int16_t value) override;
  void SetLevelSlider(int16_t value) override;

  int16_t expand = 0;
  // As the window's box shows it, in the user's number conventions.
  std::string minQualPercent;
  int guideBoxChoice = 0;
  int16_t autoLevels = 0;
  int16_t levelSlider = 0;

  ShownSettings Shown() const { return {expand, minQualPercent, autoLevels, levelSlider}; }

 private:
  Session& s_;
};

// The choice of guide box a box side stands for, as the file's line 13 is
// read: 0 for 32, 1 for 64, 2 for 128. A side that is not positive, or one
// that gives no choice of the three, is a run-time error.
int GuideBoxChoice(double box);

// Applies what was read, in the order a load applies it: the folder; lines
// 2..10 into the options; once line 10 is in, a yield to the event loop and
// the masters rebuilt; lines 11..16, those of the controls through their
// handlers; then the image entries replace the list. What a failed reading
// gave stays in force, and an error met while applying ends it there too
// (reported at that setting's line). Slot 0's file name is cleared in every
// case. Applies nothing when no file was found. The list itself (its
// thumbnails, entry 1 marked and selected) is the caller's next step.
ProjectLoad ApplyProject(Session& s, const ProjectRead& read, ProjectControls& controls);

struct ProjectSave {
  enum Outcome {
    Saved,
    EmptyList,  // nothing to save: no file is created
    Failed,     // the file could not be written; an existing file is left as it was
  };
  Outcome outcome = EmptyList;
  int error = 0;
};

// The project of the session's options and list, with what the window's
// controls hold. While the box holds no number, the minimum quality is the
// value its handler last took.
Project ProjectOf(const Session& s, const ShownSettings& shown);
// Writes that project (WriteProjectFile); an error met while it is made
// fails the save as one met while writing does.
ProjectSave SaveProject(const Session& s, const ShownSettings& shown, const std::string& path);

// The bytes of a project file. A setting the project does not hold is
// written as the program's default; a number that has no text form
// (infinite, not a number) is an overflow run-time error.
std::vector<uint8_t> ProjectBytes(const Project& p);
// Writes the project file; a project without images writes nothing. The
// file is written whole beside the target and then takes its name, so a
// failure never leaves a damaged project behind.
ProjectSave WriteProjectFile(const Project& p, const std::string& path);

// Conversions between the UTF-8 of memory and the file's code page.
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace qv
