// The few threads the image jobs use: how many cores this process may run on, and running a
// piece of work once for each worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace conversion {

// The processors this process may run on (its affinity mask, so that a run pinned to some cores
// uses no more threads than it has cores); at least 1.
unsigned usableCores();

// The memory the system could give this process now (MemAvailable; the free pages without /proc;
// 1 GiB when neither is known).
std::uint64_t availableMemoryBytes();

// Calls work(i) for i in [0, count) on `count` threads (the last one on the caller's) and
// returns when all are done. A thread that cannot be started leaves its share to the caller.
void runWorkers(unsigned count, const std::function<void(unsigned)>& work);

} // namespace conversion
