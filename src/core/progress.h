// The contract of every long loop. The loop lets the event loop run at its
// fixed points, and a window that wants to show how far it has come hears
// the caption and the fraction done. Whether the loop goes on is the
// window's running state (Session::RunState), which the Stop command and
// Escape change while the loop yields: RunProgress is the one place a loop
// asks about it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

class Messages;

// The event loop's side: the platform supplies it (Qt, or headless).
class Progress {
 public:
  virtual ~Progress() = default;
  // Lets the event loop run.
  virtual void Yield() = 0;
  // What the operation is doing; `done` is the fraction done (0..1), or
  // negative when the operation cannot tell.
  virtual void Report(const std::string& /*caption*/, double /*done*/) {}
  // Runs `work` and returns when it has ended, rethrowing its exception. A
  // window runs it off its own thread and keeps serving its events
  // meanwhile, asleep between them; by default it runs here, at once.
  virtual void RunAside(const std::function<void()>& work) { work(); }
  // Blocks until the work RunAside runs, if any, has ended: what a handler
  // that runs meanwhile calls before it changes what that work reads.
  virtual void AwaitAside() {}
};

// The values of the running state.
inline constexpr int16_t kIdle = 0;
inline constexpr int16_t kRunning = 1;
inline constexpr int16_t kStopRequested = 2;

// What a kernel over planes calls where the loop that drives it yields (after
// a row, or a pass): it lets the event loop run and tells whether to go on.
// The kernel knows neither the session nor the run state; its caller decides
// what a stop is. An empty one never yields and always goes on.
using YieldPoint = std::function<bool()>;

inline bool GoOn(const YieldPoint& yield) { return !yield || yield(); }

// The progress of the session's long operations. It reads the running state
// the windows write, yields through the platform's event loop and shows its
// captions through the session's messages; all three are the session's own
// fields, read at each call, so a window model that takes over the messages
// later is heard.
//
// The program asks two questions, and each loop keeps the one it always
// asked: the image pipeline and the gradient removal stop when a stop is
// requested; the run, the list's thumbnails, the combination, the masters and
// the batch save go on only while the state is still "running", so the end
// of an operation under them ends them too.
class RunProgress {
 public:
  RunProgress(const int16_t& runState, Progress* const& events, Messages* const& messages)
      : state_(runState), events_(events), messages_(messages) {}

  // Lets the event loop run, without looking at the running state.
  void Yield() {
    if (events_) events_->Yield();
  }
  // The event loop's RunAside and AwaitAside (without one, the work runs
  // here).
  void RunAside(const std::function<void()>& work) {
    if (events_)
      events_->RunAside(work);
    else
      work();
  }
  void AwaitAside() {
    if (events_) events_->AwaitAside();
  }
  // Yields, then tells whether a stop was requested.
  bool StopRequested() {
    Yield();
    return state_ == kStopRequested;
  }
  // Yields, then tells whether the operation is still running.
  bool StillRunning() {
    Yield();
    return state_ == kRunning;
  }
  // The same questions without yielding, for the loops whose yields happen
  // elsewhere (the guide search between rows of offsets, a master between
  // rows, whose frames yield inside the pipeline).
  bool StopRequestedWithoutYield() const { return state_ == kStopRequested; }
  bool StillRunningWithoutYield() const { return state_ == kRunning; }
  // No operation runs: a new one may start.
  bool Idle() const { return state_ == kIdle; }

  // Yield points for kernels over planes, asking one question or the other.
  YieldPoint UntilStopRequested() {
    return [this] { return !StopRequested(); };
  }
  YieldPoint WhileStillRunning() {
    return [this] { return StillRunning(); };
  }

  // Shows the caption of a long operation and reports how far it has come
  // (`done` negative when it cannot tell); an empty caption leaves the
  // caption shown as it is.
  void Report(const std::string& caption, double done = -1);

 private:
  const int16_t& state_;
  Progress* const& events_;
  Messages* const& messages_;
};

}  // namespace qv
