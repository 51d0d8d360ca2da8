// A run-time error as the user reads it: what happened, to which file, and
// what to do about it, in French words and never as a bare number. The
// debug log keeps its "Erreur " lines with the number; everything the tool
// prints and the status bar shows goes through here.
#pragma once

#include <string>

#include "core/outcome.h"

namespace qv {

// What the program was doing with the file when the error met it: the same
// number calls for other advice while reading than while writing.
enum class FileTask {
  Read,         // reading a file the user gave (an image, a master, a result)
  Process,      // reading and processing an image
  Write,        // writing a result or a saved image
  Temporary,    // writing a temporary file of a run or of a master
  ProjectLoad,  // reading the lines of a project
  ProjectSave,  // writing a project
  Combine,      // reading back the temporary files of a run into the result
};

// The error `number` met on `file` while doing `task`, as one sentence:
// "disque plein en écrivant FICHIER : libérez de la place ou choisissez un
// autre dossier". Never empty; a number the program does not know gets a
// general sentence rather than its number.
std::string ErrorWords(int number, const std::string& file, FileTask task);

// The run-time error number of a system error (errno), as the file layer
// gives it: a full disk or a quota is 61, a missing path 53, anything else
// the program meets on a path 75.
int ErrorNumberOfSystem(int systemError);

// A failure's reason for the user: its own words when it has no run-time
// error number (a quiet failure says nothing), else ErrorWords. A reason more
// precise than the number's general words (a special file, say) is kept
// as what happened.
std::string OutcomeWords(const Outcome& o, const std::string& file, FileTask task);

// Words that end by naming `path` (" : /nuit/f3.fts") without it, for a
// line that names the file already.
std::string WithoutPath(const std::string& words, const std::string& path);

// The temporary folder as the user reads it, without its closing separator:
// the file these words name for FileTask::Temporary and FileTask::Combine.
std::string TemporaryFolderShown();

}  // namespace qv
