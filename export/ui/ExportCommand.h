// The window's "Export as PDF" command: the save panel, the window-modal progress dialog with
// its Cancel button, the export on the window's own web profile, and the closing message.
//
// Made by the document window with its document, itself and a way to its profile (asked for at
// export time, since the window makes its profile only when its web content starts); all
// outlive the command (it is a child of the window). `action()` is the toolbar button and menu
// item. One export at a time per window; the window stays usable meanwhile (only the dialog is
// modal to it). The progress dialog is up before the first page starts and is closed on every way
// out. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class CHMDocument;
class CHMExportSession;
class QAction;
class QMessageBox;
class QProgressDialog;
class QWebEngineProfile;
class QWidget;

class ExportCommand : public QObject {
    Q_OBJECT
public:
    ExportCommand(CHMDocument* document, QWidget* window,
                  std::function<QWebEngineProfile*()> profile);
    ~ExportCommand() override;

    QAction* action() const { return m_action; }

    // The command: asks for the file in a save panel, then exports to it.
    void exportToPDF();
    // Exports to the given file without asking (the save panel's accepted answer).
    void exportToFile(const QString& path);

    bool isExporting() const { return m_session != nullptr; }
    QProgressDialog* progressDialog() const;
    // The message shown at the end of a written export, while it is open.
    QMessageBox* completionMessage() const;

    // The name the save panel proposes: the book's file name without its extension.
    static QString proposedName(const QString& bookPath);

signals:
    // After every export, once the progress dialog is closed.
    void exportEnded(bool written, const QString& path);

private:
    void exportedProgressRate(double rate, int count, const QString& title);
    void exportDidEnd(bool written, const QString& message);
    void showCompletion(const QString& path);

    CHMDocument* m_document;
    QPointer<QWidget> m_window;
    std::function<QWebEngineProfile*()> m_profile;
    QAction* m_action = nullptr;
    std::unique_ptr<CHMExportSession> m_session;
    QPointer<QProgressDialog> m_progress;
    QPointer<QMessageBox> m_completion;
    QString m_path;
};
