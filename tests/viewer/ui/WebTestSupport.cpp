#include "WebTestSupport.h"

#include "CHMDocumentWindow.h"
#include "CHMWebView.h"
#include "ITSSSchemeHandler.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
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
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    deadline.start(timeoutMs);
    loop.exec();
    return condition();
}

QVariant runJavaScript(QWebEnginePage* page, const QString& script) {
    auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    page->runJavaScript(script, [result](const QVariant& value) {
        result->first = true;
        result->second = value;
    });
    if (!waitUntil([&] { return result->first; }))
        return {};
    return result->second;
}

QVariant runInReaderWorld(QWebEnginePage* page, const QString& script) {
    auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                        [result](const QVariant& value) {
                            result->first = true;
                            result->second = value;
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

static bool isTruthy(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return false;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString)
        return !value.toString().isEmpty();
    bool isNumber = false;
    const double number = value.toDouble(&isNumber);
    return isNumber ? number != 0.0 : true;
}

QVariant waitForJavaScript(QWebEnginePage* page, const QString& script) {
    QVariant last;
    waitUntil([&] {
        last = runJavaScript(page, script);
        if (isTruthy(last))
            return true;
        QEventLoop pause;
        QTimer::singleShot(50, &pause, &QEventLoop::quit);
        pause.exec();
        return false;
    });
    return last;
}

struct LoadWatcher::State {
    QMetaObject::Connection connection;
    int finished = 0;
    QPointer<CHMWebView> lastView;
    bool lastOk = false;
};

LoadWatcher::LoadWatcher(CHMDocumentWindow* window) : m_state(new State) {
    State* state = m_state;
    state->connection = QObject::connect(window, &CHMDocumentWindow::pageLoadFinished,
                                         [state](CHMWebView* view, bool ok) {
                                             ++state->finished;
                                             state->lastView = view;
                                             state->lastOk = ok;
                                         });
}

LoadWatcher::~LoadWatcher() {
    QObject::disconnect(m_state->connection);
    delete m_state;
}

bool LoadWatcher::waitForLoads(int count) {
    return waitUntil([this, count] { return m_state->finished >= count; });
}

int LoadWatcher::finished() const {
    return m_state->finished;
}

CHMWebView* LoadWatcher::lastView() const {
    return m_state->lastView;
}

bool LoadWatcher::lastOk() const {
    return m_state->lastOk;
}

void LoadWatcher::reset() {
    m_state->finished = 0;
    m_state->lastView = nullptr;
    m_state->lastOk = false;
}

namespace {

QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

} // namespace

LogCapture::LogCapture() {
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

bool LogCapture::contains(const QString& text) const {
    for (const QString& message : capturedMessages) {
        if (message.contains(text))
            return true;
    }
    return false;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
    capturedMessages << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

QPoint elementCenter(QWebEnginePage* page, const QString& elementId) {
    const QVariantList box =
        runJavaScript(page, QStringLiteral("(function(){var e=document.getElementById('%1');"
                                           "if(!e)return [-1,-1];e.scrollIntoView();"
                                           "var r=e.getBoundingClientRect();"
                                           "return [r.left+r.width/2, r.top+r.height/2];})()")
                                .arg(elementId))
            .toList();
    if (box.size() != 2)
        return {-1, -1};
    // CSS pixels; the view may be zoomed.
    const double zoom = page->zoomFactor();
    return QPoint(qRound(box[0].toDouble() * zoom), qRound(box[1].toDouble() * zoom));
}

void clickInView(CHMWebView* view, const QPoint& pos, Qt::KeyboardModifiers modifiers) {
    QWidget* target = view->focusProxy() ? view->focusProxy() : view;
    QTest::mouseClick(target, Qt::LeftButton, modifiers, pos);
}

} // namespace webtest
