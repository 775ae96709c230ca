#include "LumenoApplication.h"

#include "BookmarkController.h"
#include "CHMConsole.h"
#include "CHMDocument.h"
#include "CHMDocumentWindow.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebView.h"
#include "ErrorMessageBox.h"
#include "ExportCommand.h"
#include "LumenoLogging.h"
#include "ResourceLocator.h"
#include "StartWindow.h"
#include "SystemUrlOpener.h"
#include "TerminationHandling.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <future>
#include <utility>

namespace {

QString displayName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace

LumenoApplication::LumenoApplication(QObject* parent)
    : QObject(parent), m_console(new CHMConsole(this)),
      m_textEncodingMenu(new CHMTextEncodingMenu(this)),
      m_linkOpener(new SystemUrlOpener(
          [this](const QUrl& url) {
              const QString shown = url.toDisplayString().left(300);
              reportError(QApplication::activeWindow(),
                          url.scheme() == QLatin1String("mailto")
                              ? tr("No mail program opened “%1”.").arg(shown)
                              : tr("No web browser opened “%1”.").arg(shown));
          },
          this)) {}

LumenoApplication::~LumenoApplication() {
    // Web views must go while the web engine and QApplication still exist.
    const QList<OpenWindow> open = std::exchange(m_windows, {});
    for (const OpenWindow& entry : open)
        delete entry.window;
    delete m_startWindow;
}

QList<CHMDocumentWindow*> LumenoApplication::windows() const {
    QList<CHMDocumentWindow*> out;
    for (const OpenWindow& entry : m_windows)
        out << entry.window;
    return out;
}

CHMDocumentWindow* LumenoApplication::windowForFile(const QString& path) const {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return nullptr;
    for (CHMDocumentWindow* window : windows()) {
        if (QFileInfo(window->document()->filePath()).canonicalFilePath() == canonical)
            return window;
    }
    return nullptr;
}

CHMDocumentWindow* LumenoApplication::openFile(const QString& path) {
    QWidget* parent = QApplication::activeWindow();
    const QFileInfo info(path);
    if (!info.exists()) {
        reportError(parent,
                    tr("“%1” cannot be opened: there is no such file.").arg(displayName(path)));
        return nullptr;
    }
    if (!info.isFile() || info.suffix().compare(QLatin1String("chm"), Qt::CaseInsensitive) != 0) {
        reportError(parent,
                    tr("“%1” is not a Compiled HTML Help file. Lumeno+ opens .chm files only.")
                        .arg(displayName(path)));
        return nullptr;
    }
    if (CHMDocumentWindow* open = windowForFile(path)) {
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    // The file opens on another thread while this one loads the widget style and the fonts,
    // which the window's first widget would otherwise wait for.
    QString error;
    std::future<std::unique_ptr<CHMDocument>> opening =
        std::async(std::launch::async, [path = info.canonicalFilePath(), &error] {
            return CHMDocument::open(path, &error, CHMDocument::SitemapLoading::Later);
        });
    QApplication::style();
    QFontMetrics(QApplication::font()).height();
    std::unique_ptr<CHMDocument> document = opening.get();
    qCDebug(lcStartup) << "document open";
    if (!document) {
        reportError(parent, error.isEmpty() ? tr("“%1” could not be opened.").arg(displayName(path))
                                            : error);
        return nullptr;
    }
    auto* window = new CHMDocumentWindow(std::move(document), m_textEncodingMenu);
    qCDebug(lcStartup) << "window built";
    // The reader opens a book to read its page: the engine, the page's process and the request
    // start now, so that the page process starts and the page is served while the window is
    // laid out and painted, instead of after its first paint.
    window->startWebContent();
    connect(window, &CHMDocumentWindow::consoleMessage, m_console, &CHMConsole::log);
    m_windows << OpenWindow{window, window};
    // By the time destroyed() arrives the window is a plain QObject: compare as that.
    connect(window, &QObject::destroyed, this, [this](QObject* gone) {
        m_windows.removeIf([gone](const OpenWindow& entry) { return entry.object == gone; });
    });
    attachExport(window);
    installMenus(window);
    window->show();
    qCDebug(lcStartup) << "window shown";
    if (m_startWindow)
        m_startWindow->close();
    emit windowOpened(window);
    return window;
}

StartWindow* LumenoApplication::showStartWindow() {
    if (!m_startWindow) {
        m_startWindow = new StartWindow();
        connect(m_startWindow, &QObject::destroyed, this, [this] { m_startWindow = nullptr; });
        connect(m_startWindow, &StartWindow::openRequested, this,
                [this] { showOpenPanel(m_startWindow); });
        installStartMenus(m_startWindow);
    }
    m_startWindow->show();
    m_startWindow->raise();
    m_startWindow->activateWindow();
    return m_startWindow;
}

void LumenoApplication::attachExport(CHMDocumentWindow* window) {
    // The command lives as the window's child, on the window's own profile, so its offscreen
    // pages are served by this book alone and go before the profile does.
    auto* command =
        new ExportCommand(window->document(), window, [window] { return window->profile(); });
    QAction* action = window->exportAction();
    connect(action, &QAction::triggered, command, &ExportCommand::exportToPDF);
    action->setEnabled(true);
}

int LumenoApplication::openFiles(const QStringList& paths) {
    int shown = 0;
    for (const QString& path : paths) {
        if (terminationRequested())
            break;
        if (openFile(path))
            ++shown;
    }
    return shown;
}

void LumenoApplication::openHandedOverFiles(const QStringList& paths) {
    if (!paths.isEmpty()) {
        openFiles(paths);
    } else if (!m_windows.isEmpty()) {
        CHMDocumentWindow* window = m_windows.constLast().window;
        window->raise();
        window->activateWindow();
    } else {
        showStartWindow();
    }
}

void LumenoApplication::reportError(QWidget* parent, const QString& message) {
    qCInfo(lcWindow).noquote() << "told the user:" << logSafe(message);
    if (terminationRequested())
        return;
    // One message at a time: what comes while it is open joins it.
    if (m_errorBox) {
        m_errorBox->addMessage(message);
        return;
    }
    QPointer<ErrorMessageBox> box = new ErrorMessageBox(message, parent);
    m_errorBox = box;
    box->exec();
    // Gone already when its window closed meanwhile.
    delete box.data();
}

void LumenoApplication::showOpenPanel(QWidget* parent) {
    const QStringList paths = QFileDialog::getOpenFileNames(parent, tr("Open"), QString(),
                                                            tr("Compiled HTML Help (*.chm)"));
    openFiles(paths);
}

void LumenoApplication::showAbout(QWidget* parent) {
    QMessageBox::about(parent, tr("About Lumeno+"),
                       tr("<p><b>Lumeno+</b> %1</p><p>A reader for Compiled HTML Help (.chm) "
                          "files.</p>")
                           .arg(QApplication::applicationVersion().toHtmlEscaped()));
}

void LumenoApplication::UserManualHelpAction(QWidget* parent) {
    const QString manual = ResourceLocator::resourcePath(userManualResourceName());
    if (manual.isEmpty()) {
        reportError(parent, tr("The Lumeno+ user manual is not installed: “%1” is missing.")
                                .arg(userManualResourceName()));
        return;
    }
    const QPointer<QWidget> owner(parent);
    openWatched(QUrl::fromLocalFile(manual), [this, owner, manual] {
        reportError(owner, tr("No program on this computer opens the user manual (a PDF file): "
                              "“%1”.")
                               .arg(QDir::toNativeSeparators(manual)));
    });
}

void LumenoApplication::openWatched(const QUrl& url, std::function<void()> failed) {
    if (m_urlOpener) {
        if (!m_urlOpener(url))
            failed();
        return;
    }
    m_linkOpener->open(url, [failed = std::move(failed)](const QUrl&) { failed(); });
}

void LumenoApplication::ContactSupportAction(QWidget* parent) {
    const QUrl address(supportAddress(), QUrl::StrictMode);
    // An address that makes no URL opens nothing.
    if (!address.isValid() || address.scheme().isEmpty())
        return;
    const QPointer<QWidget> owner(parent);
    openWatched(address, [this, owner, address] {
        reportError(
            owner, tr("No web browser opened the support page: %1").arg(address.toDisplayString()));
    });
}

BookmarkController* LumenoApplication::bookmarkController() {
    if (m_bookmarkController)
        return m_bookmarkController;
    BookmarkHost host;
    host.currentPage = [](QWidget* widget) -> std::optional<BookmarkPage> {
        auto* window = qobject_cast<CHMDocumentWindow*>(widget);
        if (!window || window->currentURL().isEmpty())
            return std::nullopt;
        const CHMDocument* document = window->document();
        QString title = window->currentTitle();
        // Until its page has loaded, the tab has no name of its own: the book's is proposed.
        const CHMWebView* view = window->curWebView();
        if (title == CHMDocumentWindow::untitledLabel() && view && view->page()->isLoading())
            title = document->docTitle().isEmpty() ? displayName(document->filePath())
                                                   : document->docTitle();
        return BookmarkPage{document->filePath(), window->currentURL(), title,
                            document->docTitle()};
    };
    host.openPage = [this](const QString& path, const QUrl& url) {
        CHMDocumentWindow* window = openFile(path);
        if (window)
            window->loadURL(url);
        return window != nullptr;
    };
    m_bookmarkController =
        new BookmarkController(std::move(host), BookmarkStore::applicationSupportFolder(), this);
    return m_bookmarkController;
}

void LumenoApplication::installMenus(CHMDocumentWindow* window) {
    QMenuBar* bar = window->menuBar();

    QMenu* file = bar->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("Open…"), window, [this, window] { showOpenPanel(window); });
    open->setShortcut(QKeySequence::Open);
    file->addAction(window->newTabAction());
    file->addSeparator();
    file->addAction(window->closeTabAction());
    QAction* closeWindow = file->addAction(tr("Close Window"), window, &QWidget::close);
    closeWindow->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+W")));
    file->addSeparator();
    file->addAction(window->exportAction());
    file->addAction(window->printAction());
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit Lumeno+"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* edit = bar->addMenu(tr("&Edit"));
    edit->addAction(window->findAction());
    edit->addAction(window->findNextAction());
    edit->addAction(window->findPreviousAction());
    edit->addAction(window->doneFindAction());

    QMenu* view = bar->addMenu(tr("&View"));
    view->addAction(window->backAction());
    view->addAction(window->forwardAction());
    view->addAction(window->homeAction());
    view->addSeparator();
    view->addAction(window->zoomInAction());
    view->addAction(window->zoomOutAction());
    view->addAction(window->actualSizeAction());
    view->addSeparator();
    view->addAction(window->toggleSidebarAction());
    view->addAction(window->focusOnSearchAction());
    view->addAction(window->focusOnContentsAction());
    view->addAction(window->focusOnPageAction());
    view->addSeparator();
    view->addMenu(m_textEncodingMenu->menu());
    view->addSeparator();
    view->addAction(window->customizeToolbarAction());
    view->addAction(window->fullScreenAction());

    bookmarkController()->installMenu(bar, window);

    QMenu* windowMenu = bar->addMenu(tr("&Window"));
    QAction* minimize = windowMenu->addAction(tr("Minimize"), window, &QWidget::showMinimized);
    minimize->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    windowMenu->addSeparator();
    windowMenu->addAction(window->nextTabAction());
    windowMenu->addAction(window->previousTabAction());
    windowMenu->addAction(window->firstTabAction());
    windowMenu->addAction(window->lastTabAction());

    installHelpMenu(bar, window);
}

void LumenoApplication::installStartMenus(StartWindow* window) {
    QMenuBar* bar = window->menuBar();
    QMenu* file = bar->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("Open…"), window, [this, window] { showOpenPanel(window); });
    open->setShortcut(QKeySequence::Open);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit Lumeno+"), qApp, &QApplication::closeAllWindows);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    bookmarkController()->installMenu(bar, window);
    installHelpMenu(bar, window);
}

void LumenoApplication::installHelpMenu(QMenuBar* bar, QWidget* window) {
    QMenu* help = bar->addMenu(tr("&Help"));
    QAction* manual = help->addAction(tr("Lumeno+ Help"), window,
                                      [this, window] { UserManualHelpAction(window); });
    manual->setObjectName(QStringLiteral("userManualHelp"));
    manual->setShortcut(QKeySequence::HelpContents);
    QAction* support = help->addAction(tr("Contact Support"), window,
                                       [this, window] { ContactSupportAction(window); });
    support->setObjectName(QStringLiteral("contactSupport"));
    help->addSeparator();
    QAction* about =
        help->addAction(tr("About Lumeno+"), window, [this, window] { showAbout(window); });
    about->setMenuRole(QAction::AboutRole);
}
