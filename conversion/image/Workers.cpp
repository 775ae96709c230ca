#include "Workers.h"

#include <fstream>
#include <sched.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace conversion {

unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0)
            return unsigned(n);
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

std::uint64_t availableMemoryBytes() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t value = 0;
    std::string unit;
    while (in >> key >> value >> unit)
        if (key == "MemAvailable:")
            return value * 1024;
    // Without /proc: the free pages, which leave out the caches the kernel would give back.
    const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize)
                                     : std::uint64_t(1) << 30;
}

void runWorkers(unsigned count, const std::function<void(unsigned)>& work) {
    if (count == 0)
        return;
    std::vector<std::thread> threads;
    std::vector<unsigned> leftOver;
    for (unsigned i = 0; i + 1 < count; ++i) {
        try {
            threads.emplace_back(work, i);
        } catch (const std::system_error&) {
            leftOver.push_back(i);
        }
    }
    for (unsigned i : leftOver)
        work(i);
    work(count - 1);
    for (std::thread& t : threads)
        t.join();
}

} // namespace conversion
