#include "core/parallel.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>

namespace qv {

namespace {

// Waits until `flag` differs from `old`: spinning for up to `spin` first,
// then asleep. Waking a sleeping thread can take far longer than a row's
// work on a virtual machine, and once one side sleeps the other's wait
// outlasts its spin too; so the caller waiting for the helper's part spins
// long, and the idle helper spins a millisecond for the next split (a loop
// splits every few rows) before it sleeps and costs nothing.
uint32_t AwaitChange(const std::atomic<uint32_t>& flag, uint32_t old, std::chrono::microseconds spin) {
  const auto until = std::chrono::steady_clock::now() + spin;
  for (int spins = 0;; ++spins) {
    const uint32_t now = flag.load(std::memory_order_acquire);
    if (now != old) return now;
    if (spins < 1024) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
      continue;
    }
    if (std::chrono::steady_clock::now() > until) break;
    // On a machine busy with other work, the thread waited for may be
    // ready but without a core: this one gives its own up meanwhile.
    std::this_thread::yield();
  }
  for (;;) {
    flag.wait(old, std::memory_order_acquire);
    const uint32_t now = flag.load(std::memory_order_acquire);
    if (now != old) return now;
  }
}

thread_local bool t_inPart = false;

class Helper {
 public:
  Helper() : thread_([this] { Loop(); }) {}
  ~Helper() {
    quit_.store(true, std::memory_order_relaxed);
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
    thread_.join();
  }

  void Run(const std::function<void(int)>& part) {
    job_ = &part;
    error_ = nullptr;
    const uint32_t ticket = posted_.load(std::memory_order_relaxed) + 1;
    posted_.store(ticket, std::memory_order_release);
    posted_.notify_one();
    std::exception_ptr own;
    try {
      part(0);
    } catch (...) {
      own = std::current_exception();
    }
    uint32_t seen = finished_.load(std::memory_order_acquire);
    while (seen != ticket) {
      seen = AwaitChange(finished_, seen, std::chrono::microseconds(20000));
    }
    if (own) std::rethrow_exception(own);
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void Loop() {
    t_inPart = true;  // everything this thread runs is part of a split
    uint32_t seen = 0;
    for (;;) {
      seen = AwaitChange(posted_, seen, std::chrono::microseconds(1000));
      if (quit_.load(std::memory_order_relaxed)) return;
      try {
        (*job_)(1);
      } catch (...) {
        error_ = std::current_exception();
      }
      finished_.store(seen, std::memory_order_release);
      finished_.notify_one();
    }
  }

  // The job and its error pass between the threads under the release and
  // acquire of the two counters.
  const std::function<void(int)>* job_ = nullptr;
  std::exception_ptr error_;
  std::atomic<uint32_t> posted_{0}, finished_{0};
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

std::atomic<bool> g_secondCore{std::thread::hardware_concurrency() > 1};

}  // namespace

void RunInTwo(const std::function<void(int part, int parts)>& part) {
  if (!g_secondCore.load(std::memory_order_relaxed) || t_inPart) {
    part(0, 1);
    return;
  }
  static Helper helper;
  static std::mutex one;  // one split at a time: the helper has one job
  std::lock_guard<std::mutex> lock(one);
  // A split asked for from within a part runs as one loop.
  struct InPart {
    InPart() { t_inPart = true; }
    ~InPart() { t_inPart = false; }
  } inPart;
  helper.Run([&](int p) { part(p, 2); });
}

void UseSecondCore(bool use) { g_secondCore = use && std::thread::hardware_concurrency() > 1; }

namespace {

bool HasAvx2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();  // may run before the runtime's own start-up code
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

std::atomic<bool> g_wide{HasAvx2()};

}  // namespace

void UseWideLoops(bool use) { g_wide = use && HasAvx2(); }

bool WideLoops() { return g_wide.load(std::memory_order_relaxed); }

}  // namespace qv
