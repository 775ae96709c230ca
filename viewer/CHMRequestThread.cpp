#include "CHMRequestThread.h"

#include <QMetaObject>

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

void CHMRequestThread::post(QObject* receiver, Reading reading) {
    {
        std::lock_guard guard(m_mutex);
        if (m_stop)
            return;
        m_queue.push_back({receiver, std::move(reading)});
    }
    m_wake.notify_one();
}

void CHMRequestThread::run() {
    for (;;) {
        Work work;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            work = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // Nobody waits for it any more: not worth a request.
        if (!work.receiver)
            continue;
        std::function<void()> answer = work.reading();
        {
            std::lock_guard guard(m_mutex);
            if (m_stop)
                return;
            m_answers.push_back({std::move(work.receiver), std::move(answer)});
        }
        // By name: the answer itself travels through m_answers, under the mutex.
        QMetaObject::invokeMethod(this, "deliverAnswers", Qt::QueuedConnection);
    }
}

void CHMRequestThread::deliverAnswers() {
    std::vector<Answer> answers;
    {
        std::lock_guard guard(m_mutex);
        answers.swap(m_answers);
    }
    for (const Answer& a : answers) {
        if (a.receiver && a.answer)
            a.answer();
    }
}
