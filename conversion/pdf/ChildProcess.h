// A helper program run in a process group of its own, with its standard input from /dev/null
// and its output into a log file, waited for with a time limit after which (or on cancellation)
// the whole group is killed. Started with posix_spawn, so it is sound in a multi-threaded host.
#pragma once

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
};

// Whether the child shares the host's network or gets a namespace of its own with no interface
// (where the system allows one; see spawnWithoutNetwork).
enum class ChildNetwork { Shared, None };

// `arguments` starts with the program's name as it sees it; `cancelled` (may be empty) is asked
// while the child runs.
ChildProcessResult runChildProcess(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const std::filesystem::path& log,
                                   std::chrono::milliseconds timeLimit,
                                   const std::function<bool()>& cancelled = {},
                                   ChildNetwork network = ChildNetwork::Shared);

// The last `limit` bytes of a log, trailing blanks removed ("..." before a cut).
std::string readLogTail(const std::filesystem::path& log, std::size_t limit = 300);

} // namespace conversion
