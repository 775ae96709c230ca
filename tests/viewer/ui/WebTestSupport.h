// Helpers for tests that drive the real web engine: a main() preamble for headless runs, waits
// for page loads, synchronous JavaScript, clicks on page elements.
#pragma once

#include "CHMWebView.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebEngineScript>
#include <QtGlobal>
#include <functional>

class CHMDocumentWindow;
class QPoint;
class QWebEnginePage;

namespace webtest {

// Generous: a sanitized build on a busy machine starts renderers slowly.
constexpr int kLoadTimeoutMs = 20000;

// Before QApplication: headless platform, no sandbox (root in CI), the "itss" scheme, and the
// configuration in a temporary folder that lives until the process ends.
void prepareEnvironment();

// Runs the script in the page's main world (or another) and answers its result (invalid on
// timeout).
QVariant runJavaScript(QWebEnginePage* page, const QString& script,
                       quint32 world = QWebEngineScript::MainWorld);
// The same in the reader's own script world, where the find marks' functions live.
inline QVariant runInReaderWorld(QWebEnginePage* page, const QString& script) {
    return runJavaScript(page, script, QWebEngineScript::ApplicationWorld);
}
// The number of find marks (spans of "highlight.js") in the page.
int markCount(QWebEnginePage* page);

// Polls the script until its result is truthy (true, a non-zero number, a text other than "0");
// answers the last result.
QVariant waitForJavaScript(QWebEnginePage* page, const QString& script);

// Waits until condition holds, running the event loop; false on timeout.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kLoadTimeoutMs);

// Counts the page loads a window reports, so a test can trigger one and wait for it.
class LoadWatcher {
public:
    explicit LoadWatcher(CHMDocumentWindow* window);
    ~LoadWatcher() { QObject::disconnect(m_connection); }
    // Waits until at least count loads (since construction or the last reset) have finished;
    // false on timeout.
    bool waitForLoads(int count = 1) {
        return waitUntil([this, count] { return m_finished >= count; });
    }
    int finished() const { return m_finished; }
    CHMWebView* lastView() const { return m_lastView; }
    bool lastOk() const { return m_lastOk; }
    void reset() { m_finished = 0, m_lastView = nullptr, m_lastOk = false; }

private:
    QMetaObject::Connection m_connection;
    int m_finished = 0;
    QPointer<CHMWebView> m_lastView;
    bool m_lastOk = false;
};

// Records the log messages (qWarning and the like) written while it exists; they still reach
// the previous handler.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    bool contains(const QString& text) const;
};

// Puts a large element (tag, with that id as its text) first in the page's body, runs
// setup with the element as "e", and answers its centre for clickInView().
QPoint addElement(QWebEnginePage* page, const QString& tag, const QString& id,
                  const QString& setup);
// The centre of the first element the CSS selector finds, in the view's coordinates, scrolled
// into view; (-1, -1) when missing.
QPoint elementCenter(QWebEnginePage* page, const QString& selector);
// Clicks at pos inside the view's render widget, as the user would.
void clickInView(CHMWebView* view, const QPoint& pos, Qt::KeyboardModifiers modifiers = {});

} // namespace webtest
