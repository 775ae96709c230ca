#include "PageWorkers.h"

#include "Workers.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace conversion {

std::uint64_t pageMemoryBudget() {
    return availableMemoryBytes() / 4;
}

std::size_t pageWorkerCount(std::int64_t pages, std::uint64_t bytesPerPage, std::uint64_t budget) {
    std::size_t n = usableCores();
    if (pages < std::int64_t(n))
        n = std::size_t(std::max<std::int64_t>(pages, 1));
    if (bytesPerPage > 0)
        n = std::min<std::uint64_t>(n, std::max<std::uint64_t>(budget / bytesPerPage, 1));
    return std::max<std::size_t>(n, 1);
}

PageWorkers::PageWorkers(std::size_t count) : m_count(std::max<std::size_t>(count, 1)) {
    if (m_count == 1)
        return;
    m_threads.reserve(m_count);
    try {
        for (std::size_t i = 0; i < m_count; ++i)
            m_threads.emplace_back([this, i] { work(i); });
    } catch (const std::system_error&) {
        // The system gives no more threads: the run goes on with those it has.
    }
    if (m_threads.size() < m_count) {
        std::lock_guard lock(m_mutex);
        m_count = std::max<std::size_t>(m_threads.size(), 1);
    }
}

PageWorkers::~PageWorkers() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void PageWorkers::run(Task task) {
    if (m_threads.empty()) {
        task(0);
        std::lock_guard lock(m_mutex);
        ++m_finishedCount;
        return;
    }
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [this] { return m_busy + m_queue.size() < m_count; });
    m_queue.push_back(std::move(task));
    lock.unlock();
    m_wake.notify_one();
}

void PageWorkers::waitForAnyFinished() {
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [this] {
        return m_finishedCount != m_finishedSeen || (m_busy == 0 && m_queue.empty());
    });
    m_finishedSeen = m_finishedCount;
}

void PageWorkers::waitForAll() {
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [this] { return m_busy == 0 && m_queue.empty(); });
    m_finishedSeen = m_finishedCount;
}

void PageWorkers::work(std::size_t worker) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        Task task = std::move(m_queue.front());
        m_queue.erase(m_queue.begin());
        ++m_busy;
        lock.unlock();
        task(worker);
        task = nullptr; // what the task holds goes before the caller hears it finished
        lock.lock();
        --m_busy;
        ++m_finishedCount;
        m_finished.notify_all();
    }
}

} // namespace conversion
