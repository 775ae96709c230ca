// The thread on which a document's window reads the book: page requests, the rest of a large
// object, anything the GUI thread must not wait for. One per open book, started on first use.
//
// Work runs in the order it was posted, one piece at a time. The work itself takes the
// document's lock (through `content` and `exist`) and may wait for the reading process up to its
// deadline; the thread that posts it never waits. The destructor drops what has not started and
// joins the thread once the piece in progress has ended; the owner first makes the reading
// process stop answering (CHMReaderProcess::interrupt), so that this is quick. The queue's own
// mutex is held only to put work in or take it out, never while work runs, and no other lock is
// taken under it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CHMRequestThread {
public:
    CHMRequestThread();
    ~CHMRequestThread();
    CHMRequestThread(const CHMRequestThread&) = delete;
    CHMRequestThread& operator=(const CHMRequestThread&) = delete;

    // Any thread; returns at once.
    void post(std::function<void()> work);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue; // guarded by m_mutex
    bool m_stop = false;                       // guarded by m_mutex
    std::thread m_thread;                      // last: started once everything above exists
};
