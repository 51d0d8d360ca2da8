#include "core/parallel.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace qv {

namespace {

class Helper {
 public:
  Helper() : thread_([this] { Loop(); }) {}
  ~Helper() {
    {
      std::lock_guard<std::mutex> lock(m_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  void Run(const std::function<void(int)>& part) {
    {
      std::lock_guard<std::mutex> lock(m_);
      job_ = &part;
      error_ = nullptr;
      ++posted_;
    }
    wake_.notify_one();
    std::exception_ptr own;
    try {
      part(0);
    } catch (...) {
      own = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(m_);
    done_.wait(lock, [&] { return finished_ == posted_; });
    if (own) std::rethrow_exception(own);
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || posted_ != finished_; });
      if (quit_) return;
      const std::function<void(int)>* job = job_;
      lock.unlock();
      std::exception_ptr err;
      try {
        (*job)(1);
      } catch (...) {
        err = std::current_exception();
      }
      lock.lock();
      error_ = err;
      finished_ = posted_;
      done_.notify_one();
    }
  }

  std::mutex m_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* job_ = nullptr;
  std::exception_ptr error_;
  unsigned long posted_ = 0, finished_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

thread_local bool t_inPart = false;
std::atomic<bool> g_secondCore{std::thread::hardware_concurrency() > 1};

}  // namespace

void RunInTwo(const std::function<void(int part)>& part) {
  if (!g_secondCore.load(std::memory_order_relaxed) || t_inPart) {
    part(0);
    part(1);
    return;
  }
  static Helper helper;
  static std::mutex one;  // one split at a time: the helper has one job
  std::lock_guard<std::mutex> lock(one);
  t_inPart = true;
  try {
    helper.Run([&](int p) {
      const bool was = t_inPart;
      t_inPart = true;
      try {
        part(p);
      } catch (...) {
        t_inPart = was;
        throw;
      }
      t_inPart = was;
    });
  } catch (...) {
    t_inPart = false;
    throw;
  }
  t_inPart = false;
}

void UseSecondCore(bool use) { g_secondCore = use && std::thread::hardware_concurrency() > 1; }

}  // namespace qv
