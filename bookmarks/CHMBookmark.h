// One bookmarked page inside a .chm file: the page's URL as the reader reports it ("itss://..."),
// the title the user gave, when it was last saved, its file and its tags. A bookmark is known by
// its file and its URL together: the same inner page of two files is two bookmarks. A value
// holding the row's id and its store, which must outlive it. GUI thread only.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

class BookmarkStore;
class CHMFile;
class CHMTag;
class SqlStatement;

class CHMBookmark {
public:
    qint64 id() const { return m_id; }
    const QString& url() const { return m_url; }
    const QString& title() const { return m_title; }
    const QDateTime& createdAt() const { return m_createdAt; }
    // 0 for a bookmark without file.
    qint64 fileId() const { return m_fileId; }
    std::optional<CHMFile> file() const;
    // Its tags, by text.
    QList<CHMTag> tags() const;

    // The tag names joined by ", "; empty without tags.
    QString tagsString() const;
    // Attaches the tags the comma-separated text names (trimmed, blank parts skipped), creating
    // the missing ones; tags already attached stay. A label whose Tag cannot be stored is left
    // off and rolled back whole. One transaction (a savepoint inside a caller's). Answers false
    // when some label could not be attached.
    bool setTagsString(const QString& text);

    // The bookmark of that page of that file (path compared exactly); nothing when there is none.
    static std::optional<CHMBookmark> bookmarkByURL(const QString& url, const QString& filePath,
                                                    BookmarkStore* context);
    static std::optional<CHMBookmark> bookmarkById(qint64 id, BookmarkStore* context);
    // The newest first, at most limit of them.
    static QList<CHMBookmark> newestBookmarks(int limit, BookmarkStore* context,
                                              bool* ok = nullptr);
    // Every bookmark, by title.
    static QList<CHMBookmark> allBookmarks(BookmarkStore* context, bool* ok = nullptr);

    // Stores a bookmark of the page (or updates the one it has): title, file, the current time,
    // and the labels of tagsText added to its tags. The File of filePath is made when missing,
    // titled fileTitle. All in one transaction; nothing when it could not be stored (the
    // store's lastError() says why).
    // *everyTag (when given) tells whether every label could be attached.
    static std::optional<CHMBookmark> save(const QString& filePath, const QString& fileTitle,
                                           const QString& url, const QString& title,
                                           const QString& tagsText, BookmarkStore* context,
                                           bool* everyTag = nullptr);
    // Deletes the bookmarks in one transaction; their tags stay, their Files until the next purge.
    static bool remove(const QList<qint64>& ids, BookmarkStore* context);

private:
    friend class CHMFile;
    friend class CHMTag;
    friend class BookmarkFetchRequest;
    // Bookmarks "b" of a query: where holds the joins, conditions and order.
    static QList<CHMBookmark> select(BookmarkStore* context, const char* where,
                                     const std::function<void(SqlStatement&)>& bind, bool* ok);

    BookmarkStore* m_context = nullptr;
    qint64 m_id = 0;
    QString m_url;
    QString m_title;
    QDateTime m_createdAt;
    qint64 m_fileId = 0;
};
