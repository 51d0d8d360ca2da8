#include "cli/interrupt.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace qvcli {

namespace {

volatile std::sig_atomic_t received = 0;

// Only the first signal is kept: a SIGHUP that follows a Ctrl+C (the
// terminal closed while the run stops) does not change the status.
void OnSignal(int sig) {
  if (received == 0) received = sig;
}

}  // namespace

void ListenForInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Reads and writes under way go on: the stop is seen at the next poll.
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

int InterruptSignal() { return received; }

int InterruptedStatus() { return 128 + (received ? received : SIGINT); }

}  // namespace qvcli
