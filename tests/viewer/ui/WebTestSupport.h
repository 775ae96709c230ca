// Helpers for tests that drive the real web engine: a main() preamble for headless runs, waits
// for page loads, and synchronous JavaScript.
#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <functional>

class CHMDocumentWindow;
class CHMWebView;
class QPoint;
class QWebEnginePage;

namespace webtest {

// Generous: a sanitized build on a busy machine starts renderers slowly.
constexpr int kLoadTimeoutMs = 20000;

// Before QApplication: headless platform, no sandbox (root in CI), the "itss" scheme, and the
// configuration in a temporary folder that lives until the process ends.
void prepareEnvironment();

// Runs the script in the page's main world and answers its result (invalid on timeout).
QVariant runJavaScript(QWebEnginePage* page, const QString& script);

// The same in the reader's own script world, where the find marks' functions live.
QVariant runInReaderWorld(QWebEnginePage* page, const QString& script);
// The number of find marks (spans of "highlight.js") in the page.
int markCount(QWebEnginePage* page);

// Polls the script until its result is truthy (true, non-empty string, non-zero number);
// answers the last result.
QVariant waitForJavaScript(QWebEnginePage* page, const QString& script);

// Waits until condition holds, running the event loop; false on timeout.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kLoadTimeoutMs);

// Counts the page loads a window reports, so a test can trigger one and wait for it.
class LoadWatcher {
public:
    explicit LoadWatcher(CHMDocumentWindow* window);
    ~LoadWatcher();
    // Waits until at least count loads (since construction or the last reset) have finished;
    // false on timeout.
    bool waitForLoads(int count = 1);
    int finished() const;
    CHMWebView* lastView() const;
    bool lastOk() const;
    void reset();

private:
    struct State;
    State* m_state;
};

// Records the log messages (qWarning and the like) written while it exists; they still reach
// the previous handler.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    bool contains(const QString& text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
};

// The centre of the element with that id, in the view's coordinates; (-1, -1) when missing.
QPoint elementCenter(QWebEnginePage* page, const QString& elementId);
// Clicks at pos inside the view's render widget, as the user would.
void clickInView(CHMWebView* view, const QPoint& pos, Qt::KeyboardModifiers modifiers = {});

} // namespace webtest
