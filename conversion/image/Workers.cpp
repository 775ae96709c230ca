#include "Workers.h"

#include <sched.h>
#include <system_error>
#include <thread>
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
