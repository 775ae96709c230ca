// The user side of the bookmark library, one for the whole application: the add-bookmark sheet
// over a document window, the manager window, and the Bookmarks menu of every window (the 15
// newest bookmarks, and submenus by tag and by file), from which a bookmark opens.
//
// It knows nothing of the reader's windows; the application hands it a BookmarkHost:
// - currentPage(window): what that window shows (file, page URL, tab label, book title), or
//   nothing when it shows no page;
// - openPage(path, url): opens the file (or brings its window forward) and loads the URL in it;
//   false when the file could not be opened (the application has told the user why).
// Menus are filled from the store each time they are about to show, once the library has looked
// again where the bookmarked books are: items of bookmarks whose file is gone are disabled, and
// enabled again when it comes back. Adding a bookmark while the window shows no page yet is
// refused with the reason. Problems go to reportError(). GUI thread only.
#pragma once

#include "AddBookmarkSheet.h"
#include "BookmarkLibrary.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class BookmarkManagerWindow;
class CHMBookmark;
class FetchRequestItem;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

struct BookmarkHost {
    std::function<std::optional<BookmarkPage>(QWidget* window)> currentPage;
    std::function<bool(const QString& filePath, const QUrl& url)> openPage;
};

class BookmarkController : public QObject {
    Q_OBJECT
public:
    static constexpr int kNewestCount = 15;

    // folder: where the library lives (BookmarkStore::applicationSupportFolder() in the reader).
    // Opens the store and purges Files without bookmarks.
    BookmarkController(BookmarkHost host, const QString& folder, QObject* parent = nullptr);
    ~BookmarkController() override;

    BookmarkLibrary& library() { return *m_library; }
    BookmarkStore* managedObjectContext() { return m_library->managedObjectContext(); }

    // Adds the "Bookmarks" menu to the window's menu bar: "Add Bookmark…", "Manage Bookmarks…",
    // "By Tag", "By File", then the newest bookmarks. Answers the menu.
    QMenu* installMenu(QMenuBar* bar, QWidget* window);

    // Refills a menu of this controller: a by-tag or by-file menu, else the newest-bookmarks
    // part of a Bookmarks menu.
    void menuNeedsUpdate(QMenu* menu);
    void groupByTagsMenuNeedsUpdate(QMenu* menu);
    void groupByFilesMenuNeedsUpdate(QMenu* menu);
    QAction* createMenuItemForBookmark(const CHMBookmark& bookmark, QMenu* menu);
    void addEmptyItemToMenu(QMenu* menu);
    // Opens the bookmark's file and page; false when it could not be.
    bool openBookmark(qint64 bookmarkId);

    // The sheet over the window for its current page (nothing without a page or a store).
    void showAddBookmark(QWidget* window);
    AddBookmarkSheet* addPanel() const { return m_addPanel; }
    // Stores the sheet's bookmark unless returnCode is 0.
    void addBookmarkDidEnd(int returnCode, const BookmarkPage& page, const QString& title,
                           const QString& tags);

    // The manager window (made on first use), its source list rebuilt, shown and raised.
    void showWindow();
    BookmarkManagerWindow* window();
    FetchRequestItem* tocSource() const { return m_tocSource.get(); }
    void setupDataSource();
    void filterBookmarks();
    // Removes the manager's selected bookmarks: stored at once, counts lowered, lists rebuilt.
    void remove();
    void windowWillClose();

protected:
    // Shows the message to the user (a message box); tests record it instead.
    virtual void reportError(const QString& message);

private:
    BookmarkHost m_host;
    std::unique_ptr<BookmarkLibrary> m_library;
    std::unique_ptr<FetchRequestItem> m_tocSource;
    std::unique_ptr<BookmarkManagerWindow> m_window;
    QPointer<AddBookmarkSheet> m_addPanel;
};
