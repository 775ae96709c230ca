#include "CHMExportSession.h"

#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "ITSSSchemeHandler.h"
#include "LumenoLogging.h"

#include <QFileInfo>
#include <QTimer>
#include <QWebEngineProfile>

namespace {

// Output pages whose links are resolved in one turn of the event loop.
constexpr int kPagesPerResolveStep = 64;

std::vector<LinkItemPtr> contentsPages(const CHMDocument& document) {
    const auto toc = document.tocSource();
    return toc ? toc->pageList() : std::vector<LinkItemPtr>();
}

} // namespace

CHMExportSession::CHMExportSession(CHMDocument& document, QWebEngineProfile* profile,
                                   const QString& outputPath,
                                   const CHMToPDFConversionOptions* options, QObject* parent)
    : QObject(parent), m_document(document),
      m_exporter(
          std::make_unique<CHMExporter>(document, outputPath, contentsPages(document), options)),
      m_progressTarget(options ? options->progressCallback.progressTarget : nullptr),
      m_schemeHandler(qobject_cast<const ITSSSchemeHandler*>(profile->urlSchemeHandler("itss"))),
      m_printer(profile, m_exporter->pageSettings()) {}

CHMExportSession::~CHMExportSession() {
    m_printer.abort();
}

void CHMExportSession::start() {
    if (m_started)
        return;
    m_started = true;
    m_isConversionCancelled.store(false);
    m_title = tr("Exporting %1").arg(QFileInfo(m_document.filePath()).fileName());
    QString reason;
    if (!m_exporter->outputFolderTakesFiles(&reason)) {
        // Told before the first page, not after the whole book.
        QMetaObject::invokeMethod(
            this,
            [this, reason] { end(false, tr("The PDF could not be written: %1").arg(reason)); },
            Qt::QueuedConnection);
        return;
    }
    scheduleStep(&CHMExportSession::exportToPDF);
}

void CHMExportSession::scheduleStep(void (CHMExportSession::*step)()) {
    QMetaObject::invokeMethod(this, step, Qt::QueuedConnection);
}

void CHMExportSession::report(double rate, int count, const QString& title) {
    emit progress(rate, count, title);
    if (m_progressTarget)
        m_progressTarget->exportProgress(rate, count, title);
}

bool CHMExportSession::pollCancelled() {
    if (m_progressTarget && m_progressTarget->isConversionCancelled())
        m_isConversionCancelled.store(true);
    return m_isConversionCancelled.load();
}

void CHMExportSession::exportToPDF() {
    if (m_ended)
        return;
    if (pollCancelled()) {
        end(false, QString());
        return;
    }
    if (!m_exporter->hasMorePages()) {
        m_resolvedPages = 0;
        report(0.0, 0, tr("Processing %1").arg(QFileInfo(outputPath()).fileName()));
        scheduleStep(&CHMExportSession::resolveSomeDestinations);
        return;
    }
    const std::size_t total = m_exporter->pageList().size();
    const QString path = m_exporter->currentPagePath();
    report(static_cast<double>(m_exporter->curPageId()) * 100.0 / static_cast<double>(total),
           m_exporter->pageCount(), m_title);
    if (m_progressTarget)
        m_progressTarget->exportPageStarted(
            static_cast<int>(m_exporter->curPageId()), static_cast<int>(total),
            m_exporter->pageList().at(m_exporter->curPageId()).name());
    const QUrl url = CHMDocument::composeURL(path);
    if (!url.isValid()) {
        m_exporter->skipPage();
        scheduleStep(&CHMExportSession::exportToPDF);
        return;
    }
    m_printer.print(url, [this](const ExportPagePrinter::Result& result) { pagePrinted(result); });
}

void CHMExportSession::pagePrinted(const ExportPagePrinter::Result& result) {
    if (result.printed && m_schemeHandler && m_schemeHandler->servedMissingPage(result.url)) {
        // The reader's own notice for a page the book lacks is no page of the book.
        qCWarning(lcExport) << "page" << logSafe(m_exporter->currentPagePath())
                            << "left out: not in the book";
        m_exporter->skipPage();
    } else if (result.printed) {
        QString error;
        if (!m_exporter->addPrintedPage(result.pdf, PageTextContent::fromWalk(result.walk), &error))
            qCWarning(lcExport)
                << "page" << logSafe(m_exporter->pageList().at(m_exporter->curPageId() - 1).path())
                << "left out:" << error;
    } else {
        qCWarning(lcExport) << "page" << logSafe(m_exporter->currentPagePath())
                            << "left out:" << result.failure;
        m_exporter->skipPage();
    }
    scheduleStep(&CHMExportSession::exportToPDF);
}

void CHMExportSession::resolveSomeDestinations() {
    if (m_ended)
        return;
    const int total = m_exporter->outputPageCount();
    const QString title = tr("Processing %1").arg(QFileInfo(outputPath()).fileName());
    for (int n = 0; n < kPagesPerResolveStep && m_resolvedPages < total; ++n) {
        if (pollCancelled()) {
            end(false, QString());
            return;
        }
        m_exporter->ResolveDestination(m_resolvedPages);
        ++m_resolvedPages;
    }
    if (m_resolvedPages < total) {
        report(m_resolvedPages * 100.0 / total, m_resolvedPages, title);
        scheduleStep(&CHMExportSession::resolveSomeDestinations);
        return;
    }
    scheduleStep(&CHMExportSession::writeOutput);
}

void CHMExportSession::writeOutput() {
    if (m_ended)
        return;
    if (pollCancelled()) {
        end(false, QString());
        return;
    }
    if (m_exporter->outputPageCount() == 0) {
        // A PDF without pages is no document; nothing is written and the user is told.
        end(false, tr("The book has no page that could be exported."));
        return;
    }
    report(100.0, m_exporter->outputPageCount(),
           tr("Saving %1").arg(QFileInfo(outputPath()).fileName()));
    const auto toc = m_document.tocSource();
    m_exporter->GenerateTableOfContents(toc ? toc->rootItems() : nullptr);
    QString error;
    const bool written = m_exporter->WritePDFData(&error);
    end(written, written ? QString() : tr("The PDF could not be written: %1").arg(error));
}

void CHMExportSession::end(bool written, const QString& message) {
    if (m_ended)
        return;
    m_ended = true;
    m_printer.abort();
    QMetaObject::invokeMethod(
        this, [this, written, message] { emit finished(written, message); }, Qt::QueuedConnection);
}
