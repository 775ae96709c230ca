#include "CHMPrintJob.h"

#include "LumenoLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QSaveFile>
#include <QWebEnginePage>
#include <QWebEngineScript>

CHMPrintJob::Target CHMPrintJob::targetOf(const QPrinter& printer) {
    Target target;
    if (printer.outputFormat() == QPrinter::PdfFormat)
        target.outputFile = printer.outputFileName();
    target.printerName = printer.printerName();
    target.copies = std::max(1, printer.copyCount());
    target.layout = printer.pageLayout();
    return target;
}

CHMPrintJob::CHMPrintJob(QWebEnginePage* page, Target target, QObject* parent)
    : QObject(parent), m_page(page), m_target(std::move(target)) {}

CHMPrintJob::~CHMPrintJob() {
    if (m_lp) {
        // The printer has been handed the file, or never will be: do not wait for lp.
        m_lp->disconnect(this);
        m_lp->kill();
        m_lp->waitForFinished(1000);
    }
}

bool CHMPrintJob::start(QString* error) {
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!m_page)
        return fail(tr("There is no page to print."));
    if (m_target.outputFile.isEmpty() && m_target.printerName.isEmpty())
        return fail(tr("No printer was chosen."));
    if (!m_scratch.isValid())
        return fail(tr("No temporary folder could be made for printing."));
    m_pdfPath = m_scratch.filePath(QStringLiteral("print.pdf"));
    connect(m_page, &QWebEnginePage::pdfPrintingFinished, this, &CHMPrintJob::pdfWritten);
    m_running = true;
    // The focus ring of the link clicked last is no part of the page: the focused element
    // lets go of the focus before the page is laid out for printing.
    const QPointer<CHMPrintJob> self(this);
    m_page->runJavaScript(QStringLiteral("if (document.activeElement && document.activeElement."
                                         "blur) document.activeElement.blur();"),
                          QWebEngineScript::ApplicationWorld, [self](const QVariant&) {
                              if (self && self->m_running && self->m_page)
                                  self->m_page->printToPdf(self->m_pdfPath, self->m_target.layout);
                          });
    return true;
}

void CHMPrintJob::pdfWritten(const QString& path, bool ok) {
    if (!m_running || path != m_pdfPath)
        return;
    if (!ok || !QFileInfo(path).isFile()) {
        finish(tr("The page could not be laid out for printing."));
        return;
    }
    if (m_target.outputFile.isEmpty()) {
        deliverToPrinter(path);
        return;
    }
    // Whole or not at all: a file that was there stays as it was when the copy fails.
    QFile source(path);
    QSaveFile out(m_target.outputFile);
    if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) ||
        out.write(source.readAll()) != source.size() || !out.commit()) {
        finish(tr("“%1” could not be written: %2")
                   .arg(QFileInfo(m_target.outputFile).fileName(),
                        out.errorString().isEmpty() ? source.errorString() : out.errorString()));
        return;
    }
    finish(QString());
}

void CHMPrintJob::deliverToPrinter(const QString& path) {
    m_lp = new QProcess(this);
    connect(m_lp, &QProcess::errorOccurred, this, [this](QProcess::ProcessError problem) {
        if (problem == QProcess::FailedToStart)
            finish(tr("The printing system (lp) could not be started."));
    });
    connect(m_lp, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const QString said = QString::fromLocal8Bit(m_lp->readAllStandardError()).trimmed();
        if (status != QProcess::NormalExit || code != 0)
            finish(tr("The printer refused the page: %1")
                       .arg(said.isEmpty() ? tr("lp ended with code %1").arg(code) : said));
        else
            finish(QString());
    });
    m_lp->start(QStringLiteral("lp"),
                {QStringLiteral("-d"), m_target.printerName, QStringLiteral("-n"),
                 QString::number(m_target.copies), QStringLiteral("--"), path});
}

void CHMPrintJob::finish(const QString& error) {
    if (!m_running)
        return;
    m_running = false;
    if (!error.isEmpty())
        qCWarning(lcWindow) << "printing failed:" << error;
    emit finished(error);
}
