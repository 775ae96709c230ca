// Tests of work that ends in a queued call: the application object, and the loop turned until
// the call has come.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace testsupport {

// The process's application object, made on first use.
inline QCoreApplication* coreApplication() {
    static int argc = 1;
    static char name[] = "viewerTests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(argc, argv);
    return app;
}

// Turns the event loop until `done` holds or the time (a minute by default) has passed.
inline bool processEventsUntil(const std::function<bool()>& done, int milliseconds = 60000) {
    coreApplication();
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return done();
}

} // namespace testsupport
