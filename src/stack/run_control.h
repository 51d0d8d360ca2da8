// The running state shared by every long operation: one loop at a time
// runs on the user-interface thread and asks its RunProgress after yielding.
#pragma once

#include "core/session.h"

namespace qv {

// The main window's caption when no operation shows its progress there.
inline constexpr const char* kAppTitle = "Quelvista";

// Enters the running state: kRunning, a new stack count; the main window
// unloads the destination and editor windows of a previous result.
void StartProcess(Session& s);
// Enters it for an operation that leaves the stack alone (the automatic
// marks): kRunning only, and the result of the last run stays on show, to
// be saved or finished in the editor meanwhile.
void StartProcessKeepingResult(Session& s);
// Leaves it: kIdle.
void StopProcess(Session& s);
// "&Stop" or Escape: a running operation is asked to stop at its next poll.
void RequestStop(Session& s);

}  // namespace qv
