// One .chm file that has bookmarks, as the library stores it: its absolute path (the key by
// which it is found), the book's title when it was first bookmarked, and whether the path named
// an existing file at the last purge. A value: it holds the row's id and the store it came from,
// which must outlive it. GUI thread only.
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

class BookmarkStore;
class CHMBookmark;
class SqlStatement;

class CHMFile {
public:
    qint64 id() const { return m_id; }
    const QString& path() const { return m_path; }
    const QString& title() const { return m_title; }
    bool isValid() const { return m_isValid; }

    // Its bookmarks, by title.
    QList<CHMBookmark> bookmarks() const;
    int bookmarkCount() const;

    // The File of that path (compared exactly); nothing for an empty path or when none is stored.
    static std::optional<CHMFile> fileByPath(const QString& path, BookmarkStore* context);
    static std::optional<CHMFile> fileById(qint64 id, BookmarkStore* context);
    // Finds the File of the path or stores a new one with that title. Nothing when it cannot be
    // stored (the reason is the store's lastError()).
    static std::optional<CHMFile> fileForPath(const QString& path, const QString& title,
                                              BookmarkStore* context);
    // Every File, by title; *ok false when they cannot be read (the list is then empty).
    static QList<CHMFile> allFileswithContext(BookmarkStore* context, bool* ok = nullptr);
    // Stores a new path for the File (its book was renamed), marking it valid. False when the
    // store refused, for instance because another File has that path.
    bool setPath(const QString& path);
    // Deletes the Files without bookmarks and records for the others whether their path names an
    // existing file that is not a folder. One transaction; false when it could not be stored.
    static bool purgeWithContext(BookmarkStore* context);
    // Records again, for the Files with bookmarks, whether their path names an existing file
    // that is not a folder; writes only the Files whose state changed. False when it could not
    // be stored.
    static bool refreshValidityWithContext(BookmarkStore* context);

private:
    friend class CHMBookmark;
    static QList<CHMFile> select(BookmarkStore* context, const char* where,
                                 const std::function<void(SqlStatement&)>& bind, bool* ok);

    BookmarkStore* m_context = nullptr;
    qint64 m_id = 0;
    QString m_path;
    QString m_title;
    bool m_isValid = true;
};
