#include "platform/platform.h"

#include <chrono>
#include <ctime>

namespace qv {

double SystemClock::SecondsSinceMidnight() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const double frac = duration<double>(now.time_since_epoch()).count() - static_cast<double>(t);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + frac;
}

}  // namespace qv

namespace qv {

void HeadlessProgress::RunAside(const std::function<void()>& work) {
  ++asides;
  if (!duringAside) {
    work();
    return;
  }
  aside_.Start(work);
  // The hook's own error is rethrown only once the work has ended: the
  // work may still be reading what the caller owns.
  try {
    duringAside();
  } catch (...) {
    aside_.Await();
    throw;
  }
  aside_.Finish();
}

}  // namespace qv
