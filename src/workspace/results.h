// The report of every frame, beside what a run and the automatic marks give
// back (stack/stacking.h, stack/auto_marks.h): plain values, kept by the
// main window's model and shown by its windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "stack/auto_marks.h"
#include "stack/stacking.h"

namespace qv {

// One image of the list.
struct ReportRow {
  int image = 0;     // 0 for a file of the project that is not in the list
  std::string name;  // file name without its folder (the whole path when image is 0)
  bool checked = false;
  std::string quality;  // "87,3 %"; empty when the run did not measure it
  std::string stacked;  // "oui", "non", or empty before any run
  std::string why;      // why it is not stacked
  std::string remarks;  // beside the decision: unreadable, guide star on the edge, not marked
  std::string guide;    // "(x, y)", pixels of the processed image
  std::string angle;    // degrees
  std::string stars;    // "found / matched" for the images the marks looked at
  std::string fwhm, roundness, background, noise;  // the marks' figures of its stars and sky
  bool notStacked = false;                         // checked, and the run left it out of the result
  // What the opening or the marks found of its file: unreadable, or read
  // whole but of no use (another size); neither when it read or was not read.
  bool unread = false, unusable = false;
};

// What opening a project or the program's argument found wrong with its
// image files: those named but found nowhere (left out of the list) and
// the list entries whose file could not be read when the strip was built.
struct UnreadableImage {
  int image = 0;
  bool found = true;  // the file exists: it is unreadable rather than missing
  std::string why;    // in words, naming the file
};
struct OpeningReport {
  std::vector<std::string> missing;
  std::vector<UnreadableImage> unreadable;
  bool Empty() const { return missing.empty() && unreadable.empty(); }
};

struct FrameReport {
  std::vector<ReportRow> rows;
  std::string total;  // "N images combinées sur M acceptées", after a run
  // The accepted frames the result lacks, named under their reason:
  // "fichier temporaire non écrit (disque plein) : image 6 (m6.fts), image 7 (m7.fts)".
  std::string missing;
  // What the user should do about what the run met: a guide star never
  // chosen or its reference left elsewhere, frames that moved out of the
  // search box, a master not applied, a full temporary folder.
  std::string advice;
  // The total, the missing frames and the advice, those there are.
  std::string Summary() const;
  // The status bar's one line: the advice, when there is some, matters more
  // than the frames the result lacks, which the report lists.
  std::string StatusLine() const;
  // A checked image of the last run did not reach the result.
  bool AnyLeftOut() const;
};

}  // namespace qv
