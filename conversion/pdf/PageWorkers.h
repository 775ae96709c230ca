// The threads that draw and write the pages of a PDF-to-images run side by side, and how many
// of them a run gets.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace conversion {

// Bytes that pages being drawn at once may take together: a quarter of the memory the system
// has available now, so that drawing side by side does not push the machine into swapping.
std::uint64_t pageMemoryBudget();
// Workers for `pages` pages of about `bytesPerPage` each: the processors available, no more
// than the pages, no more than the budget holds (at least one).
std::size_t pageWorkerCount(std::int64_t pages, std::uint64_t bytesPerPage, std::uint64_t budget);

// A fixed set of threads, each running one task at a time. A task is given the number of the
// worker that runs it (0 to count() - 1), so each worker can keep state of its own. With one
// worker no thread is made: tasks run on the caller, as they come.
class PageWorkers {
public:
    using Task = std::function<void(std::size_t worker)>;
    explicit PageWorkers(std::size_t count);
    // Waits for the tasks running; tasks not yet started are dropped.
    ~PageWorkers();
    PageWorkers(const PageWorkers&) = delete;
    PageWorkers& operator=(const PageWorkers&) = delete;

    std::size_t count() const { return m_count; }
    // Hands `task` to an idle worker, waiting until one is.
    void run(Task task);
    // Waits until a task has finished since the last call (at once when none is running).
    void waitForAnyFinished();
    // Waits until every task handed over has finished.
    void waitForAll();

private:
    void work(std::size_t worker);

    std::size_t m_count;
    std::mutex m_mutex;
    std::condition_variable m_wake;     // workers: a task or the end
    std::condition_variable m_finished; // the caller: a task finished
    std::vector<Task> m_queue;
    std::size_t m_busy = 0;
    std::uint64_t m_finishedCount = 0;
    std::uint64_t m_finishedSeen = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace conversion
