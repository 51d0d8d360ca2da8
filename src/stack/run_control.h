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
// Leaves it: kIdle.
void StopProcess(Session& s);
// "&Stop" or Escape: a running operation is asked to stop at its next poll.
void RequestStop(Session& s);

}  // namespace qv
