#include "ExportCommand.h"

#include "CHMDocument.h"
#include "CHMExportSession.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>
#include <utility>

ExportCommand::ExportCommand(CHMDocument* document, QWidget* window,
                             std::function<QWebEngineProfile*()> profile)
    : QObject(window), m_document(document), m_window(window), m_profile(std::move(profile)) {
    m_action = new QAction(tr("Export as PDF"), this);
    m_action->setToolTip(tr("Export the whole book as one PDF file"));
    connect(m_action, &QAction::triggered, this, &ExportCommand::exportToPDF);
}

ExportCommand::~ExportCommand() {
    if (m_session)
        m_session->cancel();
    m_session.reset();
    delete m_progress;
    delete m_completion;
}

QProgressDialog* ExportCommand::progressDialog() const {
    return m_progress;
}

QMessageBox* ExportCommand::completionMessage() const {
    return m_completion;
}

QString ExportCommand::proposedName(const QString& bookPath) {
    return QFileInfo(bookPath).completeBaseName();
}

void ExportCommand::exportToPDF() {
    if (isExporting() || !m_document)
        return;
    auto* panel = new QFileDialog(m_window, tr("Export as PDF"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setNameFilter(tr("PDF documents (*.pdf)"));
    panel->setDefaultSuffix(QStringLiteral("pdf"));
    panel->setLabelText(QFileDialog::Accept, tr("Export"));
    panel->setLabelText(QFileDialog::FileName, tr("Export As:"));
    panel->selectFile(proposedName(m_document->filePath()) + QStringLiteral(".pdf"));
    connect(panel, &QFileDialog::fileSelected, this, &ExportCommand::exportToFile);
    panel->open();
}

void ExportCommand::exportToFile(const QString& path) {
    if (isExporting() || !m_document || path.isEmpty())
        return;
    m_path = path;
    m_action->setEnabled(false);
    m_session = std::make_unique<CHMExportSession>(*m_document, m_profile(), path, nullptr);
    connect(m_session.get(), &CHMExportSession::progress, this,
            &ExportCommand::exportedProgressRate);
    connect(m_session.get(), &CHMExportSession::finished, this, &ExportCommand::exportDidEnd);

    // Up before the first page starts, so it can never open after the export has ended.
    m_progress = new QProgressDialog(m_window);
    m_progress->setWindowTitle(tr("Export as PDF"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setRange(0, 100);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setCancelButtonText(tr("Cancel"));
    m_progress->setLabelText(tr("Exporting %1").arg(QFileInfo(m_document->filePath()).fileName()));
    CHMExportSession* session = m_session.get();
    connect(m_progress, &QProgressDialog::canceled, session, &CHMExportSession::cancel);
    m_progress->show();
    m_session->start();
}

void ExportCommand::exportedProgressRate(double rate, int count, const QString& title) {
    if (!m_progress)
        return;
    //: The count line of the export's progress: output pages so far.
    m_progress->setLabelText(title + QLatin1Char('\n') + tr("%1 pages").arg(count));
    m_progress->setValue(qBound(0, qRound(rate), 100));
}

void ExportCommand::exportDidEnd(bool written, const QString& message) {
    const bool cancelled = m_session && m_session->isConversionCancelled();
    // Its own signal is still being delivered.
    if (m_session)
        m_session.release()->deleteLater();
    if (m_progress) {
        m_progress->close();
        m_progress->deleteLater();
    }
    m_action->setEnabled(true);
    const QString path = m_path;
    if (written) {
        showCompletion(path);
    } else if (!cancelled && !message.isEmpty()) {
        QMessageBox::warning(m_window, tr("Export as PDF"), message);
    }
    emit exportEnded(written, path);
}

void ExportCommand::showCompletion(const QString& path) {
    m_completion = new QMessageBox(QMessageBox::Information, tr("Export as PDF"),
                                   tr("The book was exported as PDF.", "SuccessfullConvertMsg"),
                                   QMessageBox::NoButton, m_window);
    m_completion->setAttribute(Qt::WA_DeleteOnClose);
    m_completion->setWindowModality(Qt::WindowModal);
    QPushButton* done = m_completion->addButton(QMessageBox::Ok);
    QPushButton* openFile =
        m_completion->addButton(tr("Open PDF File", "OpenPDFFileTitle"), QMessageBox::ActionRole);
    QPushButton* openFolder = m_completion->addButton(tr("Show in Folder", "OpenDestinationTitle"),
                                                      QMessageBox::ActionRole);
    m_completion->setDefaultButton(done);
    connect(m_completion, &QMessageBox::buttonClicked, this,
            [path, openFile, openFolder](QAbstractButton* button) {
                if (button == openFile)
                    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
                else if (button == openFolder)
                    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
            });
    m_completion->open();
}
