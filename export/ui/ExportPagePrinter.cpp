#include "ExportPagePrinter.h"

#include "ExportPageScripts.h"
#include "ExportWebPage.h"
#include "LumenoLogging.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

// CSS pixels per point.
constexpr double kPixelsPerPoint = 96.0 / 72.0;
// How often frames made from a frameset are asked whether they have loaded.
constexpr int kFrameLoadPollMs = 50;

} // namespace

ExportPagePrinter::ExportPagePrinter(QWebEngineProfile* profile, const ExportPageSettings& settings,
                                     QObject* parent)
    : QObject(parent), m_profile(profile), m_settings(settings) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        qCWarning(lcExport) << "page" << logSafe(m_url.toString()) << "gave no answer while"
                            << m_step;
        Result result;
        result.failure = tr("The page did not finish %1 within %2 seconds.")
                             .arg(m_step)
                             .arg(m_timeLimitMs / 1000);
        finish(result);
    });
}

ExportPagePrinter::~ExportPagePrinter() {
    releaseView();
}

void ExportPagePrinter::releaseView() {
    m_timer.stop();
    ++m_generation;
    m_loading = false;
    // The page first: it must go before the profile, and with it its renderer.
    if (m_view) {
        QWebEnginePage* page = m_view->page();
        delete m_view;
        delete page;
        m_view = nullptr;
    }
}

void ExportPagePrinter::abort() {
    releaseView();
    m_done = nullptr;
}

void ExportPagePrinter::armTimer(const char* step) {
    m_step = tr(step);
    m_timer.start(m_timeLimitMs);
}

void ExportPagePrinter::print(const QUrl& url, Callback done) {
    m_timer.stop();
    ++m_generation;
    m_done = std::move(done);
    m_result = Result();
    m_url = url;
    // One view serves page after page (a new one would start a new renderer each time); after
    // a page that failed or hung it is replaced, and with it its renderer.
    if (!m_view) {
        m_view = new QWebEngineView();
        m_view->setAttribute(Qt::WA_DontShowOnScreen);
        auto* page = new ExportWebPage(m_profile, nullptr);
        m_view->setPage(page);
        connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
            if (m_loading) {
                m_loading = false;
                onLoadFinished(ok);
            }
        });
        m_view->show();
    }
    // Back to one printable page high: the last page may have grown it.
    m_view->resize(qRound(m_settings.printableWidth() * kPixelsPerPoint),
                   qRound(m_settings.printableHeight() * kPixelsPerPoint));
    armTimer(QT_TR_NOOP("loading"));
    m_loading = true;
    m_view->page()->load(url);
}

void ExportPagePrinter::onLoadFinished(bool ok) {
    if (!m_view)
        return;
    const QUrl url = m_view->page()->url();
    // A load that failed prints what the view shows; a page that went somewhere else than the
    // book (which the interceptor stops anyway) prints nothing.
    if (url.scheme() != QLatin1String("itss")) {
        Result result;
        result.failure = tr("The page left the book.");
        finish(result);
        return;
    }
    if (!ok)
        qCWarning(lcExport) << "page" << logSafe(url.toString()) << "loaded with errors";
    sizeFrames();
}

void ExportPagePrinter::sizeFrames() {
    armTimer(QT_TR_NOOP("laying out its frames"));
    m_frameWait.start();
    flattenFramesets();
}

void ExportPagePrinter::flattenFramesets() {
    const quint64 generation = m_generation;
    m_view->page()->runJavaScript(
        ExportPageScripts::framesetScript(), QWebEngineScript::ApplicationWorld,
        [this, generation](const QVariant& pending) {
            if (generation != m_generation)
                return;
            if (pending.toInt() <= 0) {
                fitFrames();
                return;
            }
            // A frame that never says it has loaded costs its own content, not the whole page.
            if (m_frameWait.elapsed() >= m_timeLimitMs / 2) {
                qCWarning(lcExport) << "page" << logSafe(m_url.toString()) << "printed with"
                                    << pending.toInt() << "of its frames not loaded";
                fitFrames();
                return;
            }
            QTimer::singleShot(kFrameLoadPollMs, this, [this, generation] {
                if (generation == m_generation)
                    flattenFramesets();
            });
        });
}

void ExportPagePrinter::fitFrames() {
    const quint64 generation = m_generation;
    m_view->page()->runJavaScript(ExportPageScripts::frameSizingScript(),
                                  QWebEngineScript::ApplicationWorld,
                                  [this, generation](const QVariant&) {
                                      if (generation == m_generation)
                                          fitWidth();
                                  });
}

void ExportPagePrinter::fitWidth() {
    const quint64 generation = m_generation;
    m_view->page()->runJavaScript(ExportPageScripts::widthFittingScript(),
                                  QWebEngineScript::ApplicationWorld,
                                  [this, generation](const QVariant& zoom) {
                                      if (generation != m_generation)
                                          return;
                                      if (zoom.toDouble() < 1.0)
                                          qCDebug(lcExport)
                                              << "page" << logSafe(m_url.toString()) << "shrunk to"
                                              << zoom.toDouble() << "to fit its width";
                                      printPage();
                                  });
}

void ExportPagePrinter::printPage() {
    const quint64 generation = m_generation;
    armTimer(QT_TR_NOOP("printing"));
    const QPageLayout layout(QPageSize(QSizeF(m_settings.paperWidth, m_settings.paperHeight),
                                       QPageSize::Point, QString(), QPageSize::ExactMatch),
                             m_settings.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                             QMarginsF(m_settings.leftMargin, m_settings.topMargin,
                                       m_settings.rightMargin, m_settings.bottomMargin),
                             QPageLayout::Point);
    m_view->page()->printToPdf(
        [this, generation](const QByteArray& pdf) {
            if (generation != m_generation)
                return;
            m_result.pdf = pdf;
            if (pdf.isEmpty()) {
                Result result;
                result.failure = tr("The page could not be printed.");
                finish(result);
                return;
            }
            walkDom();
        },
        layout);
}

void ExportPagePrinter::walkDom() {
    const quint64 generation = m_generation;
    armTimer(QT_TR_NOOP("reading its text"));
    m_view->page()->runJavaScript(ExportPageScripts::domWalkScript(),
                                  QWebEngineScript::ApplicationWorld,
                                  [this, generation](const QVariant& walk) {
                                      if (generation != m_generation)
                                          return;
                                      Result result = m_result;
                                      result.walk = walk;
                                      result.url = m_view->page()->url();
                                      result.printed = true;
                                      finish(result);
                                  });
}

void ExportPagePrinter::finish(Result result) {
    // Out of the engine's callback before the page that called it is deleted.
    ++m_generation;
    m_timer.stop();
    m_loading = false;
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result), generation = m_generation]() {
            if (generation != m_generation)
                return;
            if (!result.printed)
                releaseView();
            Callback done = std::move(m_done);
            m_done = nullptr;
            if (done)
                done(result);
        },
        Qt::QueuedConnection);
}
