// The application: opens .chm files in document windows (one window per file, several files at
// once), gives each window the main menu, and answers the application-wide commands (Open,
// About, Help, Quit).
//
// Only .chm files open; anything else, a missing file or a damaged container is reported in a
// message and opens nothing. A file that is already open (same canonical path) brings its
// window forward instead. Windows delete themselves when closed; those still open when the
// application object goes are deleted with it, before QApplication. GUI thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class BookmarkController;
class CHMConsole;
class CHMTextEncodingMenu;
class CHMDocumentWindow;
class ErrorMessageBox;
class QMenuBar;
class SystemUrlOpener;
class QWidget;
class StartWindow;

class LumenoApplication : public QObject {
    Q_OBJECT
public:
    explicit LumenoApplication(QObject* parent = nullptr);
    ~LumenoApplication() override;

    // Opens the file in a new window, or brings forward the window that shows it. Answers that
    // window; nullptr when the file was refused (the user has been told why).
    CHMDocumentWindow* openFile(const QString& path);
    // Each file in turn; answers how many are now shown.
    int openFiles(const QStringList& paths);
    // Files a second start handed over (SingleInstance): opened; with none, the last window
    // comes forward, or the Open panel shows when no window is open.
    void openHandedOverFiles(const QStringList& paths);
    // The window showing the file (compared by canonical path), or nullptr.
    CHMDocumentWindow* windowForFile(const QString& path) const;
    QList<CHMDocumentWindow*> windows() const;

    // The window shown while no book is open (made and shown on first call, then brought
    // forward); it closes when a book's window opens.
    StartWindow* showStartWindow();
    StartWindow* startWindow() const { return m_startWindow; }

    // File › Open…: asks for .chm files and opens them.
    void showOpenPanel(QWidget* parent);
    void showAbout(QWidget* parent);
    // Help › Lumeno+ Help: the user manual in the system's PDF viewer; a message when it is
    // missing or nothing opens PDF files.
    void UserManualHelpAction(QWidget* parent);
    // Help › Contact Support: the support page in the default browser; a message when no
    // browser takes it.
    void ContactSupportAction(QWidget* parent);

    // The bookmark library's menus, sheet and manager; made on first use.
    BookmarkController* bookmarkController();

    static QString userManualResourceName() { return QStringLiteral("Lumeno+ User Manual.pdf"); }
    static QString supportAddress() { return QStringLiteral("https://lumeno.example.org/support"); }
    CHMTextEncodingMenu* textEncodingMenu() const { return m_textEncodingMenu; }

    // How URLs and files reach the system: xdg-open, watched (SystemUrlOpener), unless replaced
    // (tests: the opener answers at once whether a program took the URL).
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { m_urlOpener = std::move(opener); }

signals:
    void windowOpened(CHMDocumentWindow* window);

protected:
    // Tells the user why something could not be done: a message box, or the one already open
    // (ErrorMessageBox); nothing once the reader is ending. Tests override it.
    virtual void reportError(QWidget* parent, const QString& message);

private:
    // Connects the window's "Export as PDF" command to the PDF export.
    void attachExport(CHMDocumentWindow* window);
    void installMenus(CHMDocumentWindow* window);
    // The menus that belong to the application rather than to a book: File's Open… and Quit,
    // Bookmarks and Help, for the start window.
    void installStartMenus(StartWindow* window);
    void installHelpMenu(QMenuBar* bar, QWidget* window);
    // Hands the URL to the system; `failed` runs, possibly later, when no program took it.
    void openWatched(const QUrl& url, std::function<void()> failed);

    struct OpenWindow {
        QObject* object; // the same window, kept as QObject for the destroyed() signal
        CHMDocumentWindow* window;
    };
    QList<OpenWindow> m_windows;
    CHMConsole* m_console;
    // The Text Encoding submenu every window's View menu shares.
    CHMTextEncodingMenu* m_textEncodingMenu;
    BookmarkController* m_bookmarkController = nullptr;
    StartWindow* m_startWindow = nullptr;
    std::function<bool(const QUrl&)> m_urlOpener;
    // Web and mail links of every window; tells when no program took one.
    SystemUrlOpener* m_linkOpener;
    // The message open now, if any.
    QPointer<ErrorMessageBox> m_errorBox;
};
