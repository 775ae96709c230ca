// A helper program run in a process group of its own, with its standard input from /dev/null
// and its output into a log file, waited for with a time limit after which (or on cancellation)
// the whole group is ended. The child goes with the thread that started it: it is sent SIGTERM
// when that thread's process dies (even by SIGKILL), and its group is noted for the run's
// clean-up (RunCleanup.h), which ends it when the run is ended from outside. Started with fork
// and exec, doing only async-signal-safe calls in between, so it is sound in a multi-threaded
// host; the calling thread must outlive the child, which it does by waiting for it.
#pragma once

#include "LibreOfficeIsolation.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace conversion {

struct ChildProcessResult {
    enum Outcome { Exited, Signalled, TimedOut, Cancelled, NotStarted } outcome = NotStarted;
    int exitCode = -1;
    std::string error; // why it did not start
    // For ChildNetwork::None: how the child was kept off the network, and when it was not, the
    // system's reason (errno).
    NetworkIsolation isolation = NetworkIsolation::NotIsolated;
    int isolationError = 0;
};

// Whether the child shares the host's network or gets a namespace of its own with no interface
// (where the system allows one; see enterOwnNetwork).
enum class ChildNetwork { Shared, None };

// How long a helper of this library that is ended is given to end its own children and remove
// its files (it is sent SIGTERM) before its group is killed.
inline constexpr std::chrono::milliseconds kHelperGraceTime{4000};

// How a child runs beside its arguments.
struct ChildProcessOptions {
    std::chrono::milliseconds timeLimit{std::chrono::minutes(2)};
    // Asked while the child runs (may be empty).
    std::function<bool()> cancelled;
    ChildNetwork network = ChildNetwork::Shared;
    // A child that is ended early (time limit, cancellation, the run ending) is sent SIGTERM and
    // given this long before its group is killed; without grace it is killed at once.
    std::chrono::milliseconds grace{0};
    // "NAME=value" settings of the child's environment over the host's.
    std::vector<std::string> environment;
};

// `arguments` starts with the program's name as it sees it.
ChildProcessResult runChildProcess(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const std::filesystem::path& log,
                                   const ChildProcessOptions& options);

// The last `limit` bytes of a log, trailing blanks removed ("..." before a cut).
std::string readLogTail(const std::filesystem::path& log, std::size_t limit = 300);

} // namespace conversion
