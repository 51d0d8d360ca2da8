#include "app/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace qvapp {

namespace {

int pipeEnds[2] = {-1, -1};

// All a handler may safely do: one write, errno kept for the code it cut.
void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationWatch::TerminationWatch(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  // Non-blocking at both ends: a handler never waits on a full pipe, and
  // the reader stops when it is empty.
  if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Read(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &action, nullptr);
}

TerminationWatch::~TerminationWatch() {
  if (!notifier_) return;
  for (const int sig : {SIGTERM, SIGHUP, SIGINT}) std::signal(sig, SIG_DFL);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void TerminationWatch::Read() {
  unsigned char byte = 0;
  while (::read(pipeEnds[0], &byte, 1) == 1)
    if (onSignal_) onSignal_(byte);
}

}  // namespace qvapp
