// The thread on which a document's window reads the book: page requests, the rest of a large
// object, anything the GUI thread must not wait for. One per open book, made on first use on the
// thread its answers go to (the GUI thread).
//
// Each reading runs on the thread, in the order posted, one at a time; it reads (taking the
// document's lock through `content` and `exist`, and waiting for the reading process up to its
// deadline) and answers what is to be done with the result. That answer runs on the thread that
// made this object, from its event loop, unless the reading's receiver is gone by then; the
// thread that posts never waits. The destructor drops what has not started and what has not
// been delivered, and joins the thread once the reading in progress has ended; the owner first
// makes the reading process stop answering (CHMReaderProcess::interrupt), so that this is quick.
// The queues' mutex is held only to put a reading or an answer in or take it out, never while
// one runs, and no other lock is taken under it.
#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CHMRequestThread : public QObject {
    Q_OBJECT
public:
    using Reading = std::function<std::function<void()>()>;

    CHMRequestThread();
    ~CHMRequestThread() override;

    // Any thread; returns at once.
    void post(QObject* receiver, Reading reading);

private:
    // On this object's thread: runs the answers that have come.
    Q_INVOKABLE void deliverAnswers();
    void run();

    struct Work {
        QPointer<QObject> receiver;
        Reading reading;
    };
    struct Answer {
        QPointer<QObject> receiver;
        std::function<void()> answer;
    };
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Work> m_queue;      // guarded by m_mutex
    std::vector<Answer> m_answers; // guarded by m_mutex
    bool m_stop = false;           // guarded by m_mutex
    std::thread m_thread;          // last: started once everything above exists
};
