#include "core/aside.h"

#include <utility>

namespace qv {

AsideThread::~AsideThread() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !running_; });
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void AsideThread::Start(std::function<void()> work, std::function<void()> ended) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !running_; });
    work_ = std::move(work);
    ended_ = std::move(ended);
    error_ = nullptr;
    running_ = true;
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
  }
  changed_.notify_all();
}

bool AsideThread::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

void AsideThread::Await() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !running_; });
}

void AsideThread::Finish() {
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !running_; });
    error.swap(error_);
  }
  if (error) std::rethrow_exception(error);
}

void AsideThread::Loop() {
  for (;;) {
    std::function<void()> work, ended;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return quit_ || (running_ && work_); });
      if (quit_) return;
      work.swap(work_);
      ended.swap(ended_);
    }
    std::exception_ptr error;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      error_ = error;
      running_ = false;
    }
    changed_.notify_all();
    // After the flag: a waiter woken by `ended` finds the work over.
    if (ended) ended();
  }
}

}  // namespace qv
