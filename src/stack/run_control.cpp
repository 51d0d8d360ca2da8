#include "stack/run_control.h"

namespace qv {

void StartProcess(Session& s) {
  s.RunState = 1;
  // A new run starts a new stack; what a previous one parked is no longer
  // counted.
  s.stack.StackCount = 0;
  // What a previous run produced is no longer shown while this operation
  // changes the planes and the stack under it.
  s.view->UnloadDestination();
}

void StopProcess(Session& s) { s.RunState = 0; }

void RequestStop(Session& s) {
  if (s.RunState == 1) s.RunState = 2;
}

}  // namespace qv
