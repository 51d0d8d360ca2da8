// The temporary files of one program run, tied to a lock the run holds, and
// the clean-up of those that runs ended by force (a kill, a power cut) left
// behind in the temporary folder.
#pragma once

#include <string>

namespace qv {

// Every name below lives in TempFolder() and carries the number of the
// process that made it:
//   Quelvista_<pid>.lock           the run's lock, held (flock) while the run lives
//   Quelvista_<HEX>_<pid>_<k>.bin  the stacking files, TempBase & k & ".bin"
//   quelvista-master-<pid>/        the masters' staging folder, holding <n>.raw
// Nothing else in the temporary folder is ever touched.

// Takes this run's lock, once; later calls only tell whether it is held.
// Called before the run makes its first temporary file, so that a file of a
// live run always has its lock held beside it. When the lock was left by an
// ended process of the same number, that process's files go first.
bool HoldRunLock();

// The TempBase of this run for a time stamp (milliseconds since midnight):
// the temporary folder, the program's title, the stamp in capital
// hexadecimal and the process number. Takes the run's lock.
std::string RunTempBase(unsigned stamp);

// The masters' staging folder of this run (not created). Takes the run's lock.
std::string MasterStagingFolder();

// What the start-up of either program does: removes from the temporary
// folder the files of every run that has ended, that is whose lock can be
// taken, or, for files without a lock (made before runs had one), whose
// process is gone. Files of a live run are never touched. Returns how many
// names were removed.
int SweepOrphanedRunFiles();

// Removes every temporary file of this run and lets its lock go: for an end
// forced by a signal, when the code that would have removed them will not
// run.
void RemoveOwnRunFiles();

// True when no process of that number lives any more (the number of a
// process of another user counts as alive).
bool ProcessEnded(long pid);

}  // namespace qv
