// The report of every frame: what the last run and the last automatic
// marks decided for each image of the list, in words, so that a run that
// keeps 1 frame of 30 says which ones it left and why.
#pragma once

#include <string>
#include <vector>

#include "core/session.h"
#include "stack/auto_marks.h"
#include "workspace/results.h"
#include "workspace/run.h"

namespace qv {

// The column titles, in the order of the row's fields.
const std::vector<std::string>& ReportColumns();

// The report over the list as it stands; `run`, `marks` and `opening` may
// be null. The files an opening found nowhere follow the list's rows.
FrameReport BuildFrameReport(const Session& s, const RunResult* run, const AutoMarkReport* marks,
                             const OpeningReport* opening = nullptr);

// The status bar's line after an opening that met missing or unreadable
// files, `where` naming what named them ("du projet"): "3 images du projet
// introuvables, 1 illisible — voir Rapport". Empty when all were read.
std::string OpeningNote(const OpeningReport& opening, const std::string& where);

// Whether the words of a failed reading are of a file read whole that could
// not be used (another size than image 1, or image 1 itself unreadable),
// rather than of a file that could not be read.
bool ReadButUnusable(const std::string& words);

// A row's cells, in the order of the columns.
std::vector<std::string> ReportCells(const ReportRow& row);

// The first cell of a row: "3 m31_003.fts", or the path of a file not in
// the list.
std::string ReportRowTitle(const ReportRow& row);

// The report as text lines, columns separated by tabs: the titles, one line
// per image and the total.
std::vector<std::string> ReportLines(const FrameReport& report);

// The main window's report rebuilt from its last run and marks; its lines
// go to the debug log when that is on.
void RefreshReport(Form1& f);
// The list changed: the last run and marks no longer describe it (what its
// opening found still does).
void ForgetReport(Form1& f);
// "Rapport" of the menu "&Affichage": shows or hides the report.
void mnuReport_Click(Form1& f);
// A click on the report's row of image i selects it, while the window is
// idle; a row of a file not in the list selects nothing.
void ReportRow_Click(Form1& f, int image);

}  // namespace qv
