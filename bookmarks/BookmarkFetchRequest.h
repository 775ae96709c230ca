// Which bookmarks a node of the manager's source list shows: all of them, those carrying one tag
// (by its exact text), or those of one file. A value; run it against the store each time.
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

class BookmarkStore;
class CHMBookmark;

class BookmarkFetchRequest {
public:
    enum class Kind { All, Tag, File };

    static BookmarkFetchRequest all() { return BookmarkFetchRequest(Kind::All, {}, 0); }
    static BookmarkFetchRequest withTag(const QString& tag) {
        return BookmarkFetchRequest(Kind::Tag, tag, 0);
    }
    static BookmarkFetchRequest ofFile(qint64 fileId) {
        return BookmarkFetchRequest(Kind::File, {}, fileId);
    }

    Kind kind() const { return m_kind; }
    // The bookmarks it names, by title; *ok false when they cannot be read.
    QList<CHMBookmark> execute(BookmarkStore* context, bool* ok = nullptr) const;

private:
    BookmarkFetchRequest(Kind kind, QString tag, qint64 fileId)
        : m_kind(kind), m_tag(std::move(tag)), m_fileId(fileId) {}
    Kind m_kind;
    QString m_tag;
    qint64 m_fileId;
};
