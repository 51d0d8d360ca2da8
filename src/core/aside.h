// One piece of work at a time on a thread of its own, for a window that
// must keep serving its events while the work runs: the window starts it,
// waits for it its own way (Qt's event loop asleep until the work ends, or
// a plain block), and takes its end and its error back on its own thread.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace qv {

class AsideThread {
 public:
  AsideThread() = default;
  AsideThread(const AsideThread&) = delete;
  AsideThread& operator=(const AsideThread&) = delete;
  // Waits for the work under way, then ends the thread.
  ~AsideThread();

  // Starts `work` on the thread (made at the first call, kept afterwards);
  // `ended` runs on that thread right after it, to wake whoever waits. A
  // work already under way is waited for first.
  void Start(std::function<void()> work, std::function<void()> ended = {});
  // Whether a work has been started and has not ended.
  bool Running() const;
  // Blocks until no work runs.
  void Await();
  // Blocks until no work runs, then rethrows the exception the last work
  // ended with, if any (once).
  void Finish();

 private:
  void Loop();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_, ended_;
  bool running_ = false, quit_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace qv
