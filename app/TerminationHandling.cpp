#include "TerminationHandling.h"

#include "CHMSearchIndexFolder.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <atomic>

namespace {

std::atomic<bool> g_requested{false};

// A modal dialog runs an event loop of its own inside the code that showed it; before the
// application's loop runs (a message at start), quitting does not reach it.
void rejectModalDialogs() {
    QList<QPointer<QDialog>> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible() && dialog->isModal())
            dialogs << dialog;
    }
    for (const QPointer<QDialog>& dialog : dialogs) {
        if (dialog)
            dialog->reject();
    }
}

} // namespace

void quitOnTerminationSignals() {
    TerminationSignals::install([](int signal) {
        QCoreApplication* app = QCoreApplication::instance();
        if (g_requested.exchange(true) || !app) {
            CHMSearchIndexFolder::removeAllLive();
            TerminationSignals::dieOf(signal);
        }
        // Runs on the application's thread, through whichever event loop runs there.
        QMetaObject::invokeMethod(
            app,
            [] {
                rejectModalDialogs();
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    });
}

bool terminationRequested() {
    return g_requested.load();
}
