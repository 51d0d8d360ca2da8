// The contract of every long loop. The loop lets the event loop run at its
// fixed points (Yield), and a window that wants to show how far it has come
// hears the caption and the fraction done (Report). Whether a stop was
// requested is the session's RunState, which the Stop command sets while
// the loop yields; Session::Running and Session::StopAsked do both at once.
#pragma once

#include <functional>
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

// What a kernel over planes calls where the loop that drives it yields (after
// a row, or a pass): it lets the event loop run and tells whether to go on.
// The kernel knows neither the session nor the run state; its caller decides
// what a stop is. An empty one never yields and always goes on.
using YieldPoint = std::function<bool()>;

inline bool GoOn(const YieldPoint& yield) { return !yield || yield(); }

}  // namespace qv
