// One export run on the web engine: every page of the exporter's page list printed in turn,
// then links, outline and the file. An asynchronous state machine on the GUI thread, so the
// window keeps working: each page is one load, one print and one DOM walk, and each step is
// started from the event loop. Reading the prints and appending their pages happens on worker
// threads (PrintPipeline) while the next page prints; the final phase waits until they are done.
//
// `cancel` may be called from any thread; the flag is read between pages and between output
// pages of the final phase. `finished` is emitted exactly once, on every way out (written,
// failed, cancelled), from the event loop. A cancelled or failed export leaves no file behind
// and never touches an existing file at the target. The document and the profile must outlive
// the session. GUI thread (except `cancel`).
#pragma once

#include "CHMExporter.h"
#include "ExportPagePrinter.h"
#include "PrintPipeline.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class CHMDocument;
class ITSSSchemeHandler;
class QWebEngineProfile;

class CHMExportSession : public QObject {
    Q_OBJECT
public:
    CHMExportSession(CHMDocument& document, QWebEngineProfile* profile, const QString& outputPath,
                     const CHMToPDFConversionOptions* options, QObject* parent = nullptr);
    ~CHMExportSession() override;

    // Starts the first step from the event loop; later calls do nothing.
    void start();
    void cancel() { m_isConversionCancelled.store(true); }
    bool isConversionCancelled() const { return m_isConversionCancelled.load(); }
    bool isRunning() const { return m_started && !m_ended; }

    void setPageTimeLimit(int milliseconds) { m_printer.setTimeLimit(milliseconds); }
    const CHMExporter& exporter() const { return *m_exporter; }
    const QString& outputPath() const { return m_exporter->outputPath(); }

signals:
    // rate in percent; count: output pages so far; title: the file being worked on.
    void progress(double rate, int count, const QString& title);
    // written: the PDF is at outputPath(). message: why not, empty when cancelled.
    void finished(bool written, const QString& message);

private:
    void exportToPDF();
    void pagePrinted(const ExportPagePrinter::Result& result);
    void printDone(const PrintPipeline::Outcome& outcome);
    void resolveSomeDestinations();
    void writeOutput();
    void end(bool written, const QString& message);
    // Logs why the page is left out and tells the progress target.
    void leaveOut(const QString& path, const QString& why, bool unreadable);
    // Ends the export, writing nothing, once the book's reading process is lost.
    bool endIfReadingProcessLost();
    void report(double rate, int count, const QString& title);
    bool pollCancelled();
    void scheduleStep(void (CHMExportSession::*step)());

    CHMDocument& m_document;
    std::unique_ptr<CHMExporter> m_exporter;
    ExportProgressTarget* m_progressTarget = nullptr;
    const ITSSSchemeHandler* m_schemeHandler = nullptr;
    ExportPagePrinter m_printer;
    // Reads and appends the prints while the next page prints; owns the exporter until idle.
    std::unique_ptr<PrintPipeline> m_pipeline;
    std::size_t m_nextPage = 0;  // the page list's page to print next
    int m_outputPages = 0;       // output pages appended so far, as the pipeline last told
    std::size_t m_pagesDone = 0; // pages of the page list appended or skipped
    std::atomic<bool> m_isConversionCancelled{false};
    bool m_started = false;
    bool m_ended = false;
    int m_resolvedPages = 0;
    QString m_title;
};
