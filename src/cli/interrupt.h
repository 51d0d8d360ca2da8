// The signals that ask the tool to end: Ctrl+C (SIGINT), and SIGTERM and
// SIGHUP, which `kill`, `timeout`, a closed terminal or a logout send. A
// command that makes temporary files listens for them and stops as the
// window's "&Stop" would, so that it removes its files before it ends.
#pragma once

namespace qvcli {

// From here on the three signals only ask for a stop, which the command
// polls with InterruptSignal().
void ListenForInterrupts();

// The signal that asked for a stop, 0 while none did.
int InterruptSignal();

// The exit status of a command stopped by that signal: 128 + its number, as
// the shell reports a program the signal ended (130 for Ctrl+C).
int InterruptedStatus();

}  // namespace qvcli
