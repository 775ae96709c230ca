// Turns the signals that end a program from outside (SIGTERM from a logout or `kill`, SIGINT
// from the terminal, SIGHUP when the terminal goes) into a call the program can act on: the
// signal handler only writes the signal's number into a pipe, and a thread of its own reads it
// and calls the handler given, where anything may be done (remove files, ask the event loop to
// quit). The handlers do not survive an exec, so programs started later keep the defaults.
#pragma once

#include <functional>

namespace TerminationSignals {

// Installs the handlers once per process; false when that failed (the reason goes to the log)
// or was done before. `onSignal` runs on the signal thread, once per signal received.
bool install(std::function<void(int signal)> onSignal);

// Ends the process as the signal would have without a handler.
[[noreturn]] void dieOf(int signal);

} // namespace TerminationSignals
