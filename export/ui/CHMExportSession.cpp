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
    // Its workers go before the exporter they append to.
    m_pipeline.reset();
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
    m_pipeline =
        std::make_unique<PrintPipeline>(*m_exporter, [this](const PrintPipeline::Outcome& outcome) {
            // On a worker thread: the news goes to this object's thread.
            QMetaObject::invokeMethod(
                this, [this, outcome] { printDone(outcome); }, Qt::QueuedConnection);
        });
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
    // Without a pipeline the page phase is over: a step scheduled twice finds nothing to do.
    if (m_ended || !m_pipeline || m_printer.isBusy())
        return;
    if (pollCancelled()) {
        end(false, QString());
        return;
    }
    if (endIfReadingProcessLost())
        return;
    const std::size_t total = m_exporter->pageList().size();
    if (m_nextPage >= total) {
        // The final phase needs every print appended; the last one to finish comes back here.
        if (!m_pipeline->idle())
            return;
        m_pipeline.reset();
        m_resolvedPages = 0;
        report(0.0, 0, tr("Processing %1").arg(QFileInfo(outputPath()).fileName()));
        scheduleStep(&CHMExportSession::resolveSomeDestinations);
        return;
    }
    // Prints waiting to be read hold memory: the next page waits for one to be done.
    if (m_pipeline->inWork() >= PrintPipeline::kMaxPrintsInWork)
        return;
    const QString path = m_exporter->pageList().at(m_nextPage).path();
    // Later reports come as pages are appended (printDone), with the pages they added.
    if (m_nextPage == 0)
        report(0.0, 0, m_title);
    if (m_progressTarget)
        m_progressTarget->exportPageStarted(static_cast<int>(m_nextPage), static_cast<int>(total),
                                            m_exporter->pageList().at(m_nextPage).name());
    const QUrl url = CHMDocument::composeURL(path);
    if (!url.isValid()) {
        leaveOut(path, QStringLiteral("its path makes no address"), false);
        m_pipeline->skipPage(path);
        ++m_nextPage;
        scheduleStep(&CHMExportSession::exportToPDF);
        return;
    }
    m_printer.print(url, [this](const ExportPagePrinter::Result& result) { pagePrinted(result); });
}

void CHMExportSession::pagePrinted(const ExportPagePrinter::Result& result) {
    const QString path = m_exporter->pageList().at(m_nextPage).path();
    ++m_nextPage;
    if (result.printed && m_schemeHandler && m_schemeHandler->servedMissingPage(result.url)) {
        // The reader's own notice for a page the book lacks is no page of the book. One the
        // book lists but cannot give is not missing from it: the book is damaged.
        const bool unreadable =
            m_document.isDamaged() || m_document.exist(result.url.path(QUrl::FullyDecoded));
        leaveOut(path,
                 unreadable ? QStringLiteral("it cannot be read (the book is damaged)")
                            : QStringLiteral("not in the book"),
                 unreadable);
        m_pipeline->skipPage(path);
    } else if (result.printed) {
        m_pipeline->addPrint(path, result.pdf, result.walk);
    } else {
        leaveOut(path, result.failure, false);
        m_pipeline->skipPage(path);
    }
    scheduleStep(&CHMExportSession::exportToPDF);
}

void CHMExportSession::printDone(const PrintPipeline::Outcome& outcome) {
    // News that arrives after the last page was appended has nothing left to report.
    if (m_ended || !m_pipeline)
        return;
    m_outputPages = outcome.outputPages;
    ++m_pagesDone;
    if (outcome.printed && !outcome.added)
        leaveOut(outcome.pagePath, outcome.error, false);
    if (pollCancelled()) {
        end(false, QString());
        return;
    }
    const std::size_t total = m_exporter->pageList().size();
    if (m_pagesDone < total)
        report(static_cast<double>(m_pagesDone) * 100.0 / static_cast<double>(total), m_outputPages,
               m_title);
    // A page held back for a free place, or the final phase, may go on now.
    if (!m_printer.isBusy())
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
    if (endIfReadingProcessLost())
        return;
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

void CHMExportSession::leaveOut(const QString& path, const QString& why, bool unreadable) {
    qCWarning(lcExport) << "page" << logSafe(path) << qUtf8Printable("left out: " + why);
    if (m_progressTarget)
        m_progressTarget->exportPageLeftOut(path, unreadable);
}

bool CHMExportSession::endIfReadingProcessLost() {
    // Every page from here on would read as missing: a PDF of what came before would pass for
    // the book.
    if (!m_document.isDamaged())
        return false;
    end(false, tr("The book's reading process has stopped, so the book cannot be read to its end: "
                  "it is damaged."));
    return true;
}

void CHMExportSession::end(bool written, const QString& message) {
    if (m_ended)
        return;
    m_ended = true;
    m_printer.abort();
    // Prints not yet read are dropped; the one being appended is finished first.
    m_pipeline.reset();
    QMetaObject::invokeMethod(
        this, [this, written, message] { emit finished(written, message); }, Qt::QueuedConnection);
}
