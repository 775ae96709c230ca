#include "BookmarkController.h"

#include "AddBookmarkSheet.h"
#include "BookmarkManagerWindow.h"
#include "BookmarkView.h"
#include "CHMBookmark.h"
#include "CHMFile.h"
#include "CHMTag.h"
#include "FetchRequestItem.h"
#include "LumenoLogging.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

namespace {

const char* const kMenuKind = "lumenoBookmarkMenu";
const QString kTagsKind = QStringLiteral("tags");
const QString kFilesKind = QStringLiteral("files");
// The separator after which a Bookmarks menu lists the newest bookmarks.
const QString kNewestMarker = QStringLiteral("newestBookmarks");

QString menuText(const QString& text) {
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
}

// Empties the menu, its submenus included (a menu owns its actions but not their menus).
void clearMenu(QMenu* menu) {
    QList<QMenu*> submenus;
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu(); sub && sub->parent() == menu)
            submenus << sub;
    }
    menu->clear();
    for (QMenu* sub : submenus)
        sub->deleteLater();
}

} // namespace

BookmarkController::BookmarkController(BookmarkHost host, const QString& folder, QObject* parent)
    : QObject(parent), m_host(std::move(host)),
      m_library(std::make_unique<BookmarkLibrary>(
          folder, [this](const QString& message) { reportError(message); })) {
    // After construction, so that a store that cannot be opened is reported the caller's way.
    QTimer::singleShot(0, this, [this] { m_library->purge(); });
}

BookmarkController::~BookmarkController() {
    if (m_addPanel)
        delete m_addPanel.data();
}

void BookmarkController::reportError(const QString& message) {
    QMessageBox::warning(QApplication::activeWindow(), tr("Bookmarks"), message);
}

QMenu* BookmarkController::installMenu(QMenuBar* bar, QWidget* window) {
    QMenu* menu = bar->addMenu(tr("&Bookmarks"));
    menu->setObjectName(QStringLiteral("bookmarksMenu"));
    QPointer<QWidget> owner(window);
    QAction* add =
        menu->addAction(tr("Add Bookmark…"), this, [this, owner] { showAddBookmark(owner); });
    add->setObjectName(QStringLiteral("addBookmarkAction"));
    add->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    QAction* manage = menu->addAction(tr("Manage Bookmarks…"), this, [this] { showWindow(); });
    manage->setObjectName(QStringLiteral("manageBookmarksAction"));
    manage->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+B")));
    menu->addSeparator();

    QMenu* byTag = menu->addMenu(tr("By Tag"));
    byTag->setObjectName(QStringLiteral("groupByTagsMenu"));
    byTag->setProperty(kMenuKind, kTagsKind);
    QMenu* byFile = menu->addMenu(tr("By File"));
    byFile->setObjectName(QStringLiteral("groupByFilesMenu"));
    byFile->setProperty(kMenuKind, kFilesKind);
    QAction* marker = menu->addSeparator();
    marker->setObjectName(kNewestMarker);

    for (QMenu* each : {menu, byTag, byFile})
        connect(each, &QMenu::aboutToShow, this, [this, each] { menuNeedsUpdate(each); });
    connect(menu, &QMenu::aboutToShow, this, [this, owner, add] {
        add->setEnabled(owner && m_host.currentPage && m_host.currentPage(owner).has_value());
    });
    return menu;
}

void BookmarkController::menuNeedsUpdate(QMenu* menu) {
    // A book moved away and back since the last look is enabled again.
    m_library->refreshValidity();
    const QString kind = menu->property(kMenuKind).toString();
    if (kind == kTagsKind) {
        groupByTagsMenuNeedsUpdate(menu);
        return;
    }
    if (kind == kFilesKind) {
        groupByFilesMenuNeedsUpdate(menu);
        return;
    }
    // The newest list: after the marker in a Bookmarks menu, else the whole menu.
    const QList<QAction*> actions = menu->actions();
    qsizetype first = 0;
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i]->objectName() == kNewestMarker)
            first = i + 1;
    }
    if (first == 0) {
        clearMenu(menu);
    } else {
        for (qsizetype i = first; i < actions.size(); ++i) {
            menu->removeAction(actions[i]);
            if (actions[i]->parent() == menu)
                actions[i]->deleteLater();
        }
    }
    bool ok = false;
    const QList<CHMBookmark> newest =
        CHMBookmark::newestBookmarks(kNewestCount, m_library->contextForReading(), &ok);
    if (!ok)
        return;
    for (const CHMBookmark& bookmark : newest)
        createMenuItemForBookmark(bookmark, menu);
    if (newest.isEmpty())
        addEmptyItemToMenu(menu);
}

void BookmarkController::groupByTagsMenuNeedsUpdate(QMenu* menu) {
    clearMenu(menu);
    for (const CHMTag& tag : CHMTag::allTagswithContext(m_library->contextForReading())) {
        const QList<CHMBookmark> bookmarks = tag.bookmarks();
        if (bookmarks.isEmpty())
            continue;
        auto* sub = new QMenu(menuText(tag.tag()), menu);
        for (const CHMBookmark& bookmark : bookmarks)
            createMenuItemForBookmark(bookmark, sub);
        menu->addMenu(sub);
    }
    if (menu->isEmpty())
        addEmptyItemToMenu(menu);
}

void BookmarkController::groupByFilesMenuNeedsUpdate(QMenu* menu) {
    clearMenu(menu);
    for (const CHMFile& file : CHMFile::allFileswithContext(m_library->contextForReading())) {
        const QList<CHMBookmark> bookmarks = file.bookmarks();
        if (bookmarks.isEmpty())
            continue;
        auto* sub = new QMenu(menuText(file.title()), menu);
        sub->setToolTipsVisible(true);
        sub->menuAction()->setToolTip(file.path());
        for (const CHMBookmark& bookmark : bookmarks)
            createMenuItemForBookmark(bookmark, sub);
        menu->addMenu(sub);
    }
    if (menu->isEmpty())
        addEmptyItemToMenu(menu);
}

QAction* BookmarkController::createMenuItemForBookmark(const CHMBookmark& bookmark, QMenu* menu) {
    auto* item = new QAction(menuText(bookmark.title()), menu);
    const qint64 id = bookmark.id();
    item->setData(id);
    const std::optional<CHMFile> file = bookmark.file();
    item->setEnabled(file && file->isValid());
    connect(item, &QAction::triggered, this, [this, id] { openBookmark(id); });
    menu->addAction(item);
    return item;
}

void BookmarkController::addEmptyItemToMenu(QMenu* menu) {
    QAction* empty = menu->addAction(tr("(Empty)"));
    empty->setEnabled(false);
}

bool BookmarkController::openBookmark(qint64 bookmarkId) {
    const std::optional<CHMBookmark> bookmark =
        CHMBookmark::bookmarkById(bookmarkId, managedObjectContext());
    if (!bookmark || !m_host.openPage)
        return false;
    const std::optional<BookmarkLibrary::Target> target = m_library->targetOf(*bookmark);
    if (!target) {
        qCWarning(lcBookmarks) << "bookmark without file or with an unusable URL:"
                               << logSafe(bookmark->url());
        return false;
    }
    return m_host.openPage(target->filePath, target->url);
}

void BookmarkController::showAddBookmark(QWidget* window) {
    if (!window || !m_host.currentPage)
        return;
    const std::optional<BookmarkPage> page = m_host.currentPage(window);
    if (!page || page->url.isEmpty() || page->filePath.isEmpty()) {
        // The shortcut works whether the menu, which greys the command out, was opened or not.
        reportError(tr("There is no page to bookmark yet: add the bookmark once the page shows."));
        return;
    }
    BookmarkStore* context = managedObjectContext();
    if (!context)
        return;
    if (context->isReadOnly()) {
        reportError(context->readOnlyMessage());
        return;
    }
    if (m_addPanel)
        m_addPanel->close();
    const std::optional<CHMBookmark> existing =
        CHMBookmark::bookmarkByURL(page->url, page->filePath, context);
    const QString tags = existing ? existing->tagsString() : QString();
    auto* sheet = new AddBookmarkSheet(page->title, tags, window);
    m_addPanel = sheet;
    const BookmarkPage shown = *page;
    connect(sheet, &QDialog::finished, this, [this, sheet, shown](int result) {
        addBookmarkDidEnd(result, shown, sheet->titleField()->text(), sheet->tagField()->text());
    });
    sheet->open();
}

void BookmarkController::addBookmarkDidEnd(int returnCode, const BookmarkPage& page,
                                           const QString& title, const QString& tags) {
    if (returnCode == 0)
        return;
    if (!m_library->addBookmark(page, title, tags))
        return;
    if (m_window && m_window->isVisible())
        setupDataSource();
}

BookmarkManagerWindow* BookmarkController::window() {
    if (!m_window) {
        m_window = std::make_unique<BookmarkManagerWindow>();
        connect(m_window.get(), &BookmarkManagerWindow::sourceSelectionChanged, this,
                &BookmarkController::filterBookmarks);
        connect(m_window.get(), &BookmarkManagerWindow::removeRequested, this,
                &BookmarkController::remove);
        connect(m_window.get(), &BookmarkManagerWindow::closed, this,
                &BookmarkController::windowWillClose);
    }
    return m_window.get();
}

void BookmarkController::showWindow() {
    BookmarkManagerWindow* manager = window();
    setupDataSource();
    manager->show();
    manager->raise();
    manager->activateWindow();
}

void BookmarkController::setupDataSource() {
    auto root = std::make_unique<FetchRequestItem>();
    root->addChild(std::make_unique<FetchRequestItem>(tr("All"), std::nullopt));
    BookmarkStore* context = managedObjectContext();
    FetchRequestItem* tags =
        root->addChild(std::make_unique<FetchRequestItem>(tr("Tags"), std::nullopt));
    for (const CHMTag& tag : CHMTag::allTagswithContext(context)) {
        if (tag.bookmarkCount() > 0)
            tags->addChild(std::make_unique<FetchRequestItem>(
                tag.tag(), BookmarkFetchRequest::withTag(tag.tag())));
    }
    FetchRequestItem* files =
        root->addChild(std::make_unique<FetchRequestItem>(tr("Files"), std::nullopt));
    for (const CHMFile& file : CHMFile::allFileswithContext(context)) {
        if (file.bookmarkCount() > 0)
            files->addChild(std::make_unique<FetchRequestItem>(
                file.title(), BookmarkFetchRequest::ofFile(file.id())));
    }
    // The window drops its rows (which point at the old nodes) before the old tree goes.
    std::unique_ptr<FetchRequestItem> old = std::exchange(m_tocSource, std::move(root));
    window()->setReadOnlyReason(context && context->isReadOnly() ? context->readOnlyMessage()
                                                                 : QString());
    window()->setSource(m_tocSource.get());
}

void BookmarkController::filterBookmarks() {
    if (!m_window)
        return;
    const FetchRequestItem* node = m_window->selectedItem();
    if (!node)
        return;
    const BookmarkFetchRequest request = node->request().value_or(BookmarkFetchRequest::all());
    m_window->setBookmarks(request.execute(managedObjectContext()));
}

void BookmarkController::remove() {
    if (!m_window)
        return;
    const QList<qint64> ids = m_window->bookmarkView()->selectedBookmarkIds();
    if (ids.isEmpty())
        return;
    m_library->removeBookmarks(ids);
    setupDataSource();
}

void BookmarkController::windowWillClose() {
    m_library->purge();
}
