#include "WebTestSupport.h"

#include "CHMDocumentWindow.h"
#include "ITSSSchemeHandler.h"

#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <memory>

namespace webtest {

void prepareEnvironment() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (config.path() + "/data").toLocal8Bit());
    ITSSSchemeHandler::registerScheme();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    // A real event loop: the web engine's work is scheduled through Qt's timers and socket
    // notifiers, which an occasional processEvents() serves only slowly.
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return condition();
}

QVariant runJavaScript(QWebEnginePage* page, const QString& script, quint32 world) {
    auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    page->runJavaScript(script, world, [result](const QVariant& value) {
        *result = {true, value};
    });
    if (!waitUntil([&] { return result->first; }))
        return {};
    return result->second;
}

int markCount(QWebEnginePage* page) {
    return runInReaderWorld(page,
                            QStringLiteral("document.querySelectorAll('.lumeno-highlight').length"))
        .toInt();
}

QVariant waitForJavaScript(QWebEnginePage* page, const QString& script) {
    QVariant last;
    waitUntil([&] {
        last = runJavaScript(page, script);
        const QString text = last.toString(); // "" when invalid or null
        if (!text.isEmpty() && text != "0" && text != "false")
            return true;
        QTest::qWait(50);
        return false;
    });
    return last;
}

LoadWatcher::LoadWatcher(CHMDocumentWindow* window) {
    m_connection = QObject::connect(window, &CHMDocumentWindow::pageLoadFinished,
                                    [this](CHMWebView* view, bool ok) {
                                        ++m_finished;
                                        m_lastView = view;
                                        m_lastOk = ok;
                                    });
}

namespace {

QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    capturedMessages << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

LogCapture::LogCapture() {
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(&captureMessage);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

bool LogCapture::contains(const QString& text) const {
    return !capturedMessages.filter(text).isEmpty();
}

QPoint addElement(QWebEnginePage* page, const QString& tag, const QString& id,
                  const QString& setup) {
    runJavaScript(page, QStringLiteral("(function(){var e=document.createElement('%1');"
                                       "e.id=e.textContent='%2';e.style.fontSize='40px';"
                                       "document.body.prepend(e);%3})()")
                            .arg(tag, id, setup));
    return elementCenter(page, '#' + id);
}

QPoint elementCenter(QWebEnginePage* page, const QString& selector) {
    const QVariantList box =
        runJavaScript(page, QStringLiteral("(function(){var e=document.querySelector('%1');"
                                           "if(!e)return [-1,-1];e.scrollIntoView();"
                                           "var r=e.getBoundingClientRect();"
                                           "return [r.left+r.width/2, r.top+r.height/2];})()")
                                .arg(selector))
            .toList();
    if (box.size() != 2)
        return {-1, -1};
    // CSS pixels; the view may be zoomed.
    const double zoom = page->zoomFactor();
    return QPoint(qRound(box[0].toDouble() * zoom), qRound(box[1].toDouble() * zoom));
}

void clickInView(CHMWebView* view, const QPoint& pos, Qt::KeyboardModifiers modifiers) {
    QTest::mouseClick(view->focusProxy() ? view->focusProxy() : view, Qt::LeftButton, modifiers,
                      pos);
}

} // namespace webtest
