// The contract of every long loop. The loop lets the event loop run at its
// fixed points (Yield), and a window that wants to show how far it has come
// hears the caption and the fraction done (Report). Whether a stop was
// requested is the session's RunState, which the Stop command sets while
// the loop yields; Session::Running and Session::StopAsked do both at once.
#pragma once

#include <string>

namespace qv {

class Progress {
 public:
  virtual ~Progress() = default;
  // Lets the event loop run.
  virtual void Yield() = 0;
  // What the operation is doing; `done` is the fraction done (0..1), or
  // negative when the operation cannot tell.
  virtual void Report(const std::string& /*caption*/, double /*done*/) {}
};

}  // namespace qv
