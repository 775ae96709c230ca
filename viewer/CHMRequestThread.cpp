#include "CHMRequestThread.h"

CHMRequestThread::CHMRequestThread() : m_thread([this] { run(); }) {}

CHMRequestThread::~CHMRequestThread() {
    {
        std::lock_guard guard(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void CHMRequestThread::post(std::function<void()> work) {
    {
        std::lock_guard guard(m_mutex);
        if (m_stop)
            return;
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_one();
}

void CHMRequestThread::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        work();
    }
}
