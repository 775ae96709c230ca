#include "TerminationHandling.h"

#include "CHMSearchIndexFolder.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <atomic>

void quitOnTerminationSignals() {
    TerminationSignals::install([](int signal) {
        static std::atomic<bool> quitting{false};
        QCoreApplication* app = QCoreApplication::instance();
        if (quitting.exchange(true) || !app) {
            CHMSearchIndexFolder::removeAllLive();
            TerminationSignals::dieOf(signal);
        }
        // Runs on the application's thread, through its event loop.
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
}
