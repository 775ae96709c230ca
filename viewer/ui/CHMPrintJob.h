// One print of a page, through the web engine's own PDF output, so that the text stays text
// (the engine's raster printing gives bitmaps that no tool can read text from).
//
// The element that has the focus (the link clicked last) lets go of it first, so that its focus
// ring is not printed. The engine writes the page as a PDF laid out on the printer's page layout
// into a temporary file; the PDF then goes where the print dialog said: to the chosen file when the
// user printed to a PDF file, else to the chosen printer through CUPS ("lp", which takes PDF as it
// is). finished() reports the end once, with an error text on failure ("" on success); a failure
// never passes for success. The temporary file goes with the job.
//
// The job lives until finished(); the page must outlive it (the window keeps both). GUI thread.
#pragma once

#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QPrinter;
class QProcess;
class QWebEnginePage;

class CHMPrintJob : public QObject {
    Q_OBJECT
public:
    // Where the PDF goes: a file (outputFile not empty) or a printer by its CUPS name.
    struct Target {
        QString outputFile;
        QString printerName;
        int copies = 1;
        QPageLayout layout;
    };
    static Target targetOf(const QPrinter& printer);

    CHMPrintJob(QWebEnginePage* page, Target target, QObject* parent = nullptr);
    ~CHMPrintJob() override;

    // Starts the engine's PDF output; false (and no finished()) when nothing can start.
    bool start(QString* error);
    bool isRunning() const { return m_running; }

signals:
    void finished(const QString& error);

private:
    void pdfWritten(const QString& path, bool ok);
    void deliverToPrinter(const QString& path);
    void finish(const QString& error);

    QPointer<QWebEnginePage> m_page;
    Target m_target;
    QTemporaryDir m_scratch;
    QString m_pdfPath;
    QProcess* m_lp = nullptr;
    bool m_running = false;
};
