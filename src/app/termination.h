// SIGTERM, SIGHUP and SIGINT (a `kill`, a logout, a closed terminal, Ctrl+C
// in the terminal that started the program) seen by the event loop: the signal handler only writes the signal's number
// into a pipe, and a socket notifier reads it back where any work is allowed.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qvapp {

class TerminationWatch : public QObject {
  Q_OBJECT
 public:
  // `onSignal` runs from the event loop, with the signal's number, once for
  // each signal received. One watch at a time.
  explicit TerminationWatch(std::function<void(int)> onSignal, QObject* parent = nullptr);
  // The three signals end the program again as they would without it.
  ~TerminationWatch() override;
  // False when the pipe or the handlers could not be set up.
  bool Watching() const { return notifier_ != nullptr; }

 private:
  void Read();
  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qvapp
