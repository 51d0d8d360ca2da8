#include "stack/run_control.h"

namespace qv {

void StartProcess(Session& s) {
  s.RunState = kRunning;
  // A new run starts a new stack; what a previous one parked is no longer
  // counted.
  s.stack.StackCount = 0;
  // What a previous run produced is no longer shown while this operation
  // changes the planes and the stack under it.
  s.window->UnloadDestination();
}

void StartProcessKeepingResult(Session& s) { s.RunState = kRunning; }

void StopProcess(Session& s) { s.RunState = kIdle; }

void RequestStop(Session& s) {
  if (s.RunState == kRunning) s.RunState = kStopRequested;
}

}  // namespace qv
