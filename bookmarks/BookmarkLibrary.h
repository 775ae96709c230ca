// The bookmark library as the user interface uses it: the database (opened on first use, and
// tried again on every later use while it cannot be opened), the file of bookmarked files, and
// the three things done to them: saving a page's bookmark, removing bookmarks, and finding the
// file of a bookmark to open it.
//
// Every problem the user must see goes to presentError (the library has no window of its own);
// nothing is retried behind the user's back and nothing on disk is overwritten to recover.
// The library's folder comes from the caller (BookmarkStore::applicationSupportFolder() in the
// application). GUI thread only.
#pragma once

#include "BookmarkStore.h"
#include "BookmarkURLStore.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class CHMBookmark;
class CHMFile;

// What the reader shows in one window: the file, the current page and its tab's label, and the
// book's own title.
struct BookmarkPage {
    QString filePath;
    QString url;
    QString title;
    QString documentTitle;
};

class BookmarkLibrary {
public:
    using ErrorSink = std::function<void(const QString& message)>;
    BookmarkLibrary(QString folder, ErrorSink presentError);
    ~BookmarkLibrary();

    const QString& folder() const { return m_folder; }
    // The open database; nullptr (and the reason shown) while it cannot be opened.
    BookmarkStore* managedObjectContext();
    // The same for what only shows the library (menus, lists): a failure already shown with the
    // same message is not shown again.
    BookmarkStore* contextForReading();
    BookmarkURLStore& urlStore() { return m_urlStore; }

    // A store that cannot be written is opened read-only (see BookmarkStore): its bookmarks
    // are listed and opened as usual; adding and removing are refused with its reason.
    // Saves the page's bookmark with the title and the labels, then counts the save for its
    // file. Nothing (the reason shown) when it could not be stored.
    std::optional<CHMBookmark> addBookmark(const BookmarkPage& page, const QString& title,
                                           const QString& tags);
    // Deletes the bookmarks at once, then counts one save fewer for the file of each. False
    // (the reason shown, nothing deleted) when the database refused.
    bool removeBookmarks(const QList<qint64>& ids);
    // Follows the books renamed in their folders (see relocate), then drops Files without
    // bookmarks and marks the Files that are gone.
    bool purge();
    // Looks again whether each bookmarked book is where its File says (following renames, as
    // purge does) and stores what changed, dropping nothing: what the menus show as they open.
    // A read-only store keeps what it last stored.
    bool refreshValidity();

    // The file and URL to open for the bookmark: the stored file data when it still resolves,
    // else the File's own path. Nothing for a bookmark without file or with an invalid URL.
    // A book renamed in its folder is opened under its new name, which the File then keeps.
    struct Target {
        QString filePath;
        QUrl url;
    };
    std::optional<Target> targetOf(const CHMBookmark& bookmark);

private:
    // The path the File's book is at now: its own path, or where the stored file data finds it
    // after a rename in its folder, which is then stored as the File's path (when the store
    // takes it: a File may already have that path).
    QString relocate(CHMFile& file);
    // The writable store, once the Files of books gone from their paths have followed their
    // renames; nullptr for a store that cannot be opened or written.
    BookmarkStore* relocateMissingBooks(bool quietIfRepeated);

    QString m_folder;
    ErrorSink m_presentError;
    BookmarkStore* openStore(bool quietIfRepeated);

    std::unique_ptr<BookmarkStore> m_store;
    QString m_lastOpenError;
    BookmarkURLStore m_urlStore;
};
